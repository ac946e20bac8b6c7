// Reading the console's text modes and the graphics output's modes.
#include "hw/display_modes.h"

#include "runtime/console.h"
#include "runtime/firmware.h"

namespace tarn {

void read_text_modes(Vector<TextModeSize>* modes) {
    modes->clear();
    const int32_t count = console_mode_count();
    for (int32_t m = 0; m < count; m++) {
        TextModeSize size{0, 0, false};
        size.valid = console_query_mode(static_cast<uint64_t>(m), &size.columns, &size.rows);
        modes->push(size);
    }
}

bool current_text_size(uint64_t* columns, uint64_t* rows) {
    const int32_t current = console_current_mode();
    return current >= 0 && console_query_mode(static_cast<uint64_t>(current), columns, rows);
}

efi::GraphicsOutput* find_graphics_output() {
    efi::BootServices* bs = boot_services();
    if (!bs) return nullptr;
    void* interface = nullptr;
    const efi::SystemTable* st = firmware().system_table;
    if (st && st->console_out_handle &&
        bs->handle_protocol(st->console_out_handle, &efi::kGraphicsOutputProtocolGuid, &interface) ==
            efi::kSuccess &&
        interface)
        return static_cast<efi::GraphicsOutput*>(interface);
    interface = nullptr;
    if (bs->locate_protocol &&
        bs->locate_protocol(&efi::kGraphicsOutputProtocolGuid, nullptr, &interface) == efi::kSuccess && interface)
        return static_cast<efi::GraphicsOutput*>(interface);
    return nullptr;
}

void read_graphics_modes(efi::GraphicsOutput* gop, Vector<GraphicsModeDetails>* modes) {
    modes->clear();
    const uint32_t count = gop->mode ? gop->mode->max_mode : 0;
    efi::BootServices* bs = boot_services();
    for (uint32_t m = 0; m < count; m++) {
        GraphicsModeDetails details{{0, 0, false}, 0};
        uint64_t size = 0;
        efi::GraphicsOutputModeInformation* info = nullptr;
        if (gop->query_mode(gop, m, &size, &info) == efi::kSuccess && info) {
            // A shorter block than the structure leaves the mode unknown.
            if (size >= sizeof(efi::GraphicsOutputModeInformation)) {
                details.size = {info->horizontal_resolution, info->vertical_resolution, true};
                details.pixel_format = info->pixel_format;
            }
            bs->free_pool(info);
        }
        modes->push(details);
    }
}

void graphics_sizes(const Vector<GraphicsModeDetails>& modes, Vector<GraphicsModeSize>* sizes) {
    sizes->clear();
    for (const GraphicsModeDetails& m : modes) sizes->push(m.size);
}

const char* pixel_format_name(uint32_t format) {
    constexpr const char* kNames[] = {"RGB", "BGR", "bitmask", "blt only"};
    return format < array_size(kNames) ? kNames[format] : "unknown";
}

}  // namespace tarn

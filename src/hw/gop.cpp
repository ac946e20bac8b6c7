// gop: list the graphics output's modes or switch the resolution by number, by size, to
// the largest, or to the smallest that holds the text console.
#include "hw/display_fit.h"
#include "hw/display_modes.h"
#include "hw/hw_commands.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int gop_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"gop", gop_command, "gop [MODE | WIDTH HEIGHT | -max | -fit]", "List or select the graphics resolution",
     "  Without arguments, lists the graphics modes and the frame buffer (-data: records).\n"
     "  gop MODE            switches to that mode number\n"
     "  gop WIDTH HEIGHT    switches to the mode of that resolution (decimal)\n"
     "  -max (or max)       switches to the mode with the most pixels\n"
     "  -fit                switches to the smallest mode that holds the current text mode\n"
     "  When the text mode does not fit the new resolution, the largest one that does is\n"
     "  selected first (characters are 8 x 19 pixels).\n",
     kCommandStructuredOutput},
};

struct GopOptions {
    bool max = false;
    bool fit = false;
};

constexpr Option<GopOptions> kOptions[] = {
    switch_option("max", &GopOptions::max),
    switch_option("fit", &GopOptions::fit),
};

using ull = unsigned long long;

int list_modes(efi::GraphicsOutput* gop, const Vector<GraphicsModeDetails>& modes) {
    const uint32_t current = gop->mode->mode;
    for (size_t m = 0; m < modes.size(); m++) {
        const GraphicsModeDetails& d = modes[m];
        if (!d.size.valid) continue;
        const bool is_current = m == current;
        if (data_mode()) {
            record_begin();
            record_field("mode", "%u", static_cast<uint32_t>(m));
            record_field("width", "%u", d.size.width);
            record_field("height", "%u", d.size.height);
            record_field("format", "%s", pixel_format_name(d.pixel_format));
            record_field("current", "%s", is_current ? "yes" : "no");
        } else {
            out_printf("  %2u: %5u x %-5u %s%s\n", static_cast<uint32_t>(m), d.size.width, d.size.height,
                       pixel_format_name(d.pixel_format), is_current ? "  (current)" : "");
        }
    }
    const ull base = gop->mode->frame_buffer_base, size = gop->mode->frame_buffer_size;
    if (data_mode()) {
        record_begin();
        record_field("framebuffer", "0x%llx", base);
        record_field("framebuffer_size", "%llu", size);
    } else {
        out_printf("Frame buffer at 0x%llx, %llu bytes\n", base, size);
    }
    return kExitSuccess;
}

// Switches to mode `target`, first selecting the best text mode for its resolution when
// the current one does not fit it. A refused switch puts the text mode back.
int switch_to(efi::GraphicsOutput* gop, const Vector<GraphicsModeDetails>& modes, uint32_t target) {
    if (target >= modes.size() || !modes[target].size.valid)
        return report_error("gop", "cannot switch to mode %u: %s", target, status_message(efi::kUnsupported));
    const GraphicsModeSize size = modes[target].size;
    const int32_t previous = console_current_mode();
    uint64_t columns = 0, rows = 0;
    bool text_changed = false;
    if (!current_text_size(&columns, &rows) || !text_fits(columns, rows, size.width, size.height)) {
        Vector<TextModeSize> text;
        read_text_modes(&text);
        const int64_t best = best_text_mode(text.data(), text.size(), size.width, size.height);
        if (best >= 0 && best != previous) {
            const efi::Status st = console_set_mode(static_cast<uint64_t>(best));
            if (efi::is_error(st)) return report_error("gop", "%s", status_message(st));
            text_changed = true;
            columns = text[static_cast<size_t>(best)].columns;
            rows = text[static_cast<size_t>(best)].rows;
        }
    }
    const efi::Status st = gop->set_mode(gop, target);
    if (efi::is_error(st)) {
        if (text_changed && previous >= 0) (void)console_set_mode(static_cast<uint64_t>(previous));
        return report_error("gop", "cannot switch to mode %u: %s", target, status_message(st));
    }
    if (text_changed)
        out_printf("Graphics mode %u: %u x %u (text %llu x %llu)\n", target, size.width, size.height,
                   static_cast<ull>(columns), static_cast<ull>(rows));
    else
        out_printf("Graphics mode %u: %u x %u\n", target, size.width, size.height);
    return kExitSuccess;
}

int switch_to_fit(efi::GraphicsOutput* gop, const Vector<GraphicsModeDetails>& modes) {
    uint64_t columns = 0, rows = 0;
    if (!current_text_size(&columns, &rows)) return report_error("gop", "cannot read the current text mode");
    Vector<GraphicsModeSize> sizes;
    graphics_sizes(modes, &sizes);
    const int64_t m = fitting_graphics_mode(sizes.data(), sizes.size(), columns, rows);
    if (m < 0)
        return report_error("gop", "no mode holds the text console (%llu x %llu characters)",
                            static_cast<ull>(columns), static_cast<ull>(rows));
    return switch_to(gop, modes, static_cast<uint32_t>(m));
}

int switch_to_largest(efi::GraphicsOutput* gop, const Vector<GraphicsModeDetails>& modes) {
    Vector<GraphicsModeSize> sizes;
    graphics_sizes(modes, &sizes);
    const int64_t m = largest_graphics_mode(sizes.data(), sizes.size());
    if (m < 0) return report_error("gop", "cannot switch to mode 0: %s", status_message(efi::kUnsupported));
    return switch_to(gop, modes, static_cast<uint32_t>(m));
}

int switch_to_size(efi::GraphicsOutput* gop, const Vector<GraphicsModeDetails>& modes, int64_t width,
                   int64_t height) {
    Vector<GraphicsModeSize> sizes;
    graphics_sizes(modes, &sizes);
    const int64_t m = find_graphics_mode(sizes.data(), sizes.size(), static_cast<uint64_t>(width),
                                         static_cast<uint64_t>(height));
    if (m < 0)
        return report_error("gop", "no mode with %lld x %lld (gop lists the available ones)",
                            static_cast<long long>(width), static_cast<long long>(height));
    return switch_to(gop, modes, static_cast<uint32_t>(m));
}

int gop_command(int count, char** vector) {
    GopOptions o;
    const int first = parse_options(count, vector, kOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    int operands = count - first;
    if (operands == 1 && equal(vector[first], "max")) {
        if (o.max) return report_usage("gop");
        o.max = true;
        operands = 0;
    }
    if ((o.max && o.fit) || ((o.max || o.fit) && operands) || operands > 2) return report_usage("gop");
    int64_t a = 0, b = 0;
    if ((operands >= 1 && !parse_decimal_size(vector[first], &a)) ||
        (operands == 2 && !parse_decimal_size(vector[first + 1], &b)) || (operands == 1 && a > 0xffffffffll))
        return report_usage("gop");
    efi::GraphicsOutput* gop = find_graphics_output();
    if (!gop || !gop->mode) return report_error("gop", "no graphics output");
    Vector<GraphicsModeDetails> modes;
    read_graphics_modes(gop, &modes);
    if (o.max) return switch_to_largest(gop, modes);
    if (o.fit) return switch_to_fit(gop, modes);
    if (operands == 1) return switch_to(gop, modes, static_cast<uint32_t>(a));
    if (operands == 2) return switch_to_size(gop, modes, a, b);
    return list_modes(gop, modes);
}

}  // namespace

void register_gop_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

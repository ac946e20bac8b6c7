// sysinfo: firmware, CPU, memory, console, graphics, configuration tables and the volume
// the shell started from, on one screen or as one -data record.
#include "cpu/cpu.h"
#include "fs/volumes.h"
#include "hw/config_tables.h"
#include "platform/firmware_info.h"
#include "platform/memory_map.h"
#include "platform/platform_commands.h"
#include "runtime/console.h"
#include "runtime/firmware.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int sysinfo_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"sysinfo", sysinfo_command, "sysinfo", "Firmware, CPU, memory and display information",
     "  Shows the firmware and its UEFI version, the Secure Boot state, the processor, the\n"
     "  total memory (as memmap counts it), the console and graphics modes, the\n"
     "  configuration tables and the volume the shell was started from.\n",
     kCommandStructuredOutput},
};

using ull = unsigned long long;

// The part of the Graphics Output protocol sysinfo reads.
struct GraphicsModeInfo {
    uint32_t version;
    uint32_t horizontal_resolution;
    uint32_t vertical_resolution;
};
struct GraphicsMode {
    uint32_t max_mode;
    uint32_t mode;
    GraphicsModeInfo* info;
    uint64_t size_of_info;
    uint64_t frame_buffer_base;
    uint64_t frame_buffer_size;
};
struct GraphicsOutput {
    void* query_mode;
    void* set_mode;
    void* blt;
    GraphicsMode* mode;
};

constexpr efi::Guid kGraphicsOutputGuid = {
    0x9042a9de, 0x23dc, 0x4a38, {0x96, 0xfb, 0x7a, 0xde, 0xd0, 0x80, 0x51, 0x6a}};

// Leaf 0's vendor and, when the extended leaves reach 0x80000004, the brand string
// without its leading blanks ("" when there is none).
void cpu_names(char vendor[13], char brand[49]) {
    uint32_t r[4];
    cpuid(0, 0, r);
    memcpy(vendor, &r[1], 4);
    memcpy(vendor + 4, &r[3], 4);
    memcpy(vendor + 8, &r[2], 4);
    vendor[12] = 0;
    brand[0] = 0;
    cpuid(0x80000000u, 0, r);
    if (r[0] < 0x80000004u) return;
    char raw[49];
    for (uint32_t i = 0; i < 3; i++) {
        cpuid(0x80000002u + i, 0, r);
        memcpy(raw + 16 * i, r, 16);
    }
    raw[48] = 0;
    const char* p = raw;
    while (*p == ' ') p++;
    uint64_t n = 0;
    while (p[n]) {
        brand[n] = p[n];
        n++;
    }
    brand[n] = 0;
}

void show_cpu() {
    char vendor[13], brand[49];
    cpu_names(vendor, brand);
    if (data_mode()) {
        record_field("cpu", "%s", brand);
        record_field("cpu_vendor", "%s", vendor);
    } else if (brand[0]) {
        out_printf("CPU:      %s / %s\n", brand, vendor);
    } else {
        out_printf("CPU:      %s\n", vendor);
    }
}

void show_memory() {
    MemoryMap map;
    MemoryTotals totals;
    if (read_memory_map(&map)) total_memory_map(map, &totals);
    const ull mib = pages_to_mib(totals.total_pages);
    if (data_mode()) record_field("memory", "%llu", mib);
    else out_printf("Memory:   %llu MiB\n", mib);
}

void show_console() {
    uint64_t columns = 0, rows = 0;
    console_size(&columns, &rows);
    if (data_mode()) {
        record_field("console_columns", "%d", static_cast<int>(columns));
        record_field("console_rows", "%d", static_cast<int>(rows));
    } else {
        out_printf("Console:  %d x %d\n", static_cast<int>(columns), static_cast<int>(rows));
    }
}

void show_graphics() {
    efi::BootServices* bs = boot_services();
    void* interface = nullptr;
    if (!bs || !bs->locate_protocol ||
        bs->locate_protocol(&kGraphicsOutputGuid, nullptr, &interface) != efi::kSuccess || !interface)
        return;
    const GraphicsMode* mode = static_cast<GraphicsOutput*>(interface)->mode;
    if (!mode || !mode->info) return;
    const GraphicsModeInfo& info = *mode->info;
    if (data_mode()) {
        record_field("graphics_width", "%u", info.horizontal_resolution);
        record_field("graphics_height", "%u", info.vertical_resolution);
        record_field("framebuffer", "0x%llx", static_cast<ull>(mode->frame_buffer_base));
    } else {
        out_printf("Graphics: %u x %u (mode %u of %u), frame buffer at 0x%llx\n", info.horizontal_resolution,
                   info.vertical_resolution, mode->mode, mode->max_mode, static_cast<ull>(mode->frame_buffer_base));
    }
}

void show_tables() {
    const efi::SystemTable* st = firmware().system_table;
    const uint64_t count = st && st->configuration_table ? st->number_of_table_entries : 0;
    bool acpi = false, smbios = false;
    for (uint64_t i = 0; i < count; i++) {
        const efi::Guid& g = st->configuration_table[i].vendor_guid;
        if (g == kAcpi20TableGuid || g == kAcpi10TableGuid) acpi = true;
        if (g == kSmbiosTableGuid || g == kSmbios3TableGuid) smbios = true;
    }
    if (data_mode()) {
        record_field("config_tables", "%llu", static_cast<ull>(count));
        record_field("acpi", "%s", acpi ? "yes" : "no");
        record_field("smbios", "%s", smbios ? "yes" : "no");
    } else {
        out_printf("Tables:   %llu configuration tables%s%s\n", static_cast<ull>(count), acpi ? ", ACPI" : "",
                   smbios ? ", SMBIOS" : "");
    }
}

void show_boot_volume() {
    const int index = boot_volume_index();
    const Volume* v = index >= 0 ? volume_at(index) : nullptr;
    if (data_mode()) {
        record_field("boot_volume", "%s", v ? v->name : "");
        record_field("boot_devpath", "%s", v ? v->device_path_text : "");
    } else if (v) {
        out_printf("Started from: %s: %s\n", v->name, v->device_path_text);
    }
}

int sysinfo_command(int, char**) {
    if (data_mode()) record_begin();
    print_firmware_block();
    show_cpu();
    show_memory();
    show_console();
    show_graphics();
    show_tables();
    show_boot_volume();
    return 0;
}

}  // namespace

void register_sysinfo_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

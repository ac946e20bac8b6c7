// memmap: the UEFI memory map, one line per descriptor, and the per-type totals.
#include "platform/memory_map.h"
#include "platform/platform_commands.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int memmap_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"memmap", memmap_command, "memmap [-s] [-b]", "Show the UEFI memory map (-s summary only)",
     "  Lists every descriptor of the memory map (type, first and last address, pages,\n"
     "  attributes), then the pages and MiB of each type and the totals.\n"
     "  -s   the per-type summary and the totals only\n"
     "  -b   page the output\n"
     "  Total memory counts every type except Reserved, MMIO and MMIOPortSpace; memory\n"
     "  available to the OS is loader, boot services and conventional memory.\n",
     kCommandStructuredOutput},
};

struct MemmapOptions {
    bool summary = false;
};

constexpr Option<MemmapOptions> kOptions[] = {
    switch_option("s", &MemmapOptions::summary),
    ignored_option<MemmapOptions>("b"),
};

using ull = unsigned long long;

bool list_descriptors(const MemoryMap& map) {
    if (!data_mode())
        out_printf("%-18s %-16s %-16s %10s  %s\n", "Type", "Start", "End", "Pages", "Attributes");
    for (uint64_t i = 0; i < map.count; i++) {
        if (poll_break()) return false;
        const efi::MemoryDescriptor d = map.at(i);
        const char* name = memory_type_name(memory_type_slot(d.type));
        const uint64_t end = d.physical_start + d.number_of_pages * kPageSize - 1;
        if (data_mode()) {
            record_begin();
            record_field("type", "%s", name);
            record_field("start", "0x%llx", static_cast<ull>(d.physical_start));
            record_field("end", "0x%llx", static_cast<ull>(end));
            record_field("pages", "%llu", static_cast<ull>(d.number_of_pages));
            record_field("attributes", "0x%llx", static_cast<ull>(d.attribute));
        } else {
            out_printf("%-18s %016llx %016llx %10llu  %016llx\n", name, static_cast<ull>(d.physical_start),
                       static_cast<ull>(end), static_cast<ull>(d.number_of_pages),
                       static_cast<ull>(d.attribute));
        }
    }
    return true;
}

void show_summary(const MemoryTotals& totals, bool summary_only) {
    if (data_mode()) {
        for (uint32_t slot = 0; slot < kMemoryTypeSlots; slot++) {
            if (!totals.pages[slot]) continue;
            record_begin();
            record_field("type", "%s", memory_type_name(slot));
            record_field("pages", "%llu", static_cast<ull>(totals.pages[slot]));
            record_field("bytes", "%llu", static_cast<ull>(totals.pages[slot] * kPageSize));
        }
        return;
    }
    out_printf("%s%-18s %12s %10s\n", summary_only ? "" : "\n", "Type", "Pages", "MiB");
    for (uint32_t slot = 0; slot < kMemoryTypeSlots; slot++) {
        if (!totals.pages[slot]) continue;
        out_printf("%-18s %12llu %10llu\n", memory_type_name(slot), static_cast<ull>(totals.pages[slot]),
                   static_cast<ull>(pages_to_mib(totals.pages[slot])));
    }
    out_printf("Total memory: %llu MiB, available to the OS: %llu MiB\n",
               static_cast<ull>(pages_to_mib(totals.total_pages)),
               static_cast<ull>(pages_to_mib(totals.available_pages)));
}

int memmap_command(int count, char** vector) {
    MemmapOptions o;
    const int first = parse_options(count, vector, kOptions, 0, &o);
    if (first < 0) return kExitUsage;
    if (first != count) return report_usage("memmap");
    MemoryMap map;
    if (!read_memory_map(&map)) return report_error("memmap", "cannot read the memory map");
    if (!o.summary) {
        if (!list_descriptors(map)) return kExitInterrupted;
        if (data_mode()) return 0;
    }
    MemoryTotals totals;
    total_memory_map(map, &totals);
    show_summary(totals, o.summary);
    return 0;
}

}  // namespace

void register_memmap_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

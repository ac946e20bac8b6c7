// dmem: dump physical memory, or the system table and configuration tables.
#include "hw/hw_commands.h"
#include "drivers/protocol_names.h"
#include "hw/hw_common.h"
#include "hw/pci_root_bridge.h"
#include "hw/phys_memory.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int dmem_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"dmem", dmem_command, "dmem [ADDRESS [SIZE]] [-MMIO]", "Dump memory or the system tables",
     "  Without ADDRESS, shows the EFI system table and the configuration tables.\n"
     "  ADDRESS and SIZE are hexadecimal; SIZE defaults to 0x200 and may be up to 0x100000.\n"
     "  -MMIO   read through the PCI root bridge's memory access\n"
     "  dmem only reads; it never writes.\n",
     0},
};

struct DmemOptions {
    bool mmio = false;
};

constexpr Option<DmemOptions> kOptions[] = {
    switch_option("MMIO", &DmemOptions::mmio, kOptionAnyCase),
};

constexpr uint64_t kDefaultSize = 0x200;
constexpr uint64_t kMaxSize = 0x100000;

int show_system_table() {
    const efi::SystemTable* st = firmware().system_table;
    if (!st) return report_error("dmem", "no system table");
    out_printf("EFI system table at 0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(st)));
    out_printf("  FirmwareVendor %p, ConIn %p, ConOut %p, RuntimeServices %p, BootServices %p\n",
               static_cast<const void*>(st->firmware_vendor), static_cast<const void*>(st->con_in),
               static_cast<const void*>(st->con_out), static_cast<const void*>(st->runtime_services),
               static_cast<const void*>(st->boot_services));
    for (uint64_t i = 0; i < st->number_of_table_entries && st->configuration_table; i++) {
        const efi::ConfigurationTable& t = st->configuration_table[i];
        char name[kProtocolTextSize];
        protocol_text(t.vendor_guid, name);
        out_printf("  %-36s %p\n", name, t.vendor_table);
    }
    return 0;
}

int dmem_command(int count, char** vector) {
    DmemOptions o;
    const int first = parse_options(count, vector, kOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    const int operands = count - first;
    if (operands == 0) return show_system_table();
    uint64_t address = 0, size = kDefaultSize;
    if (operands > 2 || !parse_hex(vector[first], &address) ||
        (operands == 2 && !parse_hex(vector[first + 1], &size)))
        return report_usage("dmem");
    if (size < 1 || size > kMaxSize) return report_error("dmem", "size must be between 1 and 0x100000");
    Owned<uint8_t> bytes(static_cast<uint8_t*>(xallocate(size)));
    if (o.mmio) {
        RootBridgeList bridges;
        const RootBridge* b = bridges.serving(0, 0);
        if (!b) b = bridges.count() && bridges[0].segment == 0 ? &bridges[0] : nullptr;
        if (!b || !pci_memory_read(*b, address, size, bytes.get())) return report_error("dmem", "MMIO read failed");
    } else if (!read_physical(address, bytes.get(), size))
        return report_error("dmem", "cannot read memory at %llx", static_cast<unsigned long long>(address));
    out_printf("Memory address %016llX %llX bytes\n", static_cast<unsigned long long>(address),
               static_cast<unsigned long long>(size));
    return hex_dump(bytes.get(), size, address) ? 0 : kExitInterrupted;
}

}  // namespace

void register_dmem_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

// mm: read or write memory, memory-mapped registers, I/O ports and PCI configuration space.
#include "hw/hw_commands.h"
#include "hw/hw_common.h"
#include "hw/pci_root_bridge.h"
#include "hw/phys_memory.h"
#include "cpu/cpu.h"
#include "platform/secure_boot.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/line_editor.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int mm_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"mm", mm_command, "mm ADDRESS [VALUE] [-w 1|2|4|8] [-MEM|-MMIO|-IO|-PCI|-PCIE] [-n]",
     "Read or write memory, I/O ports or PCI configuration registers",
     "  ADDRESS and VALUE are hexadecimal. -w gives the access width in bytes (default 1).\n"
     "  -MEM, -MMIO   physical memory (the address aligned to the width; the default)\n"
     "  -IO           I/O ports below 0x10000, widths 1, 2 or 4\n"
     "  -PCI          segment<<32 | bus<<24 | device<<16 | function<<8 | register\n"
     "  -PCIE         segment<<36 | bus<<28 | device<<20 | function<<12 | register\n"
     "  With VALUE, writes it once; with -n, shows the value once. Otherwise shows one\n"
     "  address after the other: Enter goes on, a hexadecimal value writes it, q quits.\n"
     "  Writes are refused while Secure Boot is active.\n",
     0},
};

enum class Access : uint8_t { kMem, kMmio, kIo, kPci, kPcie };
constexpr const char* kAccessNames[] = {"MEM", "MMIO", "IO", "PCI", "PCIE"};

struct MmOptions {
    const char* width = nullptr;
    bool mem = false, mmio = false, io = false, pci = false, pcie = false;
    bool show_only = false;
};

constexpr Option<MmOptions> kOptions[] = {
    value_option("w", &MmOptions::width),
    switch_option("MEM", &MmOptions::mem, kOptionAnyCase),
    switch_option("MMIO", &MmOptions::mmio, kOptionAnyCase),
    switch_option("IO", &MmOptions::io, kOptionAnyCase),
    switch_option("PCI", &MmOptions::pci, kOptionAnyCase),
    switch_option("PCIE", &MmOptions::pcie, kOptionAnyCase),
    switch_option("n", &MmOptions::show_only),
};

struct Target {
    Access access;
    int width;
};

uint64_t width_mask(int width) { return width == 8 ? ~0ull : (1ull << (8 * width)) - 1; }

bool io_ok(uint64_t port, int width) { return port < 0x10000 && width != 8; }

struct ConfigPlace {
    uint32_t segment, bus, device, function, reg;
};

ConfigPlace config_place(Access access, uint64_t a) {
    if (access == Access::kPci)
        return {static_cast<uint32_t>((a >> 32) & 0xffff), static_cast<uint32_t>((a >> 24) & 0xff),
                static_cast<uint32_t>((a >> 16) & 0xff), static_cast<uint32_t>((a >> 8) & 0xff),
                static_cast<uint32_t>(a & 0xff)};
    return {static_cast<uint32_t>((a >> 36) & 0xffff), static_cast<uint32_t>((a >> 28) & 0xff),
            static_cast<uint32_t>((a >> 20) & 0xff), static_cast<uint32_t>((a >> 12) & 0xff),
            static_cast<uint32_t>(a & 0xfff)};
}

bool config_access(const Target& t, uint64_t address, uint64_t* value, bool write) {
    const ConfigPlace p = config_place(t.access, address);
    RootBridgeList bridges;
    const RootBridge* b = bridges.serving(p.segment, p.bus);
    if (!b) return false;
    if (write) return pci_config_write(*b, p.bus, p.device, p.function, p.reg, t.width, *value);
    return pci_config_read(*b, p.bus, p.device, p.function, p.reg, t.width, value);
}

bool access_read(const Target& t, uint64_t address, uint64_t* value) {
    switch (t.access) {
    case Access::kMem:
    case Access::kMmio:
        return read_physical_register(address, t.width, value);
    case Access::kIo: {
        if (!io_ok(address, t.width)) return false;
        const auto port = static_cast<uint16_t>(address);
        *value = t.width == 1 ? port_in8(port) : t.width == 2 ? port_in16(port) : port_in32(port);
        return true;
    }
    default:
        return config_access(t, address, value, false);
    }
}

bool access_write(const Target& t, uint64_t address, uint64_t value) {
    switch (t.access) {
    case Access::kMem:
    case Access::kMmio:
        return write_physical_register(address, t.width, value);
    case Access::kIo: {
        if (!io_ok(address, t.width)) return false;
        const auto port = static_cast<uint16_t>(address);
        if (t.width == 1) port_out8(port, static_cast<uint8_t>(value));
        else if (t.width == 2) port_out16(port, static_cast<uint16_t>(value));
        else port_out32(port, static_cast<uint32_t>(value));
        return true;
    }
    default:
        return config_access(t, address, &value, true);
    }
}

int read_failed(uint64_t address) {
    return report_error("mm", "read failed at %llx", static_cast<unsigned long long>(address));
}

// Writes value once, after the Secure Boot gate.
int write_once(const Target& t, uint64_t address, uint64_t value) {
    if (!hardware_write_allowed("mm")) return kExitFailure;
    if (!access_write(t, address, value & width_mask(t.width))) return report_error("mm", "write failed");
    return 0;
}

char* value_line(const Target& t, uint64_t address, uint64_t value) {
    return format_string("%-4s 0x%016llX : 0x%0*llX", kAccessNames[static_cast<int>(t.access)],
                         static_cast<unsigned long long>(address), t.width * 2,
                         static_cast<unsigned long long>(value));
}

bool is_quit(const char* answer) { return equal_nocase(answer, "q") || equal_nocase(answer, "quit"); }

int interactive(const Target& t, uint64_t address) {
    for (;;) {
        uint64_t value = 0;
        if (!access_read(t, address, &value)) return read_failed(address);
        Owned<char> line(value_line(t, address, value));
        Owned<char> prompt(format_string("%s ", line.get()));
        for (;;) {
            Owned<char> answer(read_line(prompt.get(), false));
            if (!answer) return 0;  // input closed
            const char* a = answer.get();
            while (*a == ' ') a++;
            uint64_t written = 0;
            if (!*a) break;
            if (is_quit(a)) return 0;
            if (parse_hex(a, &written)) {
                int code = write_once(t, address, written);
                if (code != 0) return code;
                break;
            }
            print_error("mm: enter a hexadecimal value, Enter for the next address, q to quit\n");
        }
        if (address + t.width < address) return 0;
        address += t.width;
    }
}

int mm_command(int count, char** vector) {
    MmOptions o;
    const int first = parse_options(count, vector, kOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    const int operands = count - first;
    uint64_t address = 0, value = 0, width = 1;
    if (operands < 1 || operands > 2 || !parse_hex(vector[first], &address) ||
        (operands == 2 && !parse_hex(vector[first + 1], &value)))
        return report_usage("mm");
    int64_t given = 0;
    if (o.width && (!parse_integer(o.width, &given) || given < 0)) given = 0;
    if (o.width) width = static_cast<uint64_t>(given);
    if (width != 1 && width != 2 && width != 4 && width != 8)
        return report_error("mm", "width must be 1, 2, 4 or 8");
    const int types = o.mem + o.mmio + o.io + o.pci + o.pcie;
    if (types > 1) return report_usage("mm");
    Target t{o.mmio ? Access::kMmio : o.io ? Access::kIo : o.pci ? Access::kPci
             : o.pcie ? Access::kPcie : Access::kMem,
             static_cast<int>(width)};
    if ((t.access == Access::kMem || t.access == Access::kMmio) && address % width != 0)
        return report_error("mm", "the address must be aligned to the width");
    if (operands == 2) return write_once(t, address, value);
    if (o.show_only) {
        uint64_t v = 0;
        if (!access_read(t, address, &v)) return read_failed(address);
        Owned<char> line(value_line(t, address, v));
        out_printf("%s\n", line.get());
        return 0;
    }
    return interactive(t, address);
}

}  // namespace

void register_mm_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

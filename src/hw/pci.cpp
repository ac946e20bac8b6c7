// pci: list the PCI functions of every root bridge, or dump and decode one function.
#include "hw/hw_commands.h"
#include "hw/hw_common.h"
#include "hw/pci_root_bridge.h"
#include "hw/phys_memory.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int pci_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"pci", pci_command, "pci [BUS DEV [FUNC]] [-s SEG] [-i] [-ec]", "List or show PCI functions",
     "  Without BUS, lists every function behind every root bridge.\n"
     "  pci BUS DEV [FUNC]   dumps the function's 256-byte configuration space\n"
     "  -s SEG   the segment (listing: only that one; dump: instead of 0)\n"
     "  -i       decodes the header before the dump\n"
     "  -ec      dumps the 4096-byte extended space\n"
     "  All numbers are hexadecimal.\n",
     kCommandStructuredOutput},
};

struct PciOptions {
    const char* segment = nullptr;
    bool decode = false;
    bool extended = false;
};

constexpr Option<PciOptions> kOptions[] = {
    value_option("s", &PciOptions::segment),
    switch_option("i", &PciOptions::decode),
    switch_option("ec", &PciOptions::extended),
};

constexpr const char* kBaseClasses[] = {
    "Unclassified", "Mass Storage Controller", "Network Controller", "Display Controller",
    "Multimedia Device", "Memory Controller", "Bridge Device", "Communication Controller",
    "System Peripheral", "Input Device", "Docking Station", "Processor", "Serial Bus Controller",
    "Wireless Controller", "Intelligent I/O", "Satellite Communication", "Encryption Controller",
    "Signal Processing", "Processing Accelerator", "Non-Essential Instrumentation",
};

struct SubclassName {
    uint8_t base, sub;
    const char* name;
};
constexpr SubclassName kSubclasses[] = {
    {0x01, 0x00, "SCSI"}, {0x01, 0x01, "IDE controller"}, {0x01, 0x05, "ATA controller"},
    {0x01, 0x06, "SATA controller"}, {0x01, 0x07, "SAS controller"}, {0x01, 0x08, "NVM Express"},
    {0x02, 0x00, "Ethernet"}, {0x02, 0x80, "Other network"}, {0x03, 0x00, "VGA controller"},
    {0x03, 0x02, "3D controller"}, {0x04, 0x03, "HD Audio"}, {0x06, 0x00, "Host/PCI bridge"},
    {0x06, 0x01, "PCI/ISA bridge"}, {0x06, 0x04, "PCI/PCI bridge"}, {0x06, 0x80, "Other bridge type"},
    {0x07, 0x00, "Serial controller"}, {0x0c, 0x03, "USB controller"}, {0x0c, 0x05, "SMBus"},
    {0x0d, 0x11, "Bluetooth"}, {0x0d, 0x80, "Other wireless"},
};

struct CapabilityName {
    uint8_t id;
    const char* name;
};
constexpr CapabilityName kCapabilities[] = {
    {0x01, "Power Management"}, {0x05, "MSI"}, {0x09, "Vendor Specific"}, {0x10, "PCI Express"},
    {0x11, "MSI-X"}, {0x12, "SATA"}, {0x13, "Advanced Features"},
};

constexpr int kMaxCapabilities = 48;

// "%s - %s" or "%s - subclass %02X" into out.
void class_name(uint8_t base, uint8_t sub, char* out, uint64_t size) {
    const char* b = base < array_size(kBaseClasses) ? kBaseClasses[base] : base == 0xff ? "Unassigned" : "Unknown";
    for (const SubclassName& s : kSubclasses)
        if (s.base == base && s.sub == sub) {
            format_into(out, size, "%s - %s", b, s.name);
            return;
        }
    format_into(out, size, "%s - subclass %02X", b, sub);
}

const char* capability_name(uint8_t id) {
    for (const CapabilityName& c : kCapabilities)
        if (c.id == id) return c.name;
    return "?";
}

bool read32(const RootBridge& b, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t reg, uint32_t* v) {
    uint64_t value = 0;
    if (!pci_config_read(b, bus, dev, fn, reg, 4, &value)) return false;
    *v = static_cast<uint32_t>(value);
    return true;
}

int list_functions(bool one_segment, uint32_t segment) {
    RootBridgeList bridges;
    if (!data_mode()) out_text("   Seg  Bus  Dev  Func\n   ---  ---  ---  ----\n");
    for (uint64_t i = 0; i < bridges.count(); i++) {
        if (poll_break()) return kExitInterrupted;
        const RootBridge& b = bridges[i];
        if (one_segment && b.segment != segment) continue;
        for (uint32_t bus = b.bus_min; bus <= b.bus_max; bus++) {
            for (uint32_t dev = 0; dev < 32; dev++) {
                for (uint32_t fn = 0; fn < 8; fn++) {
                    uint32_t id = 0, cls = 0, hdr = 0;
                    if (!read32(b, bus, dev, fn, 0, &id) || (id & 0xffff) == 0xffff) {
                        if (fn == 0) break;
                        continue;
                    }
                    if (!read32(b, bus, dev, fn, 8, &cls) || !read32(b, bus, dev, fn, 0x0c, &hdr)) continue;
                    char name[80];
                    class_name(cls >> 24, (cls >> 16) & 0xff, name, sizeof name);
                    if (data_mode()) {
                        record_begin();
                        record_field("segment", "%02X", b.segment);
                        record_field("bus", "%02X", bus);
                        record_field("device", "%02X", dev);
                        record_field("function", "%02X", fn);
                        record_field("vendor", "%04X", id & 0xffff);
                        record_field("deviceid", "%04X", id >> 16);
                        record_field("class", "%06X", cls >> 8);
                        record_field("classname", "%s", name);
                    } else {
                        out_printf("    %02X   %02X   %02X    %02X ==> %s\n", b.segment, bus, dev, fn, name);
                        out_printf("             Vendor %04X Device %04X Prog Interface %X\n", id & 0xffff, id >> 16,
                                   (cls >> 8) & 0xff);
                    }
                    if (fn == 0 && !((hdr >> 16) & 0x80)) break;
                }
            }
            if (bus == 0xff) break;
        }
    }
    return 0;
}

const char* on_off(uint16_t bits, int bit) { return bits & (1 << bit) ? "on" : "off"; }

// The header decoding of -i, or the record of -data, from the first 256 bytes.
void decode_header(const uint8_t* c, uint32_t segment, uint32_t bus, uint32_t dev, uint32_t fn) {
    auto get = [&](uint32_t at, int w) { return load_le(c, 256, at, w); };
    const uint16_t command = get(4, 2), status = get(6, 2);
    const uint8_t header = c[0x0e], layout = header & 0x7f;
    char name[80];
    class_name(c[0x0b], c[0x0a], name, sizeof name);
    const bool data = data_mode();
    if (data) {
        record_begin();
        record_field("segment", "%02X", segment);
        record_field("bus", "%02X", bus);
        record_field("device", "%02X", dev);
        record_field("function", "%02X", fn);
        record_field("vendor", "%04X", static_cast<unsigned>(get(0, 2)));
        record_field("deviceid", "%04X", static_cast<unsigned>(get(2, 2)));
        record_field("revision", "%02X", c[8]);
        record_field("class", "%02X%02X%02X", c[0x0b], c[0x0a], c[9]);
        record_field("classname", "%s", name);
        record_field("command", "%04X", command);
        record_field("status", "%04X", status);
        record_field("headertype", "%02X", header);
    } else {
        out_printf("  Vendor ID %04X  Device ID %04X  Revision %02X\n", static_cast<unsigned>(get(0, 2)),
                   static_cast<unsigned>(get(2, 2)), c[8]);
        out_printf("  Class %02X%02X%02X: %s\n", c[0x0b], c[0x0a], c[9], name);
        out_printf("  Command %04X (I/O %s, memory %s, bus master %s)  Status %04X%s\n", command,
                   on_off(command, 0), on_off(command, 1), on_off(command, 2), status,
                   status & 0x10 ? " (capabilities)" : "");
        const char* kind = layout == 0 ? "device" : layout == 1 ? "PCI-PCI bridge" : layout == 2 ? "CardBus bridge" : "?";
        out_printf("  Header type %02X (%s%s)\n", header, kind, header & 0x80 ? ", multi-function" : "");
    }
    const int bars = layout == 0 ? 6 : layout == 1 ? 2 : 0;
    for (int i = 0; i < bars; i++) {
        const uint32_t bar = static_cast<uint32_t>(get(0x10 + 4 * i, 4));
        if (bar == 0) continue;
        char key[8];
        format_into(key, sizeof key, "bar%d", i);
        if (bar & 1) {
            if (data) record_field(key, "io 0x%X", bar & ~3u);
            else out_printf("  BAR%d  I/O  0x%X\n", i, bar & ~3u);
            continue;
        }
        // A 64-bit BAR takes the next slot as its high half, unless it is the last slot.
        const bool wide = ((bar >> 1) & 3) == 2 && i + 1 < bars;
        uint64_t address = bar & ~0xfull;
        if (wide) address |= get(0x10 + 4 * (i + 1), 4) << 32;
        const char* pre = bar & 8 ? " prefetchable" : "";
        if (data) record_field(key, "mem%s 0x%llX%s", wide ? "64" : "32", static_cast<unsigned long long>(address), pre);
        else out_printf("  BAR%d  MEM%s 0x%llX%s\n", i, wide ? "64" : "32", static_cast<unsigned long long>(address), pre);
        if (wide) i++;
    }
    if (layout == 1) {
        if (data) {
            record_field("primarybus", "%02X", c[0x18]);
            record_field("secondarybus", "%02X", c[0x19]);
            record_field("subordinatebus", "%02X", c[0x1a]);
        } else {
            out_printf("  Buses: primary %02X secondary %02X subordinate %02X\n", c[0x18], c[0x19], c[0x1a]);
        }
    }
    if (layout == 0) {
        if (data) record_field("subsystem", "%04X:%04X", static_cast<unsigned>(get(0x2c, 2)), static_cast<unsigned>(get(0x2e, 2)));
        else out_printf("  Subsystem %04X:%04X\n", static_cast<unsigned>(get(0x2c, 2)), static_cast<unsigned>(get(0x2e, 2)));
    }
    if (data) {
        record_field("irqline", "%02X", c[0x3c]);
        record_field("irqpin", "%02X", c[0x3d]);
        return;
    }
    out_printf("  Interrupt line %02X pin %02X\n", c[0x3c], c[0x3d]);
    if (!(status & 0x10)) return;
    out_text("  Capabilities:");
    uint32_t at = c[0x34] & 0xfc;
    for (int n = 0; at != 0 && n < kMaxCapabilities; n++) {
        out_printf(" [%02X] %s", at, capability_name(c[at]));
        at = c[at + 1] & 0xfc;  // at <= 0xfc, so at + 1 stays inside the 256 bytes
    }
    out_text("\n");
}

int show_function(uint32_t segment, uint32_t bus, uint32_t dev, uint32_t fn, bool decode, bool extended) {
    RootBridgeList bridges;
    const RootBridge* b = bridges.serving(segment, bus);
    const uint32_t size = extended ? 4096 : 256;
    Owned<uint8_t> space(static_cast<uint8_t*>(xallocate(size)));
    uint32_t got = 0;
    for (; got < size; got += 4) {
        uint32_t v = 0;
        if (!b || !read32(*b, bus, dev, fn, got, &v)) {
            if (got < 256)
                return report_error("pci", "cannot read the configuration space of %02X:%02X.%X", bus, dev, fn);
            break;
        }
        for (int k = 0; k < 4; k++) space.get()[got + k] = static_cast<uint8_t>(v >> (8 * k));
    }
    if (load_le(space.get(), size, 0, 2) == 0xffff)
        return report_error("pci", "no device at segment %llX bus %02X device %02X function %X",
                            static_cast<unsigned long long>(segment), bus, dev, fn);
    if (data_mode()) {
        decode_header(space.get(), segment, bus, dev, fn);
        return 0;
    }
    out_printf("PCI Segment %02llX Bus %02X Device %02X Func %02X\n", static_cast<unsigned long long>(segment), bus,
               dev, fn);
    if (decode) decode_header(space.get(), segment, bus, dev, fn);
    return hex_dump(space.get(), got, 0) ? 0 : kExitInterrupted;
}

int pci_command(int count, char** vector) {
    PciOptions o;
    const int first = parse_options(count, vector, kOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    const int operands = count - first;
    uint64_t n[3] = {0, 0, 0}, segment = 0;
    if (operands == 1 || operands > 3) return report_usage("pci");
    for (int i = 0; i < operands; i++)
        if (!parse_hex(vector[first + i], &n[i])) return report_usage("pci");
    if (o.segment && (!parse_hex(o.segment, &segment) || segment > 0xffffffffu)) return report_usage("pci");
    if (operands == 0) return list_functions(o.segment != nullptr, static_cast<uint32_t>(segment));
    if (n[0] > 0xff || n[1] > 0x1f || n[2] > 7) return report_usage("pci");
    return show_function(static_cast<uint32_t>(segment), static_cast<uint32_t>(n[0]), static_cast<uint32_t>(n[1]),
                         static_cast<uint32_t>(n[2]), o.decode, o.extended);
}

}  // namespace

void register_pci_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

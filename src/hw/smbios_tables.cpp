#include "hw/smbios_tables.h"

#include "hw/config_tables.h"
#include "hw/phys_memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"

namespace tarn {
namespace {

constexpr const char* kTypeNames[] = {
    "BIOS Information", "System Information", "Baseboard Information", "System Enclosure",
    "Processor Information", "Memory Controller", "Memory Module", "Cache Information", "Port Connector",
    "System Slots", "On Board Devices", "OEM Strings", "System Configuration Options", "BIOS Language",
    "Group Associations", "System Event Log", "Physical Memory Array", "Memory Device",
    "32-bit Memory Error", "Memory Array Mapped Address", "Memory Device Mapped Address",
    "Built-in Pointing Device", "Portable Battery", "System Reset", "Hardware Security",
    "System Power Controls", "Voltage Probe", "Cooling Device", "Temperature Probe",
    "Electrical Current Probe", "Out-of-Band Remote Access", "BIS Entry Point", "System Boot Information",
    "64-bit Memory Error", "Management Device", "Management Device Component",
    "Management Device Threshold", "Memory Channel", "IPMI Device", "Power Supply", "Additional Information",
    "Onboard Devices Extended", "Management Controller Host Interface", "TPM Device", "Processor Additional",
};

constexpr int kLabelWidth = 16;

struct Fields {
    const uint8_t* table;
    const SmbiosStructure& s;
    const uint8_t* f;  // the formatted area
    bool covers(uint32_t offset, uint32_t width) const { return offset + width <= s.length; }
    uint64_t get(uint32_t offset, int width) const { return load_le(f, s.length, offset, width); }
    void text(const char* label, uint32_t offset) const {
        if (covers(offset, 1)) labeled_value(2, kLabelWidth, label, "%s", smbios_string(table, s, f[offset]));
    }
    void number(const char* label, uint32_t offset, int width, const char* format) const {
        if (covers(offset, width)) labeled_value(2, kLabelWidth, label, format, static_cast<unsigned>(get(offset, width)));
    }
    void unknown(const char* label) const { labeled_value(2, kLabelWidth, label, "unknown"); }
};

void bios_fields(const Fields& x) {
    x.text("Vendor", 4);
    x.text("Version", 5);
    x.text("Release date", 8);
    if (x.covers(9, 1)) {
        if (x.f[9] != 0xff) {
            labeled_value(2, kLabelWidth, "ROM size", "%u KiB", 64u * (x.f[9] + 1u));
        } else if (x.covers(0x18, 2)) {
            const unsigned ext = static_cast<unsigned>(x.get(0x18, 2));
            const unsigned size = ext & 0x3fff;
            labeled_value(2, kLabelWidth, "ROM size", "%u %s", size, (ext >> 14) == 1 ? "GiB" : "MiB");
        } else {
            x.unknown("ROM size");
        }
    }
    if (x.covers(0x14, 2)) labeled_value(2, kLabelWidth, "BIOS release", "%u.%u", x.f[0x14], x.f[0x15]);
}

void system_fields(const Fields& x) {
    x.text("Manufacturer", 4);
    x.text("Product", 5);
    x.text("Version", 6);
    x.text("Serial", 7);
    if (x.covers(8, 16)) {
        const uint8_t* u = x.f + 8;
        labeled_value(2, kLabelWidth, "UUID",
                      "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", u[3], u[2], u[1],
                      u[0], u[5], u[4], u[7], u[6], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
    }
    x.text("SKU", 0x19);
    x.text("Family", 0x1a);
}

void processor_fields(const Fields& x) {
    x.text("Socket", 4);
    x.text("Manufacturer", 7);
    x.text("Version", 0x10);
    x.number("Current speed", 0x16, 2, "%u MHz");
    x.number("Max speed", 0x14, 2, "%u MHz");
    x.number("External clock", 0x12, 2, "%u MHz");
    x.number("Cores", 0x23, 1, "%u");
    x.number("Enabled cores", 0x24, 1, "%u");
    x.number("Threads", 0x25, 1, "%u");
}

void array_fields(const Fields& x) {
    if (x.covers(7, 4)) {
        const uint64_t kib = x.get(7, 4);
        if (kib != 0x80000000u) labeled_value(2, kLabelWidth, "Maximum capacity", "%llu MiB",
                                              static_cast<unsigned long long>(kib / 1024));
        else if (x.covers(0x0f, 8)) labeled_value(2, kLabelWidth, "Maximum capacity", "%llu MiB",
                                                  static_cast<unsigned long long>(x.get(0x0f, 8) >> 20));
        else x.unknown("Maximum capacity");
    }
    x.number("Devices", 0x0d, 2, "%u");
}

void device_fields(const Fields& x) {
    x.text("Locator", 0x10);
    x.text("Bank", 0x11);
    if (x.covers(0x0c, 2)) {
        const uint32_t size = static_cast<uint32_t>(x.get(0x0c, 2));
        if (size == 0xffff) {
            x.unknown("Size");
        } else if (size == 0x7fff) {
            if (x.covers(0x1c, 4)) {
                const uint32_t mib = static_cast<uint32_t>(x.get(0x1c, 4)) & 0x7fffffff;
                labeled_value(2, kLabelWidth, "Size", "%u MiB%s", mib, mib == 0 ? " (empty)" : "");
            } else {
                x.unknown("Size");
            }
        } else {
            const uint32_t mib = size & 0x8000 ? (size & 0x7fff) / 1024 : size;
            labeled_value(2, kLabelWidth, "Size", "%u MiB%s", mib, size == 0 ? " (empty)" : "");
        }
    }
    x.number("Speed", 0x15, 2, "%u MT/s");
    x.text("Manufacturer", 0x17);
    x.text("Serial", 0x18);
    x.text("Part number", 0x1a);
}

void mapped_fields(const Fields& x) {
    if (!x.covers(4, 8)) return;
    const uint64_t start = x.get(4, 4), end = x.get(8, 4);
    if (start == 0xffffffffu && end == 0xffffffffu) {
        if (x.covers(0x0f, 16)) {
            labeled_value(2, kLabelWidth, "Start", "0x%llX", static_cast<unsigned long long>(x.get(0x0f, 8)));
            labeled_value(2, kLabelWidth, "End", "0x%llX", static_cast<unsigned long long>(x.get(0x17, 8)));
        } else {
            x.unknown("Start");
            x.unknown("End");
        }
        return;
    }
    labeled_value(2, kLabelWidth, "Start", "0x%llX", static_cast<unsigned long long>(start * 1024));
    labeled_value(2, kLabelWidth, "End", "0x%llX", static_cast<unsigned long long>(end * 1024));
}

}  // namespace

bool read_smbios_entry(uint64_t address, bool is64, SmbiosEntry* e) {
    uint8_t b[32] = {};
    if (!address || !read_physical(address, b, is64 ? 24 : 31)) return false;
    *e = SmbiosEntry{};
    e->entry_address = address;
    e->is64 = is64;
    if (is64) {
        if (memcmp(b, "_SM3_", 5) != 0) return false;
        e->major = b[7];
        e->minor = b[8];
        e->length = static_cast<uint32_t>(load_le(b, 24, 12, 4));
        e->table = load_le(b, 24, 16, 8);
    } else {
        if (memcmp(b, "_SM_", 4) != 0) return false;
        e->major = b[6];
        e->minor = b[7];
        e->length = static_cast<uint32_t>(load_le(b, 31, 22, 2));
        e->table = load_le(b, 31, 24, 4);
        e->count = static_cast<uint16_t>(load_le(b, 31, 28, 2));
    }
    return true;
}

bool find_smbios_entry(SmbiosEntry* e) {
    if (read_smbios_entry(configuration_table_address(kSmbios3TableGuid), true, e)) return true;
    return read_smbios_entry(configuration_table_address(kSmbiosTableGuid), false, e);
}

bool smbios_structure_at(const uint8_t* t, uint64_t n, uint64_t at, SmbiosStructure* s) {
    if (at > n || n - at < 4) return false;
    const uint8_t length = t[at + 1];
    if (length < 4 || length > n - at) return false;
    uint64_t p = at + length;
    while (p + 1 < n && !(t[p] == 0 && t[p + 1] == 0)) p++;
    if (p + 1 >= n) return false;  // no double NUL before the end
    s->offset = at;
    s->type = t[at];
    s->length = length;
    s->handle = static_cast<uint16_t>(t[at + 2] | (t[at + 3] << 8));
    s->strings = at + length;
    s->next = p + 2;
    return true;
}

const char* smbios_string(const uint8_t* t, const SmbiosStructure& s, uint8_t index) {
    if (index == 0) return "";
    uint64_t p = s.strings;
    const uint64_t end = s.next - 1;  // the final NUL of the set
    // An empty string set is the double NUL itself.
    if (p + 1 < s.next && t[p] == 0) return "<bad string>";
    for (uint8_t i = 1; p < end; i++) {
        if (i == index) return reinterpret_cast<const char*>(t + p);
        while (p < end && t[p] != 0) p++;
        p++;
    }
    return "<bad string>";
}

const char* smbios_type_name(uint8_t type) {
    if (type < array_size(kTypeNames)) return kTypeNames[type];
    if (type == 127) return "End of Table";
    if (type >= 128) return "OEM specific";
    return "Unknown";
}

void print_smbios_fields(const uint8_t* table, const SmbiosStructure& s) {
    const Fields x{table, s, table + s.offset};
    switch (s.type) {
    case 0: bios_fields(x); break;
    case 1: system_fields(x); break;
    case 2:
    case 3:
        x.text("Manufacturer", 4);
        x.text("Version", 6);
        x.text("Serial", 7);
        x.text("Asset tag", 8);
        break;
    case 4: processor_fields(x); break;
    case 16: array_fields(x); break;
    case 17: device_fields(x); break;
    case 19: mapped_fields(x); break;
    default: break;
    }
}

}  // namespace tarn

#include "hw/acpi_tables.h"

#include "hw/config_tables.h"
#include "hw/phys_memory.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"

namespace tarn {
namespace {

constexpr uint32_t kHeaderLength = 36;

void copy_text(char* out, const uint8_t* from, int n) {
    for (int i = 0; i < n; i++) out[i] = from[i] >= 0x20 && from[i] < 0x7f ? static_cast<char>(from[i]) : ' ';
    out[n] = 0;
}

bool add_table(AcpiList* list, uint64_t address) {
    if (list->count >= kAcpiMaxTables || address == 0) return false;
    AcpiTable& t = list->tables[list->count++];
    t = AcpiTable{};
    t.address = address;
    uint8_t h[kHeaderLength] = {};
    if (!read_physical(address, h, 8)) {
        copy_text(t.signature, reinterpret_cast<const uint8_t*>("????"), 4);
        return true;
    }
    t.readable = true;
    copy_text(t.signature, h, 4);
    t.length = static_cast<uint32_t>(load_le(h, 8, 4, 4));
    t.facs = memcmp(h, "FACS", 4) == 0;
    const uint32_t minimum = t.facs ? 8 : kHeaderLength;
    t.bad_length = t.length < minimum || t.length > kAcpiMaxTableLength;
    if (t.bad_length) return true;
    if (!t.facs) {
        if (!read_physical(address, h, kHeaderLength)) {
            t.readable = false;
            return true;
        }
        t.revision = h[8];
        copy_text(t.oem_id, h + 10, 6);
        copy_text(t.oem_table, h + 16, 8);
        uint8_t* bytes = nullptr;
        if (read_acpi_table(t, &bytes)) {
            uint8_t sum = 0;
            for (uint32_t i = 0; i < t.length; i++) sum = static_cast<uint8_t>(sum + bytes[i]);
            t.checksum_ok = sum == 0;
            release(bytes);
        } else {
            t.readable = false;
        }
    }
    return true;
}

// After a FADT: its DSDT, then its FACS.
void add_fadt_children(AcpiList* list, const AcpiTable& fadt) {
    uint8_t* b = nullptr;
    if (!read_acpi_table(fadt, &b)) return;
    const uint32_t n = fadt.length;
    uint64_t dsdt = n >= 148 ? load_le(b, n, 140, 8) : 0;
    if (!dsdt) dsdt = load_le(b, n, 40, 4);
    uint64_t facs = n >= 140 ? load_le(b, n, 132, 8) : 0;
    if (!facs) facs = load_le(b, n, 36, 4);
    release(b);
    add_table(list, dsdt);
    add_table(list, facs);
}

}  // namespace

bool read_acpi_table(const AcpiTable& t, uint8_t** bytes) {
    if (!t.readable || t.bad_length) return false;
    uint8_t* b = static_cast<uint8_t*>(xallocate(t.length));
    if (!read_physical(t.address, b, t.length)) {
        release(b);
        return false;
    }
    *bytes = b;
    return true;
}

uint64_t find_rsdp() {
    uint64_t at = configuration_table_address(kAcpi20TableGuid);
    return at ? at : configuration_table_address(kAcpi10TableGuid);
}

bool build_acpi_list(uint64_t rsdp, AcpiList* list) {
    uint8_t r[36] = {};
    list->count = 0;
    list->rsdp = rsdp;
    if (!rsdp || !read_physical(rsdp, r, 20) || memcmp(r, "RSD PTR ", 8) != 0) return false;
    list->rsdp_revision = r[15];
    copy_text(list->rsdp_oem, r + 9, 6);
    uint64_t root = 0;
    int entry = 4;
    if (r[15] >= 2 && read_physical(rsdp, r, 36)) root = load_le(r, 36, 24, 8);
    if (root) entry = 8;
    else root = load_le(r, 36, 16, 4);
    if (!add_table(list, root)) return true;
    const AcpiTable root_table = list->tables[0];
    uint8_t* b = nullptr;
    if (!read_acpi_table(root_table, &b)) return true;
    for (uint32_t at = kHeaderLength; at + entry <= root_table.length; at += entry) {
        const uint64_t address = load_le(b, root_table.length, at, entry);
        if (!address) continue;
        if (!add_table(list, address)) break;
        const AcpiTable& t = list->tables[list->count - 1];
        if (memcmp(t.signature, "FACP", 4) == 0 && t.readable && !t.bad_length) add_fadt_children(list, t);
    }
    release(b);
    return true;
}

namespace {

const char* state_word(uint64_t flags) { return flags & 1 ? "enabled" : "disabled"; }

void madt_summary(const uint8_t* b, uint32_t n) {
    if (n < 44) return;
    out_printf("  Local APIC address 0x%08X, flags %X\n", static_cast<unsigned>(load_le(b, n, 36, 4)),
               static_cast<unsigned>(load_le(b, n, 40, 4)));
    for (uint32_t at = 44; at + 2 <= n;) {
        const uint8_t type = b[at], len = b[at + 1];
        if (len < 2 || len > n - at) break;
        const uint8_t* e = b + at;
        auto f = [&](uint32_t off, int w) { return static_cast<unsigned>(load_le(e, len, off, w)); };
        if (type == 0 && len >= 8) {
            out_printf("  Processor local APIC: ACPI id %u, APIC id %u, %s\n", e[2], e[3], state_word(f(4, 4)));
        } else if (type == 1 && len >= 12) {
            out_printf("  I/O APIC: id %u, address 0x%08X, GSI base %u\n", e[2], f(4, 4), f(8, 4));
        } else if (type == 2 && len >= 10) {
            out_printf("  Interrupt override: bus %u, source %u -> GSI %u, flags %X\n", e[2], e[3], f(4, 4), f(8, 2));
        } else if (type == 4 && len >= 6) {
            out_printf("  Local APIC NMI: processor %u, LINT%u\n", e[2], e[5]);
        } else if (type == 9 && len >= 16) {
            out_printf("  Processor x2APIC: id %u, %s\n", f(4, 4), state_word(f(8, 4)));
        } else {
            out_printf("  Entry type %u, length %u\n", type, len);
        }
        at += len;
    }
}

}  // namespace

void print_acpi_summary(const char* sig, const uint8_t* b, uint32_t n) {
    if (equal(sig, "APIC")) {
        madt_summary(b, n);
    } else if (equal(sig, "MCFG")) {
        for (uint32_t at = 44; at + 16 <= n; at += 16)
            out_printf("  PCI Express ECAM: base 0x%llX, segment %u, buses %02X-%02X\n",
                       static_cast<unsigned long long>(load_le(b, n, at, 8)),
                       static_cast<unsigned>(load_le(b, n, at + 8, 2)), b[at + 10], b[at + 11]);
    } else if (equal(sig, "HPET")) {
        if (n >= 53)
            out_printf("  HPET base address 0x%llX, number %u\n", static_cast<unsigned long long>(load_le(b, n, 44, 8)),
                       b[52]);
    } else if (equal(sig, "FACP")) {
        if (n >= 60)
            out_printf("  FACS 0x%X, DSDT 0x%X, SCI interrupt %u, PM1a event block 0x%X, profile %u\n",
                       static_cast<unsigned>(load_le(b, n, 36, 4)), static_cast<unsigned>(load_le(b, n, 40, 4)),
                       static_cast<unsigned>(load_le(b, n, 46, 2)), static_cast<unsigned>(load_le(b, n, 56, 4)),
                       b[45]);
    }
}

}  // namespace tarn

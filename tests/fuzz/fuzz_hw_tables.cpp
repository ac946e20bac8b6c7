// The ACPI and SMBIOS walkers on arbitrary memory. The input is placed as one blob of fake
// physical memory at kBase: the ACPI list is built from an RSDP at its start, every table
// found is summarised, and the same bytes are walked as an SMBIOS structure table with
// every string of every structure looked up. The sanitizers and the host reader catch any
// read outside the blob or the copies.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hw/acpi_tables.h"
#include "hw/smbios_tables.h"
#include "phys_memory.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "sim.h"

namespace {

constexpr uint64_t kBase = 0x10000;

void check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static sim::SimFirmware* fw = new sim::SimFirmware();
    sim::clear_physical_blobs(*fw);
    // An RSDP of revision 2 whose XSDT is the input itself, right after it; the input's
    // first byte picks the XSDT (64-bit entries) or the RSDT (32-bit entries).
    std::string bytes(36, '\0');
    bytes.replace(0, 8, "RSD PTR ");
    bytes[15] = 2;
    const uint64_t root = kBase + 36;
    for (int i = 0; i < 4; i++) bytes[16 + i] = static_cast<char>(root >> (8 * i));
    if (size > 0 && (data[0] & 1))
        for (int i = 0; i < 8; i++) bytes[24 + i] = static_cast<char>(root >> (8 * i));
    bytes.append(reinterpret_cast<const char*>(data), size);
    sim::add_physical_blob(*fw, bytes, kBase);

    tarn::StringBuffer out;
    if (tarn::push_capture(&out) != tarn::kOk) return 0;
    static tarn::AcpiList list;
    if (tarn::build_acpi_list(kBase, &list)) {
        check(list.count <= tarn::kAcpiMaxTables);
        for (int i = 0; i < list.count; i++) {
            uint8_t* table = nullptr;
            if (!tarn::read_acpi_table(list.tables[i], &table)) continue;
            check(list.tables[i].length <= tarn::kAcpiMaxTableLength);
            tarn::print_acpi_summary(list.tables[i].signature, table, list.tables[i].length);
            tarn::release(table);
        }
    }
    // The summaries on the input as a table of each kind (lengths up to the input's).
    for (const char* sig : {"APIC", "MCFG", "HPET", "FACP"})
        tarn::print_acpi_summary(sig, data, static_cast<uint32_t>(size));
    tarn::SmbiosStructure s;
    int walked = 0;
    for (uint64_t at = 0; tarn::smbios_structure_at(data, size, at, &s); at = s.next) {
        check(s.next > at && s.next <= size);
        for (int k = 0; k < 256; k++) tarn::smbios_string(data, s, static_cast<uint8_t>(k));
        tarn::print_smbios_fields(data, s);
        walked++;
    }
    check(walked <= static_cast<int>(size / 4) + 1);
    tarn::SmbiosEntry e;
    (void)tarn::read_smbios_entry(kBase, size > 0 && data[0] & 1, &e);
    (void)tarn::pop_redirection();
    return 0;
}

// The ACPI table list, built from the RSDP through the bounds-checked memory reader.
#pragma once
#include <stdint.h>

namespace tarn {

constexpr uint32_t kAcpiMaxTableLength = 16u << 20;
constexpr int kAcpiMaxTables = 256;

struct AcpiTable {
    uint64_t address;
    char signature[5];
    uint32_t length;
    uint8_t revision;
    char oem_id[7];
    char oem_table[9];
    bool readable;    // the header could be read
    bool bad_length;  // too short for its header, or longer than 16 MiB
    bool facs;        // no checksum, revision or OEM fields
    bool checksum_ok;
};

struct AcpiList {
    uint64_t rsdp = 0;
    uint8_t rsdp_revision = 0;
    char rsdp_oem[7] = {};
    int count = 0;
    AcpiTable tables[kAcpiMaxTables];
};

// Builds the list from the RSDP at rsdp. False when no "RSD PTR " is there.
bool build_acpi_list(uint64_t rsdp, AcpiList* list);
// The RSDP named in the configuration table (ACPI 2.0 first, then 1.0), or 0.
uint64_t find_rsdp();
// Reads the whole table (false for unreadable or bad-length tables); release() the bytes.
bool read_acpi_table(const AcpiTable& t, uint8_t** bytes);
// Prints the decoded summary of an APIC, MCFG, HPET or FACP table (nothing for others).
void print_acpi_summary(const char* signature, const uint8_t* bytes, uint32_t length);

}  // namespace tarn

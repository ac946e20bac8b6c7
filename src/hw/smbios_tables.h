// The SMBIOS entry points and the structure walk over a copied structure table.
#pragma once
#include <stdint.h>

namespace tarn {

constexpr uint32_t kSmbiosMaxTableLength = 16u << 20;

struct SmbiosEntry {
    bool is64 = false;
    uint8_t major = 0, minor = 0;
    uint64_t entry_address = 0;
    uint64_t table = 0;
    uint32_t length = 0;   // table length or maximum size
    uint16_t count = 0;    // structure count (32-bit entry point)
};

// Reads the entry point at address (64-bit "_SM3_" or 32-bit "_SM_").
bool read_smbios_entry(uint64_t address, bool is64, SmbiosEntry* entry);
// The SMBIOS 3 entry point named in the configuration table, else the 32-bit one.
bool find_smbios_entry(SmbiosEntry* entry);

struct SmbiosStructure {
    uint64_t offset;       // of the structure in the table
    uint8_t type;
    uint8_t length;        // formatted length
    uint16_t handle;
    uint64_t strings;      // offset of the string set
    uint64_t next;         // offset after the double NUL
};

// The structure at offset in the n-byte table, or false when the walk ends there.
bool smbios_structure_at(const uint8_t* table, uint64_t n, uint64_t offset, SmbiosStructure* s);
// String number index (1-based) of s: "" for 0, "<bad string>" past the last one.
const char* smbios_string(const uint8_t* table, const SmbiosStructure& s, uint8_t index);
// The name of a structure type.
const char* smbios_type_name(uint8_t type);
// Prints the decoded fields of s (labels and values, or record fields in -data mode).
void print_smbios_fields(const uint8_t* table, const SmbiosStructure& s);

}  // namespace tarn

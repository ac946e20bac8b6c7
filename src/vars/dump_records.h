// The dmpstore save file: a plain sequence of variable records, each
//   NameSize (4) DataSize (4) Name (NameSize, UCS-2 with NUL) VendorGuid (16)
//   Attributes (4) Data (DataSize) CRC32 (4)
// little-endian, the CRC-32 taken over everything before it. No file header.
#pragma once
#include "runtime/string_buffer.h"
#include "uefi/base.h"

namespace tarn {

constexpr uint64_t kDumpRecordOverhead = 32;  // the fixed fields of a record

// One record as found in a file; name and data point into the file's bytes (the name is
// not necessarily 2-byte aligned: copy it before handing it to the firmware).
struct DumpRecord {
    const uint8_t* name = nullptr;  // name_size bytes, the last unit the only NUL
    uint32_t name_size = 0;
    efi::Guid guid = {};
    uint32_t attributes = 0;
    const uint8_t* data = nullptr;
    uint32_t data_size = 0;
    uint32_t stored_crc = 0;
    const uint8_t* covered = nullptr;  // the bytes the CRC is taken over
    uint64_t covered_size = 0;
    uint64_t next = 0;  // offset of the record after this one
};

enum class DumpRead : uint8_t {
    kRecord,   // *out holds the record at offset
    kEnd,      // fewer than 8 bytes remain
    kDamaged,  // a name size below 2 or odd, a name not ended by its only NUL, or a
               // record reaching past the end of the file
};

DumpRead read_dump_record(const uint8_t* file, uint64_t size, uint64_t offset, DumpRecord* out);

// The standard CRC-32 of the bytes (the firmware's CalculateCrc32); false when the
// firmware refuses.
[[nodiscard]] bool dump_crc32(const void* bytes, uint64_t size, uint32_t* crc);

// Appends one record, its CRC computed by the firmware; name is UCS-2 with its NUL
// (name_size bytes). False when the sizes do not fit the format or the CRC failed (the
// buffer then holds what it held before).
[[nodiscard]] bool append_dump_record(StringBuffer& file, const char16_t* name, uint64_t name_size,
                                      const efi::Guid& guid, uint32_t attributes,
                                      const uint8_t* data, uint64_t data_size);

struct VariableData;

// The dump of one variable shared by dmpstore and setvar: the line
// "Variable ATTRIBUTES 'GUID:NAME' DataSize = 0xSIZE" and the hex dump of the value.
void print_variable_dump(const char* name, const efi::Guid& guid, const VariableData& value);

}  // namespace tarn

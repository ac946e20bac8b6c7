#include "vars/dump_records.h"

#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "vars/variable_access.h"
#include "vars/variable_text.h"

namespace tarn {
namespace {

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put32(StringBuffer& file, uint32_t v) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    append_bytes(file, bytes, 4);
}

// The name must end with a 16-bit NUL and hold no earlier one.
bool name_terminated(const uint8_t* name, uint32_t name_size) {
    for (uint32_t i = 0; i + 2 < name_size; i += 2)
        if (name[i] == 0 && name[i + 1] == 0) return false;
    return name[name_size - 2] == 0 && name[name_size - 1] == 0;
}

}  // namespace

DumpRead read_dump_record(const uint8_t* file, uint64_t size, uint64_t offset, DumpRecord* out) {
    if (offset > size || size - offset < 8) return DumpRead::kEnd;
    const uint8_t* p = file + offset;
    const uint32_t name_size = le32(p);
    const uint32_t data_size = le32(p + 4);
    if (name_size < 2 || name_size % 2 != 0) return DumpRead::kDamaged;
    // Both sizes are below 2^32, so the sum cannot overflow 64 bits.
    const uint64_t length = kDumpRecordOverhead + name_size + static_cast<uint64_t>(data_size);
    if (length > size - offset) return DumpRead::kDamaged;
    if (!name_terminated(p + 8, name_size)) return DumpRead::kDamaged;
    out->name = p + 8;
    out->name_size = name_size;
    memcpy(&out->guid, p + 8 + name_size, sizeof out->guid);
    out->attributes = le32(p + 24 + name_size);
    out->data = p + 28 + name_size;
    out->data_size = data_size;
    out->covered = p;
    out->covered_size = length - 4;
    out->stored_crc = le32(p + length - 4);
    out->next = offset + length;
    return DumpRead::kRecord;
}

bool dump_crc32(const void* bytes, uint64_t size, uint32_t* crc) {
    efi::BootServices* bs = boot_services();
    return bs && bs->calculate_crc32 && bs->calculate_crc32(bytes, size, crc) == efi::kSuccess;
}

bool append_dump_record(StringBuffer& file, const char16_t* name, uint64_t name_size,
                        const efi::Guid& guid, uint32_t attributes, const uint8_t* data,
                        uint64_t data_size) {
    if (name_size < 2 || name_size > 0xffffffffu || data_size > 0xffffffffu) return false;
    const uint64_t start = file.length;
    put32(file, static_cast<uint32_t>(name_size));
    put32(file, static_cast<uint32_t>(data_size));
    append_bytes(file, name, name_size);
    append_bytes(file, &guid, sizeof guid);
    put32(file, attributes);
    append_bytes(file, data, data_size);
    uint32_t crc = 0;
    if (!dump_crc32(file.data + start, file.length - start, &crc)) {
        file.length = start;
        file.data[start] = 0;
        return false;
    }
    put32(file, crc);
    return true;
}

void print_variable_dump(const char* name, const efi::Guid& guid, const VariableData& value) {
    char attributes[kLongAttributesSize];
    attributes_long(value.attributes, attributes);
    char guid_text[kGuidTextSize];
    format_guid(guid, guid_text, true);
    out_printf("Variable %s '%s:%s' DataSize = 0x%zX\n", attributes, guid_text, name,
               static_cast<size_t>(value.size));
    hex_dump(value.bytes, value.size);
}

}  // namespace tarn

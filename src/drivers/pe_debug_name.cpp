#include "drivers/pe_debug_name.h"

#include "runtime/strings.h"

namespace tarn {
namespace {

constexpr uint64_t kMinimumImage = 512;
constexpr uint64_t kDebugDirectoryIndex = 6;
constexpr uint64_t kDebugEntrySize = 28;
constexpr uint32_t kDebugTypeCodeView = 2;
constexpr uint64_t kMaxDebugEntries = 64;

uint32_t read16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Whether [offset, offset + length) lies inside size bytes (no wrap: sizes are 64-bit,
// offsets and lengths at most 32-bit).
bool inside(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}

// Where the path starts inside a CodeView record, or 0 for an unknown signature.
uint64_t path_offset(const uint8_t* record) {
    if (memcmp(record, "RSDS", 4) == 0) return 24;
    if (memcmp(record, "NB10", 4) == 0) return 16;
    if (memcmp(record, "MTOC", 4) == 0) return 20;
    return 0;
}

// The last component of the NUL-terminated path, without its extension, into out.
bool name_from_path(const char* path, uint64_t length, char* out, uint64_t out_size) {
    uint64_t start = 0;
    for (uint64_t i = 0; i < length; i++)
        if (path[i] == '\\' || path[i] == '/') start = i + 1;
    uint64_t end = length;
    for (uint64_t i = length; i > start; i--)
        if (path[i - 1] == '.') {
            end = i - 1;
            break;
        }
    if (end <= start) return false;
    uint64_t n = end - start;
    if (n > out_size - 1) n = out_size - 1;
    memcpy(out, path + start, n);
    out[n] = 0;
    return true;
}

bool codeview_name(const uint8_t* image, uint64_t size, const uint8_t* entry, char* out,
                   uint64_t out_size) {
    if (read32(entry + 12) != kDebugTypeCodeView) return false;
    const uint64_t data_size = read32(entry + 16);
    const uint64_t address = read32(entry + 20);
    if (data_size < 4 || !inside(address, data_size, size)) return false;
    const uint8_t* record = image + address;
    const uint64_t at = path_offset(record);
    if (at == 0 || at >= data_size) return false;
    const char* path = reinterpret_cast<const char*>(record + at);
    const void* nul = memchr(path, 0, data_size - at);
    if (!nul) return false;
    return name_from_path(path, static_cast<uint64_t>(static_cast<const char*>(nul) - path), out,
                          out_size);
}

}  // namespace

bool pe_headers_present(const uint8_t* file, uint64_t size) {
    if (!file || size < 0x40 || file[0] != 'M' || file[1] != 'Z') return false;
    const uint64_t pe = read32(file + 0x3c);
    if (!inside(pe, 26, size) || memcmp(file + pe, "PE\0\0", 4) != 0) return false;
    const uint32_t magic = read16(file + pe + 24);
    return magic == 0x10b || magic == 0x20b;
}

bool pe_debug_name(const uint8_t* image, uint64_t size, char* out, uint64_t out_size) {
    if (!out || out_size < 2) return false;
    out[0] = 0;
    if (!image || size < kMinimumImage || image[0] != 'M' || image[1] != 'Z') return false;
    const uint64_t pe = read32(image + 0x3c);
    // Signature (4) and file header (20), then the optional header.
    if (!inside(pe, 24, size) || memcmp(image + pe, "PE\0\0", 4) != 0) return false;
    const uint64_t optional_size = read16(image + pe + 20);
    const uint64_t optional = pe + 24;
    if (!inside(optional, optional_size, size) || optional_size < 2) return false;
    const uint32_t magic = read16(image + optional);
    uint64_t count_at = 0;
    if (magic == 0x20b) count_at = 108;
    else if (magic == 0x10b) count_at = 92;
    else return false;
    if (optional_size < count_at + 4) return false;
    const uint64_t directories = read32(image + optional + count_at);
    if (directories <= kDebugDirectoryIndex) return false;
    const uint64_t debug_at = optional + count_at + 4 + kDebugDirectoryIndex * 8;
    if (debug_at + 8 > optional + optional_size) return false;
    const uint64_t debug_rva = read32(image + debug_at);
    const uint64_t debug_size = read32(image + debug_at + 4);
    if (debug_size == 0 || !inside(debug_rva, debug_size, size)) return false;
    uint64_t entries = debug_size / kDebugEntrySize;
    if (entries > kMaxDebugEntries) entries = kMaxDebugEntries;
    for (uint64_t i = 0; i < entries; i++)
        if (codeview_name(image, size, image + debug_rva + i * kDebugEntrySize, out, out_size))
            return true;
    out[0] = 0;
    return false;
}

}  // namespace tarn

// Images for the driver tests: a PE32+ (or PE32) header with a debug directory whose
// CodeView record names a program database, with every field a test may break.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tarn_test {

struct DebugImage {
    std::string signature = "RSDS";   // CodeView signature
    std::string path = "c:\\build\\x64\\TestDrv.pdb";
    uint64_t size = 1024;             // image size
    uint16_t magic = 0x20b;           // 0x20b PE32+, 0x10b PE32
    uint32_t directories = 16;        // NumberOfRvaAndSizes
    uint32_t debug_rva = 0x200;       // the debug directory
    uint32_t debug_size = 28;
    uint32_t record_rva = 0x240;      // AddressOfRawData of the CodeView entry
    int64_t record_size = -1;         // SizeOfData; -1: header, path and its NUL
    bool terminate = true;            // the NUL after the path
    uint32_t e_lfanew = 0x80;
    uint32_t type = 2;                // debug entry type
};

inline std::vector<uint8_t> debug_image(const DebugImage& d) {
    std::vector<uint8_t> b(d.size, 0);
    auto put = [&](uint64_t at, uint64_t v, int n) {
        for (int i = 0; i < n; i++)
            if (at + i < b.size()) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put_text = [&](uint64_t at, const std::string& s) {
        for (size_t i = 0; i < s.size(); i++)
            if (at + i < b.size()) b[at + i] = static_cast<uint8_t>(s[i]);
    };
    put_text(0, "MZ");
    put(0x3c, d.e_lfanew, 4);
    put_text(d.e_lfanew, std::string("PE\0\0", 4));
    put(d.e_lfanew + 4, 0x8664, 2);
    const bool plus = d.magic == 0x20b;
    const uint64_t count_at = plus ? 108 : 92;
    const uint64_t optional = d.e_lfanew + 24;
    put(d.e_lfanew + 20, count_at + 4 + 16 * 8, 2);
    put(optional, d.magic, 2);
    put(optional + count_at, d.directories, 4);
    put(optional + count_at + 4 + 6 * 8, d.debug_rva, 4);
    put(optional + count_at + 4 + 6 * 8 + 4, d.debug_size, 4);
    const uint64_t path_at = d.signature == "NB10" ? 16 : d.signature == "MTOC" ? 20 : 24;
    const uint64_t record = d.record_size >= 0 ? static_cast<uint64_t>(d.record_size)
                                               : path_at + d.path.size() + (d.terminate ? 1 : 0);
    put(d.debug_rva + 12, d.type, 4);
    put(d.debug_rva + 16, record, 4);
    put(d.debug_rva + 20, d.record_rva, 4);
    put_text(d.record_rva, d.signature);
    put_text(d.record_rva + path_at, d.path);
    if (!d.terminate) {
        // The bytes after the record are not NUL either.
        for (uint64_t i = d.record_rva + path_at + d.path.size(); i < b.size(); i++) b[i] = 'x';
    }
    return b;
}

}  // namespace tarn_test

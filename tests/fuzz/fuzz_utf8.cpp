// UTF-8 decoding, counting, offsets and the UCS-2 conversions on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_pool.h"
#include "runtime/memory.h"
#include "runtime/text.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool installed = false;
    if (!installed) {
        fuzz::install_pool();
        installed = true;
    }
    // A private copy of exactly size bytes: reads past it are caught.
    std::vector<char> owned(data, data + size);
    const char* bytes = owned.empty() ? nullptr : owned.data();
    if (!bytes) {
        check(tarn::utf8_count(bytes, 0) == 0);
        check(tarn::utf8_offset(bytes, 0, 5) == 0);
        return 0;
    }

    // Decoding walks the input in steps of 1 to 4 bytes and ends exactly at its end.
    std::vector<uint32_t> code_points;
    std::vector<uint64_t> offsets;
    uint64_t offset = 0;
    while (offset < size) {
        uint32_t cp = 0;
        uint64_t used = tarn::utf8_decode(bytes + offset, size - offset, &cp);
        check(used >= 1 && used <= 4 && used <= size - offset);
        if (used > 1) {
            // A multi-byte result re-encodes to at most as many bytes (overlong forms shrink).
            char again[4];
            uint64_t n = tarn::utf8_encode(cp, again);
            check(n <= used);
            if (n == used) check(memcmp(again, bytes + offset, n) == 0);
        } else if (cp != tarn::kReplacementCharacter) {
            check(cp < 0x80 && static_cast<uint8_t>(bytes[offset]) == cp);
        }
        offsets.push_back(offset);
        code_points.push_back(cp);
        offset += used;
    }
    check(offset == size);
    uint64_t count = code_points.size();
    check(tarn::utf8_count(bytes, size) == count);
    check(tarn::utf8_offset(bytes, size, count) == size);
    check(tarn::utf8_offset(bytes, size, count + 7) == size);
    for (uint64_t k = 0; k < count; k += 1 + count / 8) {
        check(tarn::utf8_offset(bytes, size, k) == offsets[k]);
    }

    // To UCS-2: one unit per code point, U+FFFD for anything above U+FFFF.
    uint64_t units = 0;
    char16_t* ucs2 = tarn::utf8_to_ucs2_n(bytes, size, &units);
    check(units == count);
    check(ucs2[units] == 0);
    for (uint64_t i = 0; i < units; i++) {
        uint32_t expected = code_points[i] > 0xffff ? tarn::kReplacementCharacter : code_points[i];
        check(ucs2[i] == expected);
    }
    // And back: every unit becomes one code point of its own.
    char* utf8 = tarn::ucs2_to_utf8(ucs2, units);
    uint64_t back = strlen(utf8);
    uint64_t decoded = 0;
    for (uint64_t o = 0, i = 0; o < back; i++) {
        uint32_t cp;
        o += tarn::utf8_decode(utf8 + o, back - o, &cp);
        check(i < units && cp == ucs2[i]);
        decoded++;
    }
    // A zero unit (a NUL byte, or an overlong C0 80) ends the C string early; otherwise
    // every unit came back.
    bool has_zero = false;
    for (uint64_t i = 0; i < units; i++) has_zero |= ucs2[i] == 0;
    check(has_zero || decoded == units);
    tarn::release(utf8);
    tarn::release(ucs2);

    // The NUL-terminated form stops at the first NUL.
    std::vector<char> text(owned);
    text.push_back('\0');
    uint64_t text_units = 0;
    char16_t* up_to_nul = tarn::utf8_to_ucs2(text.data(), &text_units);
    check(text_units == tarn::utf8_count(text.data(), strlen(text.data())));
    check(tarn::ucs2_length(up_to_nul) <= text_units);
    tarn::release(up_to_nul);
    check(fuzz::outstanding() == 0);
    return 0;
}

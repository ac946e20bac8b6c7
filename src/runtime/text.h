// UTF-8 inside the program, UCS-2 at the firmware boundary.
#pragma once
#include "runtime/util.h"

namespace tarn {

constexpr uint32_t kReplacementCharacter = 0xfffd;

// Bytes consumed (1..4; 0 when available is 0). Malformed input gives U+FFFD and 1 byte.
uint64_t utf8_decode(const char* bytes, uint64_t available, uint32_t* code_point);
// Bytes written to out (1..4).
uint64_t utf8_encode(uint32_t code_point, char* out);
uint64_t utf8_count(const char* bytes, uint64_t n);
uint64_t utf8_offset(const char* bytes, uint64_t n, uint64_t count);
// Newly allocated NUL-terminated UCS-2; code points above U+FFFF become U+FFFD.
char16_t* utf8_to_ucs2(const char* text, uint64_t* out_units = nullptr);
char16_t* utf8_to_ucs2_n(const char* text, uint64_t n, uint64_t* out_units = nullptr);
// Newly allocated UTF-8; n of -1 (kUpToNul) runs up to the NUL.
constexpr uint64_t kUpToNul = ~0ull;
char* ucs2_to_utf8(const char16_t* units, uint64_t n = kUpToNul);
uint64_t ucs2_length(const char16_t* units);

}  // namespace tarn

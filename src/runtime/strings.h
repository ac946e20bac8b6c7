// Byte-string utilities with the C library's semantics, plus the shell's own
// case-insensitive comparison, wildcard matching and integer parsing.
#pragma once
#include "runtime/util.h"

namespace tarn {

uint64_t strlen(const char* s);
uint64_t strnlen(const char* s, uint64_t max);
int strcmp(const char* a, const char* b);
int strncmp(const char* a, const char* b, uint64_t n);
char* strchr(const char* s, int c);
char* strrchr(const char* s, int c);
char* strstr(const char* haystack, const char* needle);
char* strpbrk(const char* s, const char* accept);
uint64_t strspn(const char* s, const char* accept);
uint64_t strcspn(const char* s, const char* reject);
char* strcpy(char* d, const char* s);
// Copies at most size-1 bytes and always terminates (size > 0); returns strlen(s).
uint64_t strlcpy(char* d, const char* s, uint64_t size);
void* memchr(const void* s, int c, uint64_t n);

inline void* memcpy(void* d, const void* s, uint64_t n) { return __builtin_memcpy(d, s, n); }
inline void* memmove(void* d, const void* s, uint64_t n) { return __builtin_memmove(d, s, n); }
inline void* memset(void* d, int c, uint64_t n) { return __builtin_memset(d, c, n); }
inline int memcmp(const void* a, const void* b, uint64_t n) { return __builtin_memcmp(a, b, n); }

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }
inline bool is_alpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool is_alnum(int c) { return is_digit(c) || is_alpha(c); }
inline bool is_space(int c) { return c == ' ' || (c >= 9 && c <= 13); }
inline bool is_xdigit(int c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline int to_lower(int c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
inline int to_upper(int c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

// As strcmp/strncmp with A..Z folded to a..z; bytes of 128 and above compare as they are.
int compare_nocase(const char* a, const char* b);
int compare_nocase_n(const char* a, const char* b, uint64_t n);
inline bool equal_nocase(const char* a, const char* b) { return compare_nocase(a, b) == 0; }
inline bool equal(const char* a, const char* b) { return strcmp(a, b) == 0; }

// '*' matches any run of bytes, '?' exactly one; no escapes, no classes.
bool wildcard_match(const char* pattern, const char* text, bool fold_case);

// Accepts blanks, sign, radix prefixes 0x 0b &h &o &b, underscores between digits.
// The value wraps in 64 bits. Returns false for anything else.
bool parse_integer(const char* text, int64_t* value);
// The same syntax, but a value outside the signed 64-bit range fails instead of wrapping.
bool parse_integer_in_range(const char* text, int64_t* value);
// Hexadecimal digits only (either case; an optional "0x" prefix), the whole text, at most
// 64 bits. The form hardware and handle numbers are typed in.
bool parse_hex(const char* text, uint64_t* value);

}  // namespace tarn

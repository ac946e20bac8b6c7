// Byte-string functions with the C library's semantics, and the shell's own
// case-insensitive comparison, wildcard matching and integer parsing.
#include "runtime/strings.h"

namespace tarn {

namespace {

int byte(const char* p) { return static_cast<uint8_t>(*p); }

int fold(int c, bool fold_case) { return fold_case ? to_lower(c) : c; }

bool contains(const char* set, char c) {
    for (; *set; set++)
        if (*set == c) return true;
    return false;
}

// The value of a digit character in any radix up to 36, or -1.
int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return -1;
}

}  // namespace

uint64_t strlen(const char* s) {
    uint64_t n = 0;
    while (s[n]) n++;
    return n;
}

uint64_t strnlen(const char* s, uint64_t max) {
    uint64_t n = 0;
    while (n < max && s[n]) n++;
    return n;
}

int strcmp(const char* a, const char* b) {
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return byte(a) - byte(b);
}

int strncmp(const char* a, const char* b, uint64_t n) {
    for (; n; n--, a++, b++) {
        if (*a != *b) return byte(a) - byte(b);
        if (!*a) return 0;
    }
    return 0;
}

char* strchr(const char* s, int c) {
    char target = static_cast<char>(c);
    for (;; s++) {
        if (*s == target) return const_cast<char*>(s);
        if (!*s) return nullptr;
    }
}

char* strrchr(const char* s, int c) {
    char target = static_cast<char>(c);
    const char* found = nullptr;
    for (;; s++) {
        if (*s == target) found = s;
        if (!*s) return const_cast<char*>(found);
    }
}

char* strstr(const char* haystack, const char* needle) {
    uint64_t n = strlen(needle);
    if (n == 0) return const_cast<char*>(haystack);
    for (; *haystack; haystack++) {
        if (*haystack == *needle && strncmp(haystack, needle, n) == 0)
            return const_cast<char*>(haystack);
    }
    return nullptr;
}

char* strpbrk(const char* s, const char* accept) {
    for (; *s; s++)
        if (contains(accept, *s)) return const_cast<char*>(s);
    return nullptr;
}

uint64_t strspn(const char* s, const char* accept) {
    uint64_t n = 0;
    while (s[n] && contains(accept, s[n])) n++;
    return n;
}

uint64_t strcspn(const char* s, const char* reject) {
    uint64_t n = 0;
    while (s[n] && !contains(reject, s[n])) n++;
    return n;
}

char* strcpy(char* d, const char* s) {
    char* out = d;
    while ((*d++ = *s++)) {
    }
    return out;
}

uint64_t strlcpy(char* d, const char* s, uint64_t size) {
    uint64_t n = strlen(s);
    if (size) {
        uint64_t copy = n < size - 1 ? n : size - 1;
        memcpy(d, s, copy);
        d[copy] = '\0';
    }
    return n;
}

void* memchr(const void* s, int c, uint64_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(s);
    uint8_t target = static_cast<uint8_t>(c);
    for (; n; n--, p++)
        if (*p == target) return const_cast<uint8_t*>(p);
    return nullptr;
}

int compare_nocase(const char* a, const char* b) {
    for (;; a++, b++) {
        int ca = to_lower(byte(a));
        int cb = to_lower(byte(b));
        if (ca != cb || !ca) return ca - cb;
    }
}

int compare_nocase_n(const char* a, const char* b, uint64_t n) {
    for (; n; n--, a++, b++) {
        int ca = to_lower(byte(a));
        int cb = to_lower(byte(b));
        if (ca != cb || !ca) return ca - cb;
    }
    return 0;
}

// Left to right; on a mismatch, the most recent '*' absorbs one more byte of the text
// and matching resumes after it. Earlier stars never need revisiting, so the work is
// bounded by pattern length times text length and is linear in practice.
bool wildcard_match(const char* pattern, const char* text, bool fold_case) {
    if (!pattern) pattern = "";
    if (!text) text = "";
    const char* p = pattern;
    const char* t = text;
    const char* star_pattern = nullptr;  // just past the most recent '*'
    const char* star_text = nullptr;     // where that '*' stopped absorbing
    while (*t) {
        if (*p == '*') {
            while (*p == '*') p++;
            star_pattern = p;
            star_text = t;
            continue;
        }
        if (*p && (*p == '?' || fold(byte(p), fold_case) == fold(byte(t), fold_case))) {
            p++;
            t++;
            continue;
        }
        if (!star_pattern) return false;
        p = star_pattern;
        t = ++star_text;
    }
    while (*p == '*') p++;
    return *p == '\0';
}

namespace {

// The shared parser: *overflowed tells whether the magnitude left 64 bits (the value
// then wraps, as parse_integer's callers expect).
bool parse_integer_wrapping(const char* text, int64_t* value, bool* overflowed) {
    *overflowed = false;
    if (!text) return false;
    const char* p = text;
    while (is_space(*p)) p++;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    unsigned radix = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        radix = 16;
        p += 2;
    } else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B')) {
        radix = 2;
        p += 2;
    } else if (p[0] == '&') {
        char kind = static_cast<char>(to_lower(p[1]));
        if (kind == 'h') radix = 16;
        else if (kind == 'o') radix = 8;
        else if (kind == 'b') radix = 2;
        else return false;
        p += 2;
    }
    uint64_t v = 0;
    bool any_digit = false;
    for (;; p++) {
        if (*p == '_') {
            // Only between two digits: "1_000", not "_1", "1_" or "1__0".
            if (!any_digit || !is_alnum(p[1]) || p[-1] == '_') return false;
            continue;
        }
        int d = digit_value(*p);
        if (d < 0) break;
        if (static_cast<unsigned>(d) >= radix) return false;
        uint64_t scaled = 0, next = 0;
        bool wrapped = mul_overflows(v, radix, &scaled);
        wrapped |= add_overflows(scaled, static_cast<unsigned>(d), &next);
        if (wrapped) *overflowed = true;
        v = next;
        any_digit = true;
    }
    if (!any_digit) return false;
    while (is_space(*p)) p++;
    if (*p) return false;
    if (!negative && v > static_cast<uint64_t>(INT64_MAX)) *overflowed = true;
    if (negative && v > static_cast<uint64_t>(INT64_MAX) + 1) *overflowed = true;
    if (negative) v = 0 - v;
    *value = static_cast<int64_t>(v);
    return true;
}

}  // namespace

bool parse_integer(const char* text, int64_t* value) {
    bool overflowed = false;
    int64_t parsed = 0;
    if (!parse_integer_wrapping(text, &parsed, &overflowed)) return false;
    *value = parsed;
    return true;
}

bool parse_integer_in_range(const char* text, int64_t* value) {
    bool overflowed = false;
    int64_t parsed = 0;
    if (!parse_integer_wrapping(text, &parsed, &overflowed) || overflowed) return false;
    *value = parsed;
    return true;
}

bool parse_hex(const char* text, uint64_t* value) {
    if (!text) return false;
    const char* p = text;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
    if (!*p) return false;
    uint64_t n = 0;
    for (; *p; p++) {
        const int c = static_cast<unsigned char>(*p);
        int digit;
        if (is_digit(c)) digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        if (n > (~0ull >> 4)) return false;
        n = n * 16 + static_cast<uint64_t>(digit);
    }
    *value = n;
    return true;
}

}  // namespace tarn

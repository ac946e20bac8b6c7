// The few C library symbols the compiler emits calls to in the firmware build.
#include <stddef.h>
#include <stdint.h>

extern "C" {

__attribute__((no_builtin)) void* memcpy(void* d, const void* s, size_t n) {
    auto* dp = static_cast<uint8_t*>(d);
    auto* sp = static_cast<const uint8_t*>(s);
    while (n--) *dp++ = *sp++;
    return d;
}

__attribute__((no_builtin)) void* memmove(void* d, const void* s, size_t n) {
    auto* dp = static_cast<uint8_t*>(d);
    auto* sp = static_cast<const uint8_t*>(s);
    if (dp < sp) {
        while (n--) *dp++ = *sp++;
    } else {
        dp += n;
        sp += n;
        while (n--) *--dp = *--sp;
    }
    return d;
}

__attribute__((no_builtin)) void* memset(void* d, int c, size_t n) {
    auto* dp = static_cast<uint8_t*>(d);
    while (n--) *dp++ = static_cast<uint8_t>(c);
    return d;
}

__attribute__((no_builtin)) int memcmp(const void* a, const void* b, size_t n) {
    auto* ap = static_cast<const uint8_t*>(a);
    auto* bp = static_cast<const uint8_t*>(b);
    for (; n; n--, ap++, bp++)
        if (*ap != *bp) return *ap < *bp ? -1 : 1;
    return 0;
}

// Marks a program that uses no floating point for the Microsoft-style linker.
int _fltused = 0;
}

// memset and memcpy for the small test applications (launcher, probe, testdrv), which link
// without the shell's runtime: the compiler may emit calls to them for block copies.
// Include once, in the application's only source file.
#pragma once
#include <stddef.h>
#include <stdint.h>

extern "C" void* memset(void* dest, int value, size_t count) {
    auto* d = static_cast<volatile uint8_t*>(dest);
    for (size_t i = 0; i < count; i++) d[i] = static_cast<uint8_t>(value);
    return dest;
}

extern "C" void* memcpy(void* dest, const void* src, size_t count) {
    auto* d = static_cast<volatile uint8_t*>(dest);
    const auto* s = static_cast<const uint8_t*>(src);
    for (size_t i = 0; i < count; i++) d[i] = s[i];
    return dest;
}

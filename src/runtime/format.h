// printf-style formatting: flags - + space 0 #, width and precision (decimal or *),
// length modifiers hh h l ll j z t, conversions d i u o x X c s p %%. No floating point.
#pragma once
#include <stdarg.h>
#include "runtime/string_buffer.h"

namespace tarn {

// Writes at most size-1 bytes plus a NUL; returns the length the full result has.
uint64_t format_into(char* destination, uint64_t size, const char* format, ...) TARN_PRINTF(3, 4);
uint64_t vformat_into(char* destination, uint64_t size, const char* format, va_list args);
// A newly allocated string (checked allocation).
char* format_string(const char* format, ...) TARN_PRINTF(1, 2);
char* vformat_string(const char* format, va_list args);

}  // namespace tarn

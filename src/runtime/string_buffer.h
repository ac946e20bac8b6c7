// A growable NUL-terminated UTF-8 string. Capacity starts at 32 and doubles.
#pragma once
#include <stdarg.h>
#include "runtime/util.h"

#define TARN_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

namespace tarn {

struct StringBuffer {
    char* data = nullptr;
    uint64_t length = 0;
    uint64_t capacity = 0;

    StringBuffer() = default;
    StringBuffer(const StringBuffer&) = delete;
    StringBuffer& operator=(const StringBuffer&) = delete;
    StringBuffer(StringBuffer&& o) : data(o.data), length(o.length), capacity(o.capacity) {
        o.data = nullptr;
        o.length = o.capacity = 0;
    }
    ~StringBuffer();
    // The text, or "" for a buffer that never allocated.
    const char* c_str() const { return data ? data : ""; }
};

void init(StringBuffer& buffer);
void release(StringBuffer& buffer);
void reserve(StringBuffer& buffer, uint64_t extra);
void append_char(StringBuffer& buffer, char byte);
void append_bytes(StringBuffer& buffer, const void* bytes, uint64_t n);
void append_text(StringBuffer& buffer, const char* text);
void append_codepoint(StringBuffer& buffer, uint32_t code_point);
void append_format(StringBuffer& buffer, const char* format, ...) TARN_PRINTF(2, 3);
void append_vformat(StringBuffer& buffer, const char* format, va_list args);
void clear(StringBuffer& buffer);
// Hands the string to the caller (to be freed with release) and leaves the buffer empty.
char* take(StringBuffer& buffer);

}  // namespace tarn

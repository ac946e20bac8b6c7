// The growable byte string: capacity starts at 32 and doubles.
#include "runtime/string_buffer.h"

#include "runtime/exit.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/strings.h"
#include "runtime/text.h"

namespace tarn {

namespace {

constexpr uint64_t kInitialCapacity = 32;
constexpr uint64_t kScratchSize = 256;

}  // namespace

StringBuffer::~StringBuffer() { release(*this); }

void init(StringBuffer& buffer) {
    buffer.data = nullptr;
    buffer.length = 0;
    buffer.capacity = 0;
}

void release(StringBuffer& buffer) {
    release(static_cast<void*>(buffer.data));
    init(buffer);
}

void reserve(StringBuffer& buffer, uint64_t extra) {
    uint64_t need;
    if (add_overflows(buffer.length, extra, &need) || add_overflows(need, 1, &need))
        fatal("out of memory");
    if (buffer.data && buffer.capacity >= need) return;
    uint64_t capacity = buffer.capacity ? buffer.capacity * 2 : kInitialCapacity;
    if (capacity < buffer.capacity) capacity = need;  // doubling wrapped
    while (capacity < need) {
        uint64_t doubled = capacity * 2;
        if (doubled < capacity) {
            capacity = need;
            break;
        }
        capacity = doubled;
    }
    buffer.data = static_cast<char*>(xresize(buffer.data, capacity));
    buffer.capacity = capacity;
    buffer.data[buffer.length] = '\0';
}

void append_bytes(StringBuffer& buffer, const void* bytes, uint64_t n) {
    const char* source = static_cast<const char*>(bytes);
    // The bytes may come from the buffer itself, which reserve may move.
    bool inside = buffer.data && source >= buffer.data && source < buffer.data + buffer.capacity;
    uint64_t offset = inside ? static_cast<uint64_t>(source - buffer.data) : 0;
    reserve(buffer, n);
    if (inside) source = buffer.data + offset;
    if (n) memmove(buffer.data + buffer.length, source, n);
    buffer.length += n;
    buffer.data[buffer.length] = '\0';
}

void append_char(StringBuffer& buffer, char byte) {
    reserve(buffer, 1);
    buffer.data[buffer.length++] = byte;
    buffer.data[buffer.length] = '\0';
}

void append_text(StringBuffer& buffer, const char* text) {
    if (!text) return;
    append_bytes(buffer, text, strlen(text));
}

void append_codepoint(StringBuffer& buffer, uint32_t code_point) {
    char bytes[4];
    uint64_t n = utf8_encode(code_point, bytes);
    append_bytes(buffer, bytes, n);
}

void append_format(StringBuffer& buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    append_vformat(buffer, format, args);
    va_end(args);
}

void append_vformat(StringBuffer& buffer, const char* format, va_list args) {
    char scratch[kScratchSize];
    va_list first;
    va_copy(first, args);
    uint64_t n = vformat_into(scratch, sizeof scratch, format, first);
    va_end(first);
    if (n < sizeof scratch) {
        append_bytes(buffer, scratch, n);
        return;
    }
    reserve(buffer, n);
    va_list second;
    va_copy(second, args);
    vformat_into(buffer.data + buffer.length, buffer.capacity - buffer.length, format, second);
    va_end(second);
    buffer.length += n;
    buffer.data[buffer.length] = '\0';
}

void clear(StringBuffer& buffer) {
    buffer.length = 0;
    if (buffer.data) buffer.data[0] = '\0';
}

char* take(StringBuffer& buffer) {
    char* text = buffer.data ? buffer.data : xstrdup("");
    init(buffer);
    return text;
}

}  // namespace tarn

// printf-style formatting for the conversions the program uses. The output goes to
// a bounded sink that counts every byte, written or not, so the caller learns the
// full length as with the C library's bounded formatting.
#include "runtime/format.h"

#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

// Padding (field width, integer precision) is clamped here: nothing the program prints
// needs more, and an absurd field from a computed or typed format must not exhaust the
// pool. A string precision is only a limit and is not clamped.
constexpr uint64_t kMaxField = 1u << 20;
constexpr uint64_t kFieldSaturation = 0xffffffffull;
constexpr uint64_t kScratchSize = 256;

struct Sink {
    char* destination;
    uint64_t size;  // 0 when there is no destination
    uint64_t length = 0;

    void put(char c) {
        if (length + 1 < size) destination[length] = c;
        length++;
    }
    void repeat(char c, uint64_t n) {
        while (n && length + 1 < size) {
            destination[length++] = c;
            n--;
        }
        length += n;  // past the end of the destination: only count
    }
    void write(const char* bytes, uint64_t n) {
        while (n && length + 1 < size) {
            destination[length++] = *bytes++;
            n--;
        }
        length += n;
    }
    void finish() {
        if (size) destination[length < size ? length : size - 1] = '\0';
    }
};

// Wrapping the list lets helpers take it by reference on every ABI.
struct Arguments {
    va_list list;
};

enum Flags : unsigned {
    kLeft = 1,
    kPlus = 2,
    kSpace = 4,
    kZero = 8,
};

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kMax, kSize, kPtrdiff };

struct Directive {
    unsigned flags = 0;
    uint64_t width = 0;
    bool has_precision = false;
    uint64_t precision = 0;
    Length length = Length::kNone;
};

uint64_t clamp_field(uint64_t v) { return v > kMaxField ? kMaxField : v; }

int64_t signed_argument(Arguments& args, Length length) {
    switch (length) {
    case Length::kChar: return static_cast<signed char>(va_arg(args.list, int));
    case Length::kShort: return static_cast<short>(va_arg(args.list, int));
    case Length::kLong: return va_arg(args.list, long);
    case Length::kLongLong: return va_arg(args.list, long long);
    case Length::kMax: return va_arg(args.list, intmax_t);
    case Length::kSize: return static_cast<int64_t>(va_arg(args.list, size_t));
    case Length::kPtrdiff: return va_arg(args.list, ptrdiff_t);
    case Length::kNone: break;
    }
    return va_arg(args.list, int);
}

uint64_t unsigned_argument(Arguments& args, Length length) {
    switch (length) {
    case Length::kChar: return static_cast<unsigned char>(va_arg(args.list, unsigned));
    case Length::kShort: return static_cast<unsigned short>(va_arg(args.list, unsigned));
    case Length::kLong: return va_arg(args.list, unsigned long);
    case Length::kLongLong: return va_arg(args.list, unsigned long long);
    case Length::kMax: return va_arg(args.list, uintmax_t);
    case Length::kSize: return va_arg(args.list, size_t);
    case Length::kPtrdiff: return static_cast<uint64_t>(va_arg(args.list, ptrdiff_t));
    case Length::kNone: break;
    }
    return va_arg(args.list, unsigned);
}

// Lays out one integer: padding, sign or prefix, precision zeros, digits.
void put_integer(Sink& sink, const Directive& directive, uint64_t magnitude, char sign,
                 unsigned base, bool upper, const char* prefix) {
    char digits[64];
    uint64_t n = 0;
    const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    // An explicit precision of 0 prints no digits for the value 0.
    if (!(magnitude == 0 && directive.has_precision && directive.precision == 0)) {
        do {
            digits[n++] = alphabet[magnitude % base];
            magnitude /= base;
        } while (magnitude);
    }
    uint64_t precision = clamp_field(directive.precision);
    uint64_t zeros = directive.has_precision && precision > n ? precision - n : 0;
    uint64_t prefix_length = (sign ? 1 : 0) + strlen(prefix);
    uint64_t body = prefix_length + zeros + n;
    uint64_t pad = directive.width > body ? directive.width - body : 0;
    bool zero_pad =
        (directive.flags & kZero) && !(directive.flags & kLeft) && !directive.has_precision;
    if (zero_pad) {
        zeros += pad;
        pad = 0;
    }
    if (!(directive.flags & kLeft)) sink.repeat(' ', pad);
    if (sign) sink.put(sign);
    sink.write(prefix, strlen(prefix));
    sink.repeat('0', zeros);
    while (n) sink.put(digits[--n]);
    if (directive.flags & kLeft) sink.repeat(' ', pad);
}

void put_text(Sink& sink, const Directive& directive, const char* text, uint64_t n) {
    uint64_t pad = directive.width > n ? directive.width - n : 0;
    if (!(directive.flags & kLeft)) sink.repeat(' ', pad);
    sink.write(text, n);
    if (directive.flags & kLeft) sink.repeat(' ', pad);
}

// Reads a decimal field or '*'; returns false for '*' with a negative value.
bool read_field(const char*& p, Arguments& args, uint64_t* value) {
    if (*p == '*') {
        p++;
        int v = va_arg(args.list, int);
        if (v < 0) {
            *value = static_cast<uint64_t>(-static_cast<int64_t>(v));
            return false;
        }
        *value = static_cast<uint64_t>(v);
        return true;
    }
    uint64_t v = 0;
    while (is_digit(*p)) {
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > kFieldSaturation) v = kFieldSaturation;
        p++;
    }
    *value = v;
    return true;
}

void format_to(Sink& sink, const char* format, Arguments& args) {
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            const char* run = p;
            while (*p && *p != '%') p++;
            sink.write(run, static_cast<uint64_t>(p - run));
            continue;
        }
        const char* start = p++;
        Directive directive;
        for (;; p++) {
            if (*p == '-') directive.flags |= kLeft;
            else if (*p == '+') directive.flags |= kPlus;
            else if (*p == ' ') directive.flags |= kSpace;
            else if (*p == '0') directive.flags |= kZero;
            else if (*p == '#') continue;  // accepted, no effect
            else break;
        }
        if (!read_field(p, args, &directive.width)) directive.flags |= kLeft;
        directive.width = clamp_field(directive.width);
        if (*p == '.') {
            p++;
            // A negative '*' precision counts as no precision at all.
            directive.has_precision = read_field(p, args, &directive.precision);
            if (!directive.has_precision) directive.precision = 0;
        }
        switch (*p) {
        case 'h':
            p++;
            if (*p == 'h') {
                p++;
                directive.length = Length::kChar;
            } else {
                directive.length = Length::kShort;
            }
            break;
        case 'l':
            p++;
            if (*p == 'l') {
                p++;
                directive.length = Length::kLongLong;
            } else {
                directive.length = Length::kLong;
            }
            break;
        case 'j': p++; directive.length = Length::kMax; break;
        case 'z': p++; directive.length = Length::kSize; break;
        case 't': p++; directive.length = Length::kPtrdiff; break;
        default: break;
        }
        char conversion = *p;
        if (conversion) p++;
        switch (conversion) {
        case 'd':
        case 'i': {
            int64_t v = signed_argument(args, directive.length);
            uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
            char sign = v < 0                          ? '-'
                        : (directive.flags & kPlus)  ? '+'
                        : (directive.flags & kSpace) ? ' '
                                                     : 0;
            put_integer(sink, directive, magnitude, sign, 10, false, "");
            break;
        }
        case 'u':
        case 'o':
        case 'x':
        case 'X': {
            uint64_t v = unsigned_argument(args, directive.length);
            unsigned base = conversion == 'u' ? 10 : conversion == 'o' ? 8 : 16;
            put_integer(sink, directive, v, 0, base, conversion == 'X', "");
            break;
        }
        case 'p': {
            uint64_t v = reinterpret_cast<uintptr_t>(va_arg(args.list, void*));
            Directive plain = directive;
            plain.has_precision = false;
            put_integer(sink, plain, v, 0, 16, false, "0x");
            break;
        }
        case 'c': {
            char c = static_cast<char>(va_arg(args.list, int));
            put_text(sink, directive, &c, 1);
            break;
        }
        case 's': {
            const char* text = va_arg(args.list, const char*);
            if (!text) text = "(null)";
            uint64_t n =
                directive.has_precision ? strnlen(text, directive.precision) : strlen(text);
            put_text(sink, directive, text, n);
            break;
        }
        case '%':
            sink.put('%');
            break;
        default:
            // Not a conversion we know: print the directive as it was written.
            sink.write(start, static_cast<uint64_t>(p - start));
            break;
        }
    }
}

}  // namespace

uint64_t vformat_into(char* destination, uint64_t size, const char* format, va_list args) {
    Sink sink{destination, destination ? size : 0};
    if (format) {
        Arguments copy;
        va_copy(copy.list, args);
        format_to(sink, format, copy);
        va_end(copy.list);
    }
    sink.finish();
    return sink.length;
}

uint64_t format_into(char* destination, uint64_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    uint64_t n = vformat_into(destination, size, format, args);
    va_end(args);
    return n;
}

char* vformat_string(const char* format, va_list args) {
    char scratch[kScratchSize];
    va_list first;
    va_copy(first, args);
    uint64_t n = vformat_into(scratch, sizeof scratch, format, first);
    va_end(first);
    if (n < sizeof scratch) return xstrndup(scratch, n);
    char* text = static_cast<char*>(xallocate(n + 1));
    va_list second;
    va_copy(second, args);
    vformat_into(text, n + 1, format, second);
    va_end(second);
    return text;
}

char* format_string(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* text = vformat_string(format, args);
    va_end(args);
    return text;
}

}  // namespace tarn

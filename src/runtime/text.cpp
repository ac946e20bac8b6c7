// UTF-8 decoding and encoding, and the conversions to and from UCS-2 used at the
// firmware boundary.
#include "runtime/text.h"

#include "runtime/exit.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

bool is_continuation(uint8_t b) { return (b & 0xc0) == 0x80; }

uint64_t malformed(uint32_t* code_point) {
    if (code_point) *code_point = kReplacementCharacter;
    return 1;
}

// Bytes of the UTF-8 form of one UCS-2 unit.
uint64_t encoded_length(char16_t unit) { return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3; }

}  // namespace

uint64_t utf8_decode(const char* bytes, uint64_t available, uint32_t* code_point) {
    if (available == 0) {
        if (code_point) *code_point = 0;
        return 0;
    }
    const uint8_t* b = reinterpret_cast<const uint8_t*>(bytes);
    uint8_t lead = b[0];
    uint64_t length;
    uint32_t value;
    if (lead < 0x80) {
        if (code_point) *code_point = lead;
        return 1;
    } else if ((lead & 0xe0) == 0xc0) {
        length = 2;
        value = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        value = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return malformed(code_point);  // a continuation byte, or 0xF8 and above
    }
    if (available < length) return malformed(code_point);
    for (uint64_t i = 1; i < length; i++) {
        if (!is_continuation(b[i])) return malformed(code_point);
        value = (value << 6) | (b[i] & 0x3f);
    }
    // An overlong form would smuggle NUL, a backslash, '/' or ':' past byte-wise checks of the
    // UTF-8 text and reappear after conversion to UCS-2: treat it as malformed.
    static constexpr uint32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kShortest[length]) return malformed(code_point);
    if (code_point) *code_point = value;
    return length;
}

uint64_t utf8_encode(uint32_t code_point, char* out) {
    uint8_t* o = reinterpret_cast<uint8_t*>(out);
    if (code_point < 0x80) {
        o[0] = static_cast<uint8_t>(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        o[0] = static_cast<uint8_t>(0xc0 | (code_point >> 6));
        o[1] = static_cast<uint8_t>(0x80 | (code_point & 0x3f));
        return 2;
    }
    if (code_point < 0x10000) {
        o[0] = static_cast<uint8_t>(0xe0 | (code_point >> 12));
        o[1] = static_cast<uint8_t>(0x80 | ((code_point >> 6) & 0x3f));
        o[2] = static_cast<uint8_t>(0x80 | (code_point & 0x3f));
        return 3;
    }
    // Values past U+10FFFF are not rejected; the lead byte keeps its 11110 form.
    o[0] = static_cast<uint8_t>(0xf0 | ((code_point >> 18) & 0x07));
    o[1] = static_cast<uint8_t>(0x80 | ((code_point >> 12) & 0x3f));
    o[2] = static_cast<uint8_t>(0x80 | ((code_point >> 6) & 0x3f));
    o[3] = static_cast<uint8_t>(0x80 | (code_point & 0x3f));
    return 4;
}

uint64_t utf8_count(const char* bytes, uint64_t n) {
    uint64_t count = 0;
    uint64_t offset = 0;
    while (offset < n) {
        offset += utf8_decode(bytes + offset, n - offset, nullptr);
        count++;
    }
    return count;
}

uint64_t utf8_offset(const char* bytes, uint64_t n, uint64_t count) {
    uint64_t offset = 0;
    while (count && offset < n) {
        offset += utf8_decode(bytes + offset, n - offset, nullptr);
        count--;
    }
    return offset;
}

char16_t* utf8_to_ucs2(const char* text, uint64_t* out_units) {
    if (!text) text = "";
    return utf8_to_ucs2_n(text, strlen(text), out_units);
}

char16_t* utf8_to_ucs2_n(const char* text, uint64_t n, uint64_t* out_units) {
    if (!text) n = 0;
    uint64_t units = utf8_count(text, n);
    uint64_t slots;
    if (add_overflows(units, 1, &slots)) fatal("out of memory");
    char16_t* out = static_cast<char16_t*>(xallocate_zeroed(slots, sizeof(char16_t)));
    uint64_t offset = 0;
    uint64_t i = 0;
    while (offset < n) {
        uint32_t cp;
        offset += utf8_decode(text + offset, n - offset, &cp);
        out[i++] = cp > 0xffff ? static_cast<char16_t>(kReplacementCharacter)
                               : static_cast<char16_t>(cp);
    }
    out[i] = 0;
    if (out_units) *out_units = i;
    return out;
}

char* ucs2_to_utf8(const char16_t* units, uint64_t n) {
    if (!units) n = 0;
    else if (n == kUpToNul) n = ucs2_length(units);
    uint64_t bytes = 0;
    for (uint64_t i = 0; i < n; i++) {
        if (add_overflows(bytes, encoded_length(units[i]), &bytes)) fatal("out of memory");
    }
    uint64_t total;
    if (add_overflows(bytes, 1, &total)) fatal("out of memory");
    char* out = static_cast<char*>(xallocate(total));
    uint64_t o = 0;
    for (uint64_t i = 0; i < n; i++) o += utf8_encode(units[i], out + o);
    out[o] = '\0';
    return out;
}

uint64_t ucs2_length(const char16_t* units) {
    if (!units) return 0;
    uint64_t n = 0;
    while (units[n]) n++;
    return n;
}

}  // namespace tarn

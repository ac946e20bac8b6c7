// Byte scans over whole buffers, eight bytes at a time: the inner loops of grep and wc.
#include "commands/files/text_commands.h"

namespace tarn {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
constexpr uint64_t kHigh = 0x8080808080808080ull;

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    __builtin_memcpy(&v, p, 8);
    return v;  // little-endian: byte 0 is the low byte
}

// The high bit of each byte that is zero (exactly: no borrow crosses bytes).
inline uint64_t zero_bytes(uint64_t x) { return ~(((x & kLow7) + kLow7) | x | kLow7); }
inline uint64_t equal_bytes(uint64_t w, uint8_t b) { return zero_bytes(w ^ (kOnes * b)); }
// The high bit of each byte that is a blank: space or 0x09..0x0d.
inline uint64_t blank_bytes(uint64_t w) {
    const uint64_t low = w & kLow7;
    const uint64_t at_least_9 = (low + kOnes * (0x80 - 0x09)) & kHigh;
    const uint64_t at_least_14 = (low + kOnes * (0x80 - 0x0e)) & kHigh;
    const uint64_t in_range = at_least_9 & ~at_least_14 & ~w & kHigh;
    return in_range | equal_bytes(w, ' ');
}
// How many bytes have their high bit set in a mask of high bits.
inline uint64_t count_marks(uint64_t m) { return ((m >> 7) * kOnes) >> 56; }
inline uint64_t first_mark(uint64_t m) { return static_cast<uint64_t>(__builtin_ctzll(m)) >> 3; }

inline bool is_blank(uint8_t b) { return b == ' ' || (b >= 0x09 && b <= 0x0d); }

}  // namespace

uint64_t scan_for_byte(const uint8_t* bytes, uint64_t from, uint64_t end, uint8_t byte) {
    uint64_t i = from;
    for (; i + 8 <= end; i += 8) {
        uint64_t m = equal_bytes(load64(bytes + i), byte);
        if (m) return i + first_mark(m);
    }
    for (; i < end; i++)
        if (bytes[i] == byte) return i;
    return end;
}

uint64_t scan_for_either(const uint8_t* bytes, uint64_t from, uint64_t end, uint8_t a, uint8_t b) {
    uint64_t i = from;
    for (; i + 8 <= end; i += 8) {
        uint64_t w = load64(bytes + i);
        uint64_t m = equal_bytes(w, a) | equal_bytes(w, b);
        if (m) return i + first_mark(m);
    }
    for (; i < end; i++)
        if (bytes[i] == a || bytes[i] == b) return i;
    return end;
}

uint64_t count_bytes_equal(const uint8_t* bytes, uint64_t from, uint64_t end, uint8_t byte) {
    uint64_t n = 0;
    uint64_t i = from;
    for (; i + 8 <= end; i += 8) n += count_marks(equal_bytes(load64(bytes + i), byte));
    for (; i < end; i++) n += bytes[i] == byte;
    return n;
}

TextCounts count_text(const uint8_t* bytes, uint64_t n) {
    TextCounts c{0, 0};
    // The high bit of the byte before the current one when it was a blank; the start of
    // the data counts as a blank, so a leading non-blank starts a word.
    uint64_t previous_blank = 0x80;
    uint64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint64_t w = load64(bytes + i);
        const uint64_t blank = blank_bytes(w);
        const uint64_t starts = ~blank & kHigh & ((blank << 8) | previous_blank);
        c.words += count_marks(starts);
        c.lines += count_marks(equal_bytes(w, '\n'));
        previous_blank = blank >> 56;
    }
    bool in_word = previous_blank == 0;
    for (; i < n; i++) {
        const bool blank = is_blank(bytes[i]);
        c.lines += bytes[i] == '\n';
        c.words += !blank && !in_word;
        in_word = !blank;
    }
    return c;
}

}  // namespace tarn

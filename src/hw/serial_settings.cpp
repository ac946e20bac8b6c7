// Parsing and naming of serial line settings.
#include "hw/serial_settings.h"
#include "runtime/strings.h"

namespace tarn {
namespace {

constexpr const char* kParityNames[] = {"default", "none", "even", "odd", "mark", "space"};
constexpr const char kParityLetters[] = "dneoms";
constexpr const char* kStopBitsNames[] = {"default", "1", "1.5", "2"};

// Decimal digits only, the whole text, no overflow.
bool parse_decimal(const char* text, uint64_t* value) {
    if (!*text) return false;
    uint64_t v = 0;
    for (const char* p = text; *p; p++) {
        if (!is_digit(*p)) return false;
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (v > (~0ull - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

bool parse_parity(const char* text, uint32_t* parity) {
    const char* at = *text ? strchr(kParityLetters, to_lower(*text)) : nullptr;
    if (!at) return false;
    *parity = static_cast<uint32_t>(at - kParityLetters);
    return true;
}

bool parse_stop_bits(const char* text, uint32_t* stop_bits) {
    struct Word {
        const char* text;
        uint32_t value;
    };
    constexpr Word kWords[] = {{"0", 0}, {"1", 1}, {"1.5", 2}, {"15", 2}, {"2", 3}};
    for (const Word& w : kWords)
        if (equal(text, w.text)) {
            *stop_bits = w.value;
            return true;
        }
    return false;
}

}  // namespace

bool parse_serial_settings(const char* baud, const char* parity, const char* data_bits, const char* stop_bits,
                           SerialSettings* out) {
    SerialSettings s{};
    uint64_t bits = 0;
    if (!parse_decimal(baud, &s.baud) || !parse_parity(parity, &s.parity) || !parse_decimal(data_bits, &bits) ||
        bits < 5 || bits > 8 || !parse_stop_bits(stop_bits, &s.stop_bits))
        return false;
    s.data_bits = static_cast<uint8_t>(bits);
    *out = s;
    return true;
}

const char* serial_parity_name(uint32_t parity) {
    return parity < sizeof(kParityNames) / sizeof(kParityNames[0]) ? kParityNames[parity] : "unknown";
}

const char* serial_stop_bits_name(uint32_t stop_bits) {
    return stop_bits < sizeof(kStopBitsNames) / sizeof(kStopBitsNames[0]) ? kStopBitsNames[stop_bits] : "unknown";
}

}  // namespace tarn

// Serial line settings as sermode types and prints them: the parity and stop-bit words
// and their protocol values (parity 0 default, 1 none, 2 even, 3 odd, 4 mark, 5 space;
// stop bits 0 default, 1 one, 2 one and a half, 3 two).
#pragma once
#include <stdint.h>

namespace tarn {

struct SerialSettings {
    uint64_t baud;
    uint32_t parity;
    uint8_t data_bits;
    uint32_t stop_bits;
};

// BAUD decimal; PARITY by its first letter (d, n, e, o, m, s, either case); DATABITS
// 5 to 8; STOPBITS "0", "1", "1.5" or "15", "2". False for anything else.
bool parse_serial_settings(const char* baud, const char* parity, const char* data_bits, const char* stop_bits,
                           SerialSettings* out);

// "default", "none", ... for a parity value; "unknown" past the table.
const char* serial_parity_name(uint32_t parity);
// "default", "1", "1.5", "2" for a stop-bits value; "unknown" past the table.
const char* serial_stop_bits_name(uint32_t stop_bits);

}  // namespace tarn

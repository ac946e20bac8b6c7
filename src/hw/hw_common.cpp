#include "hw/hw_common.h"

#include "runtime/format.h"
#include "runtime/output.h"

namespace tarn {

bool hex_dump(const uint8_t* bytes, uint64_t size, uint64_t base) {
    for (uint64_t line = 0; line < size; line += 16) {
        if (poll_break()) return false;
        char text[96];
        uint64_t n = size - line < 16 ? size - line : 16;
        uint64_t at = 0;
        for (uint64_t i = 0; i < 16; i++) {
            if (i < n) {
                format_into(text + at, sizeof(text) - at, "%02X%c", bytes[line + i], i == 7 ? '-' : ' ');
            } else {
                format_into(text + at, sizeof(text) - at, "   ");
            }
            at += 3;
        }
        char chars[17];
        for (uint64_t i = 0; i < n; i++) {
            uint8_t c = bytes[line + i];
            chars[i] = c >= 0x20 && c <= 0x7e ? static_cast<char>(c) : '.';
        }
        chars[n] = 0;
        out_printf("  %016llX: %s *%s*\n", static_cast<unsigned long long>(base + line), text, chars);
    }
    return true;
}

void guid_text(const uint8_t g[16], char out[37]) {
    format_into(out, 37, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", g[3], g[2],
              g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
}

}  // namespace tarn

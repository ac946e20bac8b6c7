#include "sim_text.h"

#include <cstddef>
#include <cstdint>

namespace sim {

std::u16string to_u16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xfffd;
        size_t n = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xe0) == 0xc0 && i + 1 < s.size()) {
            cp = ((c & 0x1f) << 6) | (s[i + 1] & 0x3f);
            n = 2;
        } else if ((c & 0xf0) == 0xe0 && i + 2 < s.size()) {
            cp = ((c & 0x0f) << 12) | ((s[i + 1] & 0x3f) << 6) | (s[i + 2] & 0x3f);
            n = 3;
        } else if ((c & 0xf8) == 0xf0 && i + 3 < s.size()) {
            cp = 0xfffd;
            n = 4;
        }
        out.push_back(static_cast<char16_t>(cp));
        i += n;
    }
    return out;
}

std::string from_u16(const std::u16string& text) {
    std::string out;
    for (char16_t u : text) {
        uint32_t c = u;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xc0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        } else {
            out.push_back(static_cast<char>(0xe0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        }
    }
    return out;
}

}  // namespace sim

// Integer parsing on arbitrary text, checked against the C library where the two agree
// (plain decimal that fits) and against the formatter for round trips.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/format.h"
#include "runtime/strings.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

bool is_blank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

// [blanks][sign]digits[blanks] with at most 18 digits: certain to fit, no prefix.
bool plain_decimal(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && is_blank(s[i])) i++;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) i++;
    size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        i++;
        digits++;
    }
    if (digits == 0 || digits > 18) return false;
    // "0x"/"0b" prefixes are not plain decimal.
    while (i < s.size() && is_blank(s[i])) i++;
    return i == s.size();
}

// Random bytes rarely form a number: inputs whose first byte is odd are turned into
// something shaped like one (blanks, sign, prefix, digits of the radix with the odd
// underscore or stray character), so the success paths see as much as the failure paths.
std::string shaped_number(const uint8_t* data, size_t size) {
    static const char* const kPrefixes[] = {"", "", "", "0x", "0X", "0b", "0B", "&h", "&H",
                                            "&o", "&O", "&b", "&B", "0"};
    static const char kDigits[] = "0123456789abcdefABCDEF";
    static const char kStray[] = "_ _+-xg!9";
    std::string out;
    size_t at = 1;
    auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    uint8_t shape = next();
    out.append(shape & 3, shape & 4 ? '\t' : ' ');
    if (shape & 8) out += (shape & 16) ? '-' : '+';
    const char* prefix = kPrefixes[next() % (sizeof kPrefixes / sizeof *kPrefixes)];
    out += prefix;
    char kind = prefix[0] && prefix[1] ? static_cast<char>(prefix[1] | 0x20) : 'd';
    unsigned radix = kind == 'x' || kind == 'h' ? 16 : kind == 'o' ? 8 : kind == 'b' ? 2 : 10;
    size_t digits = next() % 24;
    for (size_t i = 0; i < digits; i++) {
        uint8_t b = next();
        if (b < 12) out += kStray[b % (sizeof kStray - 1)];
        else out += kDigits[b % (radix == 16 ? 22 : radix)];
    }
    if (shape & 32) out.append(1 + (shape >> 6), ' ');
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (size > 0 && (data[0] & 1)) text = shaped_number(data, size);
    text = text.c_str();
    int64_t value = 0x1234;
    bool ok = tarn::parse_integer(text.c_str(), &value);
    if (!ok) check(value == 0x1234);

    if (plain_decimal(text)) {
        check(ok);
        errno = 0;
        long long expected = strtoll(text.c_str(), nullptr, 10);
        check(errno == 0 && value == expected);
    }

    if (ok) {
        // Whatever parsed prints back in decimal and hexadecimal and parses the same.
        char printed[64];
        tarn::format_into(printed, sizeof printed, "%lld", static_cast<long long>(value));
        int64_t again = 0;
        check(tarn::parse_integer(printed, &again) && again == value);
        auto bits = static_cast<unsigned long long>(value);
        tarn::format_into(printed, sizeof printed, " 0x%llX\t", bits);
        check(tarn::parse_integer(printed, &again) && again == value);
        tarn::format_into(printed, sizeof printed, "&h%llx", bits);
        check(tarn::parse_integer(printed, &again) && again == value);
        // A trailing non-blank character always spoils it.
        std::string spoiled = text + "!";
        check(!tarn::parse_integer(spoiled.c_str(), &again));
    }
    return 0;
}

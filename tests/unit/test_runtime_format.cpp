// The formatter against the host C library, conversion by conversion.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/format.h"

namespace {

// Formats with both implementations into generous buffers and compares text and length.
template <class... A> void expect_same(const char* format, A... args) {
    char ours[512];
    char theirs[512];
    memset(ours, 'Z', sizeof ours);
    uint64_t n = tarn::format_into(ours, sizeof ours, format, args...);
    int m = snprintf(theirs, sizeof theirs, format, args...);
    ASSERT_GE(m, 0) << format;
    EXPECT_EQ(n, static_cast<uint64_t>(m)) << "format \"" << format << "\"";
    EXPECT_STREQ(ours, theirs) << "format \"" << format << "\"";
}

template <class... A> std::string ours(const char* format, A... args) {
    char buffer[512];
    tarn::format_into(buffer, sizeof buffer, format, args...);
    return buffer;
}

const char* const kFlags[] = {"", "-", "+", " ", "0", "-+", "+0", " 0", "- ", "-0", "+ ", "-+0 "};
const char* const kWidths[] = {"", "1", "2", "5", "12", "25"};
const char* const kPrecisions[] = {"", ".", ".0", ".1", ".2", ".5", ".15"};

std::vector<std::string> integer_formats(const char* length, const char* conversions) {
    std::vector<std::string> out;
    for (const char* f : kFlags)
        for (const char* w : kWidths)
            for (const char* p : kPrecisions)
                for (const char* c = conversions; *c; c++)
                    out.push_back(std::string("[%") + f + w + p + length + *c + "]");
    return out;
}

TEST(RuntimeFormat, PlainIntegersMatchTheCLibrary) {
    const int values[] = {0, 1, -1, 7, -7, 42, 255, -255, 65536, 123456789, INT_MAX, INT_MIN};
    int checked = 0;
    for (const std::string& f : integer_formats("", "diuoxX"))
        for (int v : values) {
            expect_same(f.c_str(), v);
            checked++;
        }
    EXPECT_GT(checked, 30000);
}

TEST(RuntimeFormat, CharAndShortModifiersTruncateTheArgument) {
    const int values[] = {0, 127, 128, -128, -129, 255, 256, 300, 70000, -70000, INT_MIN};
    for (const std::string& f : integer_formats("hh", "diuxX"))
        for (int v : values) expect_same(f.c_str(), v);
    for (const std::string& f : integer_formats("h", "diuoxX"))
        for (int v : values) expect_same(f.c_str(), v);
}

TEST(RuntimeFormat, LongAndLongLongModifiers) {
    const long lv[] = {0, 1, -1, LONG_MAX, LONG_MIN, 0x7fffffffL, -0x80000000L};
    for (const std::string& f : integer_formats("l", "diuoxX"))
        for (long v : lv) expect_same(f.c_str(), v);
    const long long llv[] = {0, 1, -1, LLONG_MAX, LLONG_MIN, 0x123456789abcdefLL};
    for (const std::string& f : integer_formats("ll", "diuoxX"))
        for (long long v : llv) expect_same(f.c_str(), v);
    expect_same("%llu %llx %llo", ULLONG_MAX, ULLONG_MAX, ULLONG_MAX);
    expect_same("%lu %lx", ULONG_MAX, ULONG_MAX);
}

TEST(RuntimeFormat, MaxSizeAndPtrdiffModifiers) {
    const intmax_t jv[] = {0, -5, INTMAX_MIN, INTMAX_MAX};
    for (intmax_t v : jv) {
        expect_same("%jd|%5ji|%-20jx|%jo|%ju", v, v, v, v, v);
    }
    const size_t zv[] = {0, 1, 4096, SIZE_MAX};
    for (size_t v : zv) expect_same("%zu|%zx|%08zX|%zd|%-3zo|", v, v, v, v, v);
    const ptrdiff_t tv[] = {0, -1, PTRDIFF_MIN, PTRDIFF_MAX};
    for (ptrdiff_t v : tv) expect_same("%td|%+ti|%tx|%tu|% 30td", v, v, v, v, v);
}

TEST(RuntimeFormat, StringsWithWidthAndPrecision) {
    const char* const texts[] = {"", "a", "hello", "a longer piece of text", "caf\xc3\xa9"};
    const char* const flags[] = {"", "-"};
    for (const char* t : texts)
        for (const char* f : flags)
            for (const char* w : kWidths)
                for (const char* p : kPrecisions) {
                    std::string format = std::string("<%") + f + w + p + "s>";
                    expect_same(format.c_str(), t);
                }
}

TEST(RuntimeFormat, StringPrecisionDoesNotReadPastTheLimit) {
    // Not NUL-terminated: the precision is the only bound.
    const char bytes[3] = {'a', 'b', 'c'};
    EXPECT_EQ(ours("%.3s", bytes), "abc");
    EXPECT_EQ(ours("%.*s", 2, bytes), "ab");
}

TEST(RuntimeFormat, NullStringPrintsNull) {
    EXPECT_EQ(ours("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(ours("[%8s]", static_cast<const char*>(nullptr)), "[  (null)]");
    EXPECT_EQ(ours("[%-8s]", static_cast<const char*>(nullptr)), "[(null)  ]");
}

TEST(RuntimeFormat, Characters) {
    expect_same("%c", 'x');
    expect_same("[%5c][%-5c][%1c]", 'a', 'b', 'c');
    expect_same("%c%c%c", 0xe2, 0x82, 0xac);
    // A NUL character is written and counted, as in C.
    char buffer[8];
    memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(tarn::format_into(buffer, sizeof buffer, "a%cb", 0), 3u);
    EXPECT_EQ(buffer[0], 'a');
    EXPECT_EQ(buffer[1], '\0');
    EXPECT_EQ(buffer[2], 'b');
    EXPECT_EQ(buffer[3], '\0');
}

TEST(RuntimeFormat, StarWidthAndPrecision) {
    const int widths[] = {-12, -5, -1, 0, 1, 5, 12};
    const int precisions[] = {-3, -1, 0, 1, 4, 9};
    for (int w : widths) {
        expect_same("[%*d]", w, 42);
        expect_same("[%*s]", w, "abc");
        expect_same("[%-*x]", w, 0xbeefu);
        expect_same("[%0*d]", w, -42);
        for (int p : precisions) {
            expect_same("[%*.*d]", w, p, 1234);
            expect_same("[%*.*d]", w, p, 0);
            expect_same("[%*.*s]", w, p, "abcdefgh");
            expect_same("[%+*.*i]", w, p, 77);
        }
    }
    expect_same("[%.*s]", 3, "abcdef");
    expect_same("[%*c]", -4, 'q');
}

TEST(RuntimeFormat, PercentAndMixedText) {
    expect_same("100%%");
    expect_same("%%%d%%", 5);
    expect_same("no conversions at all");
    expect_same("");
    expect_same("%s=%d (%x) %s", "key", -3, 255u, "tail");
    expect_same("%5s|%-5d|%05u|%+d|% d", "ab", 7, 8u, 9, 10);
    // '0' pads only numbers; a '%%' ignores width.
    EXPECT_EQ(ours("[%05s][%05c][%5%]", "ab", 'x'), "[   ab][    x][%]");
}

TEST(RuntimeFormat, HashFlagIsAcceptedWithoutEffect) {
    EXPECT_EQ(ours("%#x", 255u), "ff");
    EXPECT_EQ(ours("%#o", 8u), "10");
    EXPECT_EQ(ours("%#5X", 171u), "   AB");
}

TEST(RuntimeFormat, PointerPrintsLowerHexWithPrefix) {
    int object = 0;
    void* p = &object;
    char expected[64];
    snprintf(expected, sizeof expected, "0x%llx",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    EXPECT_EQ(ours("%p", p), expected);
    EXPECT_EQ(ours("%p", static_cast<void*>(nullptr)), "0x0");
    EXPECT_EQ(ours("[%8p]", reinterpret_cast<void*>(0xabc)), "[   0xabc]");
    EXPECT_EQ(ours("[%-8p]", reinterpret_cast<void*>(0xabc)), "[0xabc   ]");
}

TEST(RuntimeFormat, UnknownConversionIsPrintedAsWritten) {
    EXPECT_EQ(ours("a%yb"), "a%yb");
    EXPECT_EQ(ours("a%-5qb"), "a%-5qb");
    EXPECT_EQ(ours("end%"), "end%");
    EXPECT_EQ(ours("%ll"), "%ll");
}

TEST(RuntimeFormat, TruncationMatchesTheCLibraryAtEverySize) {
    const char* format = "%s-%05d-%x|%-6s|";
    for (uint64_t size = 0; size < 40; size++) {
        char a[64];
        char b[64];
        memset(a, 'Z', sizeof a);
        memset(b, 'Z', sizeof b);
        uint64_t n = tarn::format_into(a, size, format, "name", -12, 0xabcu, "xy");
        int m = snprintf(b, size, format, "name", -12, 0xabcu, "xy");
        EXPECT_EQ(n, static_cast<uint64_t>(m));
        EXPECT_EQ(0, memcmp(a, b, sizeof a)) << "size " << size;
    }
}

TEST(RuntimeFormat, SizeZeroAndNullDestination) {
    EXPECT_EQ(tarn::format_into(nullptr, 0, "%d:%s", 12345, "abc"), 9u);
    EXPECT_EQ(tarn::format_into(nullptr, 100, "%s", "abc"), 3u);
    char one = 'Z';
    EXPECT_EQ(tarn::format_into(&one, 0, "xyz"), 3u);
    EXPECT_EQ(one, 'Z');
    EXPECT_EQ(tarn::format_into(&one, 1, "xyz"), 3u);
    EXPECT_EQ(one, '\0');
}

TEST(RuntimeFormat, LongOutputCountsPastTheBuffer) {
    std::string big(3000, 'q');
    char small[16];
    EXPECT_EQ(tarn::format_into(small, sizeof small, "<%s>", big.c_str()), 3002u);
    EXPECT_EQ(std::string(small), "<" + std::string(14, 'q'));
    expect_same("%300d|%-300s|", 5, "x");
}

TEST(RuntimeFormat, AbsurdWidthsAreClamped) {
    // Padding stops at one mebibyte, so a typed or computed width cannot exhaust memory.
    EXPECT_EQ(tarn::format_into(nullptr, 0, "%99999999999d", 1), 1u << 20);
    EXPECT_EQ(tarn::format_into(nullptr, 0, "%*d", INT_MAX, 1), 1u << 20);
    EXPECT_EQ(tarn::format_into(nullptr, 0, "%*d", INT_MIN, 1), 1u << 20);
    EXPECT_EQ(tarn::format_into(nullptr, 0, "%.5000000d", 1), 1u << 20);
    // A string precision only limits, so large values keep the whole string.
    EXPECT_EQ(tarn::format_into(nullptr, 0, "%.99999999999s", "abc"), 3u);
}

uint64_t via_list(char* d, uint64_t n, const char* format, ...) {
    va_list args;
    va_start(args, format);
    uint64_t r = tarn::vformat_into(d, n, format, args);
    va_end(args);
    return r;
}

TEST(RuntimeFormat, VariadicListForm) {
    char buffer[32];
    EXPECT_EQ(via_list(buffer, sizeof buffer, "%d-%s", 3, "x"), 3u);
    EXPECT_STREQ(buffer, "3-x");
}

}  // namespace

// C-semantics string functions, case folding, wildcard matching and integer parsing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/strings.h"

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

TEST(RuntimeStrings, LengthsAndComparisonsFollowC) {
    EXPECT_EQ(tarn::strlen(""), 0u);
    EXPECT_EQ(tarn::strlen("abc"), 3u);
    EXPECT_EQ(tarn::strnlen("abc", 2), 2u);
    EXPECT_EQ(tarn::strnlen("abc", 10), 3u);
    const char* const words[] = {"", "a", "ab", "abc", "abd", "b", "\xff", "\x7f", "A"};
    for (const char* a : words)
        for (const char* b : words) {
            EXPECT_EQ(sign(tarn::strcmp(a, b)), sign(::strcmp(a, b))) << a << " " << b;
            for (uint64_t n = 0; n < 4; n++)
                EXPECT_EQ(sign(tarn::strncmp(a, b, n)), sign(::strncmp(a, b, n)));
        }
}

TEST(RuntimeStrings, SearchFunctionsFollowC) {
    const char* s = "path\\to\\file.efi";
    EXPECT_EQ(tarn::strchr(s, '\\'), s + 4);
    EXPECT_EQ(tarn::strrchr(s, '\\'), s + 7);
    EXPECT_EQ(tarn::strchr(s, 0), s + strlen(s));
    EXPECT_EQ(tarn::strrchr(s, 0), s + strlen(s));
    EXPECT_EQ(tarn::strchr(s, 'z'), nullptr);
    EXPECT_EQ(tarn::strrchr(s, 'z'), nullptr);
    EXPECT_EQ(tarn::strstr(s, "file"), s + 8);
    EXPECT_EQ(tarn::strstr(s, ""), s);
    EXPECT_EQ(tarn::strstr(s, "efix"), nullptr);
    EXPECT_EQ(tarn::strstr("aaab", "aab"), ::strstr("aaab", "aab") - 0);
    EXPECT_EQ(tarn::strpbrk(s, ".\\"), s + 4);
    EXPECT_EQ(tarn::strpbrk(s, "xyz"), nullptr);
    EXPECT_EQ(tarn::strspn("  \tab", " \t"), 3u);
    EXPECT_EQ(tarn::strcspn("key=value", "=:"), 3u);
    EXPECT_EQ(tarn::strcspn("key", "=:"), 3u);
    const char bytes[] = {1, 2, 0, 3};
    EXPECT_EQ(tarn::memchr(bytes, 3, 4), bytes + 3);
    EXPECT_EQ(tarn::memchr(bytes, 3, 3), nullptr);
    EXPECT_EQ(tarn::memchr(bytes, 0x100, 4), bytes + 2);  // compared as unsigned char
    // strchr converts the character to char, as C does.
    const char high[] = "a\xe9z";
    EXPECT_EQ(tarn::strchr(high, 0xe9), high + 1);
}

TEST(RuntimeStrings, CopiesTerminate) {
    char d[8];
    EXPECT_EQ(tarn::strcpy(d, "abc"), d);
    EXPECT_STREQ(d, "abc");
    EXPECT_EQ(tarn::strlcpy(d, "abcdefghij", sizeof d), 10u);
    EXPECT_STREQ(d, "abcdefg");
    EXPECT_EQ(tarn::strlcpy(d, "xy", sizeof d), 2u);
    EXPECT_STREQ(d, "xy");
    d[0] = 'Q';
    EXPECT_EQ(tarn::strlcpy(d, "xy", 0), 2u);
    EXPECT_EQ(d[0], 'Q');
    EXPECT_EQ(tarn::strlcpy(d, "xy", 1), 2u);
    EXPECT_EQ(d[0], '\0');
}

TEST(RuntimeStrings, CaseInsensitiveComparisonFoldsOnlyAsciiLetters) {
    EXPECT_EQ(tarn::compare_nocase("Shell.EFI", "shell.efi"), 0);
    EXPECT_TRUE(tarn::equal_nocase("PATH", "path"));
    EXPECT_FALSE(tarn::equal_nocase("path", "paths"));
    EXPECT_LT(tarn::compare_nocase("abc", "ABD"), 0);
    EXPECT_GT(tarn::compare_nocase("b", "A"), 0);
    EXPECT_LT(tarn::compare_nocase("ab", "abc"), 0);
    // '[' (0x5b) sits between 'Z' and 'a': folding makes "Z" compare as "z" above it.
    EXPECT_GT(tarn::compare_nocase("Z", "["), 0);
    // Bytes of 128 and above are not folded.
    EXPECT_NE(tarn::compare_nocase("\xc3\xa9", "\xc3\x89"), 0);
    EXPECT_GT(tarn::compare_nocase("\xe9", "a"), 0);  // compared as unsigned
    EXPECT_EQ(tarn::compare_nocase_n("HELLO world", "hello WORLD!", 11), 0);
    EXPECT_NE(tarn::compare_nocase_n("HELLO world", "hello WORLD!", 12), 0);
    EXPECT_EQ(tarn::compare_nocase_n("abc", "xyz", 0), 0);
    EXPECT_EQ(tarn::compare_nocase_n("ab", "AB", 10), 0);
}

TEST(RuntimeStrings, WildcardMatching) {
    EXPECT_TRUE(tarn::wildcard_match("*.EFI", "shell.efi", true));
    EXPECT_FALSE(tarn::wildcard_match("*.EFI", "shell.efi", false));
    EXPECT_TRUE(tarn::wildcard_match("a*b*c", "aXXbYYc", false));
    EXPECT_FALSE(tarn::wildcard_match("a*b*c", "aXXbYY", false));
    EXPECT_FALSE(tarn::wildcard_match("?", "", false));
    EXPECT_TRUE(tarn::wildcard_match("?", "x", false));
    EXPECT_FALSE(tarn::wildcard_match("?", "xy", false));
    EXPECT_TRUE(tarn::wildcard_match("", "", false));
    EXPECT_FALSE(tarn::wildcard_match("", "a", false));
    EXPECT_TRUE(tarn::wildcard_match("*", "", false));
    EXPECT_TRUE(tarn::wildcard_match("***", "", false));
    EXPECT_TRUE(tarn::wildcard_match("*", "anything", false));
    EXPECT_TRUE(tarn::wildcard_match("a**b", "ab", false));
    EXPECT_TRUE(tarn::wildcard_match("*ab", "aab", false));   // needs the backtrack
    EXPECT_TRUE(tarn::wildcard_match("*aab", "aaab", false));
    EXPECT_TRUE(tarn::wildcard_match("*a?c*", "xxabxabcyy", false));
    EXPECT_FALSE(tarn::wildcard_match("*.txt", "a.txt.bak", false));
    EXPECT_TRUE(tarn::wildcard_match("*.txt*", "a.txt.bak", false));
    EXPECT_TRUE(tarn::wildcard_match("boot????.efi", "bootx64a.efi", false));
    EXPECT_FALSE(tarn::wildcard_match("abc", "ab", false));
    EXPECT_FALSE(tarn::wildcard_match("ab", "abc", false));
    EXPECT_TRUE(tarn::wildcard_match("[a]", "[a]", false));  // no character classes
    EXPECT_TRUE(tarn::wildcard_match("\\*", "\\anything", false));  // no escapes
    EXPECT_TRUE(tarn::wildcard_match("\xc3*", "\xc3\xa9", true));
    EXPECT_FALSE(tarn::wildcard_match("\xc3\x89", "\xc3\xa9", true));
}

// A plain recursive matcher to cross-check the single-backtrack algorithm.
bool reference_match(const char* p, const char* t) {
    if (!*p) return !*t;
    if (*p == '*') return reference_match(p + 1, t) || (*t && reference_match(p, t + 1));
    if (!*t) return false;
    return (*p == '?' || *p == *t) && reference_match(p + 1, t + 1);
}

TEST(RuntimeStrings, WildcardAgreesWithAReferenceMatcher) {
    const char alphabet[] = "ab*?";
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245 + 12345;
        return (seed >> 16) & 0x7fff;
    };
    for (int round = 0; round < 20000; round++) {
        std::string p, t;
        int pl = next() % 7, tl = next() % 9;
        for (int i = 0; i < pl; i++) p += alphabet[next() % 4];
        for (int i = 0; i < tl; i++) t += "ab"[next() % 2];
        ASSERT_EQ(tarn::wildcard_match(p.c_str(), t.c_str(), false),
                  reference_match(p.c_str(), t.c_str()))
            << "pattern \"" << p << "\" text \"" << t << "\"";
    }
}

TEST(RuntimeStrings, WildcardIsFastOnPathologicalInput) {
    std::string text(20000, 'a');
    std::string pattern = "*a*a*a*a*a*a*a*b";
    EXPECT_FALSE(tarn::wildcard_match(pattern.c_str(), text.c_str(), false));
    text += 'b';
    EXPECT_TRUE(tarn::wildcard_match(pattern.c_str(), text.c_str(), false));
}

struct ParseCase {
    const char* text;
    bool ok;
    int64_t value;
};

TEST(RuntimeStrings, ParseIntegerTable) {
    const ParseCase cases[] = {
        {" -0x1F ", true, -31},
        {"&h10", true, 16},
        {"&H10", true, 16},
        {"0b101", true, 5},
        {"0B101", true, 5},
        {"1_000", true, 1000},
        {"12abc", false, 0},
        {"0x", false, 0},
        {"&h", false, 0},
        {"0b", false, 0},
        {"019", true, 19},
        {"08", true, 8},
        {"", false, 0},
        {"   ", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"+42", true, 42},
        {"-42", true, -42},
        {"0", true, 0},
        {"-0", true, 0},
        {"\t\n\v\f\r 7 \t\r\n", true, 7},
        {"0xdeadBEEF", true, 0xdeadbeef},
        {"0XfF", true, 255},
        {"&o17", true, 15},
        {"&O777", true, 511},
        {"&o8", false, 0},
        {"&b1010", true, 10},
        {"&B2", false, 0},
        {"0b102", false, 0},
        {"0x1g", false, 0},
        {"&x10", false, 0},
        {"&", false, 0},
        {"_1", false, 0},
        {"1_", false, 0},
        {"1__0", false, 0},
        {"1_0_0", true, 100},
        {"0x_1F", false, 0},
        {"0xF_F", true, 255},
        {"1 2", false, 0},
        {"- 5", false, 0},
        {"--5", false, 0},
        {"5-", false, 0},
        {"1e3", false, 0},
        {"12.5", false, 0},
        {"9223372036854775807", true, INT64_MAX},
        {"-9223372036854775808", true, INT64_MIN},
        // No overflow detection: the value wraps in 64 bits.
        {"9223372036854775808", true, INT64_MIN},
        {"18446744073709551615", true, -1},
        {"18446744073709551616", true, 0},
        {"0xFFFFFFFFFFFFFFFF", true, -1},
        {"0x10000000000000001", true, 1},
        {"-0x8000000000000000", true, INT64_MIN},
    };
    for (const ParseCase& c : cases) {
        int64_t v = 0x5a5a;
        bool ok = tarn::parse_integer(c.text, &v);
        EXPECT_EQ(ok, c.ok) << "\"" << c.text << "\"";
        if (c.ok && ok) {
            EXPECT_EQ(v, c.value) << "\"" << c.text << "\"";
        }
        if (!ok) EXPECT_EQ(v, 0x5a5a) << "failure must leave the value alone";
    }
    int64_t v;
    EXPECT_FALSE(tarn::parse_integer(nullptr, &v));
}

TEST(RuntimeStrings, CharacterClasses) {
    for (int c = 0; c < 256; c++) {
        EXPECT_EQ(tarn::is_space(c), c == ' ' || (c >= 9 && c <= 13)) << c;
        EXPECT_EQ(tarn::to_lower(c), (c >= 'A' && c <= 'Z') ? c + 32 : c) << c;
        EXPECT_EQ(tarn::to_upper(c), (c >= 'a' && c <= 'z') ? c - 32 : c) << c;
    }
}

}  // namespace

TEST(RuntimeStrings, ParseIntegerInRangeRefusesWhatWouldWrap) {
    int64_t v = 0;
    EXPECT_TRUE(tarn::parse_integer_in_range("9223372036854775807", &v));
    EXPECT_EQ(v, INT64_MAX);
    EXPECT_TRUE(tarn::parse_integer_in_range("-9223372036854775808", &v));
    EXPECT_EQ(v, INT64_MIN);
    EXPECT_TRUE(tarn::parse_integer_in_range(" 0x7fff_ffff_ffff_ffff ", &v));
    v = 5;
    EXPECT_FALSE(tarn::parse_integer_in_range("9223372036854775808", &v));
    EXPECT_FALSE(tarn::parse_integer_in_range("0x10000000000000000", &v));
    EXPECT_FALSE(tarn::parse_integer_in_range("-9223372036854775809", &v));
    EXPECT_FALSE(tarn::parse_integer_in_range("12abc", &v));
    EXPECT_EQ(v, 5);
    // parse_integer itself still wraps.
    EXPECT_TRUE(tarn::parse_integer("0x10000000000000001", &v));
    EXPECT_EQ(v, 1);
}

// UTF-8 decoding, encoding, counting and offsets.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/strings.h"
#include "runtime/text.h"

namespace {

using tarn::kReplacementCharacter;

struct Decoded {
    uint64_t consumed;
    uint32_t code_point;
};

Decoded decode(const std::string& bytes) {
    Decoded d{0, 0x12345678};
    d.consumed = tarn::utf8_decode(bytes.data(), bytes.size(), &d.code_point);
    return d;
}

TEST(RuntimeText, DecodesWellFormedSequences) {
    EXPECT_EQ(decode("A").consumed, 1u);
    EXPECT_EQ(decode("A").code_point, 0x41u);
    EXPECT_EQ(decode(std::string(1, '\0')).code_point, 0u);
    EXPECT_EQ(decode("\x7f").code_point, 0x7fu);
    EXPECT_EQ(decode("\xc2\x80").consumed, 2u);
    EXPECT_EQ(decode("\xc2\x80").code_point, 0x80u);
    EXPECT_EQ(decode("\xc3\xa9xyz").code_point, 0xe9u);
    EXPECT_EQ(decode("\xdf\xbf").code_point, 0x7ffu);
    EXPECT_EQ(decode("\xe2\x82\xac").consumed, 3u);
    EXPECT_EQ(decode("\xe2\x82\xac").code_point, 0x20acu);
    EXPECT_EQ(decode("\xef\xbf\xbf").code_point, 0xffffu);
    Decoded smile = decode("\xf0\x9f\x98\x80");
    EXPECT_EQ(smile.consumed, 4u);
    EXPECT_EQ(smile.code_point, 0x1f600u);
    EXPECT_EQ(decode("\xf4\x8f\xbf\xbf").code_point, 0x10ffffu);
}

TEST(RuntimeText, MalformedInputGivesReplacementAndOneByte) {
    const char* const bad[] = {
        "\xe2\x82",          // truncated three-byte sequence
        "\x80",              // lone continuation byte
        "\xbf\x80",          // continuation as first byte
        "\xc3",              // truncated two-byte sequence
        "\xc3\x41",          // missing continuation
        "\xe2\x41\xac",      // missing first continuation
        "\xe2\x82\x41",      // missing second continuation
        "\xf0\x9f\x98",      // truncated four-byte sequence
        "\xf0\x9f\x98\x41",  // missing last continuation
        "\xf8\x88\x80\x80\x80",
        "\xfc\x84\x80\x80\x80\x80",
        "\xfe",
        "\xff",
    };
    for (const char* b : bad) {
        Decoded d = decode(b);
        EXPECT_EQ(d.consumed, 1u) << std::hex << (int)(uint8_t)b[0];
        EXPECT_EQ(d.code_point, kReplacementCharacter);
    }
    // The announced length is checked against what is available, not against a NUL.
    uint32_t cp = 0;
    EXPECT_EQ(tarn::utf8_decode("\xe2\x82\xac", 2, &cp), 1u);
    EXPECT_EQ(cp, kReplacementCharacter);
    EXPECT_EQ(tarn::utf8_decode("\xe2\x82\xac", 0, &cp), 0u);
}

TEST(RuntimeText, SurrogatesAndLargeValuesAreNotRejected) {
    EXPECT_EQ(decode("\xed\xa0\x80").code_point, 0xd800u);
    EXPECT_EQ(decode("\xf7\xbf\xbf\xbf").code_point, 0x1fffffu);
}

TEST(RuntimeText, EncodeLengthsAndRoundTrip) {
    char out[4];
    EXPECT_EQ(tarn::utf8_encode(0, out), 1u);
    EXPECT_EQ(tarn::utf8_encode(0x7f, out), 1u);
    EXPECT_EQ(tarn::utf8_encode(0x80, out), 2u);
    EXPECT_EQ(tarn::utf8_encode(0x7ff, out), 2u);
    EXPECT_EQ(tarn::utf8_encode(0x800, out), 3u);
    EXPECT_EQ(tarn::utf8_encode(0xffff, out), 3u);
    EXPECT_EQ(tarn::utf8_encode(0x10000, out), 4u);
    EXPECT_EQ(tarn::utf8_encode(0x1f600, out), 4u);
    EXPECT_EQ(std::string(out, 4), "\xf0\x9f\x98\x80");
    EXPECT_EQ(tarn::utf8_encode(0xffffffff, out), 4u);  // not range-checked
    for (uint32_t cp = 0; cp < 0x200000; cp += (cp < 0x1000 ? 1 : 97)) {
        char b[4];
        uint64_t n = tarn::utf8_encode(cp, b);
        uint32_t back = 0;
        ASSERT_EQ(tarn::utf8_decode(b, n, &back), n) << cp;
        ASSERT_EQ(back, cp);
    }
}

TEST(RuntimeText, CountAndOffset) {
    std::string s = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";  // a é € 😀 z
    EXPECT_EQ(tarn::utf8_count(s.data(), s.size()), 5u);
    EXPECT_EQ(tarn::utf8_count(s.data(), 0), 0u);
    EXPECT_EQ(tarn::utf8_offset(s.data(), s.size(), 0), 0u);
    EXPECT_EQ(tarn::utf8_offset(s.data(), 0, 3), 0u);
    EXPECT_EQ(tarn::utf8_offset(s.data(), s.size(), 1), 1u);
    EXPECT_EQ(tarn::utf8_offset(s.data(), s.size(), 2), 3u);
    EXPECT_EQ(tarn::utf8_offset(s.data(), s.size(), 3), 6u);
    EXPECT_EQ(tarn::utf8_offset(s.data(), s.size(), 4), 10u);
    EXPECT_EQ(tarn::utf8_offset(s.data(), s.size(), 5), 11u);
    EXPECT_EQ(tarn::utf8_offset(s.data(), s.size(), 99), 11u);
    // Cut inside a sequence: each stray byte counts as one code point, never past n.
    EXPECT_EQ(tarn::utf8_count(s.data(), 5), 4u);  // a, é, then E2 82 as two
    EXPECT_EQ(tarn::utf8_offset(s.data(), 5, 10), 5u);
    std::string broken = "\xe2\x82";
    EXPECT_EQ(tarn::utf8_count(broken.data(), broken.size()), 2u);
    // Embedded NUL bytes are ordinary code points.
    std::string nul("a\0b", 3);
    EXPECT_EQ(tarn::utf8_count(nul.data(), nul.size()), 3u);
}

}  // namespace

TEST(RuntimeText, OverlongFormsAreMalformed) {
    // C0 80 would be NUL, C1 9C a backslash, E0 80 AF a '/', F0 80 80 BA a ':'.
    const char* overlong[] = {"\xc0\x80", "\xc1\x9c", "\xe0\x80\xaf", "\xf0\x80\x80\xba"};
    for (const char* s : overlong) {
        uint32_t cp = 0;
        EXPECT_EQ(tarn::utf8_decode(s, tarn::strlen(s), &cp), 1u) << s;
        EXPECT_EQ(cp, tarn::kReplacementCharacter);
    }
    uint32_t cp = 0;
    EXPECT_EQ(tarn::utf8_decode("\xc2\x80", 2, &cp), 2u);  // the shortest forms still decode
    EXPECT_EQ(cp, 0x80u);
    EXPECT_EQ(tarn::utf8_decode("\xe0\xa0\x80", 3, &cp), 3u);
    EXPECT_EQ(cp, 0x800u);
    EXPECT_EQ(tarn::utf8_decode("\xf0\x90\x80\x80", 4, &cp), 4u);
    EXPECT_EQ(cp, 0x10000u);
}

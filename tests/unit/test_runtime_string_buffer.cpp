// StringBuffer growth and operations, formatted strings, and the UCS-2 conversions,
// all on the simulated pool.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/string_buffer.h"
#include "runtime/text.h"
#include "sim.h"

namespace {

using namespace tarn;

TEST(RuntimeStringBuffer, CapacityStartsAt32AndDoubles) {
    sim::SimFirmware fw;
    StringBuffer one;
    append_char(one, 'x');
    EXPECT_EQ(one.capacity, 32u);
    EXPECT_EQ(one.length, 1u);
    EXPECT_STREQ(one.data, "x");

    StringBuffer forty;
    append_bytes(forty, std::string(40, 'y').data(), 40);
    EXPECT_EQ(forty.capacity, 64u);
    EXPECT_EQ(forty.length, 40u);

    StringBuffer grow;
    append_bytes(grow, std::string(31, 'a').data(), 31);
    EXPECT_EQ(grow.capacity, 32u);  // 31 bytes and the NUL fill it exactly
    append_char(grow, 'b');
    EXPECT_EQ(grow.capacity, 64u);
    append_bytes(grow, std::string(200, 'c').data(), 200);
    EXPECT_EQ(grow.capacity, 256u);  // 233 + 1 needs two doublings
    EXPECT_EQ(grow.length, 232u);
    EXPECT_EQ(grow.data[grow.length], '\0');
    EXPECT_EQ(allocation_size(grow.data), grow.capacity);

    StringBuffer big;
    reserve(big, 1000);
    EXPECT_EQ(big.capacity, 1024u);
    EXPECT_EQ(big.length, 0u);
    EXPECT_STREQ(big.data, "");
    reserve(big, 1023);  // covered: nothing happens
    EXPECT_EQ(big.capacity, 1024u);
}

TEST(RuntimeStringBuffer, InitReleaseClearAndTake) {
    sim::SimFirmware fw;
    {
        StringBuffer b;
        EXPECT_EQ(b.data, nullptr);
        EXPECT_STREQ(b.c_str(), "");
        append_text(b, "hello");
        clear(b);
        EXPECT_EQ(b.length, 0u);
        EXPECT_EQ(b.capacity, 32u);  // the allocation stays
        EXPECT_STREQ(b.data, "");
        append_text(b, "again");
        EXPECT_STREQ(b.c_str(), "again");
        char* text = take(b);
        EXPECT_STREQ(text, "again");
        EXPECT_EQ(b.data, nullptr);
        EXPECT_EQ(b.length, 0u);
        EXPECT_EQ(b.capacity, 0u);
        release(text);

        // Taking from a buffer that never allocated still gives an allocated string.
        char* empty = take(b);
        ASSERT_NE(empty, nullptr);
        EXPECT_STREQ(empty, "");
        EXPECT_EQ(fw.outstanding_allocations(), 1);
        release(empty);

        append_text(b, "x");
        release(b);
        EXPECT_EQ(b.data, nullptr);
        EXPECT_EQ(b.capacity, 0u);
        release(b);  // twice is harmless
        clear(b);    // so is clearing an empty buffer

        StringBuffer c;
        append_text(c, "dropped by the destructor");
        init(b);
    }
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeStringBuffer, MoveHandsOverTheBytes) {
    sim::SimFirmware fw;
    {
        StringBuffer a;
        append_text(a, "moving");
        StringBuffer b(move(a));
        EXPECT_EQ(a.data, nullptr);
        EXPECT_STREQ(b.c_str(), "moving");
    }
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeStringBuffer, AppendForms) {
    sim::SimFirmware fw;
    StringBuffer b;
    append_text(b, nullptr);
    append_text(b, "");
    append_bytes(b, "ab\0c", 4);  // bytes, NUL included
    EXPECT_EQ(b.length, 4u);
    EXPECT_EQ(memcmp(b.data, "ab\0c", 5), 0);
    clear(b);
    append_codepoint(b, 'A');
    append_codepoint(b, 0xe9);
    append_codepoint(b, 0x20ac);
    append_codepoint(b, 0x1f600);
    EXPECT_STREQ(b.data, "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(b.length, 10u);
}

TEST(RuntimeStringBuffer, AppendingItsOwnBytesSurvivesGrowth) {
    sim::SimFirmware fw;
    StringBuffer b;
    append_text(b, "0123456789012345678901234567890");  // 31 bytes, capacity 32
    ASSERT_EQ(b.capacity, 32u);
    append_bytes(b, b.data, b.length);  // the buffer moves while its bytes are copied
    EXPECT_EQ(std::string(b.c_str()),
              "0123456789012345678901234567890"
              "0123456789012345678901234567890");
    append_bytes(b, b.data + 10, 5);
    EXPECT_EQ(std::string(b.c_str()).substr(62), "01234");
}

TEST(RuntimeStringBuffer, FormattedAppendShortAndLong) {
    sim::SimFirmware fw;
    StringBuffer b;
    append_format(b, "%s=%d", "x", 42);
    EXPECT_STREQ(b.data, "x=42");
    // Results of 256 bytes and more take the second pass straight into the buffer.
    for (int length : {254, 255, 256, 257, 1000}) {
        StringBuffer c;
        append_text(c, "<");
        append_format(c, "%s|%*d", std::string(length - 11, 'q').c_str(), 10, 7);
        std::string expected = "<" + std::string(length - 11, 'q') + "|         7";
        EXPECT_EQ(std::string(c.c_str()), expected) << length;
        EXPECT_EQ(c.length, expected.size());
        EXPECT_EQ(c.data[c.length], '\0');
    }
    StringBuffer d;
    append_format(d, "%s", "");
    EXPECT_STREQ(d.c_str(), "");
    EXPECT_EQ(d.length, 0u);
}

TEST(RuntimeStringBuffer, BufferGrowthFailureIsFatal) {
    sim::SimFirmware fw;
    StringBuffer b;
    append_text(b, "abc");
    fw.fail_allocations_from(0);
    std::string more(100, 'z');  // outside the run: Exit does not unwind its frames
    auto result = fw.run([&b, &more] { append_bytes(b, more.data(), more.size()); });
    fw.fail_allocations_from(-1);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, efi::kErrorBit | 1);
    EXPECT_NE(fw.screen().transcript_lines().find("tarn: fatal: out of memory"), std::string::npos);
    EXPECT_STREQ(b.c_str(), "abc");  // untouched
}

char* via_list(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* text = vformat_string(format, args);
    va_end(args);
    return text;
}

TEST(RuntimeFormatString, AllocatesTheExactResult) {
    sim::SimFirmware fw;
    char* a = format_string("%05d|%-4s|%X", 42, "ab", 0xbeefu);
    EXPECT_STREQ(a, "00042|ab  |BEEF");
    char* empty = format_string("%s", "");
    EXPECT_STREQ(empty, "");
    std::string long_text(3000, 'w');
    char* b = format_string("[%s]", long_text.c_str());
    EXPECT_EQ(std::string(b), "[" + long_text + "]");
    EXPECT_EQ(allocation_size(b), 3003u);
    char* c = via_list("%d-%d", 1, 2);
    EXPECT_STREQ(c, "1-2");
    char* n = format_string("%s", static_cast<const char*>(nullptr));
    EXPECT_STREQ(n, "(null)");
    for (char* p : {a, empty, b, c, n}) release(p);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeConversion, Utf8ToUcs2) {
    sim::SimFirmware fw;
    uint64_t units = 99;
    char16_t* s = utf8_to_ucs2("A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80!", &units);
    ASSERT_EQ(units, 5u);
    EXPECT_EQ(s[0], u'A');
    EXPECT_EQ(s[1], 0xe9);
    EXPECT_EQ(s[2], 0x20ac);
    EXPECT_EQ(s[3], 0xfffd);  // U+1F600 has no single unit
    EXPECT_EQ(s[4], u'!');
    EXPECT_EQ(s[5], 0);
    EXPECT_EQ(ucs2_length(s), 5u);
    release(s);

    // Malformed bytes become U+FFFD one by one.
    char16_t* bad = utf8_to_ucs2("\xe2\x82x");
    EXPECT_EQ(ucs2_length(bad), 3u);
    EXPECT_EQ(bad[0], 0xfffd);
    EXPECT_EQ(bad[1], 0xfffd);
    EXPECT_EQ(bad[2], u'x');
    release(bad);

    char16_t* empty = utf8_to_ucs2("", &units);
    EXPECT_EQ(units, 0u);
    EXPECT_EQ(empty[0], 0);
    release(empty);

    // The counted form stops at n, not at a NUL.
    char16_t* counted = utf8_to_ucs2_n("ab\0cd", 5, &units);
    EXPECT_EQ(units, 5u);
    EXPECT_EQ(counted[2], 0);
    EXPECT_EQ(counted[4], u'd');
    release(counted);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeConversion, Ucs2ToUtf8) {
    sim::SimFirmware fw;
    const char16_t text[] = {u'F', 0xe9, 0x20ac, 0xd83d, 0xde00, 0};
    char* s = ucs2_to_utf8(text);
    // Each unit on its own: surrogates become three-byte sequences.
    EXPECT_STREQ(s, "F\xc3\xa9\xe2\x82\xac\xed\xa0\xbd\xed\xb8\x80");
    release(s);
    char* part = ucs2_to_utf8(text, 2);
    EXPECT_STREQ(part, "F\xc3\xa9");
    EXPECT_EQ(allocation_size(part), 4u);
    release(part);
    char* none = ucs2_to_utf8(text, 0);
    EXPECT_STREQ(none, "");
    release(none);
    EXPECT_EQ(ucs2_length(u""), 0u);
    EXPECT_EQ(ucs2_length(nullptr), 0u);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeConversion, RoundTripOfTheBasicPlane) {
    sim::SimFirmware fw;
    std::u16string all;
    for (uint32_t u = 1; u <= 0xffff; u++) all += static_cast<char16_t>(u);
    char* utf8 = ucs2_to_utf8(all.c_str(), kUpToNul);
    uint64_t units = 0;
    char16_t* back = utf8_to_ucs2(utf8, &units);
    ASSERT_EQ(units, all.size());
    EXPECT_EQ(memcmp(back, all.data(), all.size() * 2), 0);
    release(utf8);
    release(back);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

}  // namespace

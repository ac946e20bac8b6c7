// The load-option model: EFI_LOAD_OPTION bytes assembled here field by field (not with
// the code under test) are parsed, rebuilt byte for byte, and malformed ones refused;
// the entry-number, variable-name, optional-data and order texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "boot/change_plan.h"
#include "boot/load_option.h"
#include "runtime/memory.h"
#include "sim.h"

namespace {

using namespace tarn;
using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

Bytes ucs2(const std::u16string& s, bool nul = true) {
    Bytes b;
    for (char16_t c : s) put16(b, c);
    if (nul) put16(b, 0);
    return b;
}

Bytes node(uint8_t type, uint8_t sub, const Bytes& body) {
    Bytes b{type, sub};
    put16(b, static_cast<uint32_t>(body.size() + 4));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes end_node() { return node(0x7f, 0xff, {}); }

Bytes file_path(const std::u16string& name) {
    Bytes p = node(4, 4, ucs2(name));
    Bytes e = end_node();
    p.insert(p.end(), e.begin(), e.end());
    return p;
}

// An EFI_LOAD_OPTION with FilePathListLength given separately so tests can lie in it.
Bytes option_bytes(uint32_t attributes, const std::u16string& description, const Bytes& path,
                   const Bytes& optional, int64_t list_length = -1) {
    Bytes b;
    put16(b, attributes & 0xffff);
    put16(b, attributes >> 16);
    put16(b, list_length < 0 ? static_cast<uint32_t>(path.size())
                             : static_cast<uint32_t>(list_length));
    Bytes d = ucs2(description);
    b.insert(b.end(), d.begin(), d.end());
    b.insert(b.end(), path.begin(), path.end());
    b.insert(b.end(), optional.begin(), optional.end());
    return b;
}

class LoadOptionTest : public ::testing::Test {
protected:
    sim::SimFirmware fw;
};

struct WellFormed {
    const char* what;
    uint32_t attributes;
    std::u16string description;
    Bytes path;
    Bytes optional;
};

TEST_F(LoadOptionTest, ParsesAndRebuildsEveryFieldExactly) {
    const Bytes two_nodes = [] {
        Bytes p = node(2, 1, Bytes(8, 0xaa));
        Bytes f = file_path(u"\\EFI\\X.EFI");
        p.insert(p.end(), f.begin(), f.end());
        return p;
    }();
    const Bytes instance = [] {
        Bytes p = node(1, 1, {1, 2});
        Bytes i = node(0x7f, 0x01, {});
        Bytes f = file_path(u"\\A");
        p.insert(p.end(), i.begin(), i.end());
        p.insert(p.end(), f.begin(), f.end());
        return p;
    }();
    const WellFormed cases[] = {
        {"plain", 1, u"TARN", file_path(u"\\EFI\\TARN.EFI"), {}},
        {"empty description", 0, u"", end_node(), {}},
        {"hidden and other bits kept", 0x80000109, u"X", end_node(), {}},
        {"text optional data", 1, u"Shell", file_path(u"\\S.EFI"), ucs2(u"-c 1")},
        {"odd optional data", 1, u"Odd", end_node(), {1, 2, 3}},
        {"two nodes", 1, u"Two", two_nodes, {9}},
        {"end instance passed over", 1, u"Inst", instance, {}},
        {"non-ASCII description", 1, u"Caf\u00e9 \u0416", end_node(), ucs2(u"\u00e9")},
        {"long optional data", 1, u"L", end_node(), Bytes(5000, 0x41)},
    };
    for (const WellFormed& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes raw = option_bytes(c.attributes, c.description, c.path, c.optional);
        LoadOption o;
        ASSERT_TRUE(parse_load_option(raw.data(), raw.size(), &o));
        ASSERT_TRUE(o.valid());
        EXPECT_EQ(o.attributes, c.attributes);
        EXPECT_EQ(Bytes(o.device_path, o.device_path + o.device_path_length), c.path);
        EXPECT_EQ(Bytes(o.optional_data, o.optional_data + o.optional_length), c.optional);
        EXPECT_EQ(o.raw_size, raw.size());

        uint64_t size = 0;
        Owned<uint8_t> built(rebuild_load_option(o, o.attributes, nullptr, &size));
        EXPECT_EQ(Bytes(built.get(), built.get() + size), raw);
    }
}

TEST_F(LoadOptionTest, DescriptionConvertsToUtf8AndBack) {
    uint64_t size = 0;
    const Bytes path = end_node();
    Owned<uint8_t> built(build_load_option(1, "Caf\xc3\xa9", path.data(), path.size(), nullptr,
                                           0, &size));
    EXPECT_EQ(Bytes(built.get(), built.get() + size), option_bytes(1, u"Caf\u00e9", path, {}));
    LoadOption o;
    ASSERT_TRUE(parse_load_option(built.get(), size, &o));
    EXPECT_STREQ(o.description, "Caf\xc3\xa9");
}

struct Malformed {
    const char* what;
    Bytes raw;
};

TEST_F(LoadOptionTest, MalformedOptionsAreRefused) {
    const Bytes good = option_bytes(1, u"X", file_path(u"\\A"), {});
    Bytes no_terminator;
    put16(no_terminator, 1);
    put16(no_terminator, 0);
    put16(no_terminator, 4);
    Bytes d = ucs2(u"ABCD", false);
    no_terminator.insert(no_terminator.end(), d.begin(), d.end());
    Bytes short_node = end_node();
    short_node[2] = 3;
    Bytes no_end = node(4, 4, ucs2(u"\\A"));
    Bytes end_early = file_path(u"\\A");
    Bytes padded = end_early;
    padded.push_back(0);
    padded.push_back(0);
    padded.push_back(0);
    padded.push_back(0);

    const Malformed cases[] = {
        {"empty", {}},
        {"7 bytes", Bytes(good.begin(), good.begin() + 7)},
        {"no description terminator", no_terminator},
        {"list length below 4", option_bytes(1, u"X", end_node(), {}, 3)},
        {"list past the end", option_bytes(1, u"X", end_node(), {}, 8)},
        {"node shorter than 4", option_bytes(1, u"X", short_node, {})},
        {"node past the list", option_bytes(1, u"X", node(4, 4, Bytes(20, 1)), {}, 8)},
        {"no end node", option_bytes(1, u"X", no_end, {})},
        {"end node before the list length",
         option_bytes(1, u"X", padded, {}, static_cast<int64_t>(padded.size()))},
        {"truncated by one byte", Bytes(good.begin(), good.end() - 1)},
    };
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.what);
        LoadOption o;
        EXPECT_FALSE(parse_load_option(c.raw.data(), c.raw.size(), &o));
        EXPECT_FALSE(o.valid());
        EXPECT_STREQ(o.description, "<invalid load option>");
        EXPECT_EQ(o.device_path, nullptr);
        EXPECT_EQ(o.optional_length, 0u);
    }
}

struct OptionalCase {
    Bytes data;
    const char* shown;
};

TEST_F(LoadOptionTest, OptionalDataShowsAsTextOnlyWhenPrintable) {
    const OptionalCase cases[] = {
        {{}, ""},
        {ucs2(u"abc"), "abc"},
        {ucs2(u"abc", false), "abc"},
        {{'a', 0, 'b', 0, 0, 0, 'c', 0, 0, 0}, "<10 bytes of binary data>"},
        {{1, 2, 3}, "<3 bytes of binary data>"},
        {ucs2(u"tab\there"), "<18 bytes of binary data>"},
        {ucs2(u"\u007f"), "<4 bytes of binary data>"},
        {ucs2(u"\u009f"), "<4 bytes of binary data>"},
        {ucs2(u"\u00a0\u024f"), "\xc2\xa0\xc9\x8f"},
        {ucs2(u"\u0250"), "<4 bytes of binary data>"},
        {{0, 0}, ""},
        {{0, 0, 0, 0}, "<4 bytes of binary data>"},
    };
    for (const OptionalCase& c : cases) {
        Owned<char> text(format_optional_data(c.data.data(), c.data.size()));
        EXPECT_STREQ(text.get(), c.shown);
    }
    uint64_t size = 0;
    Owned<uint8_t> data(text_optional_data("-c 1", &size));
    EXPECT_EQ(Bytes(data.get(), data.get() + size), ucs2(u"-c 1"));
}

struct IdCase {
    const char* text;
    bool ok;
    uint32_t number;
};

TEST_F(LoadOptionTest, EntryNumbers) {
    const IdCase cases[] = {
        {"0003", true, 3},     {"3", true, 3},         {"Boot0003", true, 3},
        {"boot3", true, 3},    {"DRIVER01", true, 1},  {"ffff", true, 0xffff},
        {"BOOTa1", true, 0xa1}, {"Boot", false, 0},    {"12345", false, 0},
        {"x1", false, 0},      {"", false, 0},         {"driver", false, 0},
        {"b3", true, 0xb3},      {"Boot 3", false, 0},   {"-1", false, 0},
        {"bad1", true, 0xbad1},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t n = 0xdead;
        EXPECT_EQ(parse_option_id(c.text, &n), c.ok);
        if (c.ok) EXPECT_EQ(n, c.number);
    }
}

struct NameCase {
    const char* name;
    const char* prefix;
    bool ok;
    uint32_t number;
};

TEST_F(LoadOptionTest, VariableNamesOfAFamily) {
    const NameCase cases[] = {
        {"Boot000A", "Boot", true, 0xa},     {"Boot000a", "Boot", false, 0},
        {"Boot00001", "Boot", false, 0},     {"BootOrder", "Boot", false, 0},
        {"Driver0100", "Driver", true, 0x100}, {"Boot0001", "Driver", false, 0},
        {"SysPrepFFFF", "SysPrep", true, 0xffff}, {"boot0001", "Boot", false, 0},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t n = 0;
        EXPECT_EQ(option_name_number(c.name, c.prefix, &n), c.ok);
        if (c.ok) EXPECT_EQ(n, c.number);
    }
    char name[kOptionNameSize];
    option_name("Boot", 0xa1, name);
    EXPECT_STREQ(name, "Boot00A1");
}

TEST_F(LoadOptionTest, OrderText) {
    const struct {
        std::vector<uint32_t> numbers;
        const char* text;
    } cases[] = {{{}, "(empty)"}, {{1, 3, 0}, "0001,0003,0000"}, {{0xffff}, "FFFF"}};
    for (const auto& c : cases) {
        StringBuffer out;
        format_order(c.numbers.data(), c.numbers.size(), out);
        EXPECT_STREQ(out.c_str(), c.text);
    }
}

TEST_F(LoadOptionTest, DevicePathWalks) {
    Bytes hd = node(4, 1, Bytes(38, 0));
    Bytes full = node(2, 1, Bytes(8, 0));
    full.insert(full.end(), hd.begin(), hd.end());
    Bytes f = file_path(u"\\X");
    full.insert(full.end(), f.begin(), f.end());
    EXPECT_EQ(device_path_size(full.data(), full.size()), full.size());
    EXPECT_EQ(device_path_size(full.data(), full.size() - 1), 0u);
    EXPECT_EQ(short_form_start(full.data(), full.size()), full.data() + 12);
    EXPECT_EQ(short_form_start(f.data(), f.size()), nullptr);
    Bytes bad = full;
    bad[2] = 2;
    EXPECT_EQ(device_path_size(bad.data(), bad.size()), 0u);
    EXPECT_EQ(short_form_start(bad.data(), bad.size()), nullptr);
}

TEST_F(LoadOptionTest, YesAnswers) {
    const struct {
        const char* line;
        bool yes;
    } cases[] = {{"y", true},  {"Y", true},  {"Yes", true}, {"S", true},  {"SI", true},
                 {"n", false}, {"", false},  {"ja", false}, {"yes ", false}, {nullptr, false}};
    for (const auto& c : cases) EXPECT_EQ(is_yes_answer(c.line), c.yes) << (c.line ? c.line : "null");
}

}  // namespace

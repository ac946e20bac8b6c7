// The text editor's document: detection on load, and a byte-exact load-then-save matrix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editors/document.h"
#include "sim.h"

using namespace tarn;

namespace {

std::string encode(const Document& doc) {
    StringBuffer out;
    document_encode(doc, out);
    return std::string(out.c_str(), out.length);
}

void load(Document& doc, const std::string& bytes) {
    document_load(doc, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::u32string line_text(const Document& doc, size_t i) {
    const Line& l = doc.lines[i];
    return std::u32string(l.points, l.points + l.length);
}

// Little-endian UCS-2 with mark of an ASCII text.
std::string ucs2(const std::string& ascii) {
    std::string out("\xff\xfe", 2);
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

struct LoadCase {
    const char* name;
    std::string bytes;
    bool ucs2, crlf, mark, final_end;
    std::vector<std::u32string> lines;
};

const LoadCase kLoadCases[] = {
    {"empty", "", false, false, false, false, {U""}},
    {"one byte", "x", false, false, false, false, {U"x"}},
    {"lone line end", "\n", false, false, false, true, {U""}},
    {"no final end", "a\nb", false, false, false, false, {U"a", U"b"}},
    {"final end", "a\nb\n", false, false, false, true, {U"a", U"b"}},
    {"blank last line kept", "a\n\n", false, false, false, true, {U"a", U""}},
    {"crlf", "a\r\nb\r\n", false, true, false, true, {U"a", U"b"}},
    {"lone cr stays", "a\rb\n", false, false, false, true, {U"a\rb"}},
    {"mark", "\xef\xbb\xbfhi\n", false, false, true, true, {U"hi"}},
    {"two byte utf8", "\xc3\xa9t\xc3\xa9", false, false, false, false, {U"\u00e9t\u00e9"}},
    {"four byte utf8", "\xf0\x9f\x98\x80", false, false, false, false, {U"\U0001F600"}},
    {"latin-1 byte raw", "caf\xe9\n", false, false, false, true,
     {std::u32string(U"caf") + char32_t(kRawByteBase + 0xe9)}},
    {"overlong raw", "\xc0\x80", false, false, false, false,
     {std::u32string{char32_t(kRawByteBase + 0xc0), char32_t(kRawByteBase + 0x80)}}},
    {"ucs2", ucs2("a\nb"), true, false, false, false, {U"a", U"b"}},
    {"ucs2 crlf", ucs2("a\r\nb\r\n"), true, true, false, true, {U"a", U"b"}},
    {"ucs2 mark only", ucs2(""), true, false, false, false, {U""}},
    {"ucs2 odd byte", ucs2("a") + "z", true, false, false, false,
     {std::u32string(U"a") + char32_t(kRawByteBase + 'z')}},
    {"ff alone is utf8", "\xff", false, false, false, false, {std::u32string{char32_t(kRawByteBase + 0xff)}}},
};

class DocumentLoad : public ::testing::TestWithParam<LoadCase> {
protected:
    sim::SimFirmware fw;
};

TEST_P(DocumentLoad, DetectsSplitsAndWritesBackTheSameBytes) {
    const LoadCase& c = GetParam();
    {
        Document doc;
        load(doc, c.bytes);
        EXPECT_EQ(doc.ucs2, c.ucs2);
        EXPECT_EQ(doc.crlf, c.crlf);
        EXPECT_EQ(doc.utf8_mark, c.mark);
        EXPECT_EQ(doc.final_line_end, c.final_end);
        ASSERT_EQ(doc.lines.size(), c.lines.size());
        for (size_t i = 0; i < c.lines.size(); i++) EXPECT_EQ(line_text(doc, i), c.lines[i]) << i;
        EXPECT_EQ(encode(doc), c.bytes);
    }
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(Matrix, DocumentLoad, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

// Every combination of encoding, mark, line end, final line end and an invalid byte.
TEST(DocumentMatrix, EveryCombinationRoundTrips) {
    sim::SimFirmware fw;
    int checked = 0;
    for (int enc = 0; enc < 3; enc++)        // UTF-8, UTF-8 with mark, UCS-2
        for (int crlf = 0; crlf < 2; crlf++)
            for (int final_end = 0; final_end < 2; final_end++)
                for (int invalid = 0; invalid < 2; invalid++) {
                    const char* eol = crlf ? "\r\n" : "\n";
                    std::string text = std::string("first") + eol + "" + eol + "th\tird" +
                                       (invalid && enc != 2 ? "\xfe\x80" : "") + eol + "last";
                    if (final_end) text += eol;
                    std::string bytes = enc == 2 ? ucs2(text) : enc == 1 ? "\xef\xbb\xbf" + text : text;
                    if (invalid && enc == 2) bytes += "\x01";  // odd trailing byte
                    Document doc;
                    load(doc, bytes);
                    // An odd byte after the final line end of UCS-2 starts a line of its own.
                    const size_t lines = enc == 2 && invalid && final_end ? 5 : 4;
                    EXPECT_EQ(doc.lines.size(), lines);
                    EXPECT_EQ(encode(doc), bytes) << enc << crlf << final_end << invalid;
                    checked++;
                }
    EXPECT_EQ(checked, 24);
}

TEST(DocumentEdit, ChangedLineLeavesTheRestByteIdentical) {
    sim::SimFirmware fw;
    Document doc;
    std::string before = ucs2("one\r\ntwo\r\nthree\r\n");
    load(doc, before);
    const uint32_t x = 'X';
    line_insert(doc.lines[1], 0, &x, 1);
    EXPECT_EQ(encode(doc), ucs2("one\r\nXtwo\r\nthree\r\n"));
    // Switching encoding writes the same lines as UTF-8 (the mark flag stays clear).
    doc.ucs2 = false;
    EXPECT_EQ(encode(doc), "one\r\nXtwo\r\nthree\r\n");
}

TEST(DocumentEdit, NewFileEndsEachLine) {
    sim::SimFirmware fw;
    Document doc;
    document_reset(doc);
    document_insert_line(doc, 1, line_slice(doc.lines[0], 0, 0));
    const uint32_t cps[] = {'h', 0x20ac, 0x1F600};
    line_insert(doc.lines[0], 0, cps, 3);
    EXPECT_EQ(encode(doc), "h\xe2\x82\xac\xf0\x9f\x98\x80\n\n");
    doc.ucs2 = true;
    EXPECT_EQ(encode(doc), std::string("\xff\xfeh\0\xac\x20\x3d\xd8\x00\xde\n\0\n\0", 14));
}

}  // namespace

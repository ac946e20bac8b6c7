// grep, wc and parse over the simulated firmware, and the standard-format reader alone.
#include "command_test.h"
#include "commands/files/text_commands.h"

#include "runtime/memory.h"

using namespace tarn;
using namespace tarn_test;


TEST(TextGrep, EmptyTextSelectsEveryLine) {
    CommandShell s(text_commands());
    s.add_file("f.txt", "a\n\nb\n");
    s.add_file("nofinal.txt", "x\ny");
    s.add_file("empty.txt", "");
    EXPECT_EQ(s.run("grep \"\" f.txt").out, "a\n\nb\n");
    EXPECT_EQ(s.run("grep -c \"\" f.txt").out, "3\n");
    EXPECT_EQ(s.run("grep -c \"\" nofinal.txt").out, "2\n");
    EXPECT_EQ(s.run("grep \"\" nofinal.txt").out, "x\ny\n");
    auto r = s.run("grep -c \"\" empty.txt");
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(r.code, 1);  // nothing selected
}

TEST(TextGrep, InvertedEmptyTextSelectsNoLineNotEvenAnEmptyOne) {
    CommandShell s(text_commands());
    s.add_file("f.txt", "a\n\n\nb\n\n");
    s.add_file("blank.txt", "\n");
    struct Case {
        const char* line;
        const char* out;
    } cases[] = {
        {"grep -v \"\" f.txt", ""},
        {"grep -v -c \"\" f.txt", "0\n"},
        {"grep -v -n \"\" blank.txt", ""},
        {"grep -vic \"\" blank.txt f.txt", "blank.txt:0\nf.txt:0\n"},
    };
    for (const Case& c : cases) {
        auto r = s.run(c.line);
        EXPECT_EQ(r.out, c.out) << c.line;
        EXPECT_EQ(r.code, 1) << c.line;
        EXPECT_EQ(r.errors, "") << c.line;
    }
}

TEST(TextGrep, OptionsSelectAndNumberLines) {
    CommandShell s(text_commands());
    s.add_file("f.txt", "Alpha\nbeta\nALPHABET\ngamma alpha\r\ndelta");
    EXPECT_EQ(s.run("grep alpha f.txt").out, "gamma alpha\n");
    EXPECT_EQ(s.run("grep -i alpha f.txt").out, "Alpha\nALPHABET\ngamma alpha\n");
    EXPECT_EQ(s.run("grep -in ALPHA f.txt").out, "1:Alpha\n3:ALPHABET\n4:gamma alpha\n");
    EXPECT_EQ(s.run("grep -v -n alpha f.txt").out, "1:Alpha\n2:beta\n3:ALPHABET\n5:delta\n");
    EXPECT_EQ(s.run("grep -vic alpha f.txt").out, "2\n");
    EXPECT_EQ(s.run("grep -n ta f.txt").out, "2:beta\n5:delta\n");
    // The same line is selected once however often the text occurs in it.
    EXPECT_EQ(s.run("grep -c a f.txt").out, "4\n");
    // Options may follow the text; "--" ends them.
    EXPECT_EQ(s.run("grep beta f.txt -n").out, "2:beta\n");
    s.add_file("d.txt", "-v\nv\n");
    EXPECT_EQ(s.run("grep -- -v d.txt").out, "-v\n");
    auto r = s.run("grep zzz f.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.errors, "");
}

TEST(TextGrep, NamePrefixWheneverSeveralFilesAreSearched) {
    CommandShell s(text_commands());
    s.add_file("a.txt", "x1\nno\nx2\n");
    s.add_file("b.txt", "none\n");
    s.add_file("sub\\c.txt", "x3\n");
    EXPECT_EQ(s.run("grep -c x a.txt b.txt").out, "a.txt:2\nb.txt:0\n");
    EXPECT_EQ(s.run("grep -c x *.txt").out, "a.txt:2\nb.txt:0\n");
    EXPECT_EQ(s.run("grep -n x a.txt sub\\c.txt").out, "a.txt:1:x1\na.txt:3:x2\nc.txt:1:x3\n");
    EXPECT_EQ(s.run("grep x *.txt").out, "a.txt:x1\na.txt:x2\n");
    // One pattern matching one file names nothing; "?" patterns as "*" ones.
    EXPECT_EQ(s.run("grep x a.t?t").out, "x1\nx2\n");
    s.add_file("many\\f21.txt", "line one\n");
    s.add_file("many\\f22.txt", "no\nline two\n");
    EXPECT_EQ(s.run("grep -n line many\\f2?.txt").out, "f21.txt:1:line one\nf22.txt:2:line two\n");
}

TEST(TextGrep, ExitCodesAndFailures) {
    CommandShell s(text_commands());
    s.add_file("a.txt", "hit\n");
    s.add_file("b.txt", "miss\n");
    sim::add_directory(s.fw, s.volumes[0], "dir");
    sim::add_directory(s.fw, s.volumes[0], "dir.txt");

    // Directories are nothing to grep, named or matched.
    auto r = s.run("grep hit dir a.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "a.txt:hit\n");
    EXPECT_EQ(r.errors, "");
    r = s.run("grep -c hit *.txt");
    EXPECT_EQ(r.out, "a.txt:1\nb.txt:0\n");
    // A pattern matching nothing is no error.
    r = s.run("grep hit *.none a.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.errors, "");

    // An error makes the exit code 1 even when lines were selected.
    r = s.run("grep hit zz:\\x a.txt nope.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "a.txt:hit\n");
    EXPECT_EQ(r.errors, "grep: zz:\\x: invalid path\ngrep: fs0:\\nope.txt: not found\n");

    for (const char* line : {"grep", "grep hit", "grep -x hit a.txt", "grep -c"}) {
        r = s.run(line);
        EXPECT_EQ(r.code, 2) << line;
    }
    r = s.run("grep hit");
    EXPECT_EQ(r.errors, "usage: grep [-i] [-v] [-n] [-c] TEXT FILE...\n");
    r = s.run("grep -x hit a.txt");
    EXPECT_EQ(r.errors, "grep: unknown option -x\nusage: grep [-i] [-v] [-n] [-c] TEXT FILE...\n");
}

TEST(TextGrep, BinaryContentIsSearchedPastZeroBytes) {
    CommandShell s(text_commands());
    s.add_file("bin", bytes("\x01\x02\0\0 key\0x\n\xff\xfe?\nkey"));
    s.run("grep -n key bin > out");
    EXPECT_EQ(s.file_content("out"), bytes("1:\x01\x02\0\0 key\0x\n3:key\n"));
    EXPECT_EQ(s.run("grep -c -v key bin").out, "1\n");
    // UCS-2 content is searched after decoding.
    s.add_file("u16", bytes("\xff\xfe" "a\0b\0\r\0\n\0k\0e\0y\0"));
    EXPECT_EQ(s.run("grep -n KEY u16 -i").out, "2:key\n");
}

TEST(TextGrep, FileLargerThanMemory) {
    CommandShell s(text_commands());
    s.add_file("big.txt", "hit\n");
    s.add_file("ok.txt", "hit\n");
    sim::set_reported_size(s.fw, s.volumes[0], "big.txt", 1ull << 50);
    auto r = s.run("grep -c hit big.txt ok.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "ok.txt:1\n");
    EXPECT_EQ(r.errors, "grep: fs0:\\big.txt: out of memory\n");
}

TEST(TextWc, CountsRawBytes) {
    CommandShell s(text_commands());
    s.add_file("f.txt", "one two\tthree\r\n\x0b four\x0c\x0d" "five  \n\nsix");
    s.add_file("e.txt", "");
    s.add_file("sp.txt", "   \n");
    auto r = s.run("wc f.txt e.txt SP.TXT");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "       3        6       34 f.txt\n"
              "       0        0        0 e.txt\n"
              "       1        0        4 SP.TXT\n");
    // UCS-2 is not decoded: wc counts what is on the disk.
    s.add_file("u.txt", bytes("\xff\xfe" "a\0 \0b\0\n\0"));
    EXPECT_EQ(s.run("wc u.txt").out, "       1        3       10 u.txt\n");
    s.add_file("bin", bytes("\0\0\n\xff"));
    EXPECT_EQ(s.run("wc bin").out, "       1        2        4 bin\n");
}

TEST(TextWc, Failures) {
    CommandShell s(text_commands());
    s.add_file("a.txt", "a\n");
    s.add_file("big.txt", "x");
    sim::set_reported_size(s.fw, s.volumes[0], "big.txt", 1ull << 50);
    sim::add_directory(s.fw, s.volumes[0], "d");
    auto r = s.run("wc *.txt fs5:\\a d big.txt a.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "       1        1        2 a.txt\n");
    EXPECT_EQ(r.errors,
              "wc: fs0:\\*.txt: not found\n"
              "wc: fs5:\\a: not found\n"
              "wc: fs0:\\d: is a directory\n"
              "wc: fs0:\\big.txt: out of memory\n");
    s.expect_failure("wc", 2, "usage: wc FILE...\n");
}

namespace {

const char kStandardFormat[] =
    "ShellCommand,\"ls\"\n"
    "Table,\"a\",\"b\"\n"
    "  table , c ,x  \n"
    "ShellCommand,\"ls\"\n"
    "Table,\"d,e\" junk,\"f\"\"g\"\n"
    "Other,1\n"
    "\n"
    "TABLE\n";

}  // namespace

TEST(TextParse, ColumnsInstancesAndSections) {
    CommandShell s(text_commands());
    s.add_file("out.txt", kStandardFormat);
    auto r = s.run("parse out.txt Table 1");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "a\nc\nd,e\n");
    EXPECT_EQ(s.run("parse out.txt table 2").out, "b\nx\nf\"g\n");
    EXPECT_EQ(s.run("parse out.txt table 0").out, "Table\ntable\nTable\nTABLE\n");
    EXPECT_EQ(s.run("parse out.txt Table 1 -i 2").out, "c\n");
    EXPECT_EQ(s.run("parse -S 2 out.txt Table 1").out, "d,e\n");
    EXPECT_EQ(s.run("parse out.txt Table 2 -s 2 -I 1").out, "f\"g\n");
    EXPECT_EQ(s.run("parse out.txt shellcommand 1 -i 0x2").out, "ls\n");
    // A found line without the column prints nothing and still counts.
    r = s.run("parse out.txt Table 9");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    r = s.run("parse out.txt Table 1 -i 5");
    EXPECT_EQ(r.code, 127);
    r = s.run("parse out.txt Table 1 -s 3");
    EXPECT_EQ(r.code, 127);
    r = s.run("parse out.txt Nothing 1");
    EXPECT_EQ(r.code, 127);
    EXPECT_EQ(r.out, "");
}

TEST(TextParse, UcsTwoInput) {
    CommandShell s(text_commands());
    std::string u = "\xff\xfe";
    for (char c : std::string("T,\"v\"\r\n")) {
        u += c;
        u += '\0';
    }
    s.add_file("u.txt", u);
    EXPECT_EQ(s.run("parse u.txt t 1").out, "v\n");
}

TEST(TextParse, UsageAndFailures) {
    CommandShell s(text_commands());
    s.add_file("out.txt", kStandardFormat);
    for (const char* line :
         {"parse", "parse out.txt Table", "parse out.txt Table 1 2", "parse out.txt Table -1",
          "parse out.txt Table x", "parse out.txt Table 1 -i", "parse out.txt Table 1 -i 0",
          "parse out.txt Table 1 -s -2", "parse out.txt Table 99999999999999999999"}) {
        auto r = s.run(line);
        EXPECT_EQ(r.code, 2) << line;
        EXPECT_EQ(r.errors, "usage: parse FILE TABLE COLUMN [-i INSTANCE] [-s INSTANCE]\n") << line;
    }
    s.expect_failure("parse none.txt Table 1", 1, "parse: fs0:\\none.txt: not found\n");
}

TEST(TextParse, MalformedLinesAreReadSafely) {
    CommandShell s(text_commands());
    // Unclosed quotes, stray quotes, empty fields, zero bytes and lone commas.
    s.add_file("bad.txt", bytes("T,\"open\nT,a\"b,\"\"\nT,,\nT,\"x\"y\"z\",w\n,\nT\0z,q\nT, \"\"\"\"\n"));
    auto r = s.run("parse bad.txt T 1 > out.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(s.file_content("out.txt"), "open\na\"b\n\nx\n\"\n");
    EXPECT_EQ(s.run("parse bad.txt T 2").out, "\n\nw\n");
    // The zero byte belongs to the name: "T\0z" is not "T".
    EXPECT_EQ(s.run("parse bad.txt T 0 -i 6").code, 127);
}

TEST(TextParse, SplitLines) {
    sim::SimFirmware fw;
    {
    tarn::Vector<tarn::CsvField> fields;
    tarn::StringBuffer value;
    auto split = [&](const std::string& line) {
        tarn::split_csv_line(line.data(), line.size(), fields);
        std::string joined;
        for (size_t i = 0; i < fields.size(); i++) {
            tarn::csv_field_value(fields[i], value);
            joined += (i ? "|" : "") + std::string(value.c_str(), value.length);
        }
        return joined;
    };
    EXPECT_EQ(split(""), "");
    EXPECT_EQ(fields.size(), 1u);
    EXPECT_EQ(split(","), "|");
    EXPECT_EQ(split("  a  ,  b"), "a|b");
    EXPECT_EQ(split("\"a \"\"q\"\" b\" , c"), "a \"q\" b|c");
    EXPECT_EQ(split("\"unclosed, still"), "unclosed, still");
    EXPECT_EQ(split("\"ends with quote\"\""), "ends with quote\"");
    EXPECT_EQ(split("x\"y,z"), "x\"y|z");
    }
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(TextScan, AgreesWithPlainLoopsAtEveryAlignment) {
    // Blanks, line feeds, bytes with the high bit set whose low bits look like blanks,
    // and the bytes next to the blank range.
    const uint8_t alphabet[] = {' ', '\n', '\t', 0x0b, 0x0d, 0x08, 0x0e, 0x1f, 0x21, 'a', 'A',
                                0x89, 0x8a, 0xa0, 0x00, 0xff};
    uint64_t seed = 12345;
    auto next = [&] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(seed >> 33);
    };
    for (int round = 0; round < 400; round++) {
        std::vector<uint8_t> buf(next() % 70);
        for (auto& b : buf) b = alphabet[next() % sizeof alphabet];
        const uint64_t n = buf.size();
        uint64_t lines = 0, words = 0;
        bool in_word = false;
        for (uint8_t b : buf) {
            bool blank = b == ' ' || (b >= 9 && b <= 13);
            lines += b == '\n';
            words += !blank && !in_word;
            in_word = !blank;
        }
        tarn::TextCounts c = tarn::count_text(buf.data(), n);
        ASSERT_EQ(c.lines, lines) << round;
        ASSERT_EQ(c.words, words) << round;
        for (uint64_t from = 0; from <= n; from++) {
            uint8_t target = alphabet[next() % sizeof alphabet];
            uint64_t expect = n, count = 0, either = n;
            for (uint64_t i = from; i < n; i++) {
                if (buf[i] == target && expect == n) expect = i;
                if ((buf[i] == target || buf[i] == 'A') && either == n) either = i;
                count += buf[i] == target;
            }
            ASSERT_EQ(tarn::scan_for_byte(buf.data(), from, n, target), expect);
            ASSERT_EQ(tarn::scan_for_either(buf.data(), from, n, target, 'A'), either);
            ASSERT_EQ(tarn::count_bytes_equal(buf.data(), from, n, target), count);
        }
    }
}

TEST(TextGrep, LongLinesAndHitsAcrossWordBoundaries) {
    CommandShell s(text_commands());
    // Hits at every offset within eight-byte words, case folded and not.
    std::string text;
    for (int i = 0; i < 40; i++) text += std::string(i, 'n') + "NeEdLe" + std::string(i % 9, '.') + "\n";
    text += "needl\nneedle";
    s.add_file("t.txt", text);
    EXPECT_EQ(s.run("grep -c -i needle t.txt").out, "41\n");
    EXPECT_EQ(s.run("grep -c needle t.txt").out, "1\n");
    EXPECT_EQ(s.run("grep -n needle t.txt").out, "42:needle\n");
    EXPECT_EQ(s.run("grep -c -v -i needle t.txt").out, "1\n");
}

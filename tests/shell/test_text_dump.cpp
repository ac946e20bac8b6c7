// hexdump, comp and cmp over the simulated firmware.
#include "command_test.h"
#include "commands/files/text_commands.h"

using namespace tarn;
using namespace tarn_test;

namespace {

std::string sequence(int n, int first = 0) {
    std::string s;
    for (int i = 0; i < n; i++) s += static_cast<char>(first + i);
    return s;
}

}  // namespace

TEST(TextHexdump, FullAndShortLines) {
    CommandShell s(text_commands());
    s.add_file("f.bin", "0123456789abcdef" "ABCDEFGHIJKLMNOP" "\x01\x7f\x80 ~");
    auto r = s.run("hexdump -n 0x11 f.bin");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "00000000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|\n"
              "00000010  41                                                |A|\n");
    EXPECT_EQ(s.run("hexdump -s 30 f.bin").out,
              "0000001e  4f 50 01 7f 80 20 7e                              |OP... ~|\n");
    // Options repeat (the last wins) and come in any order.
    EXPECT_EQ(s.run("hexdump -n 1 -s 1 -n 2 f.bin").out,
              "00000001  31 32                                             |12|\n");
    EXPECT_EQ(s.run("hexdump -s 0x10 -n 16 f.bin").out,
              "00000010  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  |ABCDEFGHIJKLMNOP|\n");
    EXPECT_EQ(s.run("hexdump -n 0 f.bin").out, "");
}

TEST(TextHexdump, WholeFileAndEnds) {
    CommandShell s(text_commands());
    s.add_file("32.bin", sequence(32, 0x40));
    s.add_file("empty", "");
    std::string out = s.run("hexdump 32.bin").out;
    EXPECT_EQ(out,
              "00000000  40 41 42 43 44 45 46 47  48 49 4a 4b 4c 4d 4e 4f  |@ABCDEFGHIJKLMNO|\n"
              "00000010  50 51 52 53 54 55 56 57  58 59 5a 5b 5c 5d 5e 5f  |PQRSTUVWXYZ[\\]^_|\n");
    EXPECT_EQ(s.run("hexdump empty").out, "");
    // Starting at or past the end dumps nothing and is no error.
    auto r = s.run("hexdump -s 32 32.bin");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    r = s.run("hexdump -s 1000000 32.bin");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.errors, "");
}

TEST(TextHexdump, LongFileAcrossReadPieces) {
    CommandShell s(text_commands());
    std::string data;
    for (int i = 0; i < 5000; i++) data += static_cast<char>(i * 7);
    s.add_file("long.bin", data);
    s.run("hexdump -s 4090 long.bin > out.txt");
    std::string out = s.file_content("out.txt");
    // 910 bytes from 4090: 56 full lines and one of 14.
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 57);
    ASSERT_GT(out.size(), 80u);
    std::string last = out.substr(out.rfind('\n', out.size() - 2) + 1);
    char expect[16];
    snprintf(expect, sizeof expect, "0000137a  %02x ", static_cast<unsigned char>(data[4986]));
    EXPECT_EQ(last.substr(0, 13), expect);
    EXPECT_EQ(last.size(), 10u + 16 * 3 + 1 + 2 + 14 + 2);
    // Every line's offset follows from the one before.
    EXPECT_EQ(out.substr(0, 10), "00000ffa  ");
    EXPECT_EQ(out.substr(79, 10), "0000100a  ");
}

TEST(TextHexdump, UsageAndFailures) {
    CommandShell s(text_commands());
    s.add_file("f.bin", "x");
    sim::add_directory(s.fw, s.volumes[0], "d");
    for (const char* line : {"hexdump", "hexdump -s f.bin", "hexdump -s -1 f.bin", "hexdump -n x f.bin",
                             "hexdump f.bin f.bin", "hexdump f.bin -n 1", "hexdump -S 1 f.bin"}) {
        auto r = s.run(line);
        EXPECT_EQ(r.code, 2) << line;
        const std::string unknown = std::string(line).find("-S") != std::string::npos ? "hexdump: unknown option -S\n" : "";
        EXPECT_EQ(r.errors, unknown + "usage: hexdump [-s OFFSET] [-n LENGTH] FILE\n") << line;
    }
    auto r = s.expect_failure("hexdump d", 1, "hexdump: fs0:\\d: is a directory\n");
    r = s.run("hexdump nope");
    EXPECT_EQ(r.errors, "hexdump: fs0:\\nope: not found\n");
    r = s.run("hexdump fs4:\\nope");
    EXPECT_EQ(r.errors, "hexdump: fs4:\\nope: not found\n");
}

TEST(TextHexdump, ReadErrorAfterOutputIsReportedAfterClosing) {
    CommandShell s(text_commands());
    s.add_file("big.bin", std::string(10000, 'z'));
    sim::inject_file_error(s.fw, s.volumes[0], sim::FileOp::Read, tarn::efi::kDeviceError, 1);
    s.expect_failure("hexdump big.bin > out.txt", 1, "hexdump: fs0:\\big.bin: I/O error\n");
    std::string out = s.file_content("out.txt");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4096 / 16);
}

TEST(TextComp, DifferencesWithRuns) {
    CommandShell s(text_commands());
    s.add_file("a", "abcXYZdef");
    s.add_file("b", "abcxyZdeF");
    auto r = s.run("comp a b");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out,
              "Compare fs0:\\a to fs0:\\b\n"
              "Difference #1 at offset 0x3 (2 bytes)\n"
              "  file1: 58 59 5a 64 65 66  *XYZdef*\n"
              "  file2: 78 79 5a 64 65 46  *xyZdeF*\n"
              "Difference #2 at offset 0x8 (1 bytes)\n"
              "  file1: 66  *f*\n"
              "  file2: 46  *F*\n"
              "[difference(s) encountered]\n");
    EXPECT_EQ(s.run("comp -s 2 -N 1 a b").out,
              "Compare fs0:\\a to fs0:\\b\n"
              "Difference #1 at offset 0x3 (2 bytes)\n"
              "  file1: 58 59  *XY*\n"
              "  file2: 78 79  *xy*\n"
              "[difference(s) encountered]\n");
    // cmp stops at the first difference whatever -n says.
    EXPECT_EQ(s.run("cmp -n 5 -S 1 a b").out,
              "Compare fs0:\\a to fs0:\\b\n"
              "Difference #1 at offset 0x3 (2 bytes)\n"
              "  file1: 58  *X*\n"
              "  file2: 78  *x*\n"
              "[difference(s) encountered]\n");
}

TEST(TextComp, EqualFilesAndSizes) {
    CommandShell s(text_commands());
    std::string big(100000, 'q');
    s.add_file("x", big);
    s.add_file("y", big);
    s.add_file("short", big.substr(0, 99990));
    s.add_file("empty", "");
    auto r = s.run("comp x y");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Compare fs0:\\x to fs0:\\y\n[no differences encountered]\n");
    // Files differing only in length: just the sizes line.
    r = s.run("comp x short");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out,
              "Compare fs0:\\x to fs0:\\short\n"
              "Difference #1: sizes differ (100000 and 99990 bytes)\n"
              "[difference(s) encountered]\n");
    EXPECT_EQ(s.run("comp empty empty").code, 0);
    EXPECT_EQ(s.run("cmp empty x").out,
              "Compare fs0:\\empty to fs0:\\x\n"
              "Difference #1: sizes differ (0 and 100000 bytes)\n"
              "[difference(s) encountered]\n");
}

TEST(TextComp, LimitsAndTheSizesLine) {
    CommandShell s(text_commands());
    // A difference every other byte from 65536 on, in a long equal prefix.
    std::string a(70000, 'a'), b = a;
    for (size_t i = 65536; i < 65536 + 30; i += 2) b[i] = 'b';
    b += "tail";
    s.add_file("a", a);
    s.add_file("b", b);
    s.run("comp a b > out.txt");
    std::string out = s.file_content("out.txt");
    EXPECT_NE(out.find("Difference #1 at offset 0x10000 (1 bytes)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Difference #10 at offset 0x10012 (1 bytes)\n"), std::string::npos);
    EXPECT_EQ(out.find("Difference #11"), std::string::npos);
    s.run("comp -n ALL a b > out.txt");
    out = s.file_content("out.txt");
    EXPECT_NE(out.find("Difference #15 at offset 0x1001c (1 bytes)\n"), std::string::npos);
    EXPECT_NE(out.find("Difference #16: sizes differ (70000 and 70004 bytes)\n"), std::string::npos);
    // The bytes shown stop at the shorter file's end.
    s.add_file("c", "12345");
    s.add_file("d", "12X45678");
    EXPECT_EQ(s.run("comp c d").out,
              "Compare fs0:\\c to fs0:\\d\n"
              "Difference #1 at offset 0x2 (1 bytes)\n"
              "  file1: 33 34 35  *345*\n"
              "  file2: 58 34 35  *X45*\n"
              "Difference #2: sizes differ (5 and 8 bytes)\n"
              "[difference(s) encountered]\n");
    // With the limit reached the sizes are not counted.
    EXPECT_EQ(s.run("comp -n 1 c d").out.find("sizes differ"), std::string::npos);
}

TEST(TextComp, UsageAndFailures) {
    CommandShell s(text_commands());
    s.add_file("a", "x");
    sim::add_directory(s.fw, s.volumes[0], "d");
    for (const char* line : {"comp", "comp a", "comp a a a", "comp -n 0 a a", "comp -s 0 a a",
                             "comp -n a a", "comp a a -s", "comp -n -1 a a", "comp -s all a a"}) {
        auto r = s.run(line);
        EXPECT_EQ(r.code, 2) << line;
        EXPECT_EQ(r.errors, "usage: comp [-n COUNT|all] [-s BYTES] FILE1 FILE2\n") << line;
    }
    auto r = s.run("cmp a");
    EXPECT_EQ(r.errors, "usage: cmp [-s BYTES] FILE1 FILE2\n");
    // Both failing files are reported.
    r = s.run("comp nope fs3:\\x");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.errors, "comp: fs0:\\nope: not found\ncomp: fs3:\\x: not found\n");
    s.expect_failure("cmp d a", 1, "cmp: fs0:\\d: is a directory\n");
    s.add_file("big", "y");
    sim::set_reported_size(s.fw, s.volumes[0], "big", 1ull << 50);
    r = s.run("comp a big");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.errors, "comp: fs0:\\big: out of memory\n");
    // hexdump streams: a file larger than memory is no problem for it.
    EXPECT_EQ(s.run("hexdump big").out, "00000000  79                                                |y|\n");
}

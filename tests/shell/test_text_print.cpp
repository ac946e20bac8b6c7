// cat, type, more, head and tail over the simulated firmware.
#include "command_test.h"
#include "commands/files/text_commands.h"

using namespace tarn;
using namespace tarn_test;

namespace {

std::string ucs2(const std::u16string& text, bool bom = true) {
    std::string out;
    if (bom) out += "\xff\xfe";
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xff);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

}  // namespace

TEST(TextCat, Ucs2WithCrlfPrintsAsUtf8WithLineFeeds) {
    CommandShell s(text_commands());
    s.add_file("u.txt", ucs2(u"Gr\u00fc\u00dfe\r\nline 2\r\n\u20ac"));
    auto r = s.run("cat u.txt > out.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(s.file_content("out.txt"), "Gr\xc3\xbc\xc3\x9f" "e\nline 2\n\xe2\x82\xac");
    // An odd last byte of a UCS-2 file is no unit.
    s.add_file("odd.txt", ucs2(u"ab") + "x");
    s.run("cat odd.txt > out.txt");
    EXPECT_EQ(s.file_content("out.txt"), "ab");
}

TEST(TextCat, Utf8BomAndCarriageReturnsAreDropped) {
    CommandShell s(text_commands());
    s.add_file("b.txt", "\xef\xbb\xbfone\r\ntw\ro\n");
    s.run("cat b.txt > out.txt");
    EXPECT_EQ(s.file_content("out.txt"), "one\ntwo\n");
    // Two bytes that only start a byte order mark stay.
    s.add_file("short.txt", "\xef\xbb");
    s.run("cat short.txt > out.txt");
    EXPECT_EQ(s.file_content("out.txt"), "\xef\xbb");
}

TEST(TextCat, FinalLineFeedAddedOnTheConsoleOnly) {
    CommandShell s(text_commands());
    s.add_file("a.txt", "no newline");
    s.add_file("e.txt", "");
    auto r = s.run("cat a.txt e.txt a.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "no newline\nno newline\n");
    s.run("cat a.txt a.txt > out.txt");
    EXPECT_EQ(s.file_content("out.txt"), "no newlineno newline");
}

TEST(TextCat, BinaryBytesPassThroughUnchanged) {
    CommandShell s(text_commands());
    std::string bytes;
    for (int i = 0; i < 256; i++)
        if (i != '\r') bytes += static_cast<char>(i);
    s.add_file("bin.dat", bytes);
    EXPECT_EQ(s.run("cat bin.dat > out.bin").code, 0);
    EXPECT_EQ(s.file_content("out.bin"), bytes);
}

TEST(TextCat, OptionsAndUsage) {
    CommandShell s(text_commands());
    s.add_file("a.txt", "A\n");
    s.add_file("-x", "dash\n");
    EXPECT_EQ(s.run("cat -A -u a.txt").out, "A\n");
    // After the first file every argument is a file, whatever it looks like.
    EXPECT_EQ(s.run("cat a.txt -x").out, "A\ndash\n");
    auto r = s.expect_failure("cat -a", 2, "usage: cat [-a|-u] FILE...\n");
    s.expect_failure("type", 2, "usage: type [-a|-u] FILE...\n");
    EXPECT_EQ(s.run("TYPE a.txt").out, "A\n");
}

TEST(TextCat, PatternsAndFailures) {
    CommandShell s(text_commands());
    s.add_file("b.txt", "B\n");
    s.add_file("a.txt", "A\n");
    s.add_file("c.log", "C\n");
    sim::add_directory(s.fw, s.volumes[0], "d.txt");
    auto r = s.run("cat *.txt c.log");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "A\nB\nC\n");
    EXPECT_EQ(r.errors, "cat: fs0:\\d.txt: is a directory\n");

    // A name that does not exist stops the command before anything is printed.
    r = s.run("cat a.txt nope.txt b.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.errors, "cat: nope.txt: not found\n");
    s.expect_failure("cat *.none", 1, "cat: *.none: no match\n");
    r = s.run("type fs7:\\a.txt");
    EXPECT_EQ(r.errors, "type: fs7:\\a.txt: invalid path or volume\n");
}

TEST(TextCat, FileLargerThanMemoryIsReportedAndTheNextOnePrinted) {
    CommandShell s(text_commands());
    s.add_file("big.txt", "small really\n");
    s.add_file("ok.txt", "fine\n");
    sim::set_reported_size(s.fw, s.volumes[0], "big.txt", 1ull << 50);
    auto r = s.run("cat big.txt ok.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "fine\n");
    EXPECT_EQ(r.errors, "cat: fs0:\\big.txt: out of memory\n");
    for (const char* cmd : {"head", "tail", "more"}) {
        r = s.run(std::string(cmd) + " big.txt");
        EXPECT_EQ(r.code, 1) << cmd;
        EXPECT_EQ(r.errors, std::string(cmd) + ": fs0:\\big.txt: out of memory\n");
    }
}

TEST(TextCat, ReadErrorIsReported) {
    CommandShell s(text_commands());
    s.add_file("a.txt", "A\n");
    sim::inject_file_error(s.fw, s.volumes[0], sim::FileOp::Read, tarn::efi::kDeviceError);
    auto r = s.run("cat a.txt a.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "A\n");
    EXPECT_EQ(r.errors, "cat: fs0:\\a.txt: I/O error\n");
}

TEST(TextCat, CtrlCStopsBetweenFiles) {
    CommandShell s(text_commands());
    s.add_file("a.txt", "A\n");
    s.fw.advance_us(100000);  // the keyboard is polled at most every 50 ms
    s.fw.push_key(3);
    auto r = s.run("cat a.txt a.txt");
    EXPECT_EQ(r.code, 130);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.errors, "^C\n");
}

namespace {

std::string numbered(int n) {
    std::string text;
    for (int i = 1; i <= n; i++) text += "line " + std::to_string(i) + "\n";
    return text;
}

}  // namespace

TEST(TextMore, PagesEvenWhenThePagerIsOff) {
    CommandShell s(text_commands());
    s.add_file("long.txt", numbered(30));
    s.check_each_run = false;
    s.run("set pager off");  // keeps the variable: not a leak
    s.check_each_run = true;
    s.fw.push_key(u'\r');  // one more line
    s.fw.push_key(u'q');   // and stop
    auto r = s.run("more long.txt");
    EXPECT_EQ(r.code, 0);  // leaving the pager is no interruption
    EXPECT_EQ(r.errors, "");
    EXPECT_NE(r.out.find("line 24\n-- More -- (Enter: one line, Space: one page, q: stop) "),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line 25\n"), std::string::npos);
    EXPECT_EQ(r.out.find("line 26"), std::string::npos);
    EXPECT_EQ(s.fw.pending_keys(), 0u);

    // cat with the pager off writes everything without asking.
    r = s.run("cat long.txt");
    EXPECT_NE(r.out.find("line 30\n"), std::string::npos);
    EXPECT_EQ(r.out.find("-- More --"), std::string::npos);
}

TEST(TextMore, SpaceShowsTheRestAndRedirectionIsNotPaged) {
    CommandShell s(text_commands());
    s.add_file("long.txt", numbered(30));
    s.fw.push_key(u' ');
    auto r = s.run("more long.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("line 30\n"), std::string::npos);
    s.run("more long.txt > copy.txt");
    EXPECT_EQ(s.file_content("copy.txt"), numbered(30));
    EXPECT_EQ(s.fw.pending_keys(), 0u);
}

TEST(TextHead, Lines) {
    CommandShell s(text_commands());
    s.add_file("12.txt", numbered(12));
    s.add_file("nofinal.txt", "a\nb\nc");
    s.add_file("crlf.txt", "x\r\ny\r\n");
    EXPECT_EQ(s.run("head 12.txt").out, numbered(10));
    EXPECT_EQ(s.run("head -n 2 12.txt").out, "line 1\nline 2\n");
    EXPECT_EQ(s.run("head -n 0x3 12.txt").out, numbered(3));
    EXPECT_EQ(s.run("head -n 100 nofinal.txt").out, "a\nb\nc\n");
    EXPECT_EQ(s.run("head -n 1 crlf.txt").out, "x\n");
    auto r = s.run("head -n 0 12.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    // The added line feed goes into a redirected copy too.
    s.run("head -n 3 nofinal.txt > out.txt");
    EXPECT_EQ(s.file_content("out.txt"), "a\nb\nc\n");
}

TEST(TextHead, BinaryBytesAreCountedNotCut) {
    CommandShell s(text_commands());
    s.add_file("bin", bytes("a\0b\nc\0\0\nd"));
    s.run("head -n 1 bin > out");
    EXPECT_EQ(s.file_content("out"), bytes("a\0b\n"));
    s.run("tail -n 1 bin > out");
    EXPECT_EQ(s.file_content("out"), "d\n");
    s.run("tail -n 2 bin > out");
    EXPECT_EQ(s.file_content("out"), bytes("c\0\0\nd\n"));
}

TEST(TextTail, Lines) {
    CommandShell s(text_commands());
    s.add_file("3.txt", "one\ntwo\nthree");
    s.add_file("12.txt", numbered(12));
    s.add_file("lf.txt", "\n");
    s.add_file("blank.txt", "a\n\n\n");
    s.add_file("empty.txt", "");
    EXPECT_EQ(s.run("tail 3.txt").out, "one\ntwo\nthree\n");
    EXPECT_EQ(s.run("tail 12.txt").out, numbered(12).substr(std::string("line 1\nline 2\n").size()));
    EXPECT_EQ(s.run("tail -n 1 12.txt").out, "line 12\n");
    EXPECT_EQ(s.run("tail -n 1 3.txt").out, "three\n");
    EXPECT_EQ(s.run("tail -n 1 lf.txt").out, "\n");
    EXPECT_EQ(s.run("tail -n 2 blank.txt").out, "\n\n");
    EXPECT_EQ(s.run("tail -n 0 12.txt").out, "");
    EXPECT_EQ(s.run("tail empty.txt").out, "");
    EXPECT_EQ(s.run("tail -n &b11 12.txt").out, "line 10\nline 11\nline 12\n");
}

TEST(TextHeadTail, UsageAndFailures) {
    CommandShell s(text_commands());
    s.add_file("a.txt", "A\n");
    sim::add_directory(s.fw, s.volumes[0], "d");
    for (const char* line : {"head", "head a.txt a.txt", "head -n", "head -n -1 a.txt",
                             "head -n x a.txt", "head -n 99999999999999999999 a.txt",
                             "head -n 0x8000000000000000 a.txt", "head a.txt -n 2",
                             "tail -n 1", "tail -N 1 a.txt"}) {
        auto r = s.run(line);
        EXPECT_EQ(r.code, 2) << line;
        EXPECT_EQ(r.out, "") << line;
        std::string cmd = std::string(line).substr(0, 4);
        const std::string unknown = std::string(line).find("-N") != std::string::npos ? cmd + ": unknown option -N\n" : "";
        EXPECT_EQ(r.errors, unknown + "usage: " + cmd + " [-n N] FILE\n") << line;
    }
    EXPECT_EQ(s.run("head -n 0x7fffffffffffffff a.txt").out, "A\n");
    auto r = s.expect_failure("head nope.txt", 1, "head: fs0:\\nope.txt: not found\n");
    s.expect_failure("tail fs9:x", 1, "tail: fs9:x: not found\n");
    s.expect_failure("tail d", 1, "tail: fs0:\\d: is a directory\n");
}

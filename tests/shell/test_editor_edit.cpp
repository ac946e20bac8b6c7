// edit over the simulated console: keys typed, the file on the volume checked byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "command_test.h"
#include "editor_keys.h"

using namespace tarn_test;

namespace {

std::string ucs2(const std::string& ascii) {
    std::string out("\xff\xfe", 2);
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string numbered_lines(int n) {
    std::string s;
    for (int i = 1; i <= n; i++) s += "L" + std::to_string(i) + "\n";
    return s;
}

struct EditCase {
    const char* name;
    std::string initial;  // kMissing: the file does not exist
    std::string keys;
    std::string expected;  // the file afterwards
    const char* shown = nullptr;  // a text the screen showed on the way
};

const char* const kMissing = "<missing>";

const EditCase kEditCases[] = {
    {"new file ends each line", kMissing, "hi{Enter}there{^S}{^Q}", "hi\nthere\n", "New file"},
    {"no final line end kept", "a\nb", "{End}x{^S}{^Q}", "ax\nb", "2 lines read"},
    {"blank last line kept", "a\n\n", "x{F2}{F3}", "xa\n\n", "2 lines written"},
    {"backspace at the very start", "a\nb", "{BS}{^S}{^Q}", "a\nb"},
    {"delete at the very end", "a\nb", "{Down}{End}{Del}{^S}{^Q}", "a\nb"},
    {"backspace joins lines", "ab\ncd", "{Down}{BS}X{^S}{^Q}", "abXcd"},
    {"delete joins lines", "ab\ncd\n", "{End}{Del}{^S}{^Q}", "abcd\n"},
    {"enter splits", "abcd", "{Right}{Right}{Enter}{^S}{^Q}", "ab\ncd"},
    {"tab inserts spaces", "x\ty", "{Tab}{^S}{^Q}", "    x\ty"},
    {"left wraps to the previous end", "ab\ncd", "{Down}{Left}X{^S}{^Q}", "abX\ncd"},
    {"right wraps to the next start", "ab\ncd", "{End}{Right}X{^S}{^Q}", "ab\nXcd"},
    {"up stays on the first line", "ab\ncd", "{Up}{Up}{Right}X{^S}{^Q}", "aXb\ncd"},
    {"down stays on the last line", "ab\ncd", "{Down}{Down}X{^S}{^Q}", "ab\nXcd"},
    {"column clamped on a short line", "abcdef\nx\nabcdef", "{End}{Down}{Down}X{^S}{^Q}", "abcdef\nx\naXbcdef"},
    {"home and end", "abc", "{End}1{Home}2{^S}{^Q}", "2abc1"},
    {"insert does nothing", "abc", "{Ins}{^S}{^Q}", "abc"},
    {"page down and up", numbered_lines(30), "{PgDn}X{PgDn}Y{PgUp}{Home}Z{^S}{^Q}", ""},
    {"three cuts then paste", "1\n2\n3\n4\n", "{^K}{^K}{^K}{^U}{^S}{^Q}", "1\n2\n3\n4\n"},
    {"cut after another key starts a block", "1\n2\n3\n", "{F6}{Down}{F6}{Up}{F7}{^S}{^Q}", "3\n2\n"},
    {"paste repeats", "a\nb\n", "{^K}{^U}{^U}{^S}{^Q}", "a\na\nb\n"},
    {"cutting the only line", "a", "{^K}{^S}{^Q}", ""},
    {"find wraps to the cursor line", "xab\nc\n", "{End}{^F}ab{Enter}Z{^S}{^Q}", "xZab\nc\n"},
    {"find goes to later lines", "one\ntwo\nthree\n", "{F4}o{Enter}{^N}{F10}Z{^S}{^Q}", "one\ntwZo\nthree\n"},
    {"find next without a search asks", "a1a2a3", "{^N}a{Enter}{^N}X{^S}{^Q}", "a1a2Xa3"},
    {"find is case-sensitive", "A a", "{^F}a{Enter}X{^S}{^Q}", "A Xa"},
    {"find not found", "abc", "{^F}zz{Enter}X{^S}{^Q}", "Xabc", "Not found: zz"},
    {"find cancelled", "abc", "{^F}b{Esc}X{^S}{^Q}", "Xabc"},
    {"find offers the last text", "ab ab ab", "{^F}ab{Enter}{^F}{Enter}X{^S}{^Q}", "ab ab Xab", "[ab]"},
    {"replace all", "a.a.a\na\n", "{^R}a{Enter}bb{Enter}a{^S}{^Q}", "bb.bb.bb\nbb\n", "4 replaced"},
    {"replace yes no yes", "aaa", "{^R}a{Enter}X{Enter}yny{^S}{^Q}", "XaX", "2 replaced"},
    {"replace stopped by esc", "aaa", "{F5}a{Enter}X{Enter}y{Esc}{^S}{^Q}", "Xaa", "1 replaced"},
    {"replace with an empty text deletes", "a-b-c", "{^R}-{Enter}{Enter}a{^S}{^Q}", "abc"},
    {"replace with an empty search cancels", "abc", "{^R}{Enter}X{^S}{^Q}", "Xabc"},
    {"replace wraps to before the start", "ab ab", "{End}{Left}{Left}{^R}ab{Enter}X{Enter}a{^S}{^Q}", "X X",
     "2 replaced"},
    {"replace inserting the search text", "aa", "{^R}a{Enter}aa{Enter}a{^S}{^Q}", "aaaa", "2 replaced"},
    {"go to line", "1\n2\n3\n", "{^G}2{Enter}X{^S}{^Q}", "1\nX2\n3\n"},
    {"go to a line past the end", "1\n2\n3\n", "{F1}99{Enter}X{^S}{^Q}", "1\n2\nX3\n"},
    {"go to ignores zero", "1\n2\n", "{Down}{^G}0{Enter}X{^S}{^Q}", "1\nX2\n"},
    {"exit unsaved with no", "a", "x{^Q}n", "a", "File modified. Save it?"},
    {"exit saving with yes", "a", "x{^Q}y", "xa"},
    {"exit saving with s", "a", "x{Esc}S", "xa"},
    {"exit cancelled then saved", "a", "x{F3}c{^Q}{Esc}{^S}{^Q}", "xa"},
    {"switch to UCS-2", "ab\n", "{^T}{^S}{^Q}", ucs2("ab\n"), "UCS-2"},
    {"switch back to UTF-8", bytes("\xff\xfe" "a\0\r\0\n\0"), "{F9}{^S}{^Q}", "a\r\n", "UCS-2 CRLF"},
    {"ucs2 crlf unchanged", bytes("\xff\xfe" "a\0\r\0\n\0b\0"), "{^S}{^Q}", ucs2("a\r\nb")},
    {"ucs2 crlf one line changed", bytes("\xff\xfe" "a\0\r\0\n\0b\0\r\0\n\0"), "{Down}X{^S}{^Q}", ucs2("a\r\nXb\r\n")},
    {"latin-1 byte kept", "caf\xe9\nline\n", "{Down}X{^S}{^Q}", "caf\xe9\nXline\n"},
    {"mark kept", "\xef\xbb\xbfx\r\n", "{End}y{^S}{^Q}", "\xef\xbb\xbfxy\r\n"},
    {"help and back", "abc", "{^E} X{^S}{^Q}", "Xabc", "TARN edit - keys"},
};

std::string case_name(const ::testing::TestParamInfo<EditCase>& info) {
    std::string n = info.param.name;
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

class EditKeys : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditKeys, LeavesTheExpectedFile) {
    const EditCase& c = GetParam();
    CommandShell sh(text_commands());
    std::string expected = c.expected;
    if (std::string(c.name) == "page down and up") {
        // 25 rows give 22 text rows a page: L23 gains a letter at column 0, the last line
        // L30 one at column 1 (the column is kept), and a page up from it lands on L8.
        expected = numbered_lines(30);
        expected.replace(expected.find("L8\n"), 3, "ZL8\n");
        expected.replace(expected.find("L23\n"), 4, "XL23\n");
        expected.replace(expected.find("L30\n"), 4, "LY30\n");
    }
    if (c.initial != kMissing) sh.add_file("a.txt", c.initial);
    type_keys(sh.fw, c.keys);
    RunResult r = sh.run("edit a.txt");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(sh.fw.pending_keys(), 0u);
    EXPECT_EQ(sh.file_content("a.txt"), expected);
    EXPECT_FALSE(sh.exists("a.txt.tarn-save"));  // the save's temporary file is gone
    if (c.shown) EXPECT_NE(sh.screen().transcript().find(c.shown), std::string::npos) << c.shown;
    EXPECT_EQ(sh.screen().text(), "");  // the screen is cleared on the way out
}

INSTANTIATE_TEST_SUITE_P(Edit, EditKeys, ::testing::ValuesIn(kEditCases), case_name);

}  // namespace

namespace {

TEST(Edit, RefusedSaveKeepsTheFileAndTheChanges) {
    CommandShell sh;
    sh.add_file("a.txt", "keep\n");
    sim::fail_writes_after(sh.fw, sh.boot_volume(), 0);
    // The save fails; exit still asks, and "y" (failing again) stays in the editor.
    type_keys(sh.fw, "x{^S}{^Q}y{^Q}n");
    RunResult r = sh.run("edit a.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(sh.fw.pending_keys(), 0u);
    const std::string& t = sh.screen().transcript();
    EXPECT_NE(t.find("Save failed: "), std::string::npos);
    EXPECT_NE(t.find("[modified]"), std::string::npos);
    sim::fail_writes_after(sh.fw, sh.boot_volume(), -1);
    EXPECT_EQ(sh.file_content("a.txt"), "keep\n");
    EXPECT_FALSE(sh.exists("a.txt.tarn-save"));
}

TEST(Edit, ArgumentAndLoadErrors) {
    CommandShell sh;
    sh.add_directory("dir");
    sh.add_file("big.txt", "x");
    sim::set_reported_size(sh.fw, sh.boot_volume(), "big.txt", 1ull << 62);
    const struct {
        const char* line;
        int code;
        const char* error;
    } kCases[] = {
        {"edit", 2, "usage: edit FILE"},
        {"edit a b", 2, "usage: edit FILE"},
        {"edit fs9:\\x", 1, "edit: fs9:\\x: invalid path\n"},
        {"edit dir", 1, "edit: fs0:\\dir: "},
        {"edit big.txt", 1, "edit: fs0:\\big.txt: "},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.line);
        RunResult r = sh.run(c.line);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.errors.find(c.error), std::string::npos) << r.errors;
    }
}

}  // namespace

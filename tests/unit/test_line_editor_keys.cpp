// The line editor over the simulated console: keys in, screen cells out.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/entry.h"
#include "shell/history.h"
#include "shell/line_editor.h"
#include "shell/registry.h"
#include "sim.h"
#include "uefi/guids.h"

using namespace tarn;

namespace {

constexpr uint16_t kUp = 1, kDown = 2, kRight = 3, kLeft = 4, kHome = 5, kEnd = 6, kDel = 8;
constexpr uint16_t kInsert = 7, kPageUp = 9, kF1 = 0x0b;
constexpr uint32_t kCtrl = efi::kShiftStateValid | efi::kLeftControlPressed;
constexpr uint32_t kAlt = efi::kShiftStateValid | efi::kLeftAltPressed;

int nop(int, char**) { return 0; }
const CommandDescriptor kCommands[] = {
    {"map", nop, nullptr, "", nullptr, 0},     {"mkdir", nop, nullptr, "", nullptr, 0},
    {"mode", nop, nullptr, "", nullptr, 0},    {"memmap", nop, nullptr, "", nullptr, 0},
    {"cls", nop, nullptr, "", nullptr, 0},     {"cd", nop, nullptr, "", nullptr, 0},
    {"mkimage", nop, nullptr, "", nullptr, 0},
};

// Fake volumes and directories for completion.
struct Entry {
    std::string name;
    bool dir;
};
std::vector<std::string> g_volumes;
std::map<std::string, std::vector<Entry>> g_dirs;  // key: directory as typed ("" = current)
std::vector<std::string> g_listed;                 // directories asked for

uint64_t fake_volume_count() { return g_volumes.size(); }
const char* fake_volume_name(uint64_t i) { return i < g_volumes.size() ? g_volumes[i].c_str() : nullptr; }
bool fake_list(const char* directory, DirectoryVisitor visit, void* context) {
    g_listed.push_back(directory);
    auto it = g_dirs.find(directory);
    if (it == g_dirs.end()) return false;
    for (auto& e : it->second) visit(context, e.name.c_str(), e.dir);
    return true;
}
constexpr CompletionSources kFakeSources = {fake_volume_count, fake_volume_name, fake_list};

// A picture of the screen taken by a timer while the editor waits for the next key.
std::optional<sim::Screen> g_shot;
void EFIAPI take_shot(efi::Event, void*) {
    if (!g_shot) g_shot = sim::SimFirmware::current()->screen();
}

class LineEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset_history_state();
        set_history_file_ops(nullptr);
        set_completion_sources(nullptr);
        g_volumes.clear();
        g_dirs.clear();
        g_listed.clear();
        g_shot.reset();
    }
    void TearDown() override {
        if (shot_timer_) fw.system_table()->boot_services->close_event(shot_timer_);
        set_completion_sources(nullptr);
        reset_history_state();
        g_shot.reset();
    }

    // Takes a picture of the screen once the keys pushed so far have been handled: a
    // timer fires half a second later, while the editor waits for a non-key that comes
    // after a second.
    void snapshot() {
        auto* bs = fw.system_table()->boot_services;
        ASSERT_EQ(bs->create_event(efi::kEvtTimer | efi::kEvtNotifySignal, efi::kTplCallback, take_shot,
                                   nullptr, &shot_timer_), 0u);
        ASSERT_EQ(bs->set_timer(shot_timer_, efi::kTimerRelative, 5000000), 0u);
        fw.push_key(0, 0, 0, 1000000);
    }
    const sim::Screen& shot() {
        static sim::Screen none;
        EXPECT_TRUE(g_shot.has_value()) << "no snapshot was taken";
        return g_shot ? *g_shot : none;
    }
    std::string shot_row(uint64_t r) { return shot().row_text(r); }
    efi::Event shot_timer_ = nullptr;

    // Sets a narrow screen so that wrapping is easy to see.
    void narrow(uint64_t columns, uint64_t rows) {
        fw.set_text_modes({{80, 25}, {columns, rows}});
        fw.set_current_mode(1);
    }
    // Extended input, so that Ctrl and Alt reach the editor as modifiers.
    void extended_input() { firmware().con_in_ex = find_input_ex(); }
    efi::SimpleTextInputEx* find_input_ex() {
        void* iface = nullptr;
        auto* bs = fw.system_table()->boot_services;
        bs->handle_protocol(fw.system_table()->console_in_handle,
                            const_cast<efi::Guid*>(&efi::kSimpleTextInputExProtocolGuid), &iface);
        return static_cast<efi::SimpleTextInputEx*>(iface);
    }

    void key(char16_t ch, uint32_t shift = 0) { fw.push_key(ch, 0, shift); }
    void scan(uint16_t code, uint32_t shift = 0, int times = 1) {
        for (int i = 0; i < times; i++) fw.push_key(0, code, shift);
    }
    void ctrl(char letter) { fw.push_key(static_cast<char16_t>(letter - 'a' + 1)); }

    // Runs read_line; nullopt for "none".
    std::optional<std::string> read(const char* prompt = "> ", bool history = true) {
        std::optional<std::string> out;
        auto r = fw.run([&] {
            char* line = read_line(prompt, history);
            if (line) {
                out = std::string(line);
                release(line);
            }
        });
        EXPECT_FALSE(r.stuck) << r.message;
        return out;
    }
    std::string row(uint64_t r) { return fw.screen().row_text(r); }

    sim::SimFirmware fw;
};

// ---------------------------------------------------------------------------- typing

TEST_F(LineEditorTest, TypedLineIsReturnedAndShown) {
    fw.push_text("hello world\r");
    EXPECT_EQ(read(), "hello world");
    EXPECT_EQ(row(0), "> hello world");
    EXPECT_EQ(fw.screen().cursor_row(), 1u);
    EXPECT_EQ(fw.screen().cursor_column(), 0u);
    history_clear();
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST_F(LineEditorTest, LineFeedAlsoAccepts) {
    fw.push_text("  ls  \n");
    EXPECT_EQ(read(), "  ls  ");
}

TEST_F(LineEditorTest, PromptStartsWhereTheCursorIs) {
    fw.set_text_modes({{80, 25}});
    fw.run([] { console_write_text("abc"); });
    fw.push_text("xy");
    scan(kHome);
    key(u'Q');
    fw.push_text("\r");
    EXPECT_EQ(read("p> "), "Qxy");
    EXPECT_EQ(row(0), "abcp> Qxy");
}

TEST_F(LineEditorTest, NonAsciiCharactersTakeOneCellEach) {
    key(u'\u00e9');
    key(u'\u4e2d');
    key(u'x');
    scan(kLeft, 0, 2);
    key(u'!');
    fw.push_text("\r");
    EXPECT_EQ(read(), "\u00e9!\u4e2dx");
}

// ---------------------------------------------------------------------------- wrapping

TEST_F(LineEditorTest, EditingInTheMiddleOfAWrappedLine) {
    narrow(20, 10);
    fw.push_text("abcdefghijklmnopqrstuvwxyz0123");
    scan(kLeft, 0, 12);  // before 's', the first cell of the second row
    fw.push_text("XY");
    snapshot();
    scan(kLeft, 0, 3);  // back across the wrap, on 'r'
    key(8);             // deletes 'q': the second row shifts left by one
    fw.push_text("\r");
    EXPECT_EQ(read(), "abcdefghijklmnoprXYstuvwxyz0123");
    EXPECT_EQ(shot_row(0), "> abcdefghijklmnopqr");
    EXPECT_EQ(shot_row(1), "XYstuvwxyz0123");
    EXPECT_EQ(shot().cursor_row(), 1u);
    EXPECT_EQ(shot().cursor_column(), 2u);
    EXPECT_EQ(row(0), "> abcdefghijklmnoprX");
    EXPECT_EQ(row(1), "Ystuvwxyz0123");
    EXPECT_EQ(row(2), "");
}

TEST_F(LineEditorTest, CursorCrossesTheWrapOnTheRightCell) {
    narrow(20, 10);
    fw.push_text("abcdefghijklmnopqrstuvwxyz0123");
    scan(kLeft, 0, 13);  // on 'r', last cell of the first row
    snapshot();
    fw.push_text("\r");
    read();
    EXPECT_EQ(shot().cursor_row(), 0u);
    EXPECT_EQ(shot().cursor_column(), 19u);

    g_shot.reset();
    fw.system_table()->boot_services->close_event(shot_timer_);
    shot_timer_ = nullptr;
    fw.push_text("abcdefghijklmnopqrstuvwxyz0123");
    scan(kHome);
    scan(kRight, 0, 18);  // on 's', first cell of the second row of this line
    snapshot();
    fw.push_text("\r");
    read();
    EXPECT_EQ(shot_row(2), "> abcdefghijklmnopqr");
    EXPECT_EQ(shot().cursor_row(), 3u);
    EXPECT_EQ(shot().cursor_column(), 0u);
}

TEST_F(LineEditorTest, DeletingFromATwoRowLineBlanksTheLeftovers) {
    narrow(20, 10);
    fw.push_text("abcdefghijklmnopqrstuvwxyz0123");
    scan(kHome);
    scan(kDel, 0, 5);
    snapshot();
    ctrl('k');
    fw.push_text("\r");
    EXPECT_EQ(read(), "");
    EXPECT_EQ(shot_row(0), "> fghijklmnopqrstuvw");
    EXPECT_EQ(shot_row(1), "xyz0123");  // the rest of the old text was blanked
    EXPECT_EQ(shot().cursor_column(), 2u);
    EXPECT_EQ(row(0), ">");
    EXPECT_EQ(row(1), "");
}

TEST_F(LineEditorTest, TypingAtTheBottomScrollsAndKeepsTheLine) {
    narrow(20, 5);
    fw.run([] { console_write_text("1\n2\n3\n4\n"); });  // cursor on the last row
    fw.push_text("abcdefghijklmnopqrstuvwxyz");
    scan(kLeft, 0, 8);  // on 's'
    key(u'_');
    snapshot();
    fw.push_text("\r");
    EXPECT_EQ(read(), "abcdefghijklmnopqr_stuvwxyz");
    EXPECT_EQ(shot_row(2), "4");
    EXPECT_EQ(shot_row(3), "> abcdefghijklmnopqr");
    EXPECT_EQ(shot_row(4), "_stuvwxyz");
    EXPECT_EQ(shot().cursor_row(), 4u);
    EXPECT_EQ(shot().cursor_column(), 1u);
}

TEST_F(LineEditorTest, LineExactlyFillingARowPutsTheCursorOnTheNext) {
    narrow(20, 5);
    fw.run([] { console_write_text("1\n2\n3\n4\n"); });
    fw.push_text("abcdefghijklmnopqr");  // 2 + 18 = 20 cells
    snapshot();
    key(8);
    key(u'R');
    key(u'S');
    fw.push_text("\r");
    EXPECT_EQ(read(), "abcdefghijklmnopqRS");
    EXPECT_EQ(shot_row(3), "> abcdefghijklmnopqr");
    EXPECT_EQ(shot().cursor_row(), 4u);
    EXPECT_EQ(shot().cursor_column(), 0u);
    EXPECT_EQ(row(2), "> abcdefghijklmnopqR");
    EXPECT_EQ(row(3), "S");
}

// ---------------------------------------------------------------------------- keys

TEST_F(LineEditorTest, BackspaceDelAndDeleteKeys) {
    fw.push_text("abcdef");
    key(8);      // Backspace as the serial line sends it
    key(0x7f);   // DEL deletes before the cursor too
    scan(kLeft, 0, 2);
    scan(kDel);  // Delete (scan 8) under the cursor
    ctrl('d');   // Ctrl-D too
    fw.push_text("\r");
    EXPECT_EQ(read(), "ab");
}

TEST_F(LineEditorTest, BackspaceAtStartAndDeleteAtEndDoNothing) {
    fw.push_text("ab");
    scan(kDel);
    ctrl('d');
    scan(kHome);
    key(8);
    fw.push_text("\r");
    EXPECT_EQ(read(), "ab");
}

TEST_F(LineEditorTest, ControlLetterMovesAndKills) {
    fw.push_text("hello world");
    ctrl('a');
    key(u'[');
    ctrl('e');
    key(u']');
    ctrl('b');
    ctrl('b');
    key(u'#');
    ctrl('f');
    key(u'$');
    fw.push_text("\r");
    EXPECT_EQ(read(), "[hello worl#d$]");

    fw.push_text("one two three");
    scan(kLeft, 0, 5);
    ctrl('k');
    fw.push_text("\r");
    EXPECT_EQ(read(), "one two ");

    fw.push_text("one two three");
    scan(kLeft, 0, 5);
    ctrl('u');
    fw.push_text("\r");
    EXPECT_EQ(read(), "three");
}

TEST_F(LineEditorTest, CtrlWDeletesSpacesThenTheWordBefore) {
    fw.push_text("cp fs0:\\a\\b.txt   ");
    ctrl('w');
    fw.push_text("X\r");
    EXPECT_EQ(read(), "cp X");
}

TEST_F(LineEditorTest, WordMotionWithCtrlArrowsAndAltLetters) {
    extended_input();
    fw.push_text("cd fs0:\\efi\\boot \"a b\"");
    scan(kLeft, kCtrl);  // skips the quote: before b
    key(u'1');
    scan(kLeft, kCtrl);  // before 1b
    scan(kLeft, kCtrl);  // before a
    key(u'2');
    key(u'b', kAlt);     // before 2a
    key(u'b', kAlt);     // skips quote and space: before boot
    key(u'3');
    scan(kHome);
    scan(kRight, kCtrl);  // after cd
    key(u'4');
    key(u'f', kAlt);      // after fs0:
    key(u'5');
    fw.push_text("\r");
    EXPECT_EQ(read(), "cd4 fs0:5\\efi\\3boot \"2a 1b\"");
}

TEST_F(LineEditorTest, OtherAltLettersAndSpecialKeysAreIgnored) {
    extended_input();
    fw.push_text("ab");
    key(u'x', kAlt);
    scan(kInsert);
    scan(kPageUp);
    scan(kF1);
    key(7);   // Ctrl-G outside search
    key(0x0f);
    fw.push_text("c\r");
    EXPECT_EQ(read(), "abc");
}

TEST_F(LineEditorTest, AltGrSymbolsAreStillTyped) {
    extended_input();
    fw.push_text("cd fs0:");
    key(u'\\', efi::kShiftStateValid | efi::kRightAltPressed);
    fw.push_text("\r");
    EXPECT_EQ(read(), "cd fs0:\\");
}

TEST_F(LineEditorTest, ControlWithLetterOverExtendedInput) {
    extended_input();
    fw.push_text("abc");
    key(u'a', kCtrl);  // Ctrl+a from a local keyboard: Home
    key(u'>');
    fw.push_text("\r");
    EXPECT_EQ(read(), ">abc");
}

TEST_F(LineEditorTest, EscapeClearsTheLine) {
    fw.push_text("garbage");
    key(27);
    fw.push_text("ls");
    scan(0x17);  // ESC as a scan code (a lone ESC over serial)
    // Typed after the Escape came on its own: a character right behind it would make
    // the pair Alt+character.
    fw.push_key(u'v', 0, 0, 200000);
    fw.push_text("er\r");
    EXPECT_EQ(read(), "ver");
    EXPECT_EQ(row(0), "> ver");
}

TEST_F(LineEditorTest, CtrlCReturnsNoneAfterTheText) {
    fw.push_text("abc");
    scan(kHome);
    key(3);
    EXPECT_EQ(read(), std::nullopt);
    EXPECT_EQ(row(0), "> abc^C");
    EXPECT_EQ(fw.screen().cursor_row(), 1u);
    EXPECT_EQ(history_count(), 0u);
}

TEST_F(LineEditorTest, CtrlLClearsAndRedrawsAtTheTop) {
    fw.run([] { console_write_text("old output\nmore\n"); });
    fw.push_text("abc");
    ctrl('l');
    snapshot();
    fw.push_text("d\r");
    EXPECT_EQ(read(), "abcd");
    EXPECT_EQ(shot_row(0), "> abc");
    EXPECT_EQ(shot_row(1), "");
    EXPECT_EQ(shot().cursor_row(), 0u);
    EXPECT_EQ(shot().cursor_column(), 5u);
}

// ---------------------------------------------------------------------------- history

TEST_F(LineEditorTest, UpAndDownWithTheSavedLine) {
    history_add("first");
    history_add("second");
    history_add("third");
    fw.push_text("half");
    scan(kUp);
    scan(kUp);
    scan(kDown);
    scan(kDown);
    fw.push_text("!\r");
    EXPECT_EQ(read(), "half!");

    scan(kUp, 0, 5);  // stays at the oldest
    fw.push_text("\r");
    EXPECT_EQ(read(), "first");

    // Both accepted lines were added: first second third half! first
    scan(kUp, 0, 2);
    fw.push_text("X\r");
    EXPECT_EQ(read(), "half!X");
}

TEST_F(LineEditorTest, HistoryEntryReplacesAndCursorGoesToItsEnd) {
    narrow(20, 10);
    history_add("short");
    fw.push_text("a much longer typed line");
    scan(kUp);
    snapshot();
    fw.push_text("\r");
    EXPECT_EQ(read(), "short");
    EXPECT_EQ(shot_row(0), "> short");
    EXPECT_EQ(shot_row(1), "");
    EXPECT_EQ(shot().cursor_column(), 7u);
}

TEST_F(LineEditorTest, DownWithoutBrowsingAndEmptyHistory) {
    scan(kDown);
    scan(kUp);
    fw.push_text("x\r");
    EXPECT_EQ(read(), "x");
}

TEST_F(LineEditorTest, AcceptedLinesGoToTheHistoryOnce) {
    fw.push_text("ls\r");
    read();
    fw.push_text("ls\r");
    read();
    fw.push_text("   \r");
    EXPECT_EQ(read(), "   ");
    fw.push_text("\r");
    EXPECT_EQ(read(), "");
    EXPECT_EQ(history_count(), 1u);
    EXPECT_STREQ(history_entry(0), "ls");
}

TEST_F(LineEditorTest, WithoutHistoryUpDownAndCtrlRDoNothing) {
    history_add("old");
    fw.push_text("ab");
    scan(kUp);
    scan(kDown);
    ctrl('r');
    fw.push_text("c\r");
    EXPECT_EQ(read("? ", false), "abc");
    EXPECT_EQ(history_count(), 1u);
}

// ---------------------------------------------------------------------------- search

TEST_F(LineEditorTest, ReverseSearchFindsNewestThenOlder) {
    history_add("ls -l");
    history_add("cat x");
    history_add("ls fs0:");
    history_add("echo");
    ctrl('r');
    fw.push_text("ls");
    snapshot();
    ctrl('r');
    fw.push_text("\r");  // ends the search, keeps the match
    fw.push_text("\r");  // accepts it
    EXPECT_EQ(read(), "ls -l");
    EXPECT_EQ(shot_row(0), "(search 'ls'): ls fs0:");
    EXPECT_EQ(row(0), "> ls -l");
}

TEST_F(LineEditorTest, ReverseSearchBackspaceAndNoMatch) {
    history_add("alpha");
    history_add("beta");
    ctrl('r');
    fw.push_text("betz");
    snapshot();
    key(8);
    fw.push_text("\r");
    fw.push_text("\r");
    EXPECT_EQ(read(), "beta");
    EXPECT_EQ(shot_row(0), "(search 'betz'):");
    EXPECT_EQ(row(0), "> beta");
}

TEST_F(LineEditorTest, ReverseSearchCtrlRPastTheOldestKeepsTheMatch) {
    history_add("make a");
    history_add("make b");
    ctrl('r');
    fw.push_text("make");
    ctrl('r');
    ctrl('r');
    ctrl('r');
    scan(kLeft);  // another key: ends the search, the key is used up
    fw.push_text("\r");
    EXPECT_EQ(read(), "make a");
}

TEST_F(LineEditorTest, ReverseSearchCancelLeavesEmptyLine) {
    history_add("ls");
    for (char16_t cancel : {char16_t(27), char16_t(7), char16_t(3)}) {
        fw.push_text("typed");
        ctrl('r');
        fw.push_text("l");
        key(cancel);
        fw.push_text("ok\r");
        EXPECT_EQ(read(), "ok") << "cancel key " << int(cancel);
    }
}

TEST_F(LineEditorTest, ReverseSearchWithMultiByteQuery) {
    history_add("echo \u00e9t\u00e9");
    history_add("echo ete");
    ctrl('r');
    key(u'\u00e9');
    key(u't');
    key(8);
    key(8);
    key(u'\u00e9');
    fw.push_text("\r\r");
    EXPECT_EQ(read(), "echo \u00e9t\u00e9");
}

// ---------------------------------------------------------------------------- completion

class CompletionTest : public LineEditorTest {
protected:
    void SetUp() override {
        LineEditorTest::SetUp();
        register_commands(kCommands, sizeof kCommands / sizeof kCommands[0]);
        g_volumes = {"fs0", "fs1"};
        g_dirs[""] = {{"efi", true}, {"Manual.txt", false}, {"menu.tsb", false},
                      {"mtool.EFI", false}, {".efi", false}, {"startup.tsb", false}};
        g_dirs["fs0:\\"] = {{"efi", true}, {"boot", true}, {"readme.txt", false}};
        g_dirs["fs0:\\efi\\"] = {{"boot", true}, {"tools", true}, {"shell.efi", false}};
        set_completion_sources(&kFakeSources);
    }
    std::vector<std::string> candidates(const std::string& line) {
        CompletionList list;
        collect_completions(line.c_str(), line.size(), list);
        std::vector<std::string> out;
        for (uint64_t i = 0; i < list.count; i++) out.push_back(list.items[i]);
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(CompletionTest, OneCandidateCompletesWithASpace) {
    g_dirs[""] = {};
    fw.push_text("ma\t");
    fw.push_text("x\r");
    EXPECT_EQ(read(), "map x");
}

TEST_F(CompletionTest, DirectoryCompletesWithoutSpace) {
    fw.push_text("cd fs0:\\ef\t");
    fw.push_text("\r");
    EXPECT_EQ(read(), "cd fs0:\\efi\\");
    EXPECT_EQ(g_listed.back(), "fs0:\\");
}

TEST_F(CompletionTest, VolumeCompletesWithoutSpace) {
    fw.push_text("cd fs1\t\r");
    EXPECT_EQ(read(), "cd fs1:");
}

TEST_F(CompletionTest, CommandWordCandidates) {
    EXPECT_EQ(candidates("m"),
              (std::vector<std::string>{"map", "memmap", "menu.tsb", "mkdir", "mkimage", "mode",
                                        "mtool.EFI"}));
    // Volumes need a non-empty word; files need .tsb or .efi with a name before it.
    EXPECT_EQ(candidates(""),
              (std::vector<std::string>{"cd", "cls", "efi\\", "map", "memmap", "menu.tsb", "mkdir",
                                        "mkimage", "mode", "mtool.EFI", "startup.tsb"}));
    EXPECT_EQ(candidates("F"), (std::vector<std::string>{"fs0:", "fs1:"}));
    EXPECT_EQ(candidates("  \"m"), candidates("m"));
}

TEST_F(CompletionTest, ArgumentWordsOfferAllFilesButNoCommands) {
    EXPECT_EQ(candidates("type m"), (std::vector<std::string>{"Manual.txt", "menu.tsb", "mtool.EFI"}));
    EXPECT_EQ(candidates("dir fs0:\\efi\\"),
              (std::vector<std::string>{"fs0:\\efi\\boot\\", "fs0:\\efi\\shell.efi", "fs0:\\efi\\tools\\"}));
    EXPECT_EQ(candidates("dir fs0:/efi/S"), (std::vector<std::string>{}));  // not listed: unknown dir
    EXPECT_EQ(g_listed.back(), "fs0:/efi/");
}

TEST_F(CompletionTest, QuotedWordStartsAfterTheQuote) {
    g_dirs["fs0:\\"] = {{"My Files", true}, {"Music", true}};
    EXPECT_EQ(candidates("cd \"fs0:\\My F"), (std::vector<std::string>{"fs0:\\My Files\\"}));
    fw.push_text("cd \"fs0:\\My\t\r");
    EXPECT_EQ(read(), "cd \"fs0:\\My Files\\");
}

// A name with a blank is completed inside double quotes, so that it stays one word: the
// quote stays open for a directory (or a common prefix) and closes after a file name.
TEST_F(CompletionTest, NamesWithBlanksAreQuoted) {
    g_dirs[""] = {{"my dir", true}, {"my file.txt", false}, {"plain.txt", false},
                  {"solo name.txt", false}};
    g_dirs["my dir\\"] = {{"a b.txt", false}, {"c.txt", false}};
    struct Case {
        const char* typed;
        const char* line;
    };
    const Case cases[] = {
        {"cat so\t", "cat \"solo name.txt\" "},
        {"cat my\t", "cat \"my "},  // the common prefix holds the blank: the quote stays open
        {"cat my\td\t", "cat \"my dir\\"},
        {"cat my\tf\t", "cat \"my file.txt\" "},
        {"cat my\td\ta\t", "cat \"my dir\\a b.txt\" "},  // on inside the open quote
        {"cat my\td\tc\t", "cat \"my dir\\c.txt\" "},
        {"cat \"my d\t", "cat \"my dir\\"},  // a typed quote: none added
        {"cat \"pl\t", "cat \"plain.txt\" "},
        {"cat pl\t", "cat plain.txt "},  // no blank, no quotes
    };
    for (const Case& c : cases) {
        fw.push_text(c.typed);
        fw.push_text("\r");
        EXPECT_EQ(read(), c.line) << c.typed;
    }
}

TEST_F(CompletionTest, CommonPrefixExtendsTheWord) {
    g_dirs[""] = {};
    fw.push_text("mk\t");
    fw.push_text("\r");
    EXPECT_EQ(read(), "mk");  // mkdir / mkimage share only "mk": listed instead
    fw.push_text("me\t\r");
    EXPECT_EQ(read(), "memmap ");
    fw.push_text("MO\t\r");
    EXPECT_EQ(read(), "mode ");
    g_dirs["fs0:\\"] = {{"Program Files", true}, {"programs", true}};
    fw.push_text("cd fs0:\\p\t\r");
    EXPECT_EQ(read(), "cd fs0:\\Program");
}

TEST_F(CompletionTest, SeveralCandidatesAreListedInColumns) {
    narrow(40, 20);
    fw.push_text("m\t");
    fw.push_text("\r");
    EXPECT_EQ(read(), "m");
    // 7 names, longest "mtool.EFI" (9) + 2 = 11 wide, 39 / 11 = 3 per row.
    EXPECT_EQ(row(0), "> m");
    EXPECT_EQ(row(1), "map        memmap     menu.tsb");
    EXPECT_EQ(row(2), "mkdir      mkimage    mode");
    EXPECT_EQ(row(3), "mtool.EFI");
    EXPECT_EQ(row(4), "> m");
    EXPECT_EQ(fw.screen().cursor_row(), 5u);
}

TEST_F(CompletionTest, ListingShowsLastComponents) {
    fw.push_text("dir fs0:\\efi\\\t\r");
    read();
    EXPECT_EQ(row(1), "boot\\      shell.efi  tools\\");
    EXPECT_EQ(row(2), "> dir fs0:\\efi\\");
}

TEST_F(CompletionTest, NoCandidateChangesNothing) {
    fw.push_text("zz\tq\r");
    EXPECT_EQ(read(), "zzq");
    fw.push_text("cat nothing\\here\t\r");
    EXPECT_EQ(read(), "cat nothing\\here");
}

TEST_F(CompletionTest, CompletionInTheMiddleKeepsTheRest) {
    g_dirs[""] = {};
    fw.push_text("ma -r");
    scan(kLeft, 0, 3);
    fw.push_text("\t\r");
    EXPECT_EQ(read(), "map  -r");
}

TEST_F(CompletionTest, WithoutSourcesOnlyCommandsComplete) {
    set_completion_sources(nullptr);
    EXPECT_EQ(candidates("ma"), (std::vector<std::string>{"map"}));
    EXPECT_EQ(candidates("fs"), (std::vector<std::string>{}));
}

TEST_F(CompletionTest, HugeDirectoryListing) {
    narrow(80, 25);
    std::vector<Entry> many;
    for (int i = 0; i < 3000; i++) many.push_back({"file" + std::to_string(i) + ".txt", false});
    many.push_back({"FILE5.txt", false});  // a duplicate ignoring case
    g_dirs["fs0:\\"] = many;
    EXPECT_EQ(candidates("x fs0:\\f").size(), 3000u);
    fw.push_text("x fs0:\\f\t\r");
    EXPECT_EQ(read(), "x fs0:\\file");
}

// ---------------------------------------------------------------------------- menu

class MenuTest : public LineEditorTest {
protected:

    int show(const std::vector<const char*>& items, int timeout, int def, const char* title = "Pick") {
        int result = -99;
        auto r = fw.run([&] { result = menu(title, items.data(), static_cast<int>(items.size()), timeout, def); });
        EXPECT_FALSE(r.stuck) << r.message;
        return result;
    }
};

TEST_F(MenuTest, TimeoutChoosesTheDefault) {
    uint64_t start = fw.now_us();
    EXPECT_EQ(show({"one", "two", "three"}, 5, 2), 2);
    EXPECT_GE(fw.now_us() - start, 5000000u);
    EXPECT_LT(fw.now_us() - start, 6000000u);
    EXPECT_EQ(row(0), "Pick");
    EXPECT_EQ(row(1), "  1. one");
    EXPECT_EQ(row(2), "  2. two");
    EXPECT_EQ(row(3), "  3. three");
    EXPECT_EQ(row(4), "Up/Down + Enter to choose, ESC to cancel. Default in 1 s");
    EXPECT_TRUE(fw.screen().cursor_visible());
    EXPECT_EQ(fw.screen().cursor_row(), 5u);
}

TEST_F(MenuTest, DigitChoosesAtOnce) {
    fw.push_key(u'3', 0, 0, 1500000);
    uint64_t start = fw.now_us();
    EXPECT_EQ(show({"one", "two", "three"}, 5, 2), 3);
    EXPECT_LT(fw.now_us() - start, 2000000u);
    EXPECT_EQ(row(4), "Up/Down + Enter to choose, ESC to cancel.");
}

TEST_F(MenuTest, DigitAboveTheCountIsIgnored) {
    key(u'7');
    key(u'0');
    key(u'\r');
    EXPECT_EQ(show({"a", "b"}, 0, 1), 1);
}

TEST_F(MenuTest, ArrowsHomeEndAndTheirLimits) {
    scan(kDown, 0, 5);
    key(u'\r');
    EXPECT_EQ(show({"a", "b", "c"}, 0, 1), 3);
    scan(kUp, 0, 5);
    key(u'\r');
    EXPECT_EQ(show({"a", "b", "c"}, 0, 3), 1);
    scan(kEnd);
    scan(kUp);
    key(u'\r');
    EXPECT_EQ(show({"a", "b", "c"}, 0, 1), 2);
    scan(kHome);
    key(u'\r');
    EXPECT_EQ(show({"a", "b", "c"}, 0, 3), 1);
}

TEST_F(MenuTest, NoDefaultMeansNothingSelected) {
    key(u'\r');
    EXPECT_EQ(show({"a", "b"}, 0, 0), 0);
    EXPECT_EQ(show({"a", "b"}, 2, 0), 0);  // the countdown chooses "nothing" too
    scan(kDown);
    key(u'\r');
    EXPECT_EQ(show({"a", "b"}, 0, 0), 1);
}

TEST_F(MenuTest, EscapeCancelsAndCtrlCInterrupts) {
    key(27);
    EXPECT_EQ(show({"a"}, 0, 1), 0);
    scan(0x17);
    EXPECT_EQ(show({"a"}, 0, 1), 0);
    key(3);
    EXPECT_EQ(show({"a"}, 3, 1), -1);
}

TEST_F(MenuTest, NoItemsGivesZero) {
    EXPECT_EQ(show({}, 5, 1), 0);
    int r = menu("t", nullptr, 3, 0, 1);
    EXPECT_EQ(r, 0);
}

TEST_F(MenuTest, SelectedItemIsBlackOnLightGrayAndPadded) {
    scan(kDown);
    snapshot();
    key(u'\r');
    EXPECT_EQ(show({"one", "two"}, 0, 1), 2);
    const sim::Screen& s = shot();
    uint64_t r = 2;  // title, item 1, item 2
    EXPECT_EQ(s.cell(0, r).attribute, 0x70);
    EXPECT_EQ(s.cell(59, r).attribute, 0x70);  // padded to 60 cells
    EXPECT_EQ(s.cell(60, r).attribute, 0x07);
    EXPECT_EQ(s.cell(0, 1).attribute, 0x07);
    EXPECT_EQ(s.cell(0, 0).attribute, 0x0f);  // title in white
    EXPECT_EQ(s.cell(0, 3).attribute, 0x08);  // hint in dark gray
    EXPECT_FALSE(s.cursor_visible());
    EXPECT_TRUE(fw.screen().cursor_visible());
    EXPECT_EQ(fw.screen().attribute(), 0x07);
}

TEST_F(MenuTest, KeyStopsTheCountdownAndRedrawsInPlace) {
    fw.run([] { console_write_text("before"); });
    fw.push_key(0, kDown, 0, 2500000);
    fw.push_key(u'\r', 0, 0, 10000000);  // long after the countdown would have ended
    EXPECT_EQ(show({"a", "b", "c"}, 3, 1), 2);
    EXPECT_EQ(row(0), "before");
    EXPECT_EQ(row(1), "Pick");
    EXPECT_EQ(row(5), "Up/Down + Enter to choose, ESC to cancel.");
    EXPECT_EQ(row(6), "");
}

TEST_F(MenuTest, MoreItemsThanRowsScrollAWindow) {
    narrow(30, 8);
    std::vector<std::string> names;
    for (int i = 1; i <= 40; i++) names.push_back("item " + std::to_string(i));
    std::vector<const char*> items;
    for (auto& n : names) items.push_back(n.c_str());
    scan(kDown, 0, 20);
    key(u'\r');
    EXPECT_EQ(show(items, 0, 1, "A title that is far too long for this screen"), 21);
    EXPECT_EQ(row(0), "A title that is far too long");
    EXPECT_EQ(row(5), " 21. item 21");
}

// ---------------------------------------------------------------------------- input timing

TEST_F(LineEditorTest, KeysTypedDuringOutputArriveFirst) {
    fw.push_text("ls\r");
    fw.run([&] {
        fw.advance_us(60000);
        EXPECT_FALSE(poll_break());  // moves the typed keys into the type-ahead ring
    });
    EXPECT_EQ(fw.pending_keys(), 0u);
    EXPECT_EQ(read(), "ls");
}

TEST_F(LineEditorTest, KeysArrivingSlowlyAreAllRead) {
    for (char c : std::string("dir\r")) fw.push_key(static_cast<char16_t>(c), 0, 0, 700000);
    EXPECT_EQ(read(), "dir");
}

// ---------------------------------------------------------------------------- bad input

TEST_F(LineEditorTest, LineLongerThanTheScreenManyTimesOver) {
    narrow(20, 6);
    std::string text;
    for (int i = 0; i < 2000; i++) text += static_cast<char>('a' + i % 26);
    fw.push_text(text);
    scan(kHome);
    key(u'<');
    scan(kEnd);
    key(u'>');
    scan(kLeft, 0, 1000);
    key(u' ');
    key(u'|');
    ctrl('w');  // takes the '|' back, stopping at the space
    fw.push_text("\r");
    auto line = read();
    ASSERT_TRUE(line);
    ASSERT_EQ(line->size(), 2003u);
    EXPECT_EQ(line->substr(0, 3), "<ab");
    EXPECT_EQ((*line)[1002], ' ');
    EXPECT_EQ(line->back(), '>');
    EXPECT_EQ(line->find('|'), std::string::npos);
    history_clear();
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST_F(LineEditorTest, HomeOnAHugeLineShowsItsStart) {
    narrow(20, 6);
    std::string text(500, 'x');
    fw.push_text(text);
    scan(kHome);
    key(u'A');
    snapshot();
    scan(kEnd);
    key(u'Z');
    fw.push_text("\r");
    auto line = read();
    EXPECT_EQ(shot_row(0), "> Axxxxxxxxxxxxxxxxx");
    EXPECT_EQ(shot().cursor_row(), 0u);
    EXPECT_EQ(shot().cursor_column(), 3u);
    EXPECT_EQ(line, "A" + text + "Z");
    // The end of the line came back into view (cell 503 of the line: column 3).
    EXPECT_EQ(row(3), std::string(20, 'x'));
    EXPECT_EQ(row(4), "xxxZ");
    EXPECT_EQ(fw.screen().cursor_row(), 5u);
}

TEST_F(LineEditorTest, ConsoleReportingZeroColumns) {
    fw.set_text_modes({{80, 25}, {0, 0}});
    fw.set_current_mode(1);
    fw.push_text("abc");
    scan(kLeft);
    key(u'X');
    key(u'\t');
    fw.push_text("\r");
    EXPECT_EQ(read(), "abXc");
}

TEST_F(LineEditorTest, QueryModeFailing) {
    fw.set_query_mode_fails(true);
    fw.push_text("abc\r");
    EXPECT_EQ(read(), "abc");
}

TEST_F(LineEditorTest, PromptWithLineBreaksAndControlCharacters) {
    fw.push_text("x\r");
    EXPECT_EQ(read("first line\nname\t? "), "x");
    EXPECT_EQ(row(0), "first line");
    EXPECT_EQ(row(1), "name ? x");
}

TEST_F(LineEditorTest, OverlongUtf8InHistoryBringsNoControlCharacters) {
    history_add("a\xc0\x92" "b\xc0\x80" "c");  // overlong forms of 0x12 and NUL
    scan(kUp);
    fw.push_text("\r");
    // Each byte of an overlong form is malformed on its own.
    EXPECT_EQ(read(), "a\xef\xbf\xbd\xef\xbf\xbd" "b\xef\xbf\xbd\xef\xbf\xbd" "c");
}

TEST_F(LineEditorTest, NullPrompt) {
    fw.push_text("x\r");
    EXPECT_EQ(read(nullptr), "x");
}


// ---- keys as a terminal on the serial line sends them ----
// The firmware's terminal hands sequences it does not know on as an Escape key (scan code
// 0x17) followed by the plain characters, which read_key decodes.

struct TerminalKeyCase {
    const char* name;
    const char* typed_before;     // typed first
    std::vector<std::string> sequences;  // each: the characters after one Escape
    const char* typed_after;
    const char* line;
};

TEST_F(LineEditorTest, EscapeSequencesOfATerminalEditTheLine) {
    const TerminalKeyCase cases[] = {
        {"Delete", "echo one two", {"[D", "[D", "[3~"}, "", "echo one to"},
        {"Home ESC[1~", "cho", {"[1~"}, "e", "echo"},
        {"Home ESC[7~", "cho", {"[7~"}, "e", "echo"},
        {"Home ESC O H", "cho", {"OH"}, "e", "echo"},
        {"End ESC[4~", "ab", {"[1~", "[4~"}, "c", "abc"},
        {"End ESC[8~", "ab", {"[1~", "[8~"}, "c", "abc"},
        {"End ESC O F", "ab", {"OH", "OF"}, "c", "abc"},
        {"Ctrl+Left", "echo one two", {"[1;5D"}, "X", "echo one Xtwo"},
        {"Ctrl+Right", "one two three", {"[1~", "[1;5C", "[1;5C"}, "X", "one twoX three"},
        {"Alt+b and Alt+f", "one two", {"b", "b", "f"}, "X", "oneX two"},
        {"arrows with ESC O", "ab", {"OD", "OD", "OC"}, "X", "aXb"},
        {"Insert, Page Up/Down, F-keys ignored", "ab", {"[2~", "[5~", "[6~", "[11~", "[24~", "OP", "[1;2P"}, "c", "abc"},
        {"an unknown sequence is dropped", "ab", {"[99~", "[1;5Z"}, "c", "abc"},
        {"a late cursor report is no text", "ab", {"[40;120R"}, "c", "abc"},
    };
    for (const TerminalKeyCase& c : cases) {
        fw.push_text(c.typed_before);
        for (const std::string& seq : c.sequences) fw.push_escape_sequence(seq, 0, 1000);
        fw.push_text(c.typed_after);
        fw.push_text("\r");
        EXPECT_EQ(read(), c.line) << c.name;
        EXPECT_EQ(fw.pending_keys(), 0u) << c.name;
    }
}

TEST_F(LineEditorTest, ALoneEscapeStaysEscapeAndTypeAheadIsKept) {
    // Nothing follows within the sequence time: the Escape clears the line.
    fw.push_text("garbage");
    fw.push_key(0, 0x17);
    fw.push_key(u'o', 0, 0, 300000);
    fw.push_text("k\r");
    EXPECT_EQ(read(), "ok");
    // An Escape followed by a key the firmware decoded itself (Left) is two keys.
    fw.push_text("ab");
    fw.push_key(0, 0x17);
    fw.push_key(0, kLeft, 0, 1000);
    fw.push_text("c\r");
    EXPECT_EQ(read(), "c");
    // A sequence typed while a command ran (queued by the break poll) decodes the same.
    fw.push_text("xy");
    fw.push_key(0, kLeft);
    fw.push_escape_sequence("[3~", 0, 0);
    fw.advance_us(100000);
    EXPECT_FALSE(fw.run([] { EXPECT_FALSE(poll_break()); }).stuck);
    fw.push_text("\r");
    EXPECT_EQ(read(), "x");
}

TEST_F(LineEditorTest, ModifierParametersOfArrowKeysReachTheMenuToo) {
    fw.push_escape_sequence("[B", 0, 1000);   // Down
    fw.push_escape_sequence("[1;2B", 0, 1000);  // Shift+Down is still Down
    fw.push_key(u'\r');
    int chosen = -2;
    EXPECT_FALSE(fw.run([&] {
        const char* items[] = {"a", "b", "c"};
        chosen = menu("pick", items, 3, 0, 1);
    }).stuck);
    EXPECT_EQ(chosen, 3);
}

}  // namespace

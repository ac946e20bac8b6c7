// The line editor over the simulated console: keys in, screen cells out.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
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

// ---------------------------------------------------------------------------- key tables

// Keys written as text: plain characters are typed (as push_text does: '\n' is Enter);
// {NAME} or {NAME*N} presses another key once or N times. Scan codes: Up Down Right Left
// Home End Ins Del PgUp F1, EscScan (ESC as a serial line sends it alone). Characters: BS (8),
// DEL (0x7f), ESC (27), ^x (Ctrl-x as a control character). With modifiers, over extended
// input: C-Left and C-Right (Ctrl+arrow), C-x (Ctrl with the letter), M-x (Alt), AltGr-x.
// Late-x types x 200 ms after the key before it (after a lone Escape, a character right
// behind it would make the pair Alt+character).
void press(sim::SimFirmware& fw, const std::string& keys) {
    struct Named {
        const char* name;
        char16_t ch;
        uint16_t scan;
        uint32_t shift;
    };
    static const Named kNamed[] = {
        {"Up", 0, kUp, 0},        {"Down", 0, kDown, 0},        {"Right", 0, kRight, 0},
        {"Left", 0, kLeft, 0},    {"Home", 0, kHome, 0},        {"End", 0, kEnd, 0},
        {"Ins", 0, kInsert, 0},   {"Del", 0, kDel, 0},          {"PgUp", 0, kPageUp, 0},
        {"F1", 0, kF1, 0},        {"EscScan", 0, 0x17, 0},      {"BS", 8, 0, 0},
        {"DEL", 0x7f, 0, 0},      {"ESC", 27, 0, 0},            {"C-Left", 0, kLeft, kCtrl},
        {"C-Right", 0, kRight, kCtrl},
    };
    size_t i = 0;
    while (i < keys.size()) {
        size_t open = keys.find('{', i);
        fw.push_text(keys.substr(i, open == std::string::npos ? std::string::npos : open - i));
        if (open == std::string::npos) return;
        size_t close = keys.find('}', open);
        ASSERT_NE(close, std::string::npos) << keys;
        std::string name = keys.substr(open + 1, close - open - 1);
        i = close + 1;
        int times = 1;
        if (size_t star = name.find('*'); star != std::string::npos) {
            times = std::stoi(name.substr(star + 1));
            name.resize(star);
        }
        char16_t ch = 0;
        uint16_t code = 0;
        uint32_t shift = 0;
        bool known = false;
        for (const Named& n : kNamed)
            if (name == n.name) {
                ch = n.ch, code = n.scan, shift = n.shift, known = true;
            }
        auto modified = [&](const char* prefix, uint32_t state) {
            const size_t length = std::char_traits<char>::length(prefix);
            if (known || name.size() != length + 1 || name.compare(0, length, prefix) != 0) return;
            ch = static_cast<char16_t>(name.back()), shift = state, known = true;
        };
        if (!known && name.size() == 2 && name[0] == '^') {
            ch = static_cast<char16_t>(name[1] - 'a' + 1);
            known = true;
        }
        modified("C-", kCtrl);
        modified("M-", kAlt);
        modified("AltGr-", efi::kShiftStateValid | efi::kRightAltPressed);
        uint64_t delay_us = 0;
        if (!known && name.size() == 6 && name.compare(0, 5, "Late-") == 0) {
            ch = static_cast<char16_t>(name.back()), delay_us = 200000, known = true;
        }
        ASSERT_TRUE(known) << "unknown key {" << name << "} in " << keys;
        for (int t = 0; t < times; t++) fw.push_key(ch, code, shift, delay_us);
    }
}

// One call of read_line: the keys pushed before it and the line it returns (nullopt for
// "none").
struct Read {
    const char* keys;
    std::optional<std::string> line;
};

struct KeyCase {
    const char* name;
    std::vector<Read> reads;
    std::vector<std::string> history = {};  // entries added before the first key
    bool extended = false;                  // extended input: Ctrl and Alt as modifiers
    int columns = -1, screen_rows = -1;     // a narrow screen when given
    const char* prompt = "> ";
    bool use_history = true;
    std::vector<std::pair<uint64_t, std::string>> rows = {};  // screen rows at the end
    int cursor_row = -1, cursor_column = -1;                  // the cursor at the end
    std::optional<std::vector<std::string>> history_after = std::nullopt;
    // Completion only: the current directory is empty; the last directory listed.
    bool empty_current_directory = false;
    const char* listed = nullptr;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

std::string case_name(const ::testing::TestParamInfo<KeyCase>& info) { return info.param.name; }

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

    // Runs a case: its screen and history, its keys, then what read_line returned and left on
    // the screen; every case uses up its keys and frees what it took.
    void run_case(const KeyCase& c) {
        const int64_t blocks_before = fw.outstanding_allocations();
        if (c.columns >= 0) narrow(static_cast<uint64_t>(c.columns), static_cast<uint64_t>(c.screen_rows));
        if (c.extended) extended_input();
        for (const std::string& entry : c.history) history_add(entry.c_str());
        for (size_t i = 0; i < c.reads.size(); i++) {
            press(fw, c.reads[i].keys);
            EXPECT_EQ(read(c.prompt, c.use_history), c.reads[i].line) << "read " << i + 1;
        }
        for (const auto& [r, text] : c.rows) EXPECT_EQ(row(r), text) << "row " << r;
        if (c.cursor_row >= 0) EXPECT_EQ(fw.screen().cursor_row(), static_cast<uint64_t>(c.cursor_row));
        if (c.cursor_column >= 0) EXPECT_EQ(fw.screen().cursor_column(), static_cast<uint64_t>(c.cursor_column));
        if (c.history_after) {
            ASSERT_EQ(history_count(), c.history_after->size());
            for (size_t i = 0; i < c.history_after->size(); i++)
                EXPECT_STREQ(history_entry(i), (*c.history_after)[i].c_str()) << "entry " << i;
        }
        if (c.listed) {
            ASSERT_FALSE(g_listed.empty());
            EXPECT_EQ(g_listed.back(), c.listed);
        }
        EXPECT_EQ(fw.pending_keys(), 0u) << "keys left over";
        history_clear();
        EXPECT_EQ(fw.outstanding_allocations(), blocks_before);
    }

    sim::SimFirmware fw;
};

// ---------------------------------------------------------------------------- typing

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

// ---------------------------------------------------------------------------- the editing table

std::vector<KeyCase> editing_cases() {
    return {
        // typing
        {.name = "TypedLineIsReturnedAndShown",
         .reads = {{"hello world\r", "hello world"}},
         .rows = {{0, "> hello world"}},
         .cursor_row = 1,
         .cursor_column = 0},
        {.name = "LineFeedAlsoAccepts", .reads = {{"  ls  \n", "  ls  "}}},
        {.name = "NonAsciiCharactersTakeOneCellEach",
         .reads = {{"\u00e9\u4e2dx{Left*2}!\r", "\u00e9!\u4e2dx"}}},
        // keys
        {.name = "BackspaceDelAndDeleteKeys",  // BS as a serial line sends it, DEL, Delete, Ctrl-D
         .reads = {{"abcdef{BS}{DEL}{Left*2}{Del}{^d}\r", "ab"}}},
        {.name = "BackspaceAtStartAndDeleteAtEndDoNothing", .reads = {{"ab{Del}{^d}{Home}{BS}\r", "ab"}}},
        {.name = "ControlLetterMovesAndKills",
         .reads = {{"hello world{^a}[{^e}]{^b}{^b}#{^f}$\r", "[hello worl#d$]"},
                   {"one two three{Left*5}{^k}\r", "one two "},
                   {"one two three{Left*5}{^u}\r", "three"}}},
        {.name = "CtrlWDeletesSpacesThenTheWordBefore", .reads = {{"cp fs0:\\a\\b.txt   {^w}X\r", "cp X"}}},
        // Ctrl-Left skips the quote (before b), then before 1b, before a; Alt-b before 2a,
        // then across quote and space before boot; Ctrl-Right after cd, Alt-f after fs0:.
        {.name = "WordMotionWithCtrlArrowsAndAltLetters",
         .reads = {{"cd fs0:\\efi\\boot \"a b\"{C-Left}1{C-Left}{C-Left}2{M-b}{M-b}3{Home}{C-Right}4{M-f}5\r",
                    "cd4 fs0:5\\efi\\3boot \"2a 1b\""}},
         .extended = true},
        {.name = "OtherAltLettersAndSpecialKeysAreIgnored",  // ^g outside search
         .reads = {{"ab{M-x}{Ins}{PgUp}{F1}{^g}{^o}c\r", "abc"}},
         .extended = true},
        {.name = "AltGrSymbolsAreStillTyped", .reads = {{"cd fs0:{AltGr-\\}\r", "cd fs0:\\"}}, .extended = true},
        {.name = "ControlWithLetterOverExtendedInput",  // Ctrl+a from a local keyboard: Home
         .reads = {{"abc{C-a}>\r", ">abc"}},
         .extended = true},
        {.name = "EscapeClearsTheLine", .reads = {{"garbage{ESC}ls{EscScan}{Late-v}er\r", "ver"}}, .rows = {{0, "> ver"}}},
        {.name = "CtrlCReturnsNoneAfterTheText",
         .reads = {{"abc{Home}{^c}", std::nullopt}},
         .rows = {{0, "> abc^C"}},
         .cursor_row = 1,
         .history_after = std::vector<std::string>{}},
        // history
        {.name = "UpAndDownWithTheSavedLine",
         .reads = {{"half{Up}{Up}{Down}{Down}!\r", "half!"},
                   {"{Up*5}\r", "first"},  // stays at the oldest
                   // both accepted lines were added: first second third half! first
                   {"{Up*2}X\r", "half!X"}},
         .history = {"first", "second", "third"}},
        {.name = "DownWithoutBrowsingAndEmptyHistory", .reads = {{"{Down}{Up}x\r", "x"}}},
        {.name = "AcceptedLinesGoToTheHistoryOnce",
         .reads = {{"ls\r", "ls"}, {"ls\r", "ls"}, {"   \r", "   "}, {"\r", ""}},
         .history_after = std::vector<std::string>{"ls"}},
        {.name = "WithoutHistoryUpDownAndCtrlRDoNothing",
         .reads = {{"ab{Up}{Down}{^r}c\r", "abc"}},
         .history = {"old"},
         .prompt = "? ",
         .use_history = false,
         .history_after = std::vector<std::string>{"old"}},
        // search
        {.name = "ReverseSearchCtrlRPastTheOldestKeepsTheMatch",  // another key ends the search, used up
         .reads = {{"{^r}make{^r}{^r}{^r}{Left}\r", "make a"}},
         .history = {"make a", "make b"}},
        {.name = "ReverseSearchCancelLeavesEmptyLine",  // ESC, Ctrl-G, Ctrl-C
         .reads = {{"typed{^r}l{ESC}ok\r", "ok"}, {"typed{^r}l{^g}ok\r", "ok"}, {"typed{^r}l{^c}ok\r", "ok"}},
         .history = {"ls"}},
        {.name = "ReverseSearchWithMultiByteQuery",
         .reads = {{"{^r}\u00e9t{BS}{BS}\u00e9\r\r", "echo \u00e9t\u00e9"}},
         .history = {"echo \u00e9t\u00e9", "echo ete"}},
        // bad input
        {.name = "ConsoleReportingZeroColumns",
         .reads = {{"abc{Left}X\t\r", "abXc"}},
         .columns = 0,
         .screen_rows = 0},
        {.name = "PromptWithLineBreaksAndControlCharacters",
         .reads = {{"x\r", "x"}},
         .prompt = "first line\nname\t? ",
         .rows = {{0, "first line"}, {1, "name ? x"}}},
        // Overlong forms of 0x12 and NUL: each byte of one is malformed on its own.
        {.name = "OverlongUtf8InHistoryBringsNoControlCharacters",
         .reads = {{"{Up}\r", "a\xef\xbf\xbd\xef\xbf\xbd" "b\xef\xbf\xbd\xef\xbf\xbd" "c"}},
         .history = {"a\xc0\x92" "b\xc0\x80" "c"}},
        {.name = "NullPrompt", .reads = {{"x\r", "x"}}, .prompt = nullptr},
    };
}

class LineEditorKeys : public LineEditorTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(LineEditorKeys, ReadsTheLine) { run_case(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Editing, LineEditorKeys, ::testing::ValuesIn(editing_cases()), case_name);

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

std::vector<KeyCase> completion_cases() {
    return {
        {.name = "OneCandidateCompletesWithASpace", .reads = {{"ma\tx\r", "map x"}}, .empty_current_directory = true},
        {.name = "DirectoryCompletesWithoutSpace",
         .reads = {{"cd fs0:\\ef\t\r", "cd fs0:\\efi\\"}},
         .listed = "fs0:\\"},
        {.name = "VolumeCompletesWithoutSpace", .reads = {{"cd fs1\t\r", "cd fs1:"}}},
        {.name = "NoCandidateChangesNothing",
         .reads = {{"zz\tq\r", "zzq"}, {"cat nothing\\here\t\r", "cat nothing\\here"}}},
        {.name = "CompletionInTheMiddleKeepsTheRest",
         .reads = {{"ma -r{Left*3}\t\r", "map  -r"}},
         .empty_current_directory = true},
        // 7 names, longest "mtool.EFI" (9) + 2 = 11 wide, 39 / 11 = 3 per row.
        {.name = "SeveralCandidatesAreListedInColumns",
         .reads = {{"m\t\r", "m"}},
         .columns = 40,
         .screen_rows = 20,
         .rows = {{0, "> m"},
                  {1, "map        memmap     menu.tsb"},
                  {2, "mkdir      mkimage    mode"},
                  {3, "mtool.EFI"},
                  {4, "> m"}},
         .cursor_row = 5},
        {.name = "ListingShowsLastComponents",
         .reads = {{"dir fs0:\\efi\\\t\r", "dir fs0:\\efi\\"}},
         .rows = {{1, "boot\\      shell.efi  tools\\"}, {2, "> dir fs0:\\efi\\"}}},
    };
}

class CompletionKeys : public CompletionTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(CompletionKeys, ReadsTheLine) {
    if (GetParam().empty_current_directory) g_dirs[""] = {};
    run_case(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Completion, CompletionKeys, ::testing::ValuesIn(completion_cases()), case_name);

// What collect_completions offers for a line, sorted; optionally the last directory listed.
struct CandidateCase {
    const char* name;
    const char* line;
    std::vector<std::string> offered;
    bool sources = true;  // false: no volumes or files, commands only
    const char* listed = nullptr;
};

void PrintTo(const CandidateCase& c, std::ostream* os) { *os << c.name; }

std::vector<CandidateCase> candidate_cases() {
    const std::vector<std::string> m = {"map", "memmap", "menu.tsb", "mkdir", "mkimage", "mode", "mtool.EFI"};
    return {
        {.name = "CommandWord", .line = "m", .offered = m},
        // Volumes need a non-empty word; files need .tsb or .efi with a name before it.
        {.name = "EmptyCommandWord",
         .line = "",
         .offered = {"cd", "cls", "efi\\", "map", "memmap", "menu.tsb", "mkdir", "mkimage", "mode", "mtool.EFI",
                     "startup.tsb"}},
        {.name = "CommandWordVolumes", .line = "F", .offered = {"fs0:", "fs1:"}},
        {.name = "CommandWordAfterSpacesAndQuote", .line = "  \"m", .offered = m},
        {.name = "ArgumentWordsOfferAllFilesButNoCommands",
         .line = "type m",
         .offered = {"Manual.txt", "menu.tsb", "mtool.EFI"}},
        {.name = "ArgumentInADirectory",
         .line = "dir fs0:\\efi\\",
         .offered = {"fs0:\\efi\\boot\\", "fs0:\\efi\\shell.efi", "fs0:\\efi\\tools\\"}},
        {.name = "ArgumentInAnUnknownDirectory", .line = "dir fs0:/efi/S", .offered = {}, .listed = "fs0:/efi/"},
        {.name = "WithoutSourcesOnlyCommandsComplete", .line = "ma", .offered = {"map"}, .sources = false},
        {.name = "WithoutSourcesNoVolumes", .line = "fs", .offered = {}, .sources = false},
    };
}

class CompletionCandidates : public CompletionTest, public ::testing::WithParamInterface<CandidateCase> {};

TEST_P(CompletionCandidates, Offered) {
    const CandidateCase& c = GetParam();
    if (!c.sources) set_completion_sources(nullptr);
    EXPECT_EQ(candidates(c.line), c.offered);
    if (c.listed) {
        ASSERT_FALSE(g_listed.empty());
        EXPECT_EQ(g_listed.back(), c.listed);
    }
}

INSTANTIATE_TEST_SUITE_P(Completion, CompletionCandidates, ::testing::ValuesIn(candidate_cases()),
                         [](const ::testing::TestParamInfo<CandidateCase>& info) { return std::string(info.param.name); });

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

// Menus shown one after another: the keys pushed before each and the item it returns.
struct MenuStep {
    const char* keys;
    std::vector<const char*> items;
    int timeout, preselected, chosen;
};
struct MenuCase {
    const char* name;
    std::vector<MenuStep> steps;
};

void PrintTo(const MenuCase& c, std::ostream* os) { *os << c.name; }

std::vector<MenuCase> menu_cases() {
    const std::vector<const char*> ab = {"a", "b"}, abc = {"a", "b", "c"};
    return {
        {"DigitAboveTheCountIsIgnored", {{"70\r", ab, 0, 1, 1}}},
        {"ArrowsHomeEndAndTheirLimits",
         {{"{Down*5}\r", abc, 0, 1, 3}, {"{Up*5}\r", abc, 0, 3, 1}, {"{End}{Up}\r", abc, 0, 1, 2},
          {"{Home}\r", abc, 0, 3, 1}}},
        // The countdown chooses "nothing" too.
        {"NoDefaultMeansNothingSelected", {{"\r", ab, 0, 0, 0}, {"", ab, 2, 0, 0}, {"{Down}\r", ab, 0, 0, 1}}},
        {"EscapeCancelsAndCtrlCInterrupts",
         {{"{ESC}", {"a"}, 0, 1, 0}, {"{EscScan}", {"a"}, 0, 1, 0}, {"{^c}", {"a"}, 3, 1, -1}}},
    };
}

class MenuKeys : public MenuTest, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(MenuKeys, Chooses) {
    const MenuCase& c = GetParam();
    for (size_t i = 0; i < c.steps.size(); i++) {
        const MenuStep& step = c.steps[i];
        press(fw, step.keys);
        EXPECT_EQ(show(step.items, step.timeout, step.preselected), step.chosen) << "menu " << i + 1;
    }
    EXPECT_EQ(fw.pending_keys(), 0u) << "keys left over";
}

INSTANTIATE_TEST_SUITE_P(Menu, MenuKeys, ::testing::ValuesIn(menu_cases()),
                         [](const ::testing::TestParamInfo<MenuCase>& info) { return std::string(info.param.name); });

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

TEST_F(LineEditorTest, QueryModeFailing) {
    fw.set_query_mode_fails(true);
    fw.push_text("abc\r");
    EXPECT_EQ(read(), "abc");
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

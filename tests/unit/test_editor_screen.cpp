// The text editor's screen: which rows each key sends to the console, the size rules, the
// layout of the bars, tabs, control characters and a line wider than the screen.
#include <gtest/gtest.h>

#include <string>

#include "editors/text_editor.h"
#include "runtime/console.h"
#include "sim.h"

using namespace tarn;

namespace {

struct Editor {
    sim::SimFirmware fw;
    TextEditor ed;

    explicit Editor(const std::string& text, uint64_t columns = 80, uint64_t rows = 25) {
        if (columns != 80 || rows != 25) {
            fw.set_text_modes({{80, 25}, {columns, rows}});
            fw.set_current_mode(1);
        }
        document_load(ed.doc, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        ed.path = xstrdup("fs0:\\t.txt");
        screen_open(ed.screen);
        text_editor_draw(ed);
    }
    // Rows sent for one key and the draw after it.
    uint64_t key(uint32_t character, uint16_t scan = 0) {
        const uint64_t before = ed.screen.rows_sent;
        KeyEvent k;
        k.character = character;
        k.scan_code = scan;
        text_editor_key(ed, k);
        text_editor_draw(ed);
        return ed.screen.rows_sent - before;
    }
    std::string row(uint64_t r) { return fw.screen().row_text(r); }
};

struct RedrawCase {
    const char* name;
    uint32_t character;
    uint16_t scan;
    uint64_t rows;  // sent for the key
};

// On "abc\ndef\nghi" with the cursor at the start; the first edit also marks the title.
const RedrawCase kRedrawCases[] = {
    {"typing: title, line, status", 'x', 0, 3},
    {"right: status only", 0, 3, 1},
    {"down: status only", 0, 2, 1},
    {"end: status only", 0, 6, 1},
    {"insert key: nothing", 0, 7, 0},
    {"enter: title, every line from the cursor, status", '\r', 0, 1 + 4 + 1},
    {"delete: title and one line (the column stays)", 0, 8, 2},
    {"backspace at the start: nothing", 8, 0, 0},
};

TEST(EditorRedraw, OnlyChangedRowsAreSent) {
    for (const RedrawCase& c : kRedrawCases) {
        SCOPED_TRACE(c.name);
        Editor e("abc\ndef\nghi");
        EXPECT_EQ(e.ed.screen.rows_sent, 25u);  // the first draw sends every row
        EXPECT_EQ(e.key(c.character, c.scan), c.rows);
    }
}

TEST(EditorRedraw, SecondKeyOnTheSameLineSendsTwoRows) {
    Editor e("abc");
    e.key('x');
    EXPECT_EQ(e.key('y'), 2u);  // the line and the column in the status row
    EXPECT_EQ(e.row(1), "xyabc");
}

TEST(EditorScreen, Bars) {
    Editor e("a\r\nb\r\n");
    EXPECT_EQ(e.row(0), "  TARN edit   fs0:\\t.txt   UTF-8 CRLF");
    EXPECT_EQ(e.row(23), "  Line 1/2  Col 1");
    // The key hints are cut at the last row's 79 columns.
    EXPECT_EQ(e.row(24), std::string("F1 GoTo F2 Save F3 Exit F4 Find F5 Replace F6 Cut F7 Paste F9 Type  (Ctrl-E help)")
                             .substr(0, 79));
    e.key('z');
    EXPECT_EQ(e.row(0), "  TARN edit   fs0:\\t.txt  [modified]   UTF-8 CRLF");
    EXPECT_EQ(e.row(23), "  Line 1/2  Col 2");
    // The last row stops one column short, so the console never scrolls.
    EXPECT_EQ(e.fw.screen().cell(79, 24).attribute, 0x07);
    EXPECT_EQ(e.fw.screen().cell(78, 24).attribute, 0x1f);
}

TEST(EditorScreen, TabsAndControlCharacters) {
    Editor e("a\tb\x01\xff\n");
    EXPECT_EQ(e.row(1), "a   b..");
    for (int i = 0; i < 2; i++) e.key(0, 3);  // past the tab: display column 4
    EXPECT_EQ(e.fw.screen().cursor_column(), 4u);
}

struct SizeCase {
    uint64_t columns, rows;
    uint64_t width, height;
};

TEST(EditorScreen, SizeRules) {
    const SizeCase kCases[] = {{19, 30, 80, 30}, {40, 5, 40, 25}, {20, 6, 20, 6}, {100, 31, 100, 31}};
    for (const SizeCase& c : kCases) {
        SCOPED_TRACE(c.columns * 1000 + c.rows);
        Editor e("x", c.columns, c.rows);
        EXPECT_EQ(e.ed.screen.width, c.width);
        EXPECT_EQ(e.ed.screen.height, c.height);
    }
}

TEST(EditorScreen, WideLineScrollsSideways) {
    std::string wide;
    for (int i = 0; i < 200; i++) wide += static_cast<char>('a' + i % 26);
    Editor e(wide);
    e.key(0, 6);  // End: display column 200
    EXPECT_EQ(e.ed.left, 200u - 80 + 2);
    EXPECT_EQ(e.row(1), wide.substr(122));
    EXPECT_EQ(e.fw.screen().cursor_column(), 78u);
    e.key(0, 5);  // Home
    EXPECT_EQ(e.ed.left, 0u);
    EXPECT_EQ(e.row(1), wide.substr(0, 80));
}

TEST(EditorScreen, ViewFollowsTheCursorDown) {
    std::string text;
    for (int i = 1; i <= 40; i++) text += "line" + std::to_string(i) + "\n";
    Editor e(text);
    for (int i = 0; i < 22; i++) e.key(0, 2);
    EXPECT_EQ(e.ed.top, 1u);
    EXPECT_EQ(e.row(1), "line2");
    EXPECT_EQ(e.row(22), "line23");
    EXPECT_EQ(e.fw.screen().cursor_row(), 22u);
}

}  // namespace

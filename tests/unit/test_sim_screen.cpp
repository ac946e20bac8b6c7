// The simulated console output: screen model, wrapping, scrolling, modes, transcript.
#include <gtest/gtest.h>

#include "sim.h"

using namespace tarn;

namespace {

struct Out {
    sim::SimFirmware& fw;
    efi::SimpleTextOutput* o() { return fw.system_table()->con_out; }
    efi::Status put(const char16_t* s) { return o()->output_string(o(), s); }
};

TEST(SimScreen, WritesCellsWithTheCurrentAttribute) {
    sim::SimFirmware fw;
    Out out{fw};
    out.put(u"ab");
    out.o()->set_attribute(out.o(), 0x1c);  // light red on blue
    out.put(u"c");
    EXPECT_EQ(fw.screen().row_text(0), "abc");
    EXPECT_EQ(fw.screen().cell(0, 0).attribute, 0x07);
    EXPECT_EQ(fw.screen().cell(2, 0).attribute, 0x1c);
    EXPECT_EQ(fw.screen().cell(2, 0).ch, u'c');
    EXPECT_EQ(out.o()->mode->attribute, 0x1c);
    EXPECT_EQ(out.o()->mode->cursor_column, 3);
    EXPECT_EQ(fw.screen().text_in_foreground(12), "c");
    EXPECT_EQ(fw.screen().text_in_foreground(7), "ab");
}

TEST(SimScreen, WrapsAtTheLastColumn) {
    sim::SimFirmware fw;
    Out out{fw};
    std::u16string line(80, u'x');
    out.put(line.c_str());
    // Writing the last column moves the cursor to the start of the next row.
    EXPECT_EQ(fw.screen().cursor_column(), 0u);
    EXPECT_EQ(fw.screen().cursor_row(), 1u);
    out.put(u"y\r\n");
    EXPECT_EQ(fw.screen().row_text(0), std::string(80, 'x'));
    EXPECT_EQ(fw.screen().row_text(1), "y");
    EXPECT_EQ(fw.screen().cursor_row(), 2u);
    std::u16string longer(85, u'z');
    out.put(longer.c_str());
    EXPECT_EQ(fw.screen().row_text(3), "zzzzz");
    EXPECT_EQ(fw.screen().cursor_column(), 5u);
}

TEST(SimScreen, ScrollsAtTheBottom) {
    sim::SimFirmware fw;
    Out out{fw};
    for (int i = 0; i < 26; i++) {
        std::u16string s = u"line " + std::u16string(1, static_cast<char16_t>(u'A' + i)) + u"\r\n";
        out.put(s.c_str());
    }
    // 26 lines and a final line feed: lines A and B scrolled away.
    EXPECT_EQ(fw.screen().row_text(0), "line C");
    EXPECT_EQ(fw.screen().row_text(23), "line Z");
    EXPECT_EQ(fw.screen().row_text(24), "");
    EXPECT_EQ(fw.screen().cursor_row(), 24u);
    // The transcript keeps everything.
    EXPECT_NE(fw.screen().transcript().find("line A\r\n"), std::string::npos);
    EXPECT_EQ(fw.screen().transcript_lines().substr(0, 14), "line A\nline B\n");
}

TEST(SimScreen, WrapOnTheLastRowScrolls) {
    sim::SimFirmware fw;
    Out out{fw};
    out.o()->set_cursor_position(out.o(), 0, 24);
    out.put(u"top?");
    out.o()->set_cursor_position(out.o(), 79, 24);
    out.put(u"!");
    EXPECT_EQ(fw.screen().row_text(23), "top?" + std::string(75, ' ') + "!");
    EXPECT_EQ(fw.screen().row_text(24), "");
    EXPECT_EQ(fw.screen().cursor_row(), 24u);
    EXPECT_EQ(fw.screen().cursor_column(), 0u);
}

TEST(SimScreen, BackspaceAndCarriageReturn) {
    sim::SimFirmware fw;
    Out out{fw};
    out.put(u"abc\b\bX\rY");
    EXPECT_EQ(fw.screen().row_text(0), "YXc");
    EXPECT_EQ(fw.screen().cursor_column(), 1u);
    out.put(u"\r\b");  // backspace at column 0 stays there
    EXPECT_EQ(fw.screen().cursor_column(), 0u);
    EXPECT_EQ(fw.screen().cursor_row(), 0u);
}

TEST(SimScreen, ModesQuerySetAndClear) {
    sim::SimFirmware fw;
    Out out{fw};
    auto* o = out.o();
    EXPECT_EQ(o->mode->max_mode, 2);
    uint64_t c = 0, r = 0;
    ASSERT_EQ(o->query_mode(o, 1, &c, &r), efi::kSuccess);
    EXPECT_EQ(c, 100u);
    EXPECT_EQ(r, 31u);
    EXPECT_EQ(o->query_mode(o, 2, &c, &r), efi::kUnsupported);
    out.put(u"hello");
    ASSERT_EQ(o->set_mode(o, 1), efi::kSuccess);
    EXPECT_EQ(o->mode->mode, 1);
    EXPECT_EQ(fw.screen().columns(), 100u);
    EXPECT_EQ(fw.screen().rows(), 31u);
    EXPECT_EQ(fw.screen().text(), "");
    EXPECT_EQ(o->mode->cursor_column, 0);
    EXPECT_EQ(o->set_mode(o, 7), efi::kUnsupported);
    EXPECT_EQ(o->mode->mode, 1);

    fw.set_text_modes({{80, 25}, {100, 31}, {128, 40}});
    EXPECT_EQ(o->mode->max_mode, 3);
    EXPECT_EQ(o->mode->mode, 0);
    fw.set_query_mode_fails(true);
    EXPECT_TRUE(efi::is_error(o->query_mode(o, 0, &c, &r)));
}

TEST(SimScreen, ClearScreenUsesTheAttributeAndHomes) {
    sim::SimFirmware fw;
    Out out{fw};
    auto* o = out.o();
    out.put(u"abc\r\ndef");
    o->set_attribute(o, 0x17);
    ASSERT_EQ(o->clear_screen(o), efi::kSuccess);
    EXPECT_EQ(fw.screen().text(), "");
    EXPECT_EQ(fw.screen().cell(5, 5).attribute, 0x17);
    EXPECT_EQ(o->mode->cursor_row, 0);
    EXPECT_EQ(o->mode->cursor_column, 0);
}

TEST(SimScreen, CursorPositionAndVisibility) {
    sim::SimFirmware fw;
    Out out{fw};
    auto* o = out.o();
    EXPECT_EQ(o->set_cursor_position(o, 80, 0), efi::kUnsupported);
    EXPECT_EQ(o->set_cursor_position(o, 0, 25), efi::kUnsupported);
    ASSERT_EQ(o->set_cursor_position(o, 79, 24), efi::kSuccess);
    EXPECT_EQ(o->mode->cursor_column, 79);
    EXPECT_EQ(o->mode->cursor_row, 24);
    o->enable_cursor(o, 0);
    EXPECT_FALSE(o->mode->cursor_visible);
    EXPECT_FALSE(fw.screen().cursor_visible());
    EXPECT_EQ(o->set_attribute(o, 0x80), efi::kUnsupported);
}

TEST(SimScreen, TranscriptIsUtf8AndStdErrSharesTheScreen) {
    sim::SimFirmware fw;
    Out out{fw};
    out.put(u"\u00e9\u20ac");
    auto* err = fw.system_table()->std_err;
    err->output_string(err, u"!");
    EXPECT_EQ(fw.screen().transcript(), "\xc3\xa9\xe2\x82\xac!");
    EXPECT_EQ(fw.screen().row_text(0), "\xc3\xa9\xe2\x82\xac!");
    fw.screen().clear_transcript();
    EXPECT_EQ(fw.screen().transcript(), "");
}

TEST(SimScreen, ResetRestoresModeZeroAndGrey) {
    sim::SimFirmware fw;
    Out out{fw};
    auto* o = out.o();
    o->set_mode(o, 1);
    o->set_attribute(o, 0x4e);
    out.put(u"x");
    ASSERT_EQ(o->reset(o, 0), efi::kSuccess);
    EXPECT_EQ(o->mode->mode, 0);
    EXPECT_EQ(o->mode->attribute, 0x07);
    EXPECT_EQ(fw.screen().text(), "");
}

}  // namespace

namespace {

TEST(SimScreen, ConsoleListenerSeesEveryChange) {
    sim::SimFirmware fw;
    std::string log;
    sim::SimFirmware::ConsoleListener l;
    l.text = [&](const char16_t* t) { log += "T" + std::to_string(std::u16string(t).size()); };
    l.attribute = [&](uint8_t a) { log += "A" + std::to_string(a); };
    l.clear = [&] { log += "C"; };
    l.cursor = [&](uint64_t c, uint64_t r) { log += "P" + std::to_string(c) + "," + std::to_string(r); };
    l.cursor_visible = [&](bool v) { log += v ? "V" : "H"; };
    l.mode = [&](uint64_t c, uint64_t r) { log += "M" + std::to_string(c) + "x" + std::to_string(r); };
    fw.set_console_listener(l);
    auto* o = fw.system_table()->con_out;
    o->output_string(o, u"abc");
    o->set_attribute(o, 0x1e);
    o->clear_screen(o);
    o->set_cursor_position(o, 2, 3);
    o->enable_cursor(o, 0);
    o->set_mode(o, 1);
    o->set_cursor_position(o, 200, 3);  // refused: not reported
    EXPECT_EQ(log, "T3A30CP2,3HM100x31");
}

}  // namespace

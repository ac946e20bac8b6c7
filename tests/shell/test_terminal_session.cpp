// Sessions typed on a serial terminal whose size differs from the firmware's text mode
// (100x31, as under OVMF): the screen model is the terminal, the firmware's cursor row
// stops at its own last row, and the terminal answers the size query on the serial line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "sim.h"
#include "volumes.h"

using namespace tarn;

namespace {

constexpr uint64_t kSerialUsPerUnit = 87;  // 115200 baud, ten bits a character

struct Terminal {
    uint64_t columns;
    uint64_t rows;
};
const Terminal kTerminals[] = {{120, 40}, {80, 24}};

struct TerminalMachine {
    sim::SimFirmware fw;
    sim::VolumeId boot;

    TerminalMachine(Terminal t, bool answers = true) {
        boot = sim::add_volume(fw);
        sim::set_boot_volume(fw, boot);
        fw.set_text_modes({{80, 25}, {100, 31}});
        fw.attach_serial_terminal(t.columns, t.rows, answers);
        // When the typed keys are used up: the terminal as it is then, and exit (which
        // restores the text mode, clearing the screen).
        fw.set_key_source([this](uint64_t) {
            const std::string& t = fw.screen().transcript();
            bool at_prompt = t.size() >= 2 && t.compare(t.size() - 2, 2, "> ") == 0;
            if (fw.pending_keys() != 0 || ended || !at_prompt)
                return sim::SimFirmware::KeySourceResult::kTimeout;
            ended = true;
            at_end = grid();
            fw.push_text("exit\r");
            return sim::SimFirmware::KeySourceResult::kKeys;
        });
    }
    bool ended = false;
    std::vector<std::string> at_end;
    // Types lines as a person does: the first once the first prompt is there (after the
    // terminal has answered), each next one a moment later (the break poll keeps only
    // 32 keys typed while a command runs).
    void type_lines(const std::string& typed) {
        size_t start = 0;
        while (start < typed.size()) {
            size_t end = typed.find('\r', start);
            end = end == std::string::npos ? typed.size() : end + 1;
            fw.push_key(static_cast<char16_t>(typed[start]), 0, 0, start == 0 ? 500000 : 100000);
            fw.push_text(typed.substr(start + 1, end - start - 1));
            start = end;
        }
    }
    // Boots the shell with the lines typed.
    sim::SimFirmware::RunResult boot_and_type(const std::string& typed) {
        type_lines(typed);
        efi::Status returned = 0;
        auto r = fw.run([&] { returned = entry(fw.image_handle(), fw.system_table()); });
        EXPECT_FALSE(r.stuck) << r.message;
        return r;
    }
    std::vector<std::string> grid() {
        std::vector<std::string> rows;
        for (uint64_t r = 0; r < fw.screen().rows(); r++) rows.push_back(fw.screen().row_text(r));
        while (!rows.empty() && rows.back().empty()) rows.pop_back();
        return rows;
    }
};

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

// What a terminal of that size shows after the text was written from its top-left cell
// (lines wrap at the last column): the last `rows` screen lines, trailing blanks removed.
std::vector<std::string> expected_view(const std::string& text, Terminal t) {
    std::vector<std::string> screen_lines;
    for (const std::string& line : split_lines(text)) {
        if (line.empty()) screen_lines.push_back("");
        for (size_t i = 0; i < line.size(); i += t.columns) screen_lines.push_back(line.substr(i, t.columns));
    }
    if (screen_lines.size() > t.rows) screen_lines.erase(screen_lines.begin(), screen_lines.end() - t.rows);
    for (auto& l : screen_lines)
        while (!l.empty() && l.back() == ' ') l.pop_back();
    while (!screen_lines.empty() && screen_lines.back().empty()) screen_lines.pop_back();
    return screen_lines;
}

// The transcript from the last screen clear on (cls writes nothing but the clear).
std::string after_cls(const sim::Screen& screen) {
    std::string t = screen.transcript_lines();
    size_t at = t.rfind("> cls\n");
    return at == std::string::npos ? t : t.substr(at + 6);
}

}  // namespace

TEST(TerminalSession, TheTerminalsSizeIsAskedOnceOnTheSerialLine) {
    TerminalMachine m(kTerminals[0]);
    m.boot_and_type("echo a\recho b\rexit\r");
    const std::string& bytes = m.fw.serial_bytes();
    EXPECT_EQ(bytes.find("\x1b[6n\x1b" "7\x1b[999;999H\x1b[6n\x1b" "8"), 0u) << bytes;
    EXPECT_EQ(bytes.find("[6n", 20), std::string::npos) << "asked again";
}

// Twenty commands after cls: on a terminal taller or smaller than the text mode no line
// is written over another; the screen shows the last lines of the transcript in order.
TEST(TerminalSession, NoEarlierLineIsOverwritten) {
    for (Terminal t : kTerminals) {
        TerminalMachine m(t);
        std::string typed = "cls\r";
        for (int i = 0; i < 8; i++) typed += "ver\r";
        for (int i = 0; i < 11; i++) typed += "echo line " + std::to_string(i) + "\r";
        typed += "echo marker\r";
        m.boot_and_type(typed);
        std::string text = after_cls(m.fw.screen());
        ASSERT_NE(text.find("> echo marker\nmarker\n"), std::string::npos) << text;
        text = text.substr(0, text.rfind("exit\n"));
        EXPECT_EQ(m.at_end, expected_view(text, t)) << t.columns << "x" << t.rows;
    }
}

// The same without an answer from the terminal (a log capture): the text mode's size
// stays in charge and nothing waits long for the answer.
TEST(TerminalSession, ATerminalThatNeverAnswersCostsLittle) {
    TerminalMachine m(kTerminals[0], false);
    m.boot_and_type("exit\r");
    EXPECT_LT(m.fw.now_us(), 2000000u);
    EXPECT_NE(m.fw.screen().transcript_lines().find("> exit\n"), std::string::npos);
}

// A line longer than the terminal is wide, edited in the middle with the keys a Linux
// terminal sends (Escape, then characters): the rows show the edited line in place.
TEST(TerminalSession, ALongWrappedLineIsEditedInTheMiddle) {
    for (Terminal t : kTerminals) {
        TerminalMachine m(t);
        std::string body;
        for (int i = 0; i < 150; i++) body += static_cast<char>('a' + i % 26);
        m.fw.push_key(u'c', 0, 0, 500000);
        m.fw.push_text("ls\r");
        m.fw.push_key(u'e', 0, 0, 100000);
        m.fw.push_text("cho " + body);
        for (int i = 0; i < 100; i++) m.fw.push_escape_sequence("[D", 0, 100);
        m.fw.push_text("XYZ");
        m.fw.push_escape_sequence("[3~", 0, 100);       // Delete
        m.fw.push_escape_sequence("[1~", 0, 100);       // Home
        m.fw.push_escape_sequence("[1;5C", 0, 100);     // Ctrl+Right: after "echo"
        m.fw.push_text(" !");
        m.fw.push_escape_sequence("[4~", 0, 100);       // End
        m.fw.push_text("<\r");
        efi::Status returned = 0;
        auto r = m.fw.run([&] { returned = entry(m.fw.image_handle(), m.fw.system_table()); });
        ASSERT_FALSE(r.stuck) << r.message;
        std::string edited = body.substr(0, 50) + "XYZ" + body.substr(51) + "<";
        std::string command = "fs0:\\> echo ! " + edited;
        std::vector<std::string> want =
            expected_view(command + "\n! " + edited + "\nfs0:\\>", t);
        std::vector<std::string> got = m.at_end;
        ASSERT_GE(got.size(), want.size());
        got.erase(got.begin(), got.end() - static_cast<long>(want.size()));
        EXPECT_EQ(got, want) << t.columns << "x" << t.rows;
    }
}

// The pager counts the terminal's rows: on 80x24, 23 lines and the prompt, and the first
// line is still on the screen when the prompt asks.
TEST(TerminalSession, ThePagerStopsAfterTheLinesThatFit) {
    for (Terminal t : kTerminals) {
        TerminalMachine m(t);
        std::string text;
        for (int i = 1; i <= 100; i++) text += "line " + std::to_string(i) + "\n";
        sim::add_file(m.fw, m.boot, "long.txt", text);
        std::vector<std::string> at_prompt;
        bool asked = false;
        m.fw.set_key_source([&](uint64_t) {
            if (m.fw.screen().transcript().find("-- More --") == std::string::npos)
                return sim::SimFirmware::KeySourceResult::kTimeout;
            if (asked) return sim::SimFirmware::KeySourceResult::kEnd;
            asked = true;
            at_prompt.clear();
            for (uint64_t r = 0; r < m.fw.screen().rows(); r++) at_prompt.push_back(m.fw.screen().row_text(r));
            m.fw.push_text("qexit\r");
            return sim::SimFirmware::KeySourceResult::kKeys;
        });
        m.boot_and_type("cls\rmore long.txt\r");  // then q and exit from the key source
        ASSERT_TRUE(asked);
        const uint64_t shown = t.rows - 1;
        std::string last = "line " + std::to_string(shown);
        std::string transcript = m.fw.screen().transcript_lines();
        EXPECT_NE(transcript.find(last + "\n-- More --"), std::string::npos) << t.rows;
        EXPECT_EQ(transcript.find("line " + std::to_string(shown + 1) + "\n"), std::string::npos);
        // The terminal shows lines 1 to rows - 1 and the prompt on its last row.
        ASSERT_EQ(at_prompt.size(), t.rows);
        EXPECT_EQ(at_prompt[0], "line 1");
        EXPECT_EQ(at_prompt[shown - 1], last);
        EXPECT_EQ(at_prompt[shown].rfind("-- More --", 0), 0u) << at_prompt[shown];
    }
}

// Ctrl-C typed while one long file prints at the pace of a serial line stops the output
// within a poll interval or so, and the command ends with 130.
TEST(TerminalSession, CtrlCStopsTheOutputOfOneFile) {
    const char* commands[] = {"cat big.txt", "type big.txt", "grep -n line big.txt",
                              "head -n 100000 big.txt", "tail -n 100000 big.txt"};
    for (const char* command : commands) {
        TerminalMachine m(kTerminals[0]);
        std::string text;
        for (int i = 0; i < 5000; i++) text += "line " + std::to_string(i) + " of a long file\n";
        sim::add_file(m.fw, m.boot, "big.txt", text);
        m.fw.set_output_time_per_unit(kSerialUsPerUnit);
        m.type_lines(std::string("set pager off\r") + command + "\r");
        m.fw.push_key(3, 0, 0, 500000);  // half a second into the output
        m.type_lines("set lasterror\r");
        efi::Status returned = 0;
        auto r = m.fw.run([&] { returned = entry(m.fw.image_handle(), m.fw.system_table()); });
        ASSERT_FALSE(r.stuck) << r.message;
        std::string transcript = m.fw.screen().transcript_lines();
        size_t begin = transcript.find(std::string(command) + "\n");
        size_t stop = transcript.find("^C\n");
        ASSERT_NE(begin, std::string::npos) << command;
        ASSERT_NE(stop, std::string::npos) << command << transcript.substr(transcript.size() > 300 ? transcript.size() - 300 : 0);
        // About 0.5 s of output at 87 us a character, with at most 0.1 s more.
        uint64_t printed = stop - begin;
        EXPECT_LT(printed, 600000 / kSerialUsPerUnit) << command;
        EXPECT_GT(printed, 400000 / kSerialUsPerUnit) << command;
        EXPECT_NE(transcript.find("> set lasterror\n0x82\n"), std::string::npos) << command << transcript.substr(stop);
    }
}

// The core commands and the interactive session, run as a user would over the
// simulated firmware: whole command lines, typed keys, the screen and the exit status.
#include <gtest/gtest.h>

#include <string>

#include "fs/volumes.h"
#include "runtime/console.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/entry.h"
#include "shell/executor.h"
#include "shell/history.h"
#include "shell/session_state.h"
#include "sim.h"
#include "uefi/guids.h"
#include "volumes.h"

using namespace tarn;

namespace {

// A simulated machine with one boot volume, the shell's modules registered as at start-up.
struct Machine {
    sim::SimFirmware fw;
    sim::VolumeId boot;

    explicit Machine(bool start_shell = true) {
        boot = sim::add_volume(fw);
        sim::set_boot_volume(fw, boot);
        if (start_shell) start();
    }
    // What shell_main does before reading its arguments, without the session.
    void start() {
        char* argv[] = {const_cast<char*>("tarn"), const_cast<char*>("-c"), const_cast<char*>(""), nullptr};
        prepare_firmware(fw.image_handle(), fw.system_table());
        initialize_volumes();
        shell_main(3, argv);  // registers modules and hooks, runs an empty program
        fw.screen().clear_transcript();
    }
    // Runs one command line; returns its exit code; output (not errors) in *out.
    int run(const std::string& line, std::string* out = nullptr) {
        StringBuffer captured;
        EXPECT_EQ(push_capture(&captured), 0);
        int code = run_command_line(line.c_str());
        EXPECT_EQ(pop_redirection(), 0);
        if (out) *out = captured.c_str();
        return code;
    }
    std::string output(const std::string& line) {
        std::string s;
        run(line, &s);
        return s;
    }
    std::string errors() {
        std::string e = fw.screen().text_in_foreground(12), out;
        for (char c : e)
            if (c != '\r') out += c;
        return out;
    }
};

}  // namespace

TEST(CoreCommands, HelpListsCommandsAlignedAndSorted) {
    Machine m;
    std::string s = m.output("help");
    EXPECT_EQ(s.rfind("Commands (help NAME for details, 'help basic' for the scripting language):\n\n", 0), 0u);
    // The summaries start in one column, two blanks after the longest command name.
    size_t longest = 0;
    for (size_t at = s.find("\n  "); at != std::string::npos; at = s.find("\n  ", at + 1)) {
        size_t end = s.find(' ', at + 3);
        if (end != std::string::npos && s[at + 3] != ' ') longest = std::max(longest, end - at - 3);
    }
    auto row = [&](const std::string& name, const std::string& summary) {
        return "  " + name + std::string(longest + 2 - name.size(), ' ') + summary + "\n";
    };
    size_t alias = s.find(row("alias", "Show or define command aliases"));
    size_t which = s.find(row("which", "Show what a command name refers to"));
    ASSERT_NE(alias, std::string::npos) << s;
    ASSERT_NE(which, std::string::npos);
    EXPECT_LT(alias, s.find("  echo "));
    EXPECT_LT(s.find("  sleep "), which);
    EXPECT_NE(s.find("\nScripts (.tsb) and EFI applications (.efi) are run by typing their name.\n"),
              std::string::npos);
}

TEST(CoreCommands, HelpForACommand) {
    Machine m;
    EXPECT_EQ(m.output("help ECHO"), "usage: echo [-n] [TEXT...]\n\nPrint text (-n: no newline)\n");
    std::string s = m.output("help sleep");
    EXPECT_EQ(s.rfind("usage: sleep MILLISECONDS\n\nWait for the given time\n\n  ", 0), 0u) << s;
}

TEST(CoreCommands, HelpForLanguageWords) {
    Machine m;
    std::string s = m.output("help print");
    EXPECT_EQ(s.rfind("PRINT is a TARN BASIC statement.\n\n", 0), 0u) << s;
    EXPECT_NE(s.find("  Output    PRINT a; b$, c"), std::string::npos);
    EXPECT_NE(s.find("PRINT FIELD$(v$(0), \"volume\")"), std::string::npos);
    EXPECT_NE(s.find("\nMore: 'help basic' (language), 'help functions' (functions).\n"), std::string::npos);

    s = m.output("help len");
    EXPECT_EQ(s.rfind("LEN is a TARN BASIC built-in function.\n\n", 0), 0u) << s;
    EXPECT_NE(s.find("  Strings   LEN(s$)"), std::string::npos);

    // "left" is found as LEFT$, and the lines that mention LEFT$ are shown.
    s = m.output("help left");
    EXPECT_EQ(s.rfind("LEFT$ is a TARN BASIC built-in function.\n\n", 0), 0u) << s;
    EXPECT_NE(s.find("LEFT$(s$,n)"), std::string::npos);

    EXPECT_EQ(m.run("help xyzzy"), 1);
    EXPECT_NE(m.errors().find("help: no help for 'xyzzy' (try 'help', 'help basic' or 'help functions')"),
              std::string::npos);
    EXPECT_NE(m.output("help basic").find("TARN BASIC - quick reference\n"), std::string::npos);
    EXPECT_NE(m.output("help FUNC").find("Built-in functions\n"), std::string::npos);
}

TEST(CoreCommands, Echo) {
    Machine m;
    EXPECT_EQ(m.output("echo -n a b"), "a b");
    EXPECT_EQ(m.output("echo -off"), "");
    EXPECT_EQ(m.output("echo -ON"), "");
    EXPECT_EQ(m.output("echo -N x"), "-N x\n");
    EXPECT_EQ(m.output("echo -b x"), "-b x\n");
    EXPECT_EQ(m.output("echo"), "\n");
    EXPECT_EQ(m.output("echo \"a  b\"   c"), "a  b c\n");
}

TEST(CoreCommands, ExitForms) {
    Machine m;
    SessionState& s = session_state();
    EXPECT_EQ(m.run("exit /b 2"), 2);
    EXPECT_FALSE(s.leave_shell);
    EXPECT_FALSE(s.end_script);
    EXPECT_EQ(m.run("exit 1 2"), 2);
    EXPECT_NE(m.errors().find("usage: exit [/b] [CODE]"), std::string::npos);
    EXPECT_EQ(m.run("exit abc"), 2);
    EXPECT_FALSE(s.leave_shell);
    EXPECT_EQ(m.run("exit 0x10"), 16);
    EXPECT_TRUE(s.leave_shell);
    EXPECT_EQ(s.exit_code, 16);
}

TEST(CoreCommands, HistoryShowsTheLastEntriesWithTheirNumbers) {
    Machine m;
    for (int i = 1; i <= 10; i++) history_add(("cmd " + std::to_string(i)).c_str());
    EXPECT_EQ(m.output("history 3"), "    8  cmd 8\n    9  cmd 9\n   10  cmd 10\n");
    EXPECT_EQ(m.output("history 0"), "");
    EXPECT_EQ(m.run("history -x"), 2);
    EXPECT_NE(m.errors().find("history: unknown option -x"), std::string::npos);
    EXPECT_EQ(m.run("history -3"), 2);
    EXPECT_EQ(m.run("history -c"), 0);
    EXPECT_EQ(history_count(), 0u);
}

TEST(CoreCommands, ClsChecksItsColourAndKeepsTheScreenWhenRedirected) {
    Machine m;
    efi::SimpleTextOutput* out = m.fw.system_table()->con_out;
    EXPECT_EQ(m.run("cls 8"), 2);
    EXPECT_NE(m.errors().find("usage: cls [BACKGROUND]"), std::string::npos);
    console_set_raw_attribute(0x07);
    out->set_cursor_position(out, 5, 5);
    EXPECT_EQ(run_command_line("cls 1 > fs0:\\f.txt"), 0) << m.fw.screen().transcript_lines();
    EXPECT_EQ(out->mode->attribute, 0x17);
    EXPECT_EQ(out->mode->cursor_row, 5);  // not cleared
    EXPECT_EQ(run_command_line("cls"), 0);
    EXPECT_EQ(out->mode->cursor_row, 0);
    EXPECT_EQ(out->mode->attribute, 0x17);
}

TEST(CoreCommands, SleepWaitsOnTheClockAndStopsOnCtrlC) {
    Machine m;
    EXPECT_EQ(m.run("sleep -5"), 2);
    EXPECT_EQ(m.run("sleep"), 2);
    uint64_t t0 = m.fw.now_us();
    EXPECT_EQ(m.run("sleep 0"), 0);
    EXPECT_LT(m.fw.now_us() - t0, 1000u);
    t0 = m.fw.now_us();
    EXPECT_EQ(m.run("sleep 250"), 0);
    EXPECT_GE(m.fw.now_us() - t0, 250000u);
    EXPECT_LT(m.fw.now_us() - t0, 320000u);
    m.fw.push_key(3, 0, 0, 100000);
    t0 = m.fw.now_us();
    EXPECT_EQ(m.run("sleep 5000"), 130);
    EXPECT_LT(m.fw.now_us() - t0, 200000u);
}

TEST(CoreCommands, PauseAnswersWithTheKey) {
    Machine m;
    m.fw.push_key(u'x');
    EXPECT_EQ(m.run("pause"), 0);
    EXPECT_NE(m.fw.screen().transcript_lines().find("Press any key to continue...\n"), std::string::npos);
    m.fw.push_key(0, 0x17);
    EXPECT_EQ(m.run("pause -q Ready now"), 130);
    EXPECT_NE(m.fw.screen().transcript_lines().find("Ready now\n"), std::string::npos);
}

TEST(CoreCommands, WhichReportsEachName) {
    Machine m;
    std::string out;
    EXPECT_EQ(m.run("which echo nowhere_at_all", &out), 127);
    EXPECT_EQ(out, "echo: built-in command\n");
    EXPECT_NE(m.errors().find("nowhere_at_all: not found\n"), std::string::npos);
    EXPECT_EQ(m.run("alias ll ls"), 0);
    EXPECT_EQ(m.output("which ll len"), "ll: alias for ls\nlen: BASIC function\n");
    sim::add_file(m.fw, m.boot, "tools\\hello.tsb", "PRINT 1\n");
    EXPECT_EQ(m.run("set path fs0:\\tools"), 0);
    EXPECT_EQ(m.output("which hello"), "hello: fs0:\\tools\\hello.tsb\n") << m.output("set") << m.fw.screen().transcript_lines();
    EXPECT_EQ(m.run("which"), 2);
}

TEST(CoreCommands, VerPrintsShellAndFirmwareLines) {
    Machine m;
    std::string s = m.output("ver");
    EXPECT_EQ(s.rfind("TARN 0.2.1 - Tarnwick\nPlatform: UEFI x86_64\nFirmware: ", 0), 0u) << s;
    EXPECT_NE(s.find("UEFI:     "), std::string::npos);
    EXPECT_NE(s.find("Secure Boot: inactive\n"), std::string::npos);
    s = m.output("ver -data");
    EXPECT_EQ(s.rfind("shell=TARN\nversion=0.2.1\nplatform=UEFI x86_64\nfirmware=", 0), 0u) << s;
    EXPECT_NE(s.find("\nfirmware_revision=0x"), std::string::npos);
    EXPECT_NE(s.find("\nsecure_boot=no\n"), std::string::npos);
    EXPECT_EQ(s.find("\n\n"), std::string::npos);  // one record
}

// ---- the whole program through the entry point ----

namespace {

struct Boot {
    sim::SimFirmware::RunResult result;
    std::string screen;
};

Boot boot_shell(sim::SimFirmware& fw, const std::u16string& options, const std::string& typed) {
    efi::LoadedImage* li = nullptr;
    fw.system_table()->boot_services->handle_protocol(fw.image_handle(), &efi::kLoadedImageProtocolGuid,
                                                      reinterpret_cast<void**>(&li));
    std::u16string opts = options;
    opts.push_back(0);
    if (!options.empty()) {
        li->load_options = opts.data();
        li->load_options_size = static_cast<uint32_t>(opts.size() * 2);
    }
    fw.push_text(typed);
    Boot b;
    efi::Status returned = 0;
    b.result = fw.run([&] { returned = entry(fw.image_handle(), fw.system_table()); });
    if (!b.result.exited) b.result.status = returned;
    b.screen = fw.screen().transcript_lines();
    li->load_options = nullptr;
    li->load_options_size = 0;
    return b;
}

}  // namespace

TEST(Session, HelpOptionPrintsUsageAndSucceeds) {
    Machine m(false);
    Boot b = boot_shell(m.fw, u"tarn.efi -h", "");
    EXPECT_EQ(b.result.status, 0u);
    EXPECT_NE(b.screen.find("usage: tarn [-n] [-c CODE] [-k SCRIPT...] [SCRIPT [ARGS...]]\n"
                            "  -c CODE   run BASIC code and exit\n"),
              std::string::npos);
    EXPECT_EQ(b.screen.find("TARN 0.2.1"), std::string::npos);
}

TEST(Session, CodeModeRunsAndReportsSyntaxErrors) {
    {
        Machine m(false);
        Boot b = boot_shell(m.fw, u"tarn.efi -n -c \"FOR i = 1 TO 3: PRINT i;: NEXT: PRINT\"", "");
        EXPECT_EQ(b.result.status, 0u);
        EXPECT_NE(b.screen.find("123\n"), std::string::npos) << b.screen;
    }
    {
        Machine m(false);
        Boot b = boot_shell(m.fw, u"tarn.efi -c", "");
        EXPECT_EQ(b.result.status, efi::kErrorBit | 2);
    }
    {
        Machine m(false);
        Boot b = boot_shell(m.fw, u"tarn.efi -c \"PRINT (\"", "");
        EXPECT_EQ(b.result.status, efi::kErrorBit | 1);
        EXPECT_NE(b.screen.find("syntax error: "), std::string::npos);
    }
}

TEST(Session, CheckModeReportsEachScript) {
    Machine m(false);
    sim::add_file(m.fw, m.boot, "a.tsb", "PRINT 1\nIF x THEN\n");
    sim::add_file(m.fw, m.boot, "b.tsb", "PRINT 2\n");
    Boot b = boot_shell(m.fw, u"tarn.efi -k a.tsb b.tsb missing.tsb", "");
    EXPECT_EQ(b.result.status, efi::kErrorBit | 1);
    EXPECT_NE(b.screen.find("fs0:\\a.tsb:"), std::string::npos) << b.screen;
    EXPECT_NE(b.screen.find("syntax error"), std::string::npos);
    EXPECT_EQ(b.screen.find("b.tsb:"), std::string::npos);
    EXPECT_NE(b.screen.find("missing.tsb: not found\n"), std::string::npos);
}

TEST(Session, PromptRunsCommandsAndBasicAndLeavesWithTheExitCode) {
    Machine m(false);
    Boot b = boot_shell(m.fw, u"", "echo hi there\rx = 5\rPRINT x * 2\rexit 3\r");
    EXPECT_EQ(b.result.status, efi::kErrorBit | 3);
    EXPECT_NE(b.screen.find("TARN 0.2.1 - Tarnwick (UEFI x86_64)\n"), std::string::npos) << b.screen;
    EXPECT_NE(b.screen.find("fs0:\\> echo hi there\nhi there\n"), std::string::npos) << b.screen;
    EXPECT_NE(b.screen.find("PRINT x * 2\n10\n"), std::string::npos);
}

TEST(Session, ExitCodeKeepsTheLowEightBits) {
    Machine m(false);
    Boot b = boot_shell(m.fw, u"", "exit 256\r");
    EXPECT_EQ(b.result.status, efi::kErrorBit);
}

TEST(Session, BlocksCollectWithTheContinuationPromptAndCtrlCCancels) {
    Machine m(false);
    m.fw.push_text("FOR i = 1 TO 2\rPRINT \"n\"; i\rNEXT\rFOR j = 1 TO 2\r");
    m.fw.push_key(3, 0, 0, 300000);  // typed once the loop has run
    Boot b = boot_shell(m.fw, u"", "echo after\rexit\r");
    EXPECT_EQ(b.result.status, 0u);
    EXPECT_NE(b.screen.find("... PRINT \"n\"; i\n... NEXT\nn1\nn2\n"), std::string::npos) << b.screen;
    EXPECT_NE(b.screen.find("(block cancelled)\n"), std::string::npos);
    EXPECT_NE(b.screen.find("after\n"), std::string::npos);
}

TEST(Session, StartupScriptCountdown) {
    {  // ESC skips it
        Machine m(false);
        sim::add_file(m.fw, m.boot, "startup.tsb", "PRINT \"started\"\n");
        m.fw.push_key(0, 0x17, 0, 500000);
        Boot b = boot_shell(m.fw, u"", "exit\r");
        EXPECT_NE(b.screen.find("Running fs0:\\startup.tsb in 3 s (ESC to skip, any other key to start now) "),
                  std::string::npos)
            << b.screen;
        EXPECT_EQ(b.screen.find("started\n"), std::string::npos);
    }
    {  // any other key starts it at once
        Machine m(false);
        sim::add_file(m.fw, m.boot, "startup.tsb", "PRINT \"started\"\n");
        m.fw.push_key(u'\r', 0, 0, 200000);
        uint64_t t0 = m.fw.now_us();
        Boot b = boot_shell(m.fw, u"", "exit\r");
        EXPECT_NE(b.screen.find("started\n"), std::string::npos);
        EXPECT_EQ(b.screen.find("in 2 s"), std::string::npos);
        EXPECT_LT(m.fw.now_us() - t0, 1500000u);
    }
    {  // the countdown runs out
        Machine m(false);
        sim::add_file(m.fw, m.boot, "startup.tsb", "PRINT \"started\"\n");
        m.fw.push_key(u'e', 0, 0, 3500000);
        Boot b = boot_shell(m.fw, u"", "xit\r");
        EXPECT_NE(b.screen.find("in 1 s"), std::string::npos);
        EXPECT_NE(b.screen.find("started\n"), std::string::npos);
    }
    {  // -n: no countdown
        Machine m(false);
        sim::add_file(m.fw, m.boot, "startup.tsb", "PRINT \"started\"\n");
        Boot b = boot_shell(m.fw, u"tarn.efi -n", "exit\r");
        EXPECT_EQ(b.screen.find("Running"), std::string::npos);
    }
}

TEST(Session, NoVolumeMeansTarnPrompt) {
    sim::SimFirmware fw;
    Boot b = boot_shell(fw, u"", "exit\r");
    EXPECT_NE(b.screen.find("tarn> "), std::string::npos) << b.screen;
}

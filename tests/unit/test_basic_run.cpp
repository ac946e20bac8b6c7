// RUN and RUN$ through the command executor, script files and their nesting, and the
// exit requests of the session.
#include "test_basic_support.h"

#include "fs/files.h"
#include "runtime/memory.h"
#include "fs/volumes.h"
#include "shell/executor.h"
#include "shell/hooks.h"
#include "shell/registry.h"
#include "volumes.h"

using namespace basic_test;

namespace {

int say(int count, char** vector) {
    for (int i = 1; i < count; i++) out_printf(i > 1 ? " %s" : "%s", vector[i]);
    out_text("\n");
    return 0;
}

int words(int count, char** vector) {
    for (int i = 1; i < count; i++) out_printf("[%s]", vector[i]);
    out_text("\n");
    return 0;
}

int fail(int, char**) { return 3; }

// Stand-ins for `exit CODE` and `exit /b CODE`.
int leave(int count, char** vector) {
    SessionState& s = session_state();
    s.leave_shell = true;
    s.exit_code = count > 1 ? vector[1][0] - '0' : 0;
    return s.exit_code;
}

int end_script(int count, char** vector) {
    SessionState& s = session_state();
    s.end_script = true;
    s.exit_code = count > 1 ? vector[1][0] - '0' : 0;
    return s.exit_code;
}

constexpr CommandDescriptor kCommands[] = {
    {"say", say, nullptr, nullptr, nullptr, 0},
    {"words", words, nullptr, nullptr, nullptr, 0},
    {"fail", fail, nullptr, nullptr, nullptr, 0},
    {"leave", leave, nullptr, nullptr, nullptr, 0},
    {"endscript", end_script, nullptr, nullptr, nullptr, 0},
};

class BasicRun : public BasicTest {
protected:
    sim::VolumeId volume = 0;

    void SetUp() override {
        BasicTest::SetUp();
        volume = sim::add_volume(fw);
        sim::set_boot_volume(fw, volume);
        initialize_volumes();
        fs_install_hooks();
        register_commands(kCommands, array_size(kCommands));
        install_basic_hooks();
    }
    void TearDown() override {
        reset_fs_state();
        reset_registry();
        reset_hooks();
        reset_executor_state();
        BasicTest::TearDown();
    }

    std::string file_content(const std::string& path) { return tarn_test::file_content(fw, volume, path); }

    int script(const std::string& path, std::vector<std::string> args = {}, std::string* output = nullptr) {
        std::vector<std::string> words{path};
        for (auto& a : args) words.push_back(a);
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        StringBuffer buffer;
        EXPECT_EQ(push_capture(&buffer), 0);
        int code = run_script_file(path.c_str(), static_cast<int>(words.size()), argv.data());
        EXPECT_EQ(pop_redirection(), 0);
        if (output) *output = buffer.c_str();
        return code;
    }
};

}  // namespace

TEST_F(BasicRun, RunCommandLinesAndArgumentLists) {
    EXPECT_EQ(out("RUN \"say hello  world\": PRINT ERR"), "hello world\n0\n");
    EXPECT_EQ(out("RUN \"words\", \"a b\", \"\", 5: PRINT ERR"), "[a b][][5]\n0\n");
    EXPECT_EQ(out("RUN \"fail\": PRINT ERR"), "3\n");
    RunResult r = run("RUN \"nosuchcmd\": PRINT \"still here\"; ERR");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "still here127\n");
    EXPECT_EQ(r.errors, "nosuchcmd: command not found\n");
}

TEST_F(BasicRun, RunDollarCapturesOutput) {
    EXPECT_EQ(out("x$ = RUN$(\"say hi\"): PRINT \"[\" + x$ + \"]\"; ERR"), "[hi]0\n");
    EXPECT_EQ(out("x$ = RUN$(\"say\", \"a\", \"b\" + CHR$(10) + CHR$(13) + CHR$(10)): PRINT \"[\" + x$ + \"]\""),
              "[a b]\n");
    EXPECT_EQ(out("x$ = RUN$(\"fail\"): PRINT LEN(x$); ERR"), "03\n");
    // Nested captures: the inner output lands in the inner buffer only.
    EXPECT_EQ(out("x$ = RUN$(\"say \" + RUN$(\"say in\")): PRINT x$"), "in\n");
}

TEST_F(BasicRun, RunToAndAppendFiles) {
    EXPECT_EQ(out("RUN \"say one\" TO \"fs0:\\out.txt\": RUN \"say two\" APPEND \"out.txt\": PRINT ERR"), "0\n");
    EXPECT_EQ(file_content("\\out.txt"), "one\ntwo\n");
    EXPECT_EQ(out("RUN \"say three\" TO \"fs0:\\out.txt\""), "");
    EXPECT_EQ(file_content("\\out.txt"), "three\n");
    EXPECT_EQ(error("RUN \"say x\" TO \"fs9:\\out.txt\""), "RUN: invalid output file fs9:\\out.txt");
    // A file that cannot be opened is reported, ERR is 1 and the script goes on.
    RunResult r = run("RUN \"say x\" TO \"fs0:\\nodir\\out.txt\": PRINT \"next\"; ERR");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "next1\n");
    EXPECT_NE(r.errors.find("fs0:\\nodir\\out.txt: "), std::string::npos);
}

TEST_F(BasicRun, ExitRequestsEndTheScript) {
    RunResult r = run("RUN \"endscript 3\": PRINT \"not reached\"");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(session_state().end_script);  // consumed
    r = run("x$ = RUN$(\"leave 4\"): PRINT \"not reached\"");
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(session_state().leave_shell);  // stays for the enclosing scripts and the shell
}

TEST_F(BasicRun, ScriptFiles) {
    sim::add_file(fw, volume, "\\hello.tsb", "PRINT \"args\"; ARGC; ARG$(1)\nEND 5\n");
    std::string output;
    EXPECT_EQ(script("fs0:\\hello.tsb", {"x"}, &output), 5);
    EXPECT_EQ(output, "args1x\n");
    EXPECT_EQ(script_depth(), 0);
    // Run as a command through the executor.
    EXPECT_EQ(out("RUN \"fs0:\\hello.tsb\", \"y\": PRINT ERR"), "args1y\n5\n");
    // BOM, #! line and CR LF lines.
    sim::add_file(fw, volume, "\\bom.tsb", "\xEF\xBB\xBF#!tarn\r\nPRINT 1 / 0\r\n");
    size_t before = error_text().size();
    EXPECT_EQ(script("fs0:\\bom.tsb"), 1);
    EXPECT_EQ(error_text().substr(before), "fs0:\\bom.tsb:2: error: division by zero\n");
}

TEST_F(BasicRun, ScriptFileErrors) {
    size_t before = error_text().size();
    EXPECT_EQ(script("fs0:\\missing.tsb"), 1);
    sim::add_file(fw, volume, "\\bad.tsb", "PRINT 1\nPRINT 1 +\nPRINT 2\n");
    std::string output;
    EXPECT_EQ(script("fs0:\\bad.tsb", {}, &output), 1);
    EXPECT_EQ(output, "");  // nothing ran
    std::string errors = error_text().substr(before);
    EXPECT_EQ(errors.substr(0, std::string("fs0:\\missing.tsb: ").size()), "fs0:\\missing.tsb: ");
    EXPECT_NE(errors.find("fs0:\\bad.tsb:2: syntax error: expected an expression, found end of line\n"),
              std::string::npos);
}

TEST_F(BasicRun, ScriptsNestedTooDeeply) {
    // Each level runs the next one; level 33 is refused and every level goes on with ERR 1.
    sim::add_file(fw, volume, "\\deep.tsb",
                  "n = VAL(ARG$(1))\nRUN \"fs0:\\deep.tsb\", STR$(n + 1)\n"
                  "IF n = 32 THEN PRINT \"deepest\"; ERR\nEND ERR\n");
    std::string output;
    size_t before = error_text().size();
    EXPECT_EQ(script("fs0:\\deep.tsb", {"1"}, &output), 1);
    EXPECT_EQ(output, "deepest1\n");
    EXPECT_EQ(error_text().substr(before), "fs0:\\deep.tsb: scripts nested too deeply\n");
    EXPECT_EQ(script_depth(), 0);
}

TEST_F(BasicRun, CapturesNestOnlySoDeep) {
    // Each level captures the next; the output channel's redirection stack ends it cleanly.
    sim::add_file(fw, volume, "\\cap.tsb", "x$ = RUN$(\"fs0:\\cap.tsb\")\nPRINT \"x\" + x$\n");
    std::string output;
    size_t before = error_text().size();
    EXPECT_EQ(script("fs0:\\cap.tsb", {}, &output), 0);
    // The test's own capture takes one of the 16 places: levels 1 to 15 capture, level 16
    // stops with the error, and every level above it adds its "x".
    EXPECT_EQ(output, "xxxxxxxxxxxxxxx\n");
    EXPECT_NE(error_text().find("RUN$: captures nested too deeply", before), std::string::npos);
    EXPECT_EQ(redirection_depth(), 0);
}

TEST_F(BasicRun, ExitInANestedScriptEndsEveryScript) {
    sim::add_file(fw, volume, "\\inner.tsb", "RUN \"leave 6\"\nPRINT \"inner goes on\"\n");
    sim::add_file(fw, volume, "\\outer.tsb", "RUN \"fs0:\\inner.tsb\"\nPRINT \"outer goes on\"\n");
    std::string output;
    EXPECT_EQ(script("fs0:\\outer.tsb", {}, &output), 6);
    EXPECT_EQ(output, "");
    EXPECT_TRUE(session_state().leave_shell);
}

TEST_F(BasicRun, DeepCapturesAreStoppedByTheStackCheck) {
    // A function that captures a script which calls the function again: the nesting is
    // stopped by the script limit or the stack budget, never by a stack overflow.
    sim::add_file(fw, volume, "\\again.tsb",
                  "FUNCTION down(n)\n IF n = 0 THEN RETURN VAL(RUN$(\"fs0:\\again.tsb\"))\n"
                  " RETURN down(n - 1)\nEND FUNCTION\nPRINT down(150)\n");
    uint64_t old = set_stack_budget(256 * 1024);
    std::string output;
    int code = script("fs0:\\again.tsb", {}, &output);
    set_stack_budget(old);
    // Whichever level meets the budget stops with the error; the levels above it go on.
    EXPECT_TRUE(code == 0 || code == 1) << code;
    EXPECT_NE(error_text().find("error: nesting too deep: out of stack space"), std::string::npos);
    EXPECT_EQ(script_depth(), 0);
}

TEST_F(BasicRun, DeepCapturesWithTheDefaultBudget) {
    // 32 scripts of 150 calls each would need far more than the budget: one of the limits
    // (stack budget, script nesting, the output channel's 16 redirections) stops the
    // nesting well before the real stack ends.
    sim::add_file(fw, volume, "\\again.tsb",
                  "FUNCTION down(n)\n IF n = 0 THEN RETURN VAL(RUN$(\"fs0:\\again.tsb\"))\n"
                  " RETURN down(n - 1)\nEND FUNCTION\nPRINT down(150)\n");
    std::string output;
    int code = script("fs0:\\again.tsb", {}, &output);
    EXPECT_TRUE(code == 0 || code == 1) << code;
    std::string errors = error_text();
    EXPECT_TRUE(errors.find("nesting too deep: out of stack space") != std::string::npos ||
                errors.find("scripts nested too deeply") != std::string::npos ||
                errors.find("RUN$: captures nested too deeply") != std::string::npos)
        << errors;
    EXPECT_EQ(script_depth(), 0);
}

// Shared helpers of the BASIC unit tests: run code the way -c, scripts and the prompt do,
// capturing normal output and the error lines.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basic/engine.h"
#include "basic/functions.h"
#include "basic/lexer.h"
#include "basic/program.h"
#include "runtime/output.h"
#include "shell/session_state.h"
#include "command_test.h"
#include "sim.h"

namespace basic_test {

using namespace tarn;

using tarn_test::RunResult;

struct ParseResult {
    bool ok = false;
    std::string message;
    int line = 0;
    bool incomplete = false;
};

inline ParseResult parse(const std::string& text) {
    Program program;
    ParseResult r;
    r.ok = parse_program(text.data(), text.size(), &program);
    r.message = program.message;
    r.line = program.error_line;
    r.incomplete = program.incomplete;
    if (r.ok) free_program(&program);
    return r;
}

inline std::string syntax(const std::string& text) {
    ParseResult r = parse(text);
    return r.ok ? std::string("<ok>") : r.message;
}

class BasicTest : public ::testing::Test {
protected:
    sim::SimFirmware fw;

    void SetUp() override {
        reset_basic_state();
        reset_session_state();
        register_basic_functions();
    }
    void TearDown() override {
        reset_basic_state();
        reset_session_state();
        EXPECT_EQ(fw.outstanding_allocations(), 0);
    }

    // Error lines as written to the console, carriage returns removed.
    std::string error_text() { return tarn_test::error_lines(fw.screen()); }

    // As `tarn -c CODE ARGS...`, or as a script when path is given.
    RunResult run(const std::string& code, const std::vector<std::string>& args = {},
                  const char* path = nullptr) {
        return tarn_test::run_basic(fw, code, args, path);
    }

    // Output of code that is expected to run without error.
    std::string out(const std::string& code) {
        RunResult r = run(code);
        EXPECT_EQ(r.errors, "") << code;
        return r.out;
    }

    // The error message of code that is expected to stop with a runtime error.
    std::string error(const std::string& code) {
        RunResult r = run(code);
        EXPECT_EQ(r.code, 1) << code;
        return tarn_test::error_message(r);
    }
};

// The interactive engine, fed text as the prompt does.
class Prompt {
public:
    Prompt() { engine_ = engine_create(0, nullptr, true); }
    ~Prompt() { engine_destroy(engine_); }
    Prompt(const Prompt&) = delete;
    Prompt& operator=(const Prompt&) = delete;
    ScriptEngine* engine() { return engine_; }

    // Runs one text; returns its exit code (or -2 when incomplete) and appends the output.
    int type(const std::string& text, std::string* output = nullptr) {
        bool incomplete = false;
        StringBuffer buffer;
        EXPECT_EQ(push_capture(&buffer), 0);
        int code = run_text(engine_, text.c_str(), &incomplete);
        EXPECT_EQ(pop_redirection(), 0);
        if (output) *output += buffer.c_str();
        return incomplete ? -2 : code;
    }
    bool is_basic(const std::string& line) { return is_basic_line(engine_, line.c_str()); }

private:
    ScriptEngine* engine_;
};

}  // namespace basic_test

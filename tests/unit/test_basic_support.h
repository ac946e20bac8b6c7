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
#include "sim.h"

namespace basic_test {

using namespace tarn;

struct RunResult {
    int code = 0;
    std::string out;     // normal output (captured)
    std::string errors;  // error lines written to the console in the error colour
};

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
    std::string error_text() {
        std::string t = fw.screen().text_in_foreground(kErrorColour), s;
        for (char c : t)
            if (c != '\r') s += c;
        return s;
    }

    // As `tarn -c CODE ARGS...`, or as a script when path is given.
    RunResult run(const std::string& code, const std::vector<std::string>& args = {},
                  const char* path = nullptr) {
        RunResult r;
        size_t errors_before = error_text().size();
        Program program;
        if (!parse_program(code.data(), code.size(), &program)) {
            r.code = -1;
            r.errors = std::string("syntax error: ") + program.message;
            return r;
        }
        std::vector<std::string> words;
        words.push_back(path ? path : code);
        for (auto& a : args) words.push_back(a);
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        ScriptEngine* e = engine_create(static_cast<int>(words.size()), argv.data(), false);
        {
            StringBuffer buffer;
            EXPECT_EQ(push_capture(&buffer), 0);
            r.code = engine_run(e, &program, path);
            EXPECT_EQ(pop_redirection(), 0);
            r.out = buffer.c_str();
        }
        engine_destroy(e);
        free_program(&program);
        r.errors = error_text().substr(errors_before);
        return r;
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
        std::string e = r.errors;
        while (!e.empty() && (e.back() == '\n' || e.back() == '\r')) e.pop_back();
        const std::string prefix = "error: ";
        size_t p = e.find(prefix);
        return p == std::string::npos ? e : e.substr(p + prefix.size());
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

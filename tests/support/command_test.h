// Whole-command tests over the simulated firmware, shared by the unit and shell test
// programs: a shell with its modules and a few test commands registered (CommandShell),
// and the pieces the BASIC fixtures use without it (error lines, BASIC runs, captures).
//
// Every runner returns a RunResult: the exit code, the normal output and the error lines.
// "out" is the console (or, for the captured runners, the capture); "errors" is the text
// written in the error colour, carriage returns removed.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fs/files.h"
#include "fs/volumes.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "shell/environment.h"
#include "shell/executor.h"
#include "shell/hooks.h"
#include "shell/registry.h"
#include "sim.h"
#include "variables.h"
#include "volumes.h"

namespace tarn_test {

struct RunResult {
    int code = 0;
    std::string out;     // normal output
    std::string errors;  // the error lines
};

// ---- the screen

// Text written so far in the error colour, carriage returns removed.
std::string error_lines(const sim::Screen& screen);
// Text written so far in any other colour, carriage returns removed.
std::string normal_text(const sim::Screen& screen);

// ---- output

// Normal output of fn, captured as when redirected.
std::string captured(const std::function<void()>& fn);
// The bytes of a literal, zero bytes included.
template <size_t N> std::string bytes(const char (&literal)[N]) { return std::string(literal, N - 1); }

// ---- BASIC

// Runs code as `tarn -c CODE ARGS...` does, or as the script `path` when given; the output
// is captured. `name` is ARG$(0) when it is neither the code nor the path. A syntax error
// gives code -1 and "syntax error: MESSAGE" as the errors.
RunResult run_basic(sim::SimFirmware& fw, const std::string& code,
                    const std::vector<std::string>& args = {}, const char* path = nullptr,
                    const char* name = nullptr);
// The message of a runtime error (what follows "error: " on its line).
std::string error_message(const RunResult& r);

// ---- volumes

// A file's content on a simulated volume, "<missing>" when there is none.
std::string file_content(sim::SimFirmware& fw, sim::VolumeId volume, const std::string& path);

// A PE header of `size` bytes; fields patched by the tests.
std::string pe_image(uint16_t machine = 0x8664, uint16_t magic = 0x20b, uint16_t subsystem = 10,
                     uint32_t e_lfanew = 0x80, size_t size = 1024);

// ---- the shell

// What the test commands and runners saw.
struct Calls {
    std::vector<std::vector<std::string>> commands;  // argument vectors of test commands
    std::vector<bool> data_modes;
    std::vector<std::string> scripts;  // "path|arg1|arg2" of the script runner
    std::vector<std::string> images;
};
Calls& calls();

// echo-like: prints each argument as "[arg]" on a line of its own and records the vector.
int targs(int count, char** vector);

struct ShellSetup {
    int volumes = 1;               // fs0 (the boot volume), fs1, ...
    bool load_environment = true;  // as start-up does
    bool paging = true;            // false: `set -v pager off` before the test
    bool fixed_clock = false;      // the wall clock at 2025-03-07 14:05:09
    bool check_each_run = false;   // every run gives back its pool blocks and closes its files
};

// The setup of the file command tests: no paging, a fixed clock.
inline ShellSetup file_commands(int volumes = 1) {
    ShellSetup s;
    s.volumes = volumes;
    s.paging = false;
    s.fixed_clock = true;
    return s;
}
// The setup of the text command tests: each run is checked for leaks and open files.
inline ShellSetup text_commands() {
    ShellSetup s;
    s.check_each_run = true;
    return s;
}

class CommandShell {
public:
    explicit CommandShell(const ShellSetup& setup = ShellSetup());
    explicit CommandShell(int volumes, bool load_environment = true);
    ~CommandShell();
    CommandShell(const CommandShell&) = delete;
    CommandShell& operator=(const CommandShell&) = delete;

    // Runs a command line; its normal output as shown on the console.
    RunResult run(const std::string& line);
    // Runs a command line with its normal output captured (as when redirected); the error
    // lines still go to the console.
    RunResult run_captured(const std::string& line);
    // The captured output of a line that must succeed: exit code 0 and no error lines.
    std::string output(const std::string& line);
    // Runs a line that must fail with `code` and an error output that contains `message`;
    // a message that ends with a line break must be the whole error output.
    RunResult expect_failure(const std::string& line, int code, const std::string& message);
    // Runs BASIC code as a script the shell started (`fs0:\t.tsb`); output captured.
    RunResult run_basic(const std::string& code);

    // Restarts the shell's state on the same firmware and store (volatile variables go).
    void reboot();

    // The screen and the error lines written so far.
    const sim::Screen& screen() { return fw.screen(); }
    std::string error_lines() { return tarn_test::error_lines(fw.screen()); }

    // Volumes: fs0 is volumes[0].
    sim::VolumeId boot_volume() const { return volumes[0]; }
    void add_file(const std::string& path, const std::string& content, uint64_t attributes = 0x20);
    void add_directory(const std::string& path, uint64_t attributes = 0x10);
    bool exists(const std::string& path);
    std::string file_content(const std::string& path);
    // No file handle left open, none used after closing.
    void expect_handles_closed();

    // Variables: the firmware's store, and a shell variable's value ("(none)" if unset).
    sim::VariableStore& store() { return sim::variable_store(); }
    std::string variable(const char* name);

    sim::SimFirmware fw;
    std::vector<sim::VolumeId> volumes;
    bool check_each_run = false;  // from the setup; a test may turn it off for a line

private:
    void start(bool load);
};

}  // namespace tarn_test

// The text commands over the simulated firmware: a shell with one volume (fs0, the
// current directory) and the text commands registered, plus checks that every command
// freed what it took and closed what it opened.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "commands/files/text_commands.h"
#include "test_shell_support.h"

namespace text_test {

// The bytes of a literal, zero bytes included.
template <size_t N> std::string bytes(const char (&literal)[N]) { return std::string(literal, N - 1); }

struct TextShell : shell_test::Shell {
    TextShell() {
        if (!tarn::find_command("grep")) tarn::register_text_commands();
    }
    void file(const std::string& path, const std::string& content) {
        sim::add_file(fw, volumes[0], path, content);
    }
    // Runs a line and checks that it left no pool block and no open file behind.
    shell_test::ShellRun run(const std::string& line) {
        const uint64_t before = fw.outstanding_allocations();
        shell_test::ShellRun r = Shell::run(line);
        EXPECT_EQ(fw.outstanding_allocations(), before) << "leak in: " << line;
        EXPECT_EQ(sim::open_file_count(fw), 0) << "file left open by: " << line;
        return r;
    }
    std::string out(const std::string& line) { return run(line).out; }
    std::string stored(const std::string& path) {
        auto content = sim::read_file(fw, volumes[0], path);
        return content ? *content : std::string("<missing>");
    }
};

}  // namespace text_test

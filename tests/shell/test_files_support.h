// A shell over the simulated firmware with the file management commands, for whole-command
// tests: fs0 is the boot volume, paging is off, output can be captured (as when redirected).
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "commands/files/file_commands.h"
#include "test_shell_support.h"

namespace files_test {

using namespace tarn;
using shell_test::ShellRun;

class FileShell : public shell_test::Shell {
public:
    explicit FileShell(int volume_count = 1) : Shell(volume_count) {
        if (!find_command("cp")) register_file_commands();
        EXPECT_EQ(Shell::run("set -v pager off").code, 0);
        efi::Time t{};
        t.year = 2025;
        t.month = 3;
        t.day = 7;
        t.hour = 14;
        t.minute = 5;
        t.second = 9;
        fw.set_wall_time(t);
    }
    sim::VolumeId v0() const { return volumes[0]; }

    // Runs a line with its normal output captured (as when redirected); errors still go
    // to the console and are in .errors.
    ShellRun cap(const std::string& line) {
        StringBuffer out;
        EXPECT_EQ(push_capture(&out), 0);
        ShellRun r = Shell::run(line);
        EXPECT_EQ(pop_redirection(), 0);
        r.out = out.c_str();
        return r;
    }
    // Captured output of a line that must succeed.
    std::string out(const std::string& line) {
        ShellRun r = cap(line);
        EXPECT_EQ(r.code, 0) << line << "\n" << r.errors;
        EXPECT_EQ(r.errors, "") << line;
        return r.out;
    }
    // No file handle left open, none used after closing.
    void expect_handles_closed() {
        EXPECT_EQ(sim::open_file_count(fw), 0);
        EXPECT_EQ(sim::file_misuse_count(fw), 0);
    }

    void file(const std::string& path, const std::string& content, uint64_t attributes = 0x20) {
        sim::add_file(fw, v0(), path, content, attributes);
    }
    void directory(const std::string& path, uint64_t attributes = 0x10) {
        sim::add_directory(fw, v0(), path, attributes);
    }
    bool exists(const std::string& path) { return sim::exists(fw, v0(), path); }
    std::string content(const std::string& path) {
        auto c = sim::read_file(fw, v0(), path);
        return c ? *c : std::string("<missing>");
    }
};

}  // namespace files_test

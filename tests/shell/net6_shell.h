// The shell the IPv6 network tests run in: one interface carrying both halves (eth0),
// paging off, and every run checked to give back each pool block it took.
#pragma once
#include "command_test.h"
#include "network.h"
#include "uefi/network.h"

namespace tarn_test {

inline ShellSetup net6_setup() {
    ShellSetup setup;
    setup.paging = false;
    return setup;
}

struct LeakCheckedShell : CommandShell {
    LeakCheckedShell() : CommandShell(net6_setup()) {}
    RunResult run(const std::string& line) { return checked(line, [&] { return CommandShell::run(line); }); }
    RunResult run_captured(const std::string& line) {
        return checked(line, [&] { return CommandShell::run_captured(line); });
    }
    std::string output(const std::string& line) {
        std::string out;
        checked(line, [&] {
            out = CommandShell::output(line);
            return RunResult{};
        });
        return out;
    }
    RunResult expect_failure(const std::string& line, int code, const std::string& message) {
        return checked(line, [&] { return CommandShell::expect_failure(line, code, message); });
    }

private:
    template <class F> RunResult checked(const std::string& line, F run) {
        int64_t before = fw.outstanding_allocations();
        RunResult r = run();
        EXPECT_EQ(fw.outstanding_allocations(), before) << "leak in: " << line;
        return r;
    }
};

struct Net6Shell : LeakCheckedShell {
    Net6Shell() : nic(sim::add_nic(fw)), nic6(sim::add_nic6(fw, &nic)) {}
    sim::FakeNic& nic;
    sim::FakeNic6& nic6;
};

}  // namespace tarn_test

// A shell over the simulated firmware for whole-command tests: one volume (fs0, the boot
// volume), the shell's modules and a few test commands registered, the environment loaded.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/modules.h"
#include "fs/files.h"
#include "fs/volumes.h"
#include "runtime/output.h"
#include "shell/environment.h"
#include "shell/executor.h"
#include "shell/hooks.h"
#include "shell/registry.h"
#include "sim.h"
#include "variables.h"
#include "volumes.h"

namespace shell_test {

using namespace tarn;

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

struct ShellRun {
    int code;
    std::string out;     // normal output on the console
    std::string errors;  // text in the error colour
};

class Shell {
public:
    explicit Shell(int volumes = 1, bool load = true);
    ~Shell();
    ShellRun run(const std::string& line);
    // Restarts the shell's state on the same firmware and store (volatile variables go).
    void reboot();

    sim::SimFirmware fw;
    std::vector<sim::VolumeId> volumes;
    sim::VariableStore& store() { return sim::variable_store(); }

private:
    void start(bool load);
};

// A PE header of `size` bytes; fields patched by the tests.
std::string pe_image(uint16_t machine = 0x8664, uint16_t magic = 0x20b, uint16_t subsystem = 10,
                     uint32_t e_lfanew = 0x80, size_t size = 1024);

}  // namespace shell_test

#include "test_shell_support.h"

#include <cstdlib>

#include "sim_internal.h"

#include "runtime/firmware.h"
#include "runtime/strings.h"
#include "shell/options.h"

namespace shell_test {

namespace {

Calls g_calls;

int tdata(int count, char** vector) {
    int code = targs(count, vector);
    g_calls.data_modes.push_back(data_mode());
    return code;
}

// Returns its first argument as the exit code.
int tret(int count, char** vector) {
    return count > 1 ? std::atoi(vector[1]) : 0;
}

// As if the user pressed Ctrl-C while it ran; returns its argument.
int tbreak(int count, char** vector) {
    set_break();
    return count > 1 ? std::atoi(vector[1]) : 0;
}

// Prints N lines.
int tlines(int count, char** vector) {
    int n = count > 1 ? std::atoi(vector[1]) : 40;
    for (int i = 1; i <= n && !pager_stopped(); i++) out_printf("line %d\n", i);
    return 0;
}

// Uses the shared option parser with the letters a and c.
int topt(int count, char** vector) {
    uint8_t flags[2];
    int first = parse_options(count, vector, "ac", flags);
    if (first < 0) return kExitUsage;
    out_printf("a=%d c=%d operands=%d\n", flags[0], flags[1], count - first);
    return 0;
}

// Reports an error while it runs.
int terr(int, char**) {
    out_text("normal\n");
    return report_error("terr", "%s", "went wrong");
}

int run_script(const char* path, int count, char** vector) {
    std::string s = path;
    for (int i = 1; i < count; i++) s += std::string("|") + vector[i];
    EXPECT_STREQ(vector[0], path);
    EXPECT_EQ(vector[count], nullptr);
    g_calls.scripts.push_back(s);
    return 5;
}

int run_image(const char* path, int count, char** vector) {
    std::string s = path;
    for (int i = 1; i < count; i++) s += std::string("|") + vector[i];
    EXPECT_STREQ(vector[0], path);
    g_calls.images.push_back(s);
    return 6;
}

const CommandDescriptor kTestCommands[] = {
    {"targs", targs, "targs [ARG...]", "print arguments", nullptr, 0},
    {"tdata", tdata, "tdata", "records", nullptr, kCommandStructuredOutput},
    {"townb", targs, "townb", "own -b", nullptr, kCommandOwnB},
    {"traw", targs, "traw", "raw", nullptr, kCommandRawArguments},
    {"tret", tret, "tret CODE", "exit code", nullptr, 0},
    {"tbreak", tbreak, "tbreak CODE", "interrupted", nullptr, 0},
    {"tlines", tlines, "tlines N", "lines", nullptr, 0},
    {"topt", topt, "topt [-a] [-c] X...", "options", nullptr, 0},
    {"terr", terr, nullptr, "error", nullptr, 0},
};

}  // namespace

Calls& calls() { return g_calls; }

int targs(int count, char** vector) {
    std::vector<std::string> words;
    for (int i = 0; i < count; i++) words.push_back(vector[i]);
    EXPECT_EQ(vector[count], nullptr);
    g_calls.commands.push_back(words);
    for (int i = 1; i < count; i++) out_printf("[%s]\n", vector[i]);
    return 0;
}

Shell::Shell(int volume_count, bool load) {
    g_calls = Calls{};
    for (int i = 0; i < volume_count; i++) {
        sim::VolumeSpec setup;
        setup.location.pci_device = static_cast<uint32_t>(1 + i);
        volumes.push_back(sim::add_volume(fw, setup));
    }
    if (!volumes.empty()) sim::set_boot_volume(fw, volumes[0]);
    start(load);
}

Shell::~Shell() { g_calls = Calls{}; }

void Shell::start(bool load) {
    initialize_volumes();
    fs_install_hooks();
    register_modules();
    register_commands(kTestCommands, array_size(kTestCommands));
    set_script_runner(run_script);
    set_image_runner(run_image);
    if (load) load_environment();
}

void Shell::reboot() {
    store().reboot();
    sim::reset_tarn_state();
    attach_firmware(fw.image_handle(), fw.system_table());
    start(true);
}

namespace {

// Text written so far in the error colour (errors) or in any other (the rest), CR removed.
std::string screen_text(const sim::Screen& screen, bool errors) {
    std::string out;
    for (const auto& [text, attribute] : screen.runs_) {
        if (((attribute & 0x0f) == kErrorColour) != errors) continue;
        for (char c : text)
            if (c != '\r') out += c;
    }
    return out;
}

}  // namespace

ShellRun Shell::run(const std::string& line) {
    auto& screen = fw.screen();
    const size_t out_before = screen_text(screen, false).size();
    const size_t errors_before = screen_text(screen, true).size();
    ShellRun r;
    r.code = run_command_line(line.c_str());
    r.out = screen_text(screen, false).substr(out_before);
    r.errors = screen_text(screen, true).substr(errors_before);
    return r;
}

std::string pe_image(uint16_t machine, uint16_t magic, uint16_t subsystem, uint32_t e_lfanew,
                     size_t size) {
    std::string b(size, '\0');
    auto put16 = [&](size_t at, uint16_t v) {
        if (at + 2 > b.size()) return;
        b[at] = static_cast<char>(v & 0xff);
        b[at + 1] = static_cast<char>(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, static_cast<uint16_t>(v & 0xffff));
        put16(at + 2, static_cast<uint16_t>(v >> 16));
    };
    if (b.size() >= 2) {
        b[0] = 'M';
        b[1] = 'Z';
    }
    put32(0x3c, e_lfanew);
    if (e_lfanew + 4 <= b.size()) {
        b[e_lfanew] = 'P';
        b[e_lfanew + 1] = 'E';
    }
    put16(e_lfanew + 4, machine);
    put16(e_lfanew + 0x18, magic);
    put16(e_lfanew + 0x5c, subsystem);
    return b;
}

}  // namespace shell_test

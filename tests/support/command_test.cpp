#include "command_test.h"

#include <cstdlib>

#include "sim_internal.h"

#include "basic/engine.h"
#include "basic/program.h"
#include "fs/files.h"
#include "fs/volumes.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "shell/environment.h"
#include "shell/executor.h"
#include "shell/hooks.h"
#include "app/modules.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn_test {

using namespace tarn;

namespace {

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

std::string error_lines(const sim::Screen& screen) { return screen_text(screen, true); }
std::string normal_text(const sim::Screen& screen) { return screen_text(screen, false); }

std::string captured(const std::function<void()>& fn) {
    StringBuffer buffer;
    EXPECT_EQ(push_capture(&buffer), 0);
    fn();
    EXPECT_EQ(pop_redirection(), 0);
    return buffer.c_str();
}

RunResult run_basic(sim::SimFirmware& fw, const std::string& code, const std::vector<std::string>& args,
                    const char* path, const char* name) {
    RunResult r;
    const size_t errors_before = error_lines(fw.screen()).size();
    Program program;
    if (!parse_program(code.data(), code.size(), &program)) {
        r.code = -1;
        r.errors = std::string("syntax error: ") + program.message;
        return r;
    }
    std::vector<std::string> words;
    words.push_back(name ? name : path ? path : code);
    for (auto& a : args) words.push_back(a);
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    ScriptEngine* e = engine_create(static_cast<int>(words.size()), argv.data(), false);
    r.out = captured([&] { r.code = engine_run(e, &program, path); });
    engine_destroy(e);
    free_program(&program);
    r.errors = error_lines(fw.screen()).substr(errors_before);
    return r;
}

std::string error_message(const RunResult& r) {
    std::string e = r.errors;
    while (!e.empty() && (e.back() == '\n' || e.back() == '\r')) e.pop_back();
    const std::string prefix = "error: ";
    size_t p = e.find(prefix);
    return p == std::string::npos ? e : e.substr(p + prefix.size());
}

std::string file_content(sim::SimFirmware& fw, sim::VolumeId volume, const std::string& path) {
    auto c = sim::read_file(fw, volume, path);
    return c ? *c : std::string("<missing>");
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

// ---- the test commands

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

// ---- the shell

CommandShell::CommandShell(int volume_count, bool load_environment)
    : CommandShell([&] {
          ShellSetup s;
          s.volumes = volume_count;
          s.load_environment = load_environment;
          return s;
      }()) {}

CommandShell::CommandShell(const ShellSetup& setup) : check_each_run(setup.check_each_run) {
    g_calls = Calls{};
    for (int i = 0; i < setup.volumes; i++) {
        sim::VolumeLayout layout;
        layout.location.pci_device = static_cast<uint32_t>(1 + i);
        volumes.push_back(sim::add_volume(fw, layout));
    }
    if (!volumes.empty()) sim::set_boot_volume(fw, volumes[0]);
    start(setup.load_environment);
    if (!setup.paging) EXPECT_EQ(run("set -v pager off").code, 0);
    if (setup.fixed_clock) {
        efi::Time t{};
        t.year = 2025;
        t.month = 3;
        t.day = 7;
        t.hour = 14;
        t.minute = 5;
        t.second = 9;
        fw.set_wall_time(t);
    }
}

CommandShell::~CommandShell() { g_calls = Calls{}; }

void CommandShell::start(bool load) {
    initialize_volumes();
    fs_install_hooks();
    register_modules();
    register_commands(kTestCommands, array_size(kTestCommands));
    set_script_runner(run_script);
    set_image_runner(run_image);
    if (load) load_environment();
}

void CommandShell::reboot() {
    store().reboot();
    sim::reset_tarn_state();
    attach_firmware(fw.image_handle(), fw.system_table());
    start(true);
}

RunResult CommandShell::run(const std::string& line) {
    const uint64_t blocks_before = fw.outstanding_allocations();
    const size_t out_before = normal_text(fw.screen()).size();
    const size_t errors_before = error_lines().size();
    RunResult r;
    r.code = run_command_line(line.c_str());
    r.out = normal_text(fw.screen()).substr(out_before);
    r.errors = error_lines().substr(errors_before);
    if (check_each_run) {
        EXPECT_EQ(fw.outstanding_allocations(), blocks_before) << "leak in: " << line;
        EXPECT_EQ(sim::open_file_count(fw), 0) << "file left open by: " << line;
    }
    return r;
}

RunResult CommandShell::run_captured(const std::string& line) {
    StringBuffer out;
    EXPECT_EQ(push_capture(&out), 0);
    RunResult r = run(line);
    EXPECT_EQ(pop_redirection(), 0);
    r.out = out.c_str();
    return r;
}

std::string CommandShell::output(const std::string& line) {
    RunResult r = run_captured(line);
    EXPECT_EQ(r.code, 0) << line << "\n" << r.errors;
    EXPECT_EQ(r.errors, "") << line;
    return r.out;
}

RunResult CommandShell::expect_failure(const std::string& line, int code, const std::string& message) {
    RunResult r = run(line);
    EXPECT_EQ(r.code, code) << line << "\n" << r.errors;
    if (!message.empty() && message.back() == '\n')
        EXPECT_EQ(r.errors, message) << line;
    else
        EXPECT_NE(r.errors.find(message), std::string::npos)
            << line << "\nexpected in the errors: " << message << "\nerrors: " << r.errors;
    return r;
}

RunResult CommandShell::run_basic(const std::string& code) {
    return tarn_test::run_basic(fw, code, {}, nullptr, "fs0:\\t.tsb");
}

void CommandShell::add_file(const std::string& path, const std::string& content, uint64_t attributes) {
    sim::add_file(fw, boot_volume(), path, content, attributes);
}

void CommandShell::add_directory(const std::string& path, uint64_t attributes) {
    sim::add_directory(fw, boot_volume(), path, attributes);
}

bool CommandShell::exists(const std::string& path) { return sim::exists(fw, boot_volume(), path); }

std::string CommandShell::file_content(const std::string& path) {
    return tarn_test::file_content(fw, boot_volume(), path);
}

void CommandShell::expect_handles_closed() {
    EXPECT_EQ(sim::open_file_count(fw), 0);
    EXPECT_EQ(sim::file_misuse_count(fw), 0);
}

std::string CommandShell::variable(const char* name) {
    char* value = get_variable(name);
    std::string s = value ? value : "(none)";
    release(value);
    return s;
}

}  // namespace tarn_test

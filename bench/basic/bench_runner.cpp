// Runs the same algorithms in TARN BASIC (in process, over the simulated firmware), in
// Python 3 and in Lua 5.4, checks that all three print the same result, and prints the
// best time of each with the ratios TARN/Python and TARN/Lua.
//
// Times are processor time of the program itself: parsing and running for TARN, loading
// and running the file for Python and Lua, measured inside each interpreter so that the
// start-up of the interpreters (and a busy machine) does not count.
//
// The text and records benchmarks read data files that this program writes first: a
// 1 MiB text (text.txt) and a -data listing of files (records.txt), made by a fixed
// pseudo-random sequence. TARN reads them from fs0: of the simulated firmware, Python and
// Lua from the data folder they run in.
//
// usage: basic_bench BENCH_DIR [--runs N] [--tarn-only] [--stack] [--data DIR] [NAME...]
//   --stack  also reports how much stack 200 nested FUNCTION calls take in this build
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "basic/engine.h"
#include "basic/functions.h"
#include "fs/files.h"
#include "fs/volumes.h"
#include "runtime/firmware.h"
#include "runtime/output.h"
#include "shell/session_state.h"
#include "sim.h"
#include "uefi/tables.h"
#include "volumes.h"

namespace {

double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

constexpr const char kTimeMarker[] = "@@cpu ";

// Python and Lua run the file under a small wrapper that prints the processor time of
// loading and running it after a marker line.
std::string python_command(const std::string& data, const std::string& file) {
    return "cd " + data + " && python3 -c \"import sys,time\nt=time.process_time()\nexec(compile(open(sys.argv[1]).read(),"
           "sys.argv[1],'exec'))\nsys.stdout.flush()\nprint('" + std::string(kTimeMarker) +
           "'+repr(time.process_time()-t))\" " + file;
}

std::string lua_command(const std::string& data, const std::string& file) {
    return "cd " + data + " && TARN_BENCH_FILE=" + file + " lua5.4 -e \"local t=os.clock() dofile(os.getenv('TARN_BENCH_FILE')) "
           "io.stdout:flush() print('" + std::string(kTimeMarker) + "'..(os.clock()-t))\"";
}

// A small linear congruential sequence, so that the data is the same on every machine.
struct Sequence {
    uint64_t state;
    uint32_t next(uint32_t bound) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>((state >> 33) % bound);
    }
};

// Lines of words, a few with "needle" in them, cut to exactly 1 MiB (the last line ends
// with a line feed).
std::string make_text() {
    static const char* const kWords[] = {"alpha", "beta", "gamma", "delta", "firmware", "volume",
                                         "shell",  "boot", "table", "driver", "handle",   "variable"};
    Sequence seq{7};
    std::string text;
    const size_t size = 1u << 20;
    while (text.size() < size) {
        std::string line;
        int words = 2 + static_cast<int>(seq.next(14));
        for (int w = 0; w < words; w++) {
            if (w) line += ' ';
            line += seq.next(50) == 0 ? "needle" : kWords[seq.next(12)];
        }
        text += line + "\n";
    }
    text.resize(size - 1);
    text += "\n";
    return text;
}

// 20,000 records as `ls -data` prints them: key=value lines, an empty line between records.
std::string make_records() {
    static const char* const kStems[] = {"boot", "bzimage", "config", "driver", "efi", "log", "startup", "tool"};
    static const char* const kExtensions[] = {"efi", "txt", "nsh", "tsb", "bin"};
    Sequence seq{11};
    std::string text;
    char line[160];
    for (int i = 0; i < 20000; i++) {
        bool dir = seq.next(9) == 0;
        if (i) text += "\n";
        std::snprintf(line, sizeof line, "name=%s%d%s%s\n", kStems[seq.next(8)], i, dir ? "" : ".",
                      dir ? "" : kExtensions[seq.next(5)]);
        text += line;
        std::snprintf(line, sizeof line, "size=%u\nattributes=%s\n", dir ? 0u : seq.next(5000000), dir ? "D" : "A");
        text += line;
        std::snprintf(line, sizeof line, "modified=2026-%02u-%02u %02u:%02u:%02u\n", 1 + seq.next(12),
                      1 + seq.next(28), seq.next(24), seq.next(60), seq.next(60));
        text += line;
    }
    return text;
}

bool write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

// The firmware's pool on a real machine is a plain allocator; the simulated one keeps a
// map of every block for leak accounting, which would dominate the string workloads.
EFIAPI tarn::efi::Status plain_allocate(uint32_t, uint64_t size, void** buffer) {
    *buffer = std::malloc(size ? size : 1);
    return *buffer ? tarn::efi::kSuccess : tarn::efi::kOutOfResources;
}
EFIAPI tarn::efi::Status plain_free(void* buffer) {
    std::free(buffer);
    return tarn::efi::kSuccess;
}

struct Measure {
    double seconds = -1;
    std::string output;
    bool ran = false;
};

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

bool read_file(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    *text = ss.str();
    return true;
}

Measure run_tarn(const std::string& path) {
    Measure m;
    std::string text;
    if (!read_file(path, &text)) return m;
    tarn::Program program;
    if (!tarn::parse_program(text.data(), text.size(), &program)) {
        std::fprintf(stderr, "%s:%d: syntax error: %s\n", path.c_str(), program.error_line, program.message);
        return m;
    }
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    tarn::ScriptEngine* engine = tarn::engine_create(1, argv, false);
    tarn::StringBuffer captured;
    if (tarn::push_capture(&captured) != 0) return m;
    double start = cpu_seconds();
    int code = tarn::engine_run(engine, &program, path.c_str());
    double stop = cpu_seconds();
    (void)tarn::pop_redirection();
    tarn::engine_destroy(engine);
    tarn::free_program(&program);
    m.ran = code == 0;
    m.seconds = stop - start;
    m.output = trim(captured.c_str());
    return m;
}

Measure run_process(const std::string& command) {
    Measure m;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return m;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) m.output.append(buffer, n);
    int status = pclose(pipe);
    size_t marker = m.output.rfind(kTimeMarker);
    if (status != 0 || marker == std::string::npos) {
        m.output = trim(m.output);
        return m;
    }
    m.seconds = std::atof(m.output.c_str() + marker + std::strlen(kTimeMarker));
    m.output = trim(m.output.substr(0, marker));
    m.ran = true;
    return m;
}

// Keeps the better of two measurements (a failed run spoils the result).
void keep_best(Measure* best, const Measure& m, bool first) {
    if (first || !m.ran) {
        *best = m;
        return;
    }
    if (best->ran && m.seconds < best->seconds) *best = m;
}

// The smallest stack budget (in KiB) with which a 200-deep recursion still runs.
int stack_for_200_calls() {
    const std::string code =
        "FUNCTION down(n)\n IF n = 0 THEN RETURN 0\n RETURN down(n - 1) + 1\nEND FUNCTION\nPRINT down(199)\n";
    tarn::Program program;
    if (!tarn::parse_program(code.data(), code.size(), &program)) return -1;
    int lo = 1, hi = 4096;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        uint64_t old = tarn::set_stack_budget(static_cast<uint64_t>(mid) * 1024);
        char* argv[] = {const_cast<char*>("stack"), nullptr};
        tarn::ScriptEngine* engine = tarn::engine_create(1, argv, false);
        tarn::StringBuffer captured;
        (void)tarn::push_capture(&captured);
        int rc = tarn::engine_run(engine, &program, nullptr);
        (void)tarn::pop_redirection();
        tarn::engine_destroy(engine);
        tarn::set_stack_budget(old);
        if (rc == 0) hi = mid;
        else lo = mid + 1;
    }
    tarn::free_program(&program);
    return lo;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s BENCH_DIR [--runs N] [NAME...]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    int runs = 5;
    bool tarn_only = false;  // for profiling the interpreter alone
    bool stack = false;
    std::vector<std::string> names;
    std::string data = "/tmp/tarn-bench-basic";
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--tarn-only") == 0) tarn_only = true;
        else if (std::strcmp(argv[i], "--stack") == 0) stack = true;
        else if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) data = argv[++i];
        else names.push_back(argv[i]);
    }
    if (runs < 1) runs = 1;
    if (names.empty()) names = {"fib", "loop", "strings", "sort", "select", "text", "records"};
    // Python and Lua get absolute paths, as they run in the data folder.
    if (dir[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) dir = std::string(cwd) + "/" + dir;
    }
    const std::string text = make_text(), records = make_records();
    std::filesystem::create_directories(data);
    if (!write_file(data + "/text.txt", text) || !write_file(data + "/records.txt", records)) {
        std::fprintf(stderr, "cannot write the data files in %s\n", data.c_str());
        return 2;
    }

    sim::SimFirmware fw;
    sim::VolumeId volume = sim::add_volume(fw, [] {
        sim::VolumeLayout layout;
        layout.capacity = 64ull << 20;
        return layout;
    }());
    sim::add_file(fw, volume, "text.txt", text);
    sim::add_file(fw, volume, "records.txt", records);
    sim::set_boot_volume(fw, volume);
    tarn::initialize_volumes();
    tarn::fs_install_hooks();
    tarn::efi::BootServices* boot = tarn::firmware().boot;
    auto saved_allocate = boot->allocate_pool;
    auto saved_free = boot->free_pool;
    boot->allocate_pool = plain_allocate;
    boot->free_pool = plain_free;
    tarn::reset_basic_state();
    tarn::reset_session_state();
    tarn::register_basic_functions();

    std::printf("processor seconds, best of %d\n", runs);
    std::printf("%-8s %10s %10s %10s %12s %10s  %s\n", "bench", "TARN", "Python", "Lua", "TARN/Python",
                "TARN/Lua", "result");
    bool all_same = true, all_fast = true, all_near_lua = true;
    for (const std::string& name : names) {
        // The three run in turn, so that a change in the machine's load hits them alike.
        Measure t, p, l;
        for (int r = 0; r < runs; r++) {
            keep_best(&t, run_tarn(dir + "/" + name + ".tsb"), r == 0);
            if (tarn_only) continue;
            keep_best(&p, run_process(python_command(data, dir + "/" + name + ".py")), r == 0);
            keep_best(&l, run_process(lua_command(data, dir + "/" + name + ".lua")), r == 0);
        }
        if (tarn_only) {
            std::printf("%-8s %10.3f  %s\n", name.c_str(), t.seconds, t.output.c_str());
            std::fflush(stdout);
            continue;
        }
        bool same = t.ran && p.ran && l.ran && t.output == p.output && t.output == l.output;
        all_same = all_same && same;
        double rp = t.ran && p.ran ? t.seconds / p.seconds : 0;
        double rl = t.ran && l.ran ? t.seconds / l.seconds : 0;
        if (!(rp > 0 && rp <= 0.6)) all_fast = false;
        if (!(rl > 0 && rl <= 2.0)) all_near_lua = false;
        std::printf("%-8s %10.3f %10.3f %10.3f %12.2f %10.2f  %s\n", name.c_str(), t.seconds, p.seconds, l.seconds,
                    rp, rl, same ? "same" : "DIFFERENT");
        std::fflush(stdout);  // each row as soon as it is measured (the whole run takes minutes)
        if (!same)
            std::printf("    tarn: %s\n    python: %s\n    lua: %s\n", t.output.c_str(), p.output.c_str(),
                        l.output.c_str());
    }
    if (stack) std::printf("stack for 200 nested calls: %d KiB\n", stack_for_200_calls());
    if (!tarn_only)
        std::printf("%s; %s; %s\n", all_same ? "all results agree" : "results differ",
                all_fast ? "TARN/Python at most 0.6 on every benchmark" : "TARN/Python above 0.6 somewhere",
                all_near_lua ? "TARN/Lua at most 2.0 on every benchmark" : "TARN/Lua above 2.0 somewhere");

    tarn::reset_basic_state();
    boot->allocate_pool = saved_allocate;
    boot->free_pool = saved_free;
    return tarn_only || all_same ? 0 : 1;
}

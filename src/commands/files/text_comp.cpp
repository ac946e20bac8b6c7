// comp and cmp: compare two files byte by byte and show where they differ.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int comp_command(int count, char** vector);
int cmp_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"comp", comp_command, "comp [-n COUNT|all] [-s BYTES] FILE1 FILE2",
     "Compare two files and show where they differ",
     "  -n COUNT   stop after COUNT differences (default 10; all: no limit)\n"
     "  -s BYTES   bytes shown for each difference (default 16)\n"
     "  Exit code 0 when the files are equal, 1 when they differ.\n",
     0},
    {"cmp", cmp_command, "cmp [-s BYTES] FILE1 FILE2", "Compare two files and stop at the first difference",
     "  Exit code 0 when the files are equal, 1 when they differ.\n", 0},
};


void write_bytes_line(const char* label, const uint8_t* bytes, uint64_t from, uint64_t to) {
    StringBuffer line;
    append_format(line, "  %s:", label);
    for (uint64_t k = from; k < to; k++) append_format(line, " %02x", bytes[k]);
    append_text(line, "  *");
    for (uint64_t k = from; k < to; k++)
        append_char(line, (bytes[k] >= 0x20 && bytes[k] <= 0x7e) ? static_cast<char>(bytes[k]) : '.');
    append_text(line, "*\n");
    out_write(line.c_str(), line.length);
}

int compare_files(const char* name, int count, char** vector, bool first_only) {
    struct CompareOptions {
        const char* differences = nullptr;  // -n N | all
        const char* bytes = nullptr;        // -s N
    };
    static constexpr Option<CompareOptions> kRows[] = {
        value_option("n", &CompareOptions::differences, kOptionAnyCase),
        value_option("s", &CompareOptions::bytes, kOptionAnyCase)};
    CompareOptions o;
    const int first = parse_options(count, vector, kRows, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    if (count - first != 2) return report_usage(name);
    const char* const* operands = vector + first;
    uint64_t limit = 10;
    uint64_t show = 16;
    int64_t n = 0;
    if (o.differences && equal_nocase(o.differences, "all")) limit = UINT64_MAX;
    else if (o.differences && (!read_text_number(o.differences, &n) || n <= 0)) return report_usage(name);
    else if (o.differences) limit = static_cast<uint64_t>(n);
    if (o.bytes && (!read_text_number(o.bytes, &n) || n <= 0)) return report_usage(name);
    if (o.bytes) show = static_cast<uint64_t>(n);
    if (first_only) limit = 1;

    // Both files are looked at, and each failing one is reported.
    Owned<char> paths[2];
    Owned<char> data[2];
    uint64_t sizes[2] = {0, 0};
    bool failed = false;
    for (int f = 0; f < 2; f++) {
        paths[f].reset(resolve_file_argument(name, operands[f]));
        if (!paths[f]) {
            failed = true;
            continue;
        }
        char* bytes = nullptr;
        ShellError err = read_whole_file(paths[f].get(), &bytes, &sizes[f]);
        if (err != kOk) {
            report_failure(name, paths[f].get(), err);
            failed = true;
            continue;
        }
        data[f].reset(bytes);
    }
    if (failed) return kExitFailure;

    out_printf("Compare %s to %s\n", paths[0].get(), paths[1].get());
    const auto* a = reinterpret_cast<const uint8_t*>(data[0].get());
    const auto* b = reinterpret_cast<const uint8_t*>(data[1].get());
    const uint64_t m = min_of(sizes[0], sizes[1]);
    uint64_t found = 0;
    uint64_t i = 0;
    bool interrupted = false;
    while (i < m && found < limit && !interrupted) {
        // Equal runs are skipped a block at a time.
        if (a[i] == b[i]) {
            uint64_t block = min_of<uint64_t>(m - i, 4096);
            if (memcmp(a + i, b + i, block) == 0) {
                i += block;
                interrupted = poll_break();
                continue;
            }
            while (a[i] == b[i]) i++;
        }
        uint64_t j = i + 1;
        while (j < m && a[j] != b[j]) j++;
        found++;
        out_printf("Difference #%llu at offset 0x%llx (%llu bytes)\n",
                   static_cast<unsigned long long>(found), static_cast<unsigned long long>(i),
                   static_cast<unsigned long long>(j - i));
        uint64_t to = m - i < show ? m : i + show;
        write_bytes_line("file1", a, i, to);
        write_bytes_line("file2", b, i, to);
        i = j;
        interrupted = poll_break();
    }
    // An interrupted scan proves nothing about the rest of the files: no verdict.
    if (interrupted) return found > 0 ? kExitFailure : kExitSuccess;
    if (sizes[0] != sizes[1] && found < limit) {
        found++;
        out_printf("Difference #%llu: sizes differ (%llu and %llu bytes)\n",
                   static_cast<unsigned long long>(found), static_cast<unsigned long long>(sizes[0]),
                   static_cast<unsigned long long>(sizes[1]));
    }
    if (found > 0) {
        out_text("[difference(s) encountered]\n");
        return kExitFailure;
    }
    out_text("[no differences encountered]\n");
    return kExitSuccess;
}

}  // namespace

int comp_command(int count, char** vector) { return compare_files("comp", count, vector, false); }

int cmp_command(int count, char** vector) { return compare_files("cmp", count, vector, true); }

void register_comp_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

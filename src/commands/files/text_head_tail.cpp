// head and tail: the first or last N lines of a file.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int head_command(int count, char** vector);
int tail_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"head", head_command, "head [-n N] FILE", "First N lines of a file (default 10)", nullptr, 0},
    {"tail", tail_command, "tail [-n N] FILE", "Last N lines of a file (default 10)", nullptr, 0},
};


// "[-n N] FILE" with -n first; false (after the usage message) when the line is wrong.
bool read_line_count_arguments(const char* name, int count, char** vector, uint64_t* lines,
                               const char** file) {
    struct LineCount {
        const char* lines = nullptr;
    };
    static constexpr Option<LineCount> kRows[] = {value_option("n", &LineCount::lines)};
    LineCount o;
    const int next = parse_options(count, vector, kRows, kOptionsLeading | kOptionsNameWord, &o);
    if (next < 0) return false;
    int64_t n = 10;
    if (o.lines && (!read_text_number(o.lines, &n) || n < 0)) {
        report_usage(name);
        return false;
    }
    if (count - next != 1) {
        report_usage(name);
        return false;
    }
    *lines = static_cast<uint64_t>(n);
    *file = vector[next];
    return true;
}

// Reads FILE as decoded text; reports and returns 1 on failure.
int load_text(const char* name, const char* argument, char** text, uint64_t* length) {
    Owned<char> path(resolve_file_argument(name, argument));
    if (!path) return kExitFailure;
    ShellError err = read_text(path.get(), text, length);
    if (err != kOk) return report_failure(name, path.get(), err);
    return kExitSuccess;
}

void write_lines(const char* text, uint64_t start, uint64_t end) {
    if (end <= start) return;
    if (!out_write_interruptible(text + start, end - start)) return;
    if (text[end - 1] != '\n') out_write("\n", 1);
}

}  // namespace

int head_command(int count, char** vector) {
    const char* name = "head";
    uint64_t lines = 0;
    const char* file = nullptr;
    if (!read_line_count_arguments(name, count, vector, &lines, &file)) return kExitUsage;
    char* text = nullptr;
    uint64_t length = 0;
    int code = load_text(name, file, &text, &length);
    if (code != kExitSuccess) return code;
    Owned<char> owned(text);

    uint64_t end = 0;
    if (lines > 0) {
        end = length;
        uint64_t seen = 0;
        for (uint64_t i = 0; i < length; i++) {
            if (text[i] == '\n' && ++seen == lines) {
                end = i + 1;
                break;
            }
        }
    }
    write_lines(text, 0, end);
    return kExitSuccess;
}

int tail_command(int count, char** vector) {
    const char* name = "tail";
    uint64_t lines = 0;
    const char* file = nullptr;
    if (!read_line_count_arguments(name, count, vector, &lines, &file)) return kExitUsage;
    char* text = nullptr;
    uint64_t length = 0;
    int code = load_text(name, file, &text, &length);
    if (code != kExitSuccess) return code;
    Owned<char> owned(text);

    if (lines == 0) return kExitSuccess;
    // The final line feed ends the last line; it does not separate it from another.
    uint64_t scan_end = (length > 0 && text[length - 1] == '\n') ? length - 1 : length;
    uint64_t start = 0;
    uint64_t seen = 0;
    for (uint64_t i = scan_end; i > 0; i--) {
        if (text[i - 1] == '\n' && ++seen == lines) {
            start = i;
            break;
        }
    }
    write_lines(text, start, length);
    return kExitSuccess;
}

void register_head_tail_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

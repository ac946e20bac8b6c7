// grep: the lines of files that contain a text.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int grep_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"grep", grep_command, "grep [-i] [-v] [-n] [-c] TEXT FILE...", "Print the lines of files that contain a text",
     "  -i  ignore the case of A-Z      -v  the lines that do not contain TEXT\n"
     "  -n  show line numbers           -c  only count the lines of each file\n"
     "  TEXT is plain text, not a pattern. With several FILE arguments each line starts\n"
     "  with its file's name. Exit code 0 when some line was selected, else 1.\n",
     0},
};


struct GrepOptions {
    const char* text;
    uint64_t text_length;
    bool fold;
    bool invert;
    bool numbers;
    bool count_only;
    bool prefix;
};

inline uint8_t fold_byte(uint8_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c + 32) : c; }

// The first offset in [from, end) where the text occurs, or end.
uint64_t find_text(const uint8_t* hay, uint64_t from, uint64_t end, const GrepOptions& o) {
    const uint64_t k = o.text_length;
    if (k == 0) return from;
    if (end - from < k) return end;
    const auto* needle = reinterpret_cast<const uint8_t*>(o.text);
    const uint64_t last = end - k;  // the last possible start
    const uint8_t first = o.fold ? fold_byte(needle[0]) : needle[0];
    const uint8_t other = (o.fold && is_alpha(first)) ? static_cast<uint8_t>(first - 32) : first;
    for (uint64_t i = from; i <= last; i++) {
        // Candidates for the first byte are found eight bytes at a time.
        i = scan_for_either(hay, i, last + 1, first, other);
        if (i > last) break;
        uint64_t j = 1;
        if (o.fold) {
            while (j < k && fold_byte(hay[i + j]) == fold_byte(needle[j])) j++;
        } else {
            while (j < k && hay[i + j] == needle[j]) j++;
        }
        if (j == k) return i;
    }
    return end;
}

void write_line(const char* name, uint64_t number, const uint8_t* line, uint64_t length,
                const GrepOptions& o) {
    if (o.prefix) out_printf("%s:", name);
    if (o.numbers) out_printf("%llu:", static_cast<unsigned long long>(number));
    // One write for the line and its line feed where it already has one.
    if (line[length] == '\n') {
        out_write(reinterpret_cast<const char*>(line), length + 1);
    } else {
        out_write(reinterpret_cast<const char*>(line), length);
        out_write("\n", 1);
    }
}

// Every selected line ends with the Ctrl-C poll (which reads the keyboard at most every
// 50 ms), so a long output of one file can be stopped.
bool selected_then_stopped(uint64_t* selected) {
    ++*selected;
    return poll_break();
}

// Selected lines of one decoded text: written, or only counted with -c. Stops early when
// Ctrl-C is pressed.
uint64_t grep_text(const char* name, const uint8_t* text, uint64_t length, const GrepOptions& o) {
    uint64_t selected = 0;
    uint64_t pos = 0;
    uint64_t number = 1;  // the line starting at pos
    if (o.invert) {
        while (pos < length) {
            uint64_t end = scan_for_byte(text, pos, length, '\n');
            // An empty text is in every line, the empty ones too.
            bool holds = o.text_length == 0 || find_text(text, pos, end, o) != end;
            if (!holds) {
                if (!o.count_only) write_line(name, number, text + pos, end - pos, o);
                if (selected_then_stopped(&selected)) break;
            }
            pos = end + 1;
            number++;
        }
        return selected;
    }
    while (pos < length) {
        uint64_t hit = find_text(text, pos, length, o);
        if (hit >= length) break;
        // The line holding the hit runs from the line feed before it to the next one.
        uint64_t start = hit;
        while (start > pos && text[start - 1] != '\n') start--;
        // A hit that spans a line feed is not inside one line: go on past it.
        uint64_t end = scan_for_byte(text, start, length, '\n');
        if (hit + o.text_length > end) {
            if (o.numbers) number += count_bytes_equal(text, pos, end, '\n') + 1;
            pos = end + 1;
            continue;
        }
        if (o.numbers) number += count_bytes_equal(text, pos, start, '\n');
        if (!o.count_only) write_line(name, number, text + start, end - start, o);
        if (selected_then_stopped(&selected)) break;
        pos = end + 1;
        number++;
    }
    return selected;
}

}  // namespace

int grep_command(int count, char** vector) {
    const char* name = "grep";
    uint8_t flags[4];
    int first = parse_options(count, vector, "ivnc", flags);
    if (first < 0) return kExitUsage;
    if (count - first < 2) return report_usage(name);

    GrepOptions o{};
    o.text = vector[first];
    o.text_length = strlen(o.text);
    o.fold = flags[0];
    o.invert = flags[1];
    o.numbers = flags[2];
    o.count_only = flags[3];
    // Lines are named by their file whenever more than one file is searched: several FILE
    // arguments, or one pattern matching several files.
    const bool several_arguments = count - first - 1 > 1;

    bool failed = false;
    bool any_selected = false;
    bool stopped = false;
    for (int a = first + 1; a < count && !stopped; a++) {
        Owned<char> path(resolve_path(vector[a]));
        if (!path) {
            report_error(name, "%s: invalid path", vector[a]);
            failed = true;
            continue;
        }
        PathList files;
        if (has_wildcard(path.get())) {
            if (expand_pattern(path.get(), files) != 0) {
                report_failure(name, path.get(), kErrOutOfMemory);
                failed = true;
                continue;
            }
        } else {
            files.add(path.take());
        }
        o.prefix = several_arguments || files.count > 1;
        for (uint64_t i = 0; i < files.count; i++) {
            if (poll_break()) {
                stopped = true;
                break;
            }
            char* text = nullptr;
            uint64_t length = 0;
            ShellError err = read_text(files[i], &text, &length);
            if (err == kErrIsDirectory) continue;
            if (err != kOk) {
                report_failure(name, files[i], err);
                failed = true;
                continue;
            }
            Owned<char> owned(text);
            const char* base = base_name(files[i]);
            uint64_t n = grep_text(base, reinterpret_cast<const uint8_t*>(text), length, o);
            if (n > 0) any_selected = true;
            if (poll_break()) {
                stopped = true;
                break;
            }
            if (o.count_only) {
                if (o.prefix) out_printf("%s:", base);
                out_printf("%llu\n", static_cast<unsigned long long>(n));
            }
        }
    }
    if (failed) return kExitFailure;
    if (stopped && !pager_stopped()) return kExitInterrupted;
    return any_selected ? kExitSuccess : kExitFailure;
}

void register_grep_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

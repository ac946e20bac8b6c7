// cat, type and more: print whole files as decoded text.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int more_command(int count, char** vector);
int cat_command(int count, char** vector);
int type_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"more", more_command, "more FILE...", "Print files one screen at a time",
     "  As cat, with paging on: Enter shows one more line, Space one more screen,\n"
     "  q or ESC stops.\n",
     0},
    {"cat", cat_command, "cat [-a|-u] FILE...", "Print files (UTF-8 or UCS-2 text, detected automatically)",
     "  A file starting with FF FE is read as UCS-2; a UTF-8 byte order mark is dropped;\n"
     "  carriage returns are dropped. -a and -u are accepted and ignored. Patterns\n"
     "  (* and ?) print every matching file.\n",
     0},
    {"type", type_command, "type [-a|-u] FILE...", "Print files (same as cat)", nullptr, 0},
};


int print_files(const char* name, int count, char** vector) {
    // "-a" and "-u" are accepted (and mean nothing) before the first file.
    struct Unused {};
    static constexpr Option<Unused> kRows[] = {ignored_option<Unused>("a", kOptionAnyCase),
                                               ignored_option<Unused>("u", kOptionAnyCase)};
    Unused unused;
    const int first = parse_options(count, vector, kRows, kOptionsLeading | kOptionsNameWord, &unused);
    if (first < 0) return kExitUsage;
    if (first >= count) return report_usage(name);

    PathList files;
    if (!expand_arguments(name, count, vector, first, true, files)) return kExitFailure;

    int result = kExitSuccess;
    for (uint64_t i = 0; i < files.count; i++) {
        if (poll_break()) break;
        char* text = nullptr;
        uint64_t length = 0;
        ShellError err = read_text(files[i], &text, &length);
        if (err != kOk) {
            result = report_failure(name, files[i], err);
            continue;
        }
        Owned<char> owned(text);
        if (!out_write_interruptible(text, length)) break;  // Ctrl-C, or q in the pager
        // On the console the next prompt (or file) starts on a line of its own; a
        // redirected copy stays byte for byte what the file holds.
        if (length > 0 && text[length - 1] != '\n' && !is_redirected()) out_write("\n", 1);
    }
    return result;
}

}  // namespace

int cat_command(int count, char** vector) { return print_files("cat", count, vector); }

int type_command(int count, char** vector) { return print_files("type", count, vector); }

int more_command(int count, char** vector) {
    pager_begin(true);
    return print_files("more", count, vector);
}

void register_cat_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

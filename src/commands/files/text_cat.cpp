// cat, type and more: print whole files as decoded text.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/output.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

int print_files(const char* name, int count, char** vector) {
    // "-a" and "-u" are accepted (and mean nothing) until the first other argument.
    int first = 1;
    while (first < count && (equal_nocase(vector[first], "-a") || equal_nocase(vector[first], "-u")))
        first++;
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

int cat(int count, char** vector) { return print_files("cat", count, vector); }

int type_command(int count, char** vector) { return print_files("type", count, vector); }

int more(int count, char** vector) {
    pager_begin(true);
    return print_files("more", count, vector);
}

}  // namespace tarn

// wc: lines, words and bytes of files.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "runtime/output.h"
#include "shell/registry.h"

namespace tarn {

int wc_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"wc", wc_command, "wc FILE...", "Count lines, words and bytes",
     "  Prints lines, words and bytes, then the name, for each FILE.\n", 0},
};

}  // namespace

int wc_command(int count, char** vector) {
    const char* name = "wc";
    if (count < 2) return report_usage(name);
    int result = kExitSuccess;
    for (int a = 1; a < count; a++) {
        if (poll_break()) break;
        Owned<char> path(resolve_file_argument(name, vector[a]));
        if (!path) {
            result = kExitFailure;
            continue;
        }
        char* data = nullptr;
        uint64_t length = 0;
        ShellError err = read_whole_file(path.get(), &data, &length);
        if (err != kOk) {
            result = report_failure(name, path.get(), err);
            continue;
        }
        Owned<char> owned(data);
        TextCounts c = count_text(reinterpret_cast<const uint8_t*>(data), length);
        out_printf("%8llu %8llu %8llu %s\n", static_cast<unsigned long long>(c.lines),
                   static_cast<unsigned long long>(c.words), static_cast<unsigned long long>(length),
                   vector[a]);
    }
    return result;
}

void register_wc_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

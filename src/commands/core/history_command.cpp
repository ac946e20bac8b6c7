// history: show or clear the command history.
#include "commands/core/core_commands.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/history.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int history_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"history", history_command, "history [-c] [N]", "Show the last N commands (-c clears the history)",
     "  The history is kept in tarn_history.txt on the boot volume (the last 500 lines).\n", 0},
};

}  // namespace

int history_command(int count, char** vector) {
    uint8_t flags[1];
    int first = parse_options(count, vector, "c", flags);
    if (first < 0) return 2;
    if (flags[0]) {
        history_clear();
        return 0;
    }
    int operands = count - first;
    if (operands > 1) return report_usage(vector[0]);
    uint64_t total = history_count();
    uint64_t shown = total;
    if (operands == 1) {
        int64_t n = 0;
        if (!parse_integer(vector[first], &n) || n < 0) return report_usage(vector[0]);
        if (static_cast<uint64_t>(n) < total) shown = static_cast<uint64_t>(n);
    }
    for (uint64_t i = total - shown; i < total; i++) {
        if (poll_break()) break;
        out_printf("%5d  %s\n", static_cast<int>(i + 1), history_entry(i));
    }
    return 0;
}

void register_history_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

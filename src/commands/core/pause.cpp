// pause and sleep: waiting for a key or for time.
#include "commands/core/core_commands.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int pause_command(int count, char** vector);
int sleep_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"pause", pause_command, "pause [-q] [MESSAGE]", "Wait for a key",
     "  Ctrl-C or ESC gives exit code 130, any other key 0. -q shows no default message.\n", 0},
    {"sleep", sleep_command, "sleep MILLISECONDS", "Wait for the given time",
     "  Ctrl-C stops the wait (exit code 130).\n", 0},
};

}  // namespace

int pause_command(int count, char** vector) {
    struct PauseOptions {
        bool quiet = false;
    };
    static constexpr Option<PauseOptions> kRows[] = {
        switch_option("q", &PauseOptions::quiet, kOptionAnyCase)};
    PauseOptions o;
    // The message is free text: the first word that is not -q starts it.
    const int first = parse_options(count, vector, kRows, kOptionsLeading | kOptionsOthersPositional, &o);
    const bool quiet = o.quiet;
    StringBuffer prompt;
    for (int i = first; i < count; i++) {
        if (i > first) append_char(prompt, ' ');
        append_text(prompt, vector[i]);
    }
    // press_any_key shows its default prompt for null; -q alone shows nothing.
    const char* text = prompt.length ? prompt.c_str() : (quiet ? "" : nullptr);
    return press_any_key(text) ? 0 : kExitInterrupted;
}

int sleep_command(int count, char** vector) {
    int64_t ms = 0;
    if (count != 2 || !parse_integer(vector[1], &ms) || ms < 0) return report_usage(vector[0]);
    return sleep_interruptible(static_cast<uint64_t>(ms)) ? 0 : kExitInterrupted;
}

void register_pause_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

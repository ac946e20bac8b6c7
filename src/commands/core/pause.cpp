// pause and sleep: waiting for a key or for time.
#include "commands/core/core_commands.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"

namespace tarn {

int pause(int count, char** vector) {
    int first = 1;
    bool quiet = false;
    if (count > 1 && equal_nocase(vector[1], "-q")) {
        quiet = true;
        first = 2;
    }
    StringBuffer prompt;
    for (int i = first; i < count; i++) {
        if (i > first) append_char(prompt, ' ');
        append_text(prompt, vector[i]);
    }
    // press_any_key shows its default prompt for null; -q alone shows nothing.
    const char* text = prompt.length ? prompt.c_str() : (quiet ? "" : nullptr);
    return press_any_key(text) ? 0 : kExitInterrupted;
}

int sleep(int count, char** vector) {
    int64_t ms = 0;
    if (count != 2 || !parse_integer(vector[1], &ms) || ms < 0) return report_usage(vector[0]);
    uint64_t end = milliseconds() + static_cast<uint64_t>(ms);
    for (;;) {
        uint64_t now = milliseconds();
        if (now >= end) return 0;
        uint64_t slice = min_of<uint64_t>(end - now, 20);
        clock_stall(slice * 1000);
        if (poll_break()) return kExitInterrupted;
    }
}

}  // namespace tarn

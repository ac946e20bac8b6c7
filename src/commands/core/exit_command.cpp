// exit: leave the shell, or end the running script with /b.
#include "commands/core/core_commands.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/executor.h"
#include "shell/session_state.h"

namespace tarn {

namespace {
bool is_b_switch(const char* word) {
    return equal_nocase(word, "/b") || equal_nocase(word, "-b");
}
}  // namespace

int exit_command(int count, char** vector) {
    SessionState& session = session_state();
    if (count >= 2 && is_b_switch(vector[1])) {
        int64_t code = 0;
        if (count > 3 || (count == 3 && !parse_integer(vector[2], &code))) return report_usage(vector[0]);
        int32_t code32 = static_cast<int32_t>(code);
        if (script_depth() > 0) {
            session.end_script = true;
            session.exit_code = code32;
        }
        return code32;
    }
    int64_t code = 0;
    if (count > 2 || (count == 2 && !parse_integer(vector[1], &code))) return report_usage(vector[0]);
    session.leave_shell = true;
    session.exit_code = static_cast<int32_t>(code);
    return session.exit_code;
}

}  // namespace tarn

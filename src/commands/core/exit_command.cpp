// exit: leave the shell, or end the running script with /b.
#include "commands/core/core_commands.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/executor.h"
#include "shell/registry.h"
#include "shell/session_state.h"

namespace tarn {

int exit_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"exit", exit_command, "exit [/b] [CODE]", "Leave the shell and return to the firmware",
     "  exit CODE     leave the shell; the firmware gets CODE (low 8 bits) as an error status\n"
     "  exit /b CODE  end the running script with CODE (at the prompt: set lasterror)\n",
     kCommandOwnB},
};

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

void register_exit_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

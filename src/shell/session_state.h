// The session's exit requests: `exit` asks the shell to leave, `exit /b` inside a script
// asks for the current script to end; both carry an exit code. Set by the exit command,
// read by the interactive loop and the BASIC interpreter.
#pragma once
#include "runtime/util.h"

namespace tarn {

struct SessionState {
    bool leave_shell;
    bool end_script;
    int32_t exit_code;
};

SessionState& session_state();
// Host tests: no request pending.
void reset_session_state();

}  // namespace tarn

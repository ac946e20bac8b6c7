#include "shell/session_state.h"

namespace tarn {

namespace {

constinit SessionState g_session = {};

}  // namespace

SessionState& session_state() { return g_session; }

void reset_session_state() { g_session = SessionState{}; }

}  // namespace tarn

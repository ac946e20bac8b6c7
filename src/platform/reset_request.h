// What the reset command's words ask for.
#pragma once
#include <stdint.h>

namespace tarn {

enum class ResetKind { kCold, kWarm, kShutdown, kSetup };

struct ResetRequest {
    ResetKind kind = ResetKind::kCold;
    const char* reason = nullptr;  // one of the words, or null
};

// The words after the command name: -c, -w, -s (each with an optional reason that does
// not start with '-'), or one of setup, -setup, -f, -fwui; none means cold. False for a
// second mode, an unknown word, or a word after the setup mode.
bool parse_reset_arguments(int count, char* const* words, ResetRequest* out);
// ResetSystem's type: cold 0, warm 1, shutdown 2; the setup restart is cold.
uint32_t reset_system_type(ResetKind kind);

}  // namespace tarn

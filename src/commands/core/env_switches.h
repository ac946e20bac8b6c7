// The switches that set and alias share: -v (temporary) and -d (delete).
#pragma once

namespace tarn {

// Reads the leading -v and -d switches; returns the index of the first other word, or -1
// after reporting the usage of `command` for any other two-letter switch.
int read_env_switches(const char* command, int count, char** vector, bool* temporary, bool* remove);

}  // namespace tarn

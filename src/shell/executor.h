// Running command lines.
#pragma once

namespace tarn {

// Splits, redirects, expands aliases, resolves and runs one command line; returns its
// exit code, which also becomes lasterror.
int run_command_line(const char* line);

// Runs an already split argument vector (count words, vector[count] is null).
int run_arguments(int count, char** vector);

}  // namespace tarn

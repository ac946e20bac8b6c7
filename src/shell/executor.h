// Running command lines: redirection, aliases, volume switches, built-in commands and
// the path search for scripts and EFI applications.
#pragma once
#include "runtime/util.h"

namespace tarn {

// Splits, redirects, expands aliases, resolves and runs one command line; returns its
// exit code, which also becomes lasterror.
int run_command_line(const char* line);

// Runs an already split argument vector (count words, vector[count] is null).
int run_arguments(int count, char** vector);

// The exit code of the last command line (the read-only variable lasterror).
int32_t last_error();
void set_last_error(int32_t code);

// How many .tsb scripts are running; the interpreter raises it around each script run.
int32_t script_depth();
void enter_script();
void leave_script();

// How many alias expansions are in progress (0 at the prompt).
int32_t alias_depth();

// The path search: a newly allocated canonical path of the script or EFI application
// that name refers to, or null.
char* find_executable(const char* name);

// Null when the file is an x86-64 EFI application, else why not (a static message).
const char* check_efi_executable(const char* path);

// Host tests: back to the start-up state.
void reset_executor_state();

}  // namespace tarn

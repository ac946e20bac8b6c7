// Leaving the program: the fatal stop and the normal program exit.
#pragma once
#include "uefi/base.h"

namespace tarn {

// Writes "\ntarn: fatal: MESSAGE\n" straight to the console and exits with code 1.
[[noreturn]] void fatal(const char* message);

// Runs the exit hook, restores the console attribute and text mode, and leaves
// through the firmware's Exit with the status of exit_code.
[[noreturn]] void program_exit(int exit_code);

// The firmware status for an exit code: success for 0, else the low 8 bits with the error bit.
efi::Status exit_status(int exit_code);

// Undoes what start-up changed on the console (hook, attribute, text mode); idempotent.
void restore_console_state();

using ExitHook = void (*)();
void set_exit_hook(ExitHook hook);

}  // namespace tarn

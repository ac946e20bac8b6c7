// The program's entry point and main routine.
#pragma once
#include "uefi/tables.h"

namespace tarn {

// Prepares the console and the run-time environment, collects the arguments, runs
// shell_main on a private stack and leaves with its exit code.
efi::Status entry(efi::Handle image, efi::SystemTable* system_table);

// The shell's main routine: returns the exit code.
int shell_main(int count, char** vector);

}  // namespace tarn

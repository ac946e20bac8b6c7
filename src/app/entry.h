// The program's entry point and main routine.
#pragma once
#include "uefi/tables.h"

namespace tarn {

// Prepares the console and the run-time environment, collects the arguments, runs
// shell_main on a private stack and leaves with its exit code.
efi::Status entry(efi::Handle image, efi::SystemTable* system_table);

// The entry point's preparation alone (firmware context, watchdog, console input,
// attribute, text mode, cursor, clock). Test programs built on the runtime use it too.
void prepare_firmware(efi::Handle image, efi::SystemTable* system_table);

// Text mode choice: the mode to switch to among `count` modes (columns/rows per mode;
// 0 columns for a mode that cannot be queried), or -1 to keep the current one.
int64_t choose_text_mode(const uint64_t* columns, const uint64_t* rows, uint64_t count, int64_t current);

// The shell's arguments from load options (UCS-2, size in bytes): a vector of UTF-8 words,
// always starting with the program name. Returns the count; *vector is allocated.
int arguments_from_load_options(const void* options, uint64_t size, char*** vector);

// The shell's main routine: returns the exit code.
int shell_main(int count, char** vector);

}  // namespace tarn

// Starting EFI applications from the shell: the image runner the executor calls, and the
// pieces of a launch that tests look at on their own.
#pragma once
#include "uefi/base.h"

namespace tarn {

// Loads the image at path from its bytes, hands it its arguments (vector[0] is the path)
// as load options and through the Shell Parameters protocol, starts it, and gives its
// exit code; every failure has been reported on the error stream.
int run_image(const char* path, int count, char** vector);

// The command line an image receives: the arguments separated by blanks, each one that is
// empty or holds a blank, tab or double quote inside double quotes with its quotes
// doubled. Newly allocated.
char* image_command_line(int count, char* const* vector);

// The shell's exit code for an image's exit status: 0 for success, else its low byte, or
// 1 when that is 0.
int image_exit_code(efi::Status status);

// Installs the image runner in the executor.
void register_images_module();

// Host tests: the console hook removed, the standard handles freed.
void reset_images_state();

}  // namespace tarn

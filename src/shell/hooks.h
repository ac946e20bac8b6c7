// How the executor runs .tsb scripts and EFI images. The BASIC interpreter and the image
// launcher sit above the shell and install their runners at start-up; until they do,
// the executor reports that the capability is not available.
#pragma once

namespace tarn {

// Runs the file at path (resolved, canonical) with count arguments (vector[0] is the
// path, vector[count] null); returns the exit code. The runner prints its own errors.
using FileRunner = int (*)(const char* path, int count, char** vector);

void set_script_runner(FileRunner runner);
void set_image_runner(FileRunner runner);

// Used by the executor: the installed runner's result, or an error line and exit code 1
// when no runner is installed.
int dispatch_script(const char* path, int count, char** vector);
int dispatch_image(const char* path, int count, char** vector);

// Host tests: no runners.
void reset_hooks();

}  // namespace tarn

// The handle and driver commands: dh, drivers, devices, devtree, openinfo (views) and
// connect, disconnect, reconnect, load, unload, drvcfg, drvdiag (control).
#pragma once
#include "shell/options.h"
#include "uefi/base.h"

namespace tarn {

void register_driver_commands();
void register_driver_view_commands();
void register_driver_control_commands();
void register_driver_setup_commands();

// What the family's options set. Each command lists the rows it accepts; -l and -p take
// the next argument, -b is accepted everywhere, -verbose is -v.
struct DriverArgs {
    bool d = false, v = false, r = false, c = false, n = false;
    bool s = false, e = false, m = false, nc = false;
    const char* l = nullptr;
    const char* p = nullptr;
};

constexpr int kMaxDriverPositionals = 8;

// Parses by the rows; returns the number of positionals (at most 8, moved to
// vector[first..]) with *first set, or -1 after a usage error was reported.
template <size_t N>
int parse_driver_args(int count, char** vector, const Option<DriverArgs> (&rows)[N], DriverArgs* out,
                      int* first) {
    const int at = parse_options(count, vector, rows, 0, out);
    if (at < 0) return -1;
    *first = at;
    const int n = count - at;
    return n > kMaxDriverPositionals ? kMaxDriverPositionals : n;
}

// A typed handle number, or null after "CMD: TEXT is not a valid handle number (see dh)".
efi::Handle handle_argument(const char* command, const char* text);

// Prints the details form of one handle (dh -d, dh HANDLE, unload -v).
void print_handle_details(efi::Handle handle, const char* language);

// The text of a status as the result lines show it: "Success" or the status message.
const char* result_text(efi::Status status);

}  // namespace tarn

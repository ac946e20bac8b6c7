// File handles the shell hands to started images: its standard input, output and error,
// the null device, and real files wrapped so that the shell knows their paths. Each is an
// EFI_FILE_PROTOCOL at the head of a private record with a signature.
#pragma once
#include "uefi/protocols.h"

namespace tarn {

enum class ShellFileKind : uint32_t { kReal = 0, kStdIn = 1, kStdOut = 2, kStdErr = 3, kNull = 4 };

struct ShellFile {
    efi::FileProtocol protocol;  // must stay first: applications see only this
    uint32_t signature;
    ShellFileKind kind;
    efi::FileProtocol* wrapped;  // kind kReal: the firmware's handle
    char* path;                  // kind kReal: the full shell path (owned)
    char16_t* line;              // kind kStdIn: the current line with its '\n' (owned)
    uint64_t line_units;
    uint64_t line_position;
};

constexpr uint32_t kShellFileSignature = 0x66687374;  // "tshf"

// The record behind a handle, or null when the handle is not one of ours.
ShellFile* shell_file_of(const void* handle);

// The three standard handles, created on first use and kept for the whole run.
efi::FileProtocol* standard_input();
efi::FileProtocol* standard_output();
efi::FileProtocol* standard_error();
// A new null-device handle (freed by its Close).
efi::FileProtocol* open_null_file();
// Wraps a firmware handle (taken over) with its full shell path (copied).
efi::FileProtocol* wrap_real_file(efi::FileProtocol* firmware_file, const char* path);

// Host tests: free the standard handles.
void reset_shell_files();

}  // namespace tarn

// The shell's error codes and the messages of firmware status codes.
#pragma once
#include "uefi/base.h"

namespace tarn {

using ShellError = int;

enum : int {
    kOk = 0,
    kErrNotFound = -1,
    kErrAccessDenied = -2,
    kErrAlreadyExists = -3,
    kErrNotDirectory = -4,
    kErrIsDirectory = -5,
    kErrVolumeFull = -6,
    kErrIo = -7,
    kErrInvalidParameter = -8,
    kErrNotSupported = -9,
    kErrDirectoryNotEmpty = -10,
    kErrOutOfMemory = -11,
    kErrWriteProtected = -12,
    kErrNoMedia = -13,
    kErrSecurityViolation = -14,
    kErrAborted = -15,
};

const char* error_message(ShellError code);
const char* status_message(efi::Status status);
ShellError status_to_error(efi::Status status);

// Exit codes of commands.
enum : int {
    kExitSuccess = 0,
    kExitFailure = 1,
    kExitUsage = 2,
    kExitNotFound = 127,
    kExitInterrupted = 130,
};

}  // namespace tarn

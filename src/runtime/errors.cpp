// Messages of the shell's error codes and of firmware status codes, and the
// conversion from one to the other.
#include "runtime/errors.h"

#include "runtime/util.h"

namespace tarn {

namespace {

constexpr const char* kErrorMessages[] = {
    "success",            // 0
    "not found",          // -1
    "access denied",      // -2
    "already exists",     // -3
    "not a directory",    // -4
    "is a directory",     // -5
    "volume full",        // -6
    "I/O error",          // -7
    "invalid parameter",  // -8
    "not supported",      // -9
    "directory not empty",  // -10
    "out of memory",      // -11
    "write protected",    // -12
    "no media",           // -13
    "security violation",  // -14
    "aborted",            // -15
};

// Indexed by the status code with the error bit cleared.
constexpr const char* kStatusMessages[] = {
    "success",               // 0
    "load error",            // 1
    "invalid parameter",     // 2
    "unsupported",           // 3
    "bad buffer size",       // 4
    "buffer too small",      // 5
    "not ready",             // 6
    "device error",          // 7
    "write protected",       // 8
    "out of resources",      // 9
    "volume corrupted",      // 10
    "volume full",           // 11
    "no media",              // 12
    "media changed",         // 13
    "not found",             // 14
    "access denied",         // 15
    "no response",           // 16
    "no mapping",            // 17
    "timeout",               // 18
    "not started",           // 19
    "already started",       // 20
    "aborted",               // 21
    "ICMP error",            // 22
    "TFTP error",            // 23
    "protocol error",        // 24
    "incompatible version",  // 25
    "security violation",    // 26
    "CRC error",             // 27
    "end of media",          // 28
    "?",                     // 29
    "?",                     // 30
    "end of file",           // 31
    "invalid language",      // 32
    "compromised data",      // 33
};

constexpr const char* kUnknownError = "unknown error";

}  // namespace

const char* error_message(ShellError code) {
    if (code > 0 || code < -static_cast<int>(array_size(kErrorMessages) - 1)) return kUnknownError;
    return kErrorMessages[-code];
}

const char* status_message(efi::Status status) {
    uint64_t code = status & ~efi::kErrorBit;
    if (code >= array_size(kStatusMessages)) return kUnknownError;
    return kStatusMessages[code];
}

ShellError status_to_error(efi::Status status) {
    switch (status) {
    case efi::kSuccess: return kOk;
    case efi::kInvalidParameter: return kErrInvalidParameter;
    case efi::kUnsupported: return kErrNotSupported;
    case efi::kWriteProtected: return kErrWriteProtected;
    case efi::kOutOfResources: return kErrOutOfMemory;
    case efi::kVolumeFull: return kErrVolumeFull;
    case efi::kNoMedia: return kErrNoMedia;
    case efi::kNotFound: return kErrNotFound;
    case efi::kAccessDenied: return kErrAccessDenied;
    case efi::kAborted: return kErrAborted;
    case efi::kSecurityViolation: return kErrSecurityViolation;
    default: return kErrIo;
    }
}

}  // namespace tarn

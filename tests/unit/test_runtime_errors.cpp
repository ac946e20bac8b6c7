// Shell error messages, firmware status messages and the status conversion.
#include <gtest/gtest.h>

#include <string>

#include "runtime/errors.h"

namespace {

using namespace tarn;

TEST(RuntimeErrors, ShellErrorMessages) {
    EXPECT_STREQ(error_message(kOk), "success");
    EXPECT_STREQ(error_message(kErrNotFound), "not found");
    EXPECT_STREQ(error_message(kErrIo), "I/O error");
    EXPECT_STREQ(error_message(kErrDirectoryNotEmpty), "directory not empty");
    EXPECT_STREQ(error_message(kErrSecurityViolation), "security violation");
    EXPECT_STREQ(error_message(kErrAborted), "aborted");
    EXPECT_STREQ(error_message(-16), "unknown error");
    EXPECT_STREQ(error_message(1), "unknown error");
    EXPECT_STREQ(error_message(INT32_MIN), "unknown error");
    EXPECT_STREQ(error_message(INT32_MAX), "unknown error");
    for (int code = -15; code <= 0; code++)
        EXPECT_STRNE(error_message(code), "unknown error") << code;
}

TEST(RuntimeErrors, StatusMessages) {
    EXPECT_STREQ(status_message(efi::kSuccess), "success");
    EXPECT_STREQ(status_message(efi::kNotFound), "not found");
    EXPECT_STREQ(status_message(efi::kIcmpError), "ICMP error");
    EXPECT_STREQ(status_message(efi::kCompromisedData), "compromised data");
    EXPECT_STREQ(status_message(efi::make_error(29)), "?");
    EXPECT_STREQ(status_message(efi::make_error(30)), "?");
    EXPECT_STREQ(status_message(efi::make_error(34)), "unknown error");
    EXPECT_STREQ(status_message(efi::make_error(40)), "unknown error");
    EXPECT_STREQ(status_message(40), "unknown error");
    EXPECT_STREQ(status_message(~0ull), "unknown error");
    // The error bit is cleared first: a warning with the same low value reads the same.
    EXPECT_STREQ(status_message(14), "not found");
    EXPECT_STREQ(status_message(efi::kErrorBit), "success");
    for (uint64_t code = 0; code <= 33; code++) {
        EXPECT_STRNE(status_message(efi::make_error(code)), "unknown error") << code;
        EXPECT_STREQ(status_message(code), status_message(efi::make_error(code)));
    }
}

TEST(RuntimeErrors, StatusToError) {
    EXPECT_EQ(status_to_error(efi::kSuccess), kOk);
    EXPECT_EQ(status_to_error(efi::kInvalidParameter), kErrInvalidParameter);
    EXPECT_EQ(status_to_error(efi::kUnsupported), kErrNotSupported);
    EXPECT_EQ(status_to_error(efi::kWriteProtected), kErrWriteProtected);
    EXPECT_EQ(status_to_error(efi::kOutOfResources), kErrOutOfMemory);
    EXPECT_EQ(status_to_error(efi::kVolumeFull), kErrVolumeFull);
    EXPECT_EQ(status_to_error(efi::kNoMedia), kErrNoMedia);
    EXPECT_EQ(status_to_error(efi::kNotFound), kErrNotFound);
    EXPECT_EQ(status_to_error(efi::kAccessDenied), kErrAccessDenied);
    EXPECT_EQ(status_to_error(efi::kAborted), kErrAborted);
    EXPECT_EQ(status_to_error(efi::kSecurityViolation), kErrSecurityViolation);
    EXPECT_EQ(status_to_error(efi::kDeviceError), kErrIo);
    EXPECT_EQ(status_to_error(efi::kVolumeCorrupted), kErrIo);
    EXPECT_EQ(status_to_error(efi::kBufferTooSmall), kErrIo);
    EXPECT_EQ(status_to_error(efi::make_error(1000)), kErrIo);
    // Warnings (no error bit) are not success, even with a known low value.
    EXPECT_EQ(status_to_error(14), kErrIo);
    EXPECT_EQ(status_to_error(1), kErrIo);
}

}  // namespace

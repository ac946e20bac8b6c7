// Base types of the UEFI interface, written from the published UEFI standard.
// EFIAPI is the Microsoft x64 calling convention in both builds, so the host
// simulation can stand real functions behind the same tables.
#pragma once
#include <stddef.h>
#include <stdint.h>

#define EFIAPI __attribute__((ms_abi))

namespace tarn::efi {

using Status = uint64_t;
using Handle = void*;
using Event = void*;
using Tpl = uint64_t;
using PhysicalAddress = uint64_t;
using VirtualAddress = uint64_t;
using Char16 = char16_t;
using Boolean = uint8_t;

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

inline bool operator==(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; i++)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}

constexpr Status kErrorBit = 0x8000000000000000ull;
constexpr Status make_error(uint64_t code) { return kErrorBit | code; }
constexpr bool is_error(Status s) { return (s & kErrorBit) != 0; }

constexpr Status kSuccess = 0;
constexpr Status kLoadError = make_error(1);
constexpr Status kInvalidParameter = make_error(2);
constexpr Status kUnsupported = make_error(3);
constexpr Status kBadBufferSize = make_error(4);
constexpr Status kBufferTooSmall = make_error(5);
constexpr Status kNotReady = make_error(6);
constexpr Status kDeviceError = make_error(7);
constexpr Status kWriteProtected = make_error(8);
constexpr Status kOutOfResources = make_error(9);
constexpr Status kVolumeCorrupted = make_error(10);
constexpr Status kVolumeFull = make_error(11);
constexpr Status kNoMedia = make_error(12);
constexpr Status kMediaChanged = make_error(13);
constexpr Status kNotFound = make_error(14);
constexpr Status kAccessDenied = make_error(15);
constexpr Status kNoResponse = make_error(16);
constexpr Status kNoMapping = make_error(17);
constexpr Status kTimeout = make_error(18);
constexpr Status kNotStarted = make_error(19);
constexpr Status kAlreadyStarted = make_error(20);
constexpr Status kAborted = make_error(21);
constexpr Status kIcmpError = make_error(22);
constexpr Status kTftpError = make_error(23);
constexpr Status kProtocolError = make_error(24);
constexpr Status kIncompatibleVersion = make_error(25);
constexpr Status kSecurityViolation = make_error(26);
constexpr Status kCrcError = make_error(27);
constexpr Status kEndOfMedia = make_error(28);
constexpr Status kEndOfFile = make_error(31);
constexpr Status kInvalidLanguage = make_error(32);
constexpr Status kCompromisedData = make_error(33);
constexpr Status kHttpError = make_error(35);

struct TableHeader {
    uint64_t signature;
    uint32_t revision;
    uint32_t header_size;
    uint32_t crc32;
    uint32_t reserved;
};

struct Time {
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t pad1;
    uint32_t nanosecond;
    int16_t time_zone;
    uint8_t daylight;
    uint8_t pad2;
};
static_assert(sizeof(Time) == 16);

struct TimeCapabilities {
    uint32_t resolution;
    uint32_t accuracy;
    Boolean sets_to_zero;
};

struct DevicePath {
    uint8_t type;
    uint8_t sub_type;
    uint8_t length[2];
};

}  // namespace tarn::efi

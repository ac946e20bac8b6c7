// The data items of setvar, each appended to the value in order:
//   "text"        the ASCII bytes between the quotes, no terminator
//   L"text"       UCS-2 text with its 16-bit NUL (also l"text")
//   --TEXT        the device path the firmware makes of TEXT
//   0xHEX         a number of 1 to 16 digits stored little-endian in 1, 2, 4 or 8 bytes
//                 by its digit count (0x0001 is 01 00, 0xABC is BC 0A)
//   HEX           hex pairs, the bytes in the order written
#pragma once
#include "runtime/string_buffer.h"
#include "uefi/base.h"

namespace tarn {

struct DataItemHooks {
    // Appends the byte form of a device path text; false when there is none.
    bool (*device_path)(StringBuffer& value, const char* text);
};

// False for an item of none of the forms (value may then hold part of it).
[[nodiscard]] bool append_data_item(StringBuffer& value, const char* item, const DataItemHooks& hooks);

// The byte size of a device path up to and with its end node; 0 when a node is shorter
// than its header or no end node comes within 64 KiB.
uint64_t device_path_bytes(const efi::DevicePath* path);

}  // namespace tarn

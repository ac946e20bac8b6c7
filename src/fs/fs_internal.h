// Helpers shared by the parts of the file layer; not for other modules.
#pragma once
#include "runtime/errors.h"
#include "uefi/protocols.h"

namespace tarn::fs_detail {

// The firmware's "handle closed, file not deleted" warning.
constexpr efi::Status kWarnDeleteFailure = 2;

// Opens the volume root of the volume a path names and then the part after the colon
// (the root itself for "\"). mode is the firmware open mode.
[[nodiscard]] ShellError open_path(const char* path, uint64_t mode, uint64_t attributes,
                                   efi::FileProtocol** out);
// Opens the root directory of a volume handle.
[[nodiscard]] ShellError open_root(efi::Handle handle, efi::FileProtocol** out);

// Reads an information structure into a new raw buffer: `initial` bytes first, then once
// more with the size the firmware asks for. The result holds at least `minimum` bytes.
[[nodiscard]] ShellError read_info(efi::FileProtocol* file, const efi::Guid& type,
                                   uint64_t initial, uint64_t minimum, uint8_t** out,
                                   uint64_t* size);

// UCS-2 text of at most max_units units (stopping at a NUL) as new UTF-8.
char* bounded_ucs2_to_utf8(const char16_t* units, uint64_t max_units);

// The device path text of a handle (new UTF-8; "" without a path or text service).
char* handle_device_path_text(efi::Handle handle, void* text_service);
void* device_path_text_service();

// Bytes of a device path up to, not including, its end node; 0 when it is malformed.
uint64_t device_path_length(const efi::DevicePath* path);

}  // namespace tarn::fs_detail

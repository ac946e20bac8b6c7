// The firmware block shared by ver and sysinfo: vendor and revision, UEFI version,
// Secure Boot state; as text lines or as fields of the current -data record.
#pragma once
#include <stdint.h>

namespace tarn {

void print_firmware_block();
// "2.7" for revision 0x00020046, "2.3.1" for 0x0002001f.
void format_uefi_version(uint32_t revision, char* out, uint64_t size);

}  // namespace tarn

// Physical memory access. Every read that follows an address the firmware handed us
// (configuration tables, ACPI and SMBIOS tables, dmem) goes through read_physical, which
// refuses ranges that wrap; the host build serves only the byte blobs tests registered,
// so a walker that strays past its table fails instead of reading something else.
#pragma once
#include <stdint.h>

namespace tarn {

// Copies size bytes from address to out. False when address + size wraps, or when no
// memory is behind the range (host fake only).
[[nodiscard]] bool read_physical(uint64_t address, void* out, uint64_t size);

// One access of exactly width bytes (1, 2, 4 or 8) at an address aligned to the width,
// never split or merged (memory-mapped registers). False for a bad width or alignment, or
// (host fake) no memory behind the address.
[[nodiscard]] bool read_physical_register(uint64_t address, int width, uint64_t* value);
[[nodiscard]] bool write_physical_register(uint64_t address, int width, uint64_t value);

// Little-endian field readers over a byte buffer already copied; 0 past the end.
uint64_t load_le(const uint8_t* bytes, uint64_t size, uint64_t offset, int width);

}  // namespace tarn

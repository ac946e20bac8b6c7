// The firmware's Decompress protocol, from the published UEFI standard: decoding of the
// EFI 1.1 compression format into a caller's buffer with a caller's scratch memory.
#pragma once
#include "uefi/base.h"

namespace tarn::efi {

inline constexpr Guid kDecompressProtocolGuid = {
    0xd8117cfe, 0x94a6, 0x11d4, {0x9a, 0x3a, 0x00, 0x90, 0x27, 0x3f, 0xc1, 0x4d}};

struct DecompressProtocol {
    // The original size of the compressed data and the scratch memory Decompress needs.
    Status(EFIAPI* get_info)(DecompressProtocol* self, void* source, uint32_t source_size,
                             uint32_t* destination_size, uint32_t* scratch_size);
    Status(EFIAPI* decompress)(DecompressProtocol* self, void* source, uint32_t source_size,
                               void* destination, uint32_t destination_size, void* scratch,
                               uint32_t scratch_size);
};

}  // namespace tarn::efi

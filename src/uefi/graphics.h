// Graphics Output protocol: the resolutions a display offers and the frame buffer.
#pragma once
#include "uefi/base.h"

namespace tarn::efi {

inline constexpr Guid kGraphicsOutputProtocolGuid = {
    0x9042a9de, 0x23dc, 0x4a38, {0x96, 0xfb, 0x7a, 0xde, 0xd0, 0x80, 0x51, 0x6a}};

// EFI_GRAPHICS_PIXEL_FORMAT.
constexpr uint32_t kPixelRedGreenBlueReserved8BitPerColor = 0;
constexpr uint32_t kPixelBlueGreenRedReserved8BitPerColor = 1;
constexpr uint32_t kPixelBitMask = 2;
constexpr uint32_t kPixelBltOnly = 3;

struct PixelBitmask {
    uint32_t red_mask;
    uint32_t green_mask;
    uint32_t blue_mask;
    uint32_t reserved_mask;
};

struct GraphicsOutputModeInformation {
    uint32_t version;
    uint32_t horizontal_resolution;
    uint32_t vertical_resolution;
    uint32_t pixel_format;
    PixelBitmask pixel_information;
    uint32_t pixels_per_scan_line;
};

struct GraphicsOutputProtocolMode {
    uint32_t max_mode;
    uint32_t mode;
    GraphicsOutputModeInformation* info;
    uint64_t size_of_info;
    uint64_t frame_buffer_base;
    uint64_t frame_buffer_size;
};

struct GraphicsOutput {
    // *info is a pool block the caller frees.
    Status(EFIAPI* query_mode)(GraphicsOutput* self, uint32_t mode_number, uint64_t* size_of_info,
                               GraphicsOutputModeInformation** info);
    Status(EFIAPI* set_mode)(GraphicsOutput* self, uint32_t mode_number);
    void* blt;  // not used by the shell
    GraphicsOutputProtocolMode* mode;
};

}  // namespace tarn::efi

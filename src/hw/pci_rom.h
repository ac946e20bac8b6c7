// PCI option ROM files: a chain of ROM images, each beginning with 0x55 0xAA and pointing
// at its PCI data structure ("PCIR"), which gives the image's length in 512-byte blocks,
// its code type and whether it is the last one. A UEFI image (code type 3) also carries,
// in its header, the EFI signature 0x0EF1, the PE subsystem and machine, the compression
// type and where the driver's bytes start. The walker only reads a caller's buffer:
// every offset and length in the file is checked against it before it is used.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace tarn {

constexpr uint64_t kRomHeaderSize = 26;   // the UEFI image header, signature to PCIR pointer
constexpr uint64_t kRomBlockSize = 512;   // the unit of image and initialization sizes
constexpr uint64_t kPcirSize = 24;        // the PCI data structure up to its indicator byte
constexpr uint8_t kRomCodeTypeUefi = 3;
constexpr uint32_t kRomUefiSignature = 0x0ef1;
constexpr uint16_t kRomMachineX64 = 0x8664;
constexpr uint16_t kRomUncompressed = 0;
constexpr uint16_t kRomEfiCompressed = 1;

enum class RomImageKind {
    kOther,      // a sound image that is not a UEFI one (legacy BIOS code, Open Firmware...)
    kUefi,       // a UEFI image whose bytes lie inside it and inside the file
    kBadLayout,  // a UEFI image whose bytes would leave the image or the file
    kDamaged,    // no image header, no PCI data structure in the file, length 0, or past
                 // the end of the file: the walk stops here
};

struct RomImage {
    uint32_t index = 0;   // from 0, in file order
    RomImageKind kind = RomImageKind::kDamaged;
    uint64_t start = 0;   // offset of the image header in the file
    uint64_t length = 0;  // the PCI data structure's image length x 512
    uint8_t code_type = 0;
    bool last = false;    // indicator bit 7
    // UEFI images (kUefi, kBadLayout) only.
    uint16_t subsystem = 0;
    uint16_t machine = 0;
    uint16_t compression = 0;
    // The driver's bytes, as offsets in the file: from the header's image offset to the
    // initialization size x 512, both counted from the image start. Valid for kUefi.
    uint64_t data_start = 0;
    uint64_t data_end = 0;
};

// Whether a file can hold option ROM images at all: 26 bytes or more, starting 0x55 0xAA.
bool is_option_rom(const uint8_t* data, uint64_t size);

// A walk over the images of one file, from offset 0.
struct RomWalk {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t next = 0;
    uint32_t index = 0;
    bool done = false;
};

RomWalk start_rom_walk(const uint8_t* data, uint64_t size);

// The next image into *image; false once the walk has ended (after the image marked last,
// at the end of the file, or after a damaged image, which is given once).
bool next_rom_image(RomWalk& walk, RomImage* image);

}  // namespace tarn

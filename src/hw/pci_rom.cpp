// The option ROM walker: see pci_rom.h.
#include "hw/pci_rom.h"

namespace tarn {
namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Header fields, from the image start.
constexpr uint64_t kInitSizeAt = 0x02;
constexpr uint64_t kEfiSignatureAt = 0x04;
constexpr uint64_t kSubsystemAt = 0x08;
constexpr uint64_t kMachineAt = 0x0a;
constexpr uint64_t kCompressionAt = 0x0c;
constexpr uint64_t kImageOffsetAt = 0x16;
constexpr uint64_t kPcirPointerAt = 0x18;
// PCI data structure fields.
constexpr uint64_t kImageLengthAt = 0x10;
constexpr uint64_t kCodeTypeAt = 0x14;
constexpr uint64_t kIndicatorAt = 0x15;
constexpr uint8_t kLastImage = 0x80;

// The UEFI part of a sound image whose header h lies inside the file.
void read_uefi_fields(const uint8_t* h, RomImage* image) {
    image->subsystem = le16(h + kSubsystemAt);
    image->machine = le16(h + kMachineAt);
    image->compression = le16(h + kCompressionAt);
    const uint64_t offset = le16(h + kImageOffsetAt);
    const uint64_t end = static_cast<uint64_t>(le16(h + kInitSizeAt)) * kRomBlockSize;
    // The bytes must be there, inside the image (which lies inside the file).
    if (offset >= end || end > image->length) {
        image->kind = RomImageKind::kBadLayout;
        return;
    }
    image->kind = RomImageKind::kUefi;
    image->data_start = image->start + offset;
    image->data_end = image->start + end;
}

}  // namespace

bool is_option_rom(const uint8_t* data, uint64_t size) {
    return data && size >= kRomHeaderSize && data[0] == 0x55 && data[1] == 0xaa;
}

RomWalk start_rom_walk(const uint8_t* data, uint64_t size) {
    RomWalk walk;
    walk.data = data;
    walk.size = data ? size : 0;
    return walk;
}

bool next_rom_image(RomWalk& walk, RomImage* image) {
    if (walk.done || walk.next >= walk.size) {
        walk.done = true;
        return false;
    }
    *image = RomImage{};
    image->index = walk.index++;
    image->start = walk.next;
    // Damaged until every check below has passed; a damaged image ends the walk.
    walk.done = true;
    const uint64_t left = walk.size - image->start;
    const uint8_t* h = walk.data + image->start;
    if (left < kRomHeaderSize || h[0] != 0x55 || h[1] != 0xaa) return true;
    const uint64_t pcir = le16(h + kPcirPointerAt);
    if (pcir + kPcirSize > left) return true;
    const uint8_t* p = h + pcir;
    if (p[0] != 'P' || p[1] != 'C' || p[2] != 'I' || p[3] != 'R') return true;
    image->length = static_cast<uint64_t>(le16(p + kImageLengthAt)) * kRomBlockSize;
    image->code_type = p[kCodeTypeAt];
    image->last = (p[kIndicatorAt] & kLastImage) != 0;
    // A length of 0 would never advance; the structure must lie inside its own image.
    if (image->length == 0 || image->length > left || pcir + kPcirSize > image->length) return true;
    image->kind = RomImageKind::kOther;
    if (image->code_type == kRomCodeTypeUefi && le32(h + kEfiSignatureAt) == kRomUefiSignature)
        read_uefi_fields(h, image);
    walk.next = image->start + image->length;
    walk.done = image->last;
    return true;
}

}  // namespace tarn

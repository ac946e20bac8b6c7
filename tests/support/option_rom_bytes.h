// Synthetic PCI option ROM files for the walker and loadpcirom tests: images laid out one
// after the other, each with its header and PCI data structure, every field a test may
// break given explicitly.
#pragma once
#include <cstdint>
#include <vector>

namespace tarn_test {

struct RomPart {
    uint8_t code_type = 3;         // 0 legacy BIOS, 3 UEFI
    bool efi_signature = true;     // 0x0EF1 at offset 4 (UEFI images)
    uint16_t subsystem = 11;       // boot-services driver
    uint16_t machine = 0x8664;
    uint16_t compression = 0;
    std::vector<uint8_t> payload;  // the driver's bytes, at image_offset
    uint16_t image_offset = 0x40;
    int32_t init_blocks = -1;      // initialization size; -1: just enough for the payload
    int32_t length_blocks = -1;    // PCIR image length; -1: the initialization size (at least 1)
    uint16_t pcir = 0x1c;          // PCIR pointer at offset 0x18
    int last = -1;                 // indicator bit 7; -1: set on the final part only
};

inline void put_le(std::vector<uint8_t>& b, uint64_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; i++)
        if (at + i < b.size()) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline std::vector<uint8_t> option_rom(const std::vector<RomPart>& parts) {
    std::vector<uint8_t> rom;
    for (size_t i = 0; i < parts.size(); i++) {
        const RomPart& p = parts[i];
        const uint64_t needed = p.image_offset + p.payload.size();
        const uint64_t init = p.init_blocks >= 0 ? static_cast<uint64_t>(p.init_blocks) : (needed + 511) / 512;
        uint64_t length = p.length_blocks >= 0 ? static_cast<uint64_t>(p.length_blocks) : init;
        if (p.length_blocks < 0 && length == 0) length = 1;
        // The image's own bytes: its length, or as much as its payload needs when that is more.
        uint64_t bytes = length * 512;
        if (bytes < needed) bytes = needed;
        std::vector<uint8_t> image(bytes, 0);
        image[0] = 0x55;
        image[1] = 0xaa;
        put_le(image, 0x02, init, 2);
        if (p.code_type == 3 && p.efi_signature) put_le(image, 0x04, 0x0ef1, 4);
        put_le(image, 0x08, p.subsystem, 2);
        put_le(image, 0x0a, p.machine, 2);
        put_le(image, 0x0c, p.compression, 2);
        put_le(image, 0x16, p.image_offset, 2);
        put_le(image, 0x18, p.pcir, 2);
        if (p.pcir + 24u <= image.size()) {
            const uint8_t sig[] = {'P', 'C', 'I', 'R'};
            for (int k = 0; k < 4; k++) image[p.pcir + k] = sig[k];
            put_le(image, p.pcir + 0x0a, 24, 2);
            put_le(image, p.pcir + 0x10, length, 2);
            image[p.pcir + 0x14] = p.code_type;
            const bool last = p.last >= 0 ? p.last != 0 : i + 1 == parts.size();
            image[p.pcir + 0x15] = last ? 0x80 : 0;
        }
        for (size_t k = 0; k < p.payload.size(); k++) image[p.image_offset + k] = p.payload[k];
        // The image occupies its declared length in the file when that is smaller.
        if (length * 512 < image.size() && i + 1 < parts.size()) image.resize(length * 512);
        rom.insert(rom.end(), image.begin(), image.end());
    }
    return rom;
}

// Payload bytes that differ from one image to the next.
inline std::vector<uint8_t> payload_bytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; i++) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 5));
    return b;
}

}  // namespace tarn_test

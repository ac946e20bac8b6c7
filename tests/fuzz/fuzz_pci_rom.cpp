// The option ROM walker on arbitrary files. Each input is walked three ways: as it is; with
// the signatures put where the walker looks for them (55 AA at the start, "PCIR" where the
// pointer says); and stretched over a few 512-byte blocks with signatures at each block, so
// that chains of images with random fields are walked. Every file is a buffer of its exact
// size, so the sanitizers catch a read past it; every image given must lie inside it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hw/pci_rom.h"

namespace {

void check_walk(const std::vector<uint8_t>& file) {
    tarn::RomWalk walk = tarn::start_rom_walk(file.data(), file.size());
    tarn::RomImage image;
    uint64_t expected_start = 0, images = 0, sum = 0;
    bool ended = false;
    while (tarn::next_rom_image(walk, &image)) {
        if (ended) abort();  // nothing after a damaged image
        if (image.index != images || image.start != expected_start || image.start >= file.size()) abort();
        if (++images > file.size() / tarn::kRomBlockSize + 1) abort();
        if (image.kind == tarn::RomImageKind::kDamaged) {
            ended = true;
            continue;
        }
        if (image.length == 0 || image.length % tarn::kRomBlockSize || image.start + image.length > file.size())
            abort();
        if (image.kind == tarn::RomImageKind::kUefi) {
            if (image.data_start < image.start || image.data_start >= image.data_end ||
                image.data_end > image.start + image.length)
                abort();
            for (uint64_t i = image.data_start; i < image.data_end; i++) sum += file[i];
        }
        expected_start = image.start + image.length;
    }
    if (tarn::next_rom_image(walk, &image)) abort();
    volatile uint64_t keep = sum;  // the reads of the data ranges stay
    (void)keep;
}

// 55 AA at `at`, the PCIR pointer brought within the first 0x80 bytes with "PCIR" there,
// and for every other image the code type and EFI signature of a UEFI one.
void put_signatures(std::vector<uint8_t>& file, uint64_t at) {
    if (at + 2 > file.size()) return;
    file[at] = 0x55;
    file[at + 1] = 0xaa;
    if (at + 0x1a > file.size()) return;
    const uint8_t pointer = file[at + 0x18] % 0x80;
    file[at + 0x18] = pointer;
    file[at + 0x19] = 0;
    const uint64_t pcir = at + pointer;
    if (pcir + 4 <= file.size()) memcpy(&file[pcir], "PCIR", 4);
    if ((file[at + 2] & 1) && pcir + 0x15 <= file.size()) {
        file[pcir + 0x14] = 3;
        const uint8_t efi[] = {0xf1, 0x0e, 0, 0};
        memcpy(&file[at + 4], efi, 4);
        file[at + 0x17] = 0;  // image offsets below 256
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    check_walk(file);
    put_signatures(file, 0);
    check_walk(file);
    if (size < 2) return 0;
    const uint64_t blocks = 1 + data[0] % 8;
    std::vector<uint8_t> stretched(blocks * tarn::kRomBlockSize + data[1] % 64);
    for (size_t i = 0; i < stretched.size(); i++) stretched[i] = data[i % size];
    for (uint64_t b = 0; b < blocks; b++) {
        const uint64_t at = b * tarn::kRomBlockSize;
        put_signatures(stretched, at);
        // Image lengths of one to three blocks, sometimes the 0 a hostile file holds, and
        // initialization sizes of zero to four blocks.
        if (at + 0x1a > stretched.size()) continue;
        const uint64_t pcir = at + stretched[at + 0x18];
        if (pcir + 0x12 <= stretched.size()) {
            stretched[pcir + 0x10] = static_cast<uint8_t>(data[(b + 2) % size] % 4);
            stretched[pcir + 0x11] = 0;
        }
        stretched[at + 2] = static_cast<uint8_t>(data[(b + 3) % size] % 5);
        stretched[at + 3] = 0;
    }
    check_walk(stretched);
    return 0;
}

// The option ROM walker over synthetic ROM files: which images it finds, where their
// driver bytes are, and where it stops on damaged or hostile layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "compress/efi_codec.h"
#include "hw/pci_rom.h"
#include "option_rom_bytes.h"
#include "runtime/memory.h"
#include "sim.h"

using namespace tarn;
using namespace tarn_test;

namespace {

// The walk as one line: per image its kind (O other, U UEFI, B bad layout, D damaged),
// "@start+length", and for UEFI images the machine when not x64, "z" when compressed and
// the data range "[start,end)".
std::string walk_text(const std::vector<uint8_t>& rom) {
    // An exact-size copy, so that the sanitizers see any read past the file.
    std::vector<uint8_t> file(rom);
    RomWalk walk = start_rom_walk(file.data(), file.size());
    RomImage image;
    std::string text;
    uint32_t expected_index = 0;
    while (next_rom_image(walk, &image)) {
        EXPECT_EQ(image.index, expected_index++);
        if (!text.empty()) text += " ";
        const char kinds[] = {'O', 'U', 'B', 'D'};
        text += kinds[static_cast<int>(image.kind)];
        text += "@" + std::to_string(image.start) + "+" + std::to_string(image.length);
        if (image.kind == RomImageKind::kUefi || image.kind == RomImageKind::kBadLayout) {
            if (image.machine != kRomMachineX64) text += " m" + std::to_string(image.machine);
            if (image.compression) text += " z";
        }
        if (image.kind == RomImageKind::kUefi)
            text += "[" + std::to_string(image.data_start) + "," + std::to_string(image.data_end) + ")";
    }
    EXPECT_FALSE(next_rom_image(walk, &image));  // an ended walk stays ended
    return text;
}

RomPart legacy(size_t size = 400) {
    RomPart p;
    p.code_type = 0;
    p.payload = payload_bytes(size, 1);
    return p;
}

RomPart uefi(size_t size = 900) {
    RomPart p;
    p.payload = payload_bytes(size, 2);
    return p;
}

template <class F> RomPart with(RomPart p, F change) {
    change(p);
    return p;
}

std::vector<uint8_t> patched(std::vector<uint8_t> rom, uint64_t at, std::vector<uint8_t> bytes) {
    for (size_t i = 0; i < bytes.size(); i++) rom.at(at + i) = bytes[i];
    return rom;
}

std::vector<uint8_t> truncated(std::vector<uint8_t> rom, size_t size) {
    rom.resize(size);
    return rom;
}

TEST(HwPciRom, Walks) {
    struct Case {
        const char* name;
        std::vector<uint8_t> rom;
        const char* walk;
    } cases[] = {
        {"legacy then UEFI", option_rom({legacy(), uefi()}), "O@0+512 U@512+1024[576,1536)"},
        {"UEFI alone, data to the initialization size", option_rom({uefi()}), "U@0+1024[64,1024)"},
        {"two UEFI images", option_rom({uefi(100), uefi(600)}), "U@0+512[64,512) U@512+1024[576,1536)"},
        {"wrong machine",
         option_rom({with(uefi(), [](RomPart& p) { p.machine = 0xaa64; })}), "U@0+1024 m43620[64,1024)"},
        {"compressed", option_rom({with(uefi(), [](RomPart& p) { p.compression = 1; })}), "U@0+1024 z[64,1024)"},
        {"code type 3 without the EFI signature",
         option_rom({with(uefi(), [](RomPart& p) { p.efi_signature = false; })}), "O@0+1024"},
        {"the initialization size ends before the image",
         option_rom({with(uefi(), [](RomPart& p) { p.length_blocks = 4; })}), "U@0+2048[64,1024)"},
        {"the last image ends the walk, trailing bytes are not looked at",
         option_rom({with(legacy(), [](RomPart& p) { p.last = 1; }), uefi()}), "O@0+512"},
        {"no last marker: the end of the file ends the walk",
         option_rom({legacy(), with(uefi(), [](RomPart& p) { p.last = 0; })}), "O@0+512 U@512+1024[576,1536)"},
        // Damaged headers end the walk.
        {"length 0", option_rom({with(legacy(), [](RomPart& p) { p.length_blocks = 0; })}), "D@0+0"},
        {"length 0 after a sound image",
         option_rom({legacy(), with(uefi(), [](RomPart& p) { p.length_blocks = 0; })}), "O@0+512 D@512+0"},
        {"PCIR pointer outside the file", option_rom({with(legacy(), [](RomPart& p) { p.pcir = 0xfff0; })}),
         "D@0+0"},
        {"PCIR running past the end of the file", truncated(option_rom({legacy()}), 0x1c + 23), "D@0+0"},
        {"PCIR outside its own image",
         patched(option_rom({legacy(), legacy()}), 0x18, {0x1c, 0x02}), "D@0+512"},
        {"no PCIR signature", patched(option_rom({legacy()}), 0x1c, {'P', 'C', 'I', 'X'}), "D@0+0"},
        {"image past the end of the file",
         truncated(option_rom({legacy(), uefi()}), 1000), "O@0+512 D@512+1024"},
        {"absurd image length",
         patched(option_rom({legacy()}), 0x1c + 0x10, {0xff, 0xff}), "D@0+33553920"},
        {"second image without 55 AA", patched(option_rom({legacy(), uefi()}), 512, {0x55, 0xab}), "O@0+512 D@512+0"},
        {"a few bytes after the last marked-not-last image",
         [] {
             auto rom = option_rom({with(legacy(), [](RomPart& p) { p.last = 0; })});
             rom.insert(rom.end(), {0x55, 0xaa, 0, 0});
             return rom;
         }(),
         "O@0+512 D@512+0"},
        // Bad layouts of the driver's bytes: the walk goes on.
        {"initialization size past the image",
         option_rom({with(uefi(), [](RomPart& p) { p.init_blocks = 3; p.length_blocks = 2; p.last = 0; }), legacy()}),
         "B@0+1024 O@1024+512"},
        {"absurd initialization size",
         option_rom({with(uefi(), [](RomPart& p) { p.init_blocks = 0xffff; p.length_blocks = 2; })}), "B@0+1024"},
        {"image offset at the initialization size",
         option_rom({with(uefi(100), [](RomPart& p) { p.init_blocks = 1; p.image_offset = 512; p.payload = {}; })}),
         "B@0+512"},
        {"absurd image offset",
         patched(option_rom({uefi()}), 0x16, {0xff, 0xff}), "B@0+1024"},
        {"initialization size 0",
         option_rom({with(uefi(), [](RomPart& p) { p.init_blocks = 0; p.length_blocks = 2; })}), "B@0+1024"},
    };
    for (const Case& c : cases) EXPECT_EQ(walk_text(c.rom), c.walk) << c.name;
}

TEST(HwPciRom, ManyImagesAreWalkedToTheEndOfTheFile) {
    std::vector<RomPart> parts(300, with(legacy(10), [](RomPart& p) { p.last = 0; }));
    const std::string text = walk_text(option_rom(parts));
    EXPECT_EQ(std::count(text.begin(), text.end(), 'O'), 300);
    EXPECT_EQ(text.substr(text.size() - 12), "O@153088+512");
}

TEST(HwPciRom, WhatIsARomAtAll) {
    const std::vector<uint8_t> rom = option_rom({uefi()});
    struct Case {
        std::vector<uint8_t> bytes;
        bool rom;
    } cases[] = {
        {rom, true},
        {truncated(rom, 26), true},
        {truncated(rom, 25), false},
        {truncated(rom, 0), false},
        {patched(rom, 0, {0xaa, 0x55}), false},
        {patched(rom, 1, {0xab}), false},
        {std::vector<uint8_t>(64, 0), false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file(c.bytes);
        EXPECT_EQ(is_option_rom(file.data(), file.size()), c.rom) << file.size();
    }
    EXPECT_FALSE(is_option_rom(nullptr, 100));
    RomWalk walk = start_rom_walk(nullptr, 100);
    RomImage image;
    EXPECT_FALSE(next_rom_image(walk, &image));
}

// A driver compressed by our own encoder: the data range the walker gives holds the whole
// stream (and the zeros after it up to the initialization size), and decodes to the driver.
TEST(HwPciRom, CompressedDataRangeDecodes) {
    sim::SimFirmware fw;
    const std::vector<uint8_t> driver = payload_bytes(5000, 9);
    uint8_t* packed = nullptr;
    uint64_t packed_size = 0;
    ASSERT_TRUE(efi_compress(driver.data(), driver.size(), &packed, &packed_size));
    Owned<uint8_t> owner(packed);
    RomPart part = uefi();
    part.compression = kRomEfiCompressed;
    part.payload.assign(packed, packed + packed_size);
    part.init_blocks = static_cast<int32_t>((part.image_offset + packed_size) / 512 + 2);
    std::vector<uint8_t> file = option_rom({legacy(), part});
    RomWalk walk = start_rom_walk(file.data(), file.size());
    RomImage image;
    ASSERT_TRUE(next_rom_image(walk, &image));
    ASSERT_TRUE(next_rom_image(walk, &image));
    ASSERT_EQ(image.kind, RomImageKind::kUefi);
    EXPECT_EQ(image.compression, kRomEfiCompressed);
    EXPECT_EQ(image.data_start, 512u + part.image_offset);
    EXPECT_EQ(image.data_end, 512u + part.init_blocks * 512u);
    uint8_t* out = nullptr;
    uint64_t out_size = 0;
    ASSERT_EQ(efi_decompress(file.data() + image.data_start, image.data_end - image.data_start, &out, &out_size), 0);
    Owned<uint8_t> out_owner(out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + out_size), driver);
}

}  // namespace

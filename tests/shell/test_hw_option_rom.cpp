// loadpcirom over simulated drivers: which images of a ROM file are started, with what
// bytes and device path, the lines and errors it prints, and the connect afterwards.
#include "compress/efi_codec.h"
#include "decompress.h"
#include "driver_shell.h"
#include "hw/pci_rom.h"
#include "option_rom_bytes.h"
#include "platform/secure_boot.h"
#include "uefi/guids.h"

using namespace tarn;
using namespace tarn_test;

namespace {

std::string as_text(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

// Driver bytes the simulated firmware knows: each starts a driver named after it. Their
// sizes end the image at a 512-byte block (after the 0x40 bytes of header), as the
// initialization size counts the bytes LoadImage is given in blocks.
struct RomWorld : DriverShell {
    std::vector<std::string> started;          // names, in order
    std::vector<std::vector<uint8_t>> paths;   // each started image's device path
    int connected_before = 0;                  // controller starts seen by the entry points
    static inline const std::vector<uint8_t> net = payload_bytes(960, 0x11);
    static inline const std::vector<uint8_t> video = payload_bytes(2496, 0x22);
    static inline const std::vector<uint8_t> broken = payload_bytes(448, 0x33);  // its entry point fails
    static inline const std::vector<uint8_t> unsigned_driver = payload_bytes(1472, 0x44);

    RomWorld() {
        driver_image(net, "Net Driver");
        driver_image(video, "Video Driver");
        driver_image(broken, "Broken Driver", efi::kDeviceError);
        sim::ImageOptions refused;
        refused.driver = true;
        refused.load_status = efi::kSecurityViolation;
        fw.register_image_buffer(unsigned_driver, [](efi::Handle, efi::SystemTable*) { return efi::kSuccess; },
                                 refused);
    }
    void driver_image(const std::vector<uint8_t>& bytes, const std::string& name,
                      efi::Status status = efi::kSuccess) {
        sim::ImageOptions driver;
        driver.driver = true;
        fw.register_image_buffer(bytes, [this, name, status](efi::Handle image, efi::SystemTable*) {
            started.push_back(name);
            for (auto& c : calls()) connected_before += c.what == "Start" && c.controller == controller;
            const auto* path = static_cast<const uint8_t*>(
                fw.handles().find(image, efi::kLoadedImageDevicePathProtocolGuid));
            paths.emplace_back(path, path + (path ? 28 : 0));
            if (status != efi::kSuccess) return status;
            sim::DriverLayout layout;
            layout.name = name;
            sim::add_driver(fw, layout, image);
            return efi::kSuccess;
        }, driver);
    }
    // Start calls on the test controller since the last look (connects that reached it).
    int starts() {
        int n = 0;
        for (auto& c : calls()) n += c.what == "Start" && c.controller == controller;
        calls().clear();
        return n;
    }
};

RomPart legacy() {
    RomPart p;
    p.code_type = 0;
    p.payload = payload_bytes(300, 1);
    return p;
}

RomPart uefi(const std::vector<uint8_t>& payload) {
    RomPart p;
    p.payload = payload;
    return p;
}

template <class F> RomPart with(RomPart p, F change) {
    change(p);
    return p;
}

std::vector<uint8_t> compressed(const std::vector<uint8_t>& bytes) {
    uint8_t* packed = nullptr;
    uint64_t size = 0;
    EXPECT_TRUE(efi_compress(bytes.data(), bytes.size(), &packed, &size));
    std::vector<uint8_t> out(packed, packed + size);
    release(packed);
    return out;
}

RomPart compressed_uefi(const std::vector<uint8_t>& packed) {
    RomPart p;
    p.compression = kRomEfiCompressed;
    p.payload = packed;
    return p;
}

TEST(HwOptionRom, ImagesLinesAndExitCodes) {
    // Made before the worlds, each of which is a firmware of its own.
    const std::vector<uint8_t> packed = [] {
        sim::SimFirmware fw;
        return compressed(RomWorld::video);
    }();
    std::vector<uint8_t> damaged_stream = packed;
    for (size_t i = 8; i < damaged_stream.size(); i++) damaged_stream[i] ^= 0x5a;
    std::vector<uint8_t> overlong_header = packed;
    put_le(overlong_header, 0, packed.size() + 4096, 4);  // more compressed bytes than follow
    std::vector<uint8_t> two = option_rom({uefi(RomWorld::net), legacy()});
    two.resize(1300);  // the second image runs past the end of the file
    struct Case {
        const char* name;
        std::vector<uint8_t> rom;
        std::string line;
        int code;
        std::string out, errors, started;
        int starts;  // Start calls on the controller (one per connected driver)
    } cases[] = {
        {"legacy then UEFI: only image 1", option_rom({legacy(), uefi(RomWorld::net)}), "loadpcirom a.rom", 0,
         "Image 1 (subsystem 11) from a.rom - loaded\n", "", "Net Driver", 1},
        {"two UEFI images, one connect", option_rom({uefi(RomWorld::net), uefi(RomWorld::video)}), "loadpcirom a.rom", 0,
         "Image 0 (subsystem 11) from a.rom - loaded\nImage 1 (subsystem 11) from a.rom - loaded\n", "",
         "Net Driver,Video Driver", 2},
        {"-nc: no connect", option_rom({uefi(RomWorld::net)}), "loadpcirom -NC a.rom", 0,
         "Image 0 (subsystem 11) from a.rom - loaded\n", "", "Net Driver", 0},
        {"wrong machine skipped",
         option_rom({with(uefi(RomWorld::net), [](RomPart& p) { p.machine = 0xaa64; }), uefi(RomWorld::video)}), "loadpcirom a.rom",
         0, "Image 0: machine AA64, not for x86_64: skipped\nImage 1 (subsystem 11) from a.rom - loaded\n", "",
         "Video Driver", 1},
        {"only a skipped image: nothing to connect",
         option_rom({with(uefi(RomWorld::net), [](RomPart& p) { p.machine = 0x14c; p.subsystem = 12; })}),
         "loadpcirom a.rom", 0, "Image 0: machine 014C, not for x86_64: skipped\n", "", "", 0},
        {"compressed by our encoder", option_rom({legacy(), compressed_uefi(packed)}), "loadpcirom a.rom", 0,
         "Image 1 (subsystem 11, compressed) from a.rom - loaded\n", "", "Video Driver", 1},
        {"compressed stream damaged",
         option_rom({with(compressed_uefi(packed), [&](RomPart& p) { p.payload = damaged_stream; })}),
         "loadpcirom a.rom", 1, "", "loadpcirom: image 0: decompression failed\n", "", 0},
        {"compression header claims too much",
         option_rom({with(compressed_uefi(packed), [&](RomPart& p) { p.payload = overlong_header; })}),
         "loadpcirom a.rom", 1, "", "loadpcirom: image 0: cannot decompress\n", "", 0},
        {"unknown compression type",
         option_rom({with(uefi(RomWorld::net), [](RomPart& p) { p.compression = 2; })}), "loadpcirom a.rom", 1, "",
         "loadpcirom: image 0: cannot decompress\n", "", 0},
        {"zero length", option_rom({with(legacy(), [](RomPart& p) { p.length_blocks = 0; })}), "loadpcirom a.rom", 1,
         "", "loadpcirom: image 0: damaged header\n", "", 0},
        {"PCIR outside the file", option_rom({with(uefi(RomWorld::net), [](RomPart& p) { p.pcir = 0xff00; })}),
         "loadpcirom a.rom", 1, "", "loadpcirom: image 0: damaged header\n", "", 0},
        {"image past the end after a good one: the good one still runs", two, "loadpcirom a.rom", 1,
         "Image 0 (subsystem 11) from a.rom - loaded\n", "loadpcirom: image 1: damaged header\n", "Net Driver", 1},
        {"driver bytes past the image",
         option_rom({with(uefi(RomWorld::net), [](RomPart& p) { p.length_blocks = 1; p.init_blocks = 2; p.last = 0; }),
                     uefi(RomWorld::video)}),
         "loadpcirom a.rom", 1, "Image 1 (subsystem 11) from a.rom - loaded\n",
         "loadpcirom: image 0: damaged header\n", "Video Driver", 1},
        {"bytes no image matches", option_rom({uefi(payload_bytes(800, 0x77))}), "loadpcirom a.rom", 1,
         "Image 0 (subsystem 11) from a.rom - load error\n", "", "", 0},
        {"refused by Secure Boot", option_rom({uefi(RomWorld::unsigned_driver)}), "loadpcirom a.rom", 1,
         "Image 0 (subsystem 11) from a.rom - not allowed by Secure Boot (not signed)\n", "", "", 0},
        {"entry point fails", option_rom({uefi(RomWorld::broken)}), "loadpcirom a.rom", 1,
         "Image 0 (subsystem 11) from a.rom - device error\n", "", "Broken Driver", 0},
        {"not a ROM: short", std::vector<uint8_t>{0x55, 0xaa, 1, 2, 3}, "loadpcirom a.rom", 1, "",
         "loadpcirom: a.rom is not a PCI option ROM image\n", "", 0},
        {"not a ROM: no 55 AA", std::vector<uint8_t>(4096, 0), "loadpcirom a.rom", 1, "",
         "loadpcirom: a.rom is not a PCI option ROM image\n", "", 0},
        {"a missing file among good ones: one connect, exit 1", option_rom({uefi(RomWorld::net)}),
         "loadpcirom a.rom none.rom zz:\\x.rom", 1, "Image 0 (subsystem 11) from a.rom - loaded\n",
         "loadpcirom: none.rom: not found\nloadpcirom: zz:\\x.rom: invalid path\n", "Net Driver", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RomWorld w;
        w.add_file("\\a.rom", as_text(c.rom));
        w.starts();
        const RunResult r = w.run_captured(c.line);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.errors, c.errors);
        std::string names;
        for (const std::string& n : w.started) names += (names.empty() ? "" : ",") + n;
        EXPECT_EQ(names, c.started);
        // The connect came after all images (no entry point saw one), and only when a
        // driver started; the drivers are there whether or not they were connected.
        EXPECT_EQ(w.connected_before, 0);
        EXPECT_EQ(w.starts(), c.starts);
        const std::string drivers = w.output("drivers");
        for (const std::string& n : w.started)
            if (n != "Broken Driver") EXPECT_NE(drivers.find(n), std::string::npos) << n;
    }
}

// The device path each image is loaded with: a relative offset range node from the image's
// header to the last byte of its driver bytes, then the end node.
TEST(HwOptionRom, DevicePathNamesTheImageRangeInTheFile) {
    RomWorld s;
    const std::vector<uint8_t> rom =
        option_rom({legacy(), uefi(RomWorld::net), compressed_uefi(compressed(RomWorld::video))});
    s.add_file("\\a.rom", as_text(rom));
    ASSERT_EQ(s.run_captured("loadpcirom -nc a.rom").code, 0);
    ASSERT_EQ(s.paths.size(), 2u);
    const uint64_t net_end = 512 + ((0x40 + RomWorld::net.size() + 511) / 512) * 512;
    const uint64_t ranges[2][2] = {{512, net_end - 1}, {net_end, 0}};
    for (size_t i = 0; i < 2; i++) {
        const std::vector<uint8_t>& p = s.paths[i];
        SCOPED_TRACE(i);
        ASSERT_EQ(p.size(), 28u);
        EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 8), (std::vector<uint8_t>{4, 8, 24, 0, 0, 0, 0, 0}));
        uint64_t start = 0, end = 0;
        for (int k = 7; k >= 0; k--) {
            start = start << 8 | p[8 + k];
            end = end << 8 | p[16 + k];
        }
        EXPECT_EQ(start, ranges[i][0]);
        if (i == 0) EXPECT_EQ(end, ranges[i][1]);
        else EXPECT_EQ(end, rom.size() - 1);
        EXPECT_EQ(std::vector<uint8_t>(p.begin() + 24, p.end()), (std::vector<uint8_t>{0x7f, 0xff, 4, 0}));
    }
}

// With the firmware's Decompress protocol it expands the image; a refusal there is the
// answer, the built-in decoder is not tried behind it.
TEST(HwOptionRom, FirmwareDecompressWhenPresent) {
    RomWorld s;
    s.add_file("\\a.rom", as_text(option_rom({compressed_uefi(compressed(RomWorld::video))})));
    sim::DecompressControl& dc = sim::install_decompress_protocol(s.fw);
    EXPECT_EQ(s.output("loadpcirom -nc a.rom"), "Image 0 (subsystem 11, compressed) from a.rom - loaded\n");
    EXPECT_EQ(dc.decompress_calls, 1);
    dc.decompress_status = efi::kVolumeCorrupted;
    s.expect_failure("loadpcirom -nc a.rom", 1, "loadpcirom: image 0: decompression failed\n");
    EXPECT_EQ(s.started.size(), 1u);
}

TEST(HwOptionRom, AccessDeniedNamesSecureBootOnlyWhenActive) {
    RomWorld s;
    const std::vector<uint8_t> denied = payload_bytes(1984, 0x55);
    sim::ImageOptions options;
    options.driver = true;
    options.load_status = efi::kAccessDenied;
    s.fw.register_image_buffer(denied, [](efi::Handle, efi::SystemTable*) { return efi::kSuccess; }, options);
    s.add_file("\\a.rom", as_text(option_rom({uefi(denied)})));
    EXPECT_EQ(s.run_captured("loadpcirom a.rom").out, "Image 0 (subsystem 11) from a.rom - access denied\n");
    s.store().put(u"SecureBoot", efi::kGlobalVariableGuid, 6, {1});
    reset_secure_boot_state();
    EXPECT_EQ(s.run_captured("loadpcirom a.rom").out,
              "Image 0 (subsystem 11) from a.rom - not allowed by Secure Boot (not signed)\n");
    reset_secure_boot_state();
}

TEST(HwOptionRom, Usage) {
    RomWorld s;
    s.expect_failure("loadpcirom", 2, "usage: loadpcirom [-nc] ROMFILE...");
    s.expect_failure("loadpcirom -x a.rom", 2, "loadpcirom: unknown option");
    EXPECT_NE(s.output("help loadpcirom").find("Load the UEFI drivers contained in a PCI option ROM file"),
              std::string::npos);
}

}  // namespace

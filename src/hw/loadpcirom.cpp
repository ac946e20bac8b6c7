// loadpcirom: loads and starts the UEFI drivers held in PCI option ROM files.
#include "compress/compress_commands.h"
#include "compress/efi_codec.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "hw/hw_commands.h"
#include "hw/pci_rom.h"
#include "platform/secure_boot.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/options.h"
#include "shell/registry.h"
#include "uefi/protocols.h"

namespace tarn {
namespace {

int loadpcirom_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"loadpcirom", loadpcirom_command, "loadpcirom [-nc] ROMFILE...",
     "Load the UEFI drivers contained in a PCI option ROM file",
     "  Walks the images of each ROM file and starts every UEFI driver built for x64,\n"
     "  expanding compressed ones; legacy images are passed over. Then connects every\n"
     "  controller once, unless -nc is given or no driver started.\n",
     0},
};

constexpr const char* kName = "loadpcirom";

struct RomArgs {
    bool nc = false;
};
constexpr Option<RomArgs> kRows[] = {
    switch_option("nc", &RomArgs::nc, kOptionAnyCase),
};

// The device path an image is loaded with: where its bytes are in the ROM file, as a
// relative offset range node (first and last byte), then the end of the path.
constexpr uint8_t kRelativeOffsetRangeSubType = 8;
constexpr uint64_t kRangeNodeSize = 24;

struct RangePath {
    alignas(8) uint8_t bytes[kRangeNodeSize + 4];
};

void put_le64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

RangePath range_path(uint64_t first, uint64_t last) {
    RangePath path{};
    uint8_t* p = path.bytes;
    p[0] = efi::kMediaDevicePath;
    p[1] = kRelativeOffsetRangeSubType;
    p[2] = static_cast<uint8_t>(kRangeNodeSize);
    put_le64(p + 8, first);
    put_le64(p + 16, last);
    p[kRangeNodeSize] = efi::kEndDevicePath;
    p[kRangeNodeSize + 1] = efi::kEndEntireSubType;
    p[kRangeNodeSize + 2] = 4;
    return path;
}

enum class Outcome { kSkipped, kStarted, kFailed };

Outcome image_error(const char* what, uint32_t index) {
    report_error(kName, "image %u: %s", static_cast<unsigned>(index), what);
    return Outcome::kFailed;
}

// LoadImage and StartImage of one image's driver bytes; prints the image's line.
Outcome start_driver(const char* file, const RomImage& image, uint8_t* bytes, uint64_t size, bool compressed) {
    efi::BootServices* bs = boot_services();
    RangePath path = range_path(image.start, image.data_end - 1);
    efi::Handle handle = nullptr;
    efi::Status st = bs->load_image(0, firmware().image, reinterpret_cast<efi::DevicePath*>(path.bytes), bytes,
                                    size, &handle);
    const char* result = "loaded";
    if (efi::is_error(st)) {
        if (handle) (void)bs->unload_image(handle);
        result = refused_by_secure_boot(st) ? "not allowed by Secure Boot (not signed)" : status_message(st);
    } else {
        st = bs->start_image(handle, nullptr, nullptr);
        if (efi::is_error(st)) result = status_message(st);
    }
    out_printf("Image %u (subsystem %u%s) from %s - %s\n", static_cast<unsigned>(image.index),
               static_cast<unsigned>(image.subsystem), compressed ? ", compressed" : "", file, result);
    return efi::is_error(st) ? Outcome::kFailed : Outcome::kStarted;
}

// One image found by the walk: legacy ones are passed over, UEFI ones for another
// machine skipped with a line, the rest expanded when compressed and started.
Outcome load_rom_image(const char* file, uint8_t* rom, const RomImage& image) {
    switch (image.kind) {
    case RomImageKind::kOther: return Outcome::kSkipped;
    case RomImageKind::kDamaged: return image_error("damaged header", image.index);
    case RomImageKind::kUefi:
    case RomImageKind::kBadLayout: break;
    }
    if (image.machine != kRomMachineX64) {
        out_printf("Image %u: machine %04X, not for x86_64: skipped\n", static_cast<unsigned>(image.index),
                   static_cast<unsigned>(image.machine));
        return Outcome::kSkipped;
    }
    if (image.kind == RomImageKind::kBadLayout) return image_error("damaged header", image.index);
    uint8_t* data = rom + image.data_start;
    const uint64_t size = image.data_end - image.data_start;
    if (image.compression == kRomUncompressed) return start_driver(file, image, data, size, false);
    uint32_t packed = 0, original = 0;
    if (image.compression != kRomEfiCompressed || !efi_image_sizes(data, size, &packed, &original))
        return image_error("cannot decompress", image.index);
    uint8_t* expanded = nullptr;
    uint64_t expanded_size = 0;
    if (decompress_efi_image(data, size, &expanded, &expanded_size) != 0)
        return image_error("decompression failed", image.index);
    Owned<uint8_t> owner(expanded);
    return start_driver(file, image, expanded, expanded_size, true);
}

// Every image of one file; counts the drivers started and the failures.
void load_rom_file(const char* typed, int* started, int* failures) {
    Owned<char> path(resolve_path(typed));
    if (!path) {
        report_error(kName, "%s: invalid path", typed);
        (*failures)++;
        return;
    }
    char* raw = nullptr;
    uint64_t size = 0;
    const ShellError e = read_whole_file(path.get(), &raw, &size);
    Owned<char> owner(raw);
    if (e != kOk) {
        report_error(kName, "%s: %s", typed, error_message(e));
        (*failures)++;
        return;
    }
    auto* rom = reinterpret_cast<uint8_t*>(raw);
    if (!is_option_rom(rom, size)) {
        report_error(kName, "%s is not a PCI option ROM image", typed);
        (*failures)++;
        return;
    }
    RomWalk walk = start_rom_walk(rom, size);
    RomImage image;
    while (next_rom_image(walk, &image)) {
        const Outcome o = load_rom_image(typed, rom, image);
        if (o == Outcome::kStarted) (*started)++;
        if (o == Outcome::kFailed) (*failures)++;
    }
}

int loadpcirom_command(int count, char** vector) {
    RomArgs a;
    const int first = parse_options(count, vector, kRows, 0, &a);
    if (first < 0) return kExitUsage;
    if (first >= count) return report_usage(kName);
    int started = 0, failures = 0;
    for (int i = first; i < count; i++) {
        if (poll_break()) return kExitInterrupted;
        load_rom_file(vector[i], &started, &failures);
    }
    if (started && !a.nc) {
        // `connect` without handles: every controller, then the volumes looked at again.
        if (const CommandDescriptor* connect = find_command("connect")) {
            char word[] = "connect";
            char* argv[] = {word, nullptr};
            (void)connect->handler(1, argv);
        }
    }
    return failures ? kExitFailure : kExitSuccess;
}

}  // namespace

void register_loadpcirom_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

// dblk: dump raw disk blocks, and decode the GPT header, FAT boot sector or MBR in them.
#include "commands/files/dblk_decode.h"
#include "commands/files/file_commands.h"
#include "fs/blocks.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int dblk_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"dblk", dblk_command, "dblk DEVICE [LBA [COUNT]]", "Dump disk blocks (hexadecimal LBA and count)",
     "  DEVICE is blkN, fsN: or a handle number. COUNT is 1 to 10 (hexadecimal). After the\n"
     "  dump, a GPT header, a FAT boot sector or an MBR partition table is decoded.\n"
     "  The disk is only read.\n",
     0},
};

constexpr const char* kName = "dblk";
constexpr uint64_t kMostBlocks = 0x10;

struct DblkOptions {};
constexpr Option<DblkOptions> kDblkOptions[] = {ignored_option<DblkOptions>("b", kOptionAnyCase)};

void print_block(uint64_t lba, const uint8_t* bytes, uint32_t block_size, const void* interface) {
    out_printf("LBA %016llX  Size %08X bytes  BlkIo %p\n", static_cast<unsigned long long>(lba),
               block_size, interface);
    StringBuffer line;
    for (uint64_t offset = 0; offset < block_size; offset += 16) {
        if (poll_break()) return;
        clear(line);
        format_dump_line(bytes + offset, min_of<uint64_t>(16, block_size - offset), offset, line);
        out_write(line.c_str(), line.length);
    }
    StringBuffer decoded;
    describe_block(lba, bytes, block_size, decoded);
    if (decoded.length) out_write(decoded.c_str(), decoded.length);
}

}  // namespace

int dblk_command(int count, char** vector) {
    DblkOptions o;
    const int first = parse_options(count, vector, kDblkOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    const int positionals = count - first;
    if (positionals < 1 || positionals > 3) return report_usage(kName);
    const char* device = vector[first];
    uint64_t lba = 0, blocks = 1;
    if (positionals >= 2 && !parse_hex(vector[first + 1], &lba))
        return report_error(kName, "LBA must be hexadecimal");
    if (positionals >= 3 && (!parse_hex(vector[first + 2], &blocks) || blocks < 1 || blocks > kMostBlocks))
        return report_error(kName, "block count must be 1 to 10 (hexadecimal)");

    efi::Handle handle = resolve_device(device);
    BlockMedia media{};
    if (!handle || block_media(handle, &media) != kOk)
        return report_error(kName, "%s: not a block device (see map)", device);
    if (!media.present) return report_error(kName, "no media in %s", device);
    if (media.block_size == 0 || media.bytes == 0) return report_error(kName, "read error: %s", error_message(kErrIo));
    const uint64_t last = media.bytes == UINT64_MAX ? UINT64_MAX : media.bytes / media.block_size - 1;
    if (lba > last)
        return report_error(kName, "LBA beyond the end of the device (last LBA %llx)",
                            static_cast<unsigned long long>(last));
    if (blocks > last - lba + 1) blocks = last - lba + 1;

    uint8_t* data = nullptr;
    uint64_t length = 0;
    uint32_t block_size = 0;
    const ShellError err = read_blocks(handle, lba, blocks, &data, &length, &block_size);
    if (err == kErrOutOfMemory) return report_error(kName, "out of memory");
    if (err != kOk) return report_error(kName, "read error: %s", error_message(err));
    Owned<uint8_t> owned(data);
    const void* interface = block_io_address(handle);
    for (uint64_t i = 0; i < blocks; i++) {
        if (poll_break()) break;
        print_block(lba + i, data + i * block_size, block_size, interface);
    }
    return kExitSuccess;
}

void register_dblk_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

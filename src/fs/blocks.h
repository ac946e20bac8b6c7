// The block device table (blkN) and raw block access.
#pragma once
#include "fs/volumes.h"

namespace tarn {

// Rebuilds the table from every handle with Block I/O, ordered by device path text.
void rescan_block_devices();
int block_device_count();
const BlockDevice* block_device_at(int index);

// "blkN" or "blkN:" (a fresh table), a path on a volume (the volume's handle), or a
// hexadecimal handle number that still has protocols. Null when nothing fits.
efi::Handle resolve_device(const char* text);

// What a block device's media says, read from its Block I/O at the time of the call.
struct BlockMedia {
    bool present;  // media in the drive
    bool removable;
    bool logical_partition;
    bool read_only;
    uint32_t block_size;
    uint64_t bytes;  // (last block + 1) * block size; UINT64_MAX when that overflows
};
// The media of the device on handle; an error (and *media zeroed) when the handle has no
// Block I/O or its media record is missing.
[[nodiscard]] ShellError block_media(efi::Handle handle, BlockMedia* media);

// Reads count blocks from lba into a new buffer (freed with release). -8 when the range
// passes the last block or count is 0; nothing is read then.
[[nodiscard]] ShellError read_blocks(efi::Handle handle, uint64_t lba, uint64_t count,
                                     uint8_t** buffer, uint64_t* length, uint32_t* block_size);
// Writes whole blocks from lba and flushes. -12 for read-only media, -8 when length is not a
// non-zero multiple of the block size or the range passes the last block.
[[nodiscard]] ShellError write_blocks(efi::Handle handle, uint64_t lba, const void* data,
                                      uint64_t length);

}  // namespace tarn

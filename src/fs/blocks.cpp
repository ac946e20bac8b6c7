#include "fs/blocks.h"

#include "drivers/handle_table.h"
#include "fs/fs_internal.h"
#include "fs/paths.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/strings.h"
#include "uefi/guids.h"

namespace tarn {

using namespace fs_detail;

namespace {

constexpr uint64_t kPageSize = 4096;

void free_block_table() {
    FsState& fs = fs_state();
    for (int i = 0; i < fs.block_count; i++) release(fs.blocks[i].device_path_text);
    release(fs.blocks);
    fs.blocks = nullptr;
    fs.block_count = 0;
}

ShellError block_io_of(efi::Handle handle, efi::BlockIo** out) {
    efi::BootServices* bs = boot_services();
    if (!bs || !handle) return kErrInvalidParameter;
    void* iface = nullptr;
    efi::Status st = bs->handle_protocol(handle, &efi::kBlockIoProtocolGuid, &iface);
    if (efi::is_error(st)) return status_to_error(st);
    auto* io = static_cast<efi::BlockIo*>(iface);
    if (!io || !io->media) return kErrIo;
    *out = io;
    return kOk;
}

// Checks that blocks [lba, lba + count) lie on the media and gives their byte length.
ShellError check_range(const efi::BlockIoMedia* media, uint64_t lba, uint64_t count,
                       uint64_t* bytes) {
    if (!media->media_present) return kErrNoMedia;
    if (media->block_size == 0) return kErrIo;
    uint64_t last;
    if (count == 0 || add_overflows(lba, count - 1, &last) || last > media->last_block)
        return kErrInvalidParameter;
    if (mul_overflows(count, media->block_size, bytes)) return kErrInvalidParameter;
    return kOk;
}

// Page-aligned firmware memory for one transfer, returned on every path.
class PageBuffer {
public:
    ShellError allocate_for(uint64_t bytes) {
        pages_ = bytes / kPageSize + (bytes % kPageSize ? 1 : 0);
        efi::PhysicalAddress address = 0;
        efi::Status st = boot_services()->allocate_pages(efi::kAllocateAnyPages, efi::kLoaderData,
                                                         pages_, &address);
        if (efi::is_error(st)) {
            pages_ = 0;
            return kErrOutOfMemory;
        }
        address_ = address;
        return kOk;
    }
    ~PageBuffer() {
        if (pages_) boot_services()->free_pages(address_, pages_);
    }
    void* get() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(address_)); }

private:
    efi::PhysicalAddress address_ = 0;
    uint64_t pages_ = 0;
};

}  // namespace

void rescan_block_devices() {
    free_block_table();
    efi::BootServices* bs = boot_services();
    if (!bs) return;
    uint64_t n = 0;
    efi::Handle* handles = nullptr;
    efi::Status st =
        bs->locate_handle_buffer(efi::kByProtocol, &efi::kBlockIoProtocolGuid, nullptr, &n, &handles);
    if (efi::is_error(st) || !handles || n == 0) {
        if (handles) bs->free_pool(handles);
        return;
    }
    if (n > 0x7fffffff) n = 0x7fffffff;
    BlockDevice* table = xallocate_array<BlockDevice>(n);
    void* text_service = device_path_text_service();
    for (uint64_t i = 0; i < n; i++) {
        table[i].handle = handles[i];
        table[i].device_path_text = handle_device_path_text(handles[i], text_service);
    }
    bs->free_pool(handles);
    BlockDevice* scratch = xallocate_array<BlockDevice>(n);
    stable_sort(table, n, scratch, [](const BlockDevice& a, const BlockDevice& b) {
        return strcmp(a.device_path_text, b.device_path_text) < 0;
    });
    release(scratch);
    for (uint64_t i = 0; i < n; i++) format_into(table[i].name, sizeof table[i].name, "blk%d", static_cast<int>(i));
    FsState& fs = fs_state();
    fs.blocks = table;
    fs.block_count = static_cast<int>(n);
}

int block_device_count() { return fs_state().block_count; }

const BlockDevice* block_device_at(int index) {
    FsState& fs = fs_state();
    if (index < 0 || index >= fs.block_count) return nullptr;
    return &fs.blocks[index];
}

efi::Handle resolve_device(const char* text) {
    if (!text || !*text) return nullptr;
    // "blkN" or "blkN:"
    if (compare_nocase_n(text, "blk", 3) == 0 && is_digit(text[3])) {
        const char* p = text + 3;
        uint64_t index = 0;
        bool fits = true;
        for (; is_digit(*p); p++) {
            index = index * 10 + static_cast<uint64_t>(*p - '0');
            if (index > 0x7fffffff) fits = false;
        }
        if (*p == ':') p++;
        if (!*p) {
            rescan_block_devices();
            if (fits && index < static_cast<uint64_t>(block_device_count()))
                return block_device_at(static_cast<int>(index))->handle;
        }
    }
    // A path on a volume.
    if (strchr(text, ':')) {
        char* resolved = resolve_path(text);
        if (resolved) {
            int volume = volume_of_path(resolved);
            release(resolved);
            if (volume >= 0) return volume_handle(volume);
        }
    }
    // A handle number.
    return parse_handle_number(text);
}

ShellError block_media(efi::Handle handle, BlockMedia* media) {
    *media = BlockMedia{};
    efi::BlockIo* io = nullptr;
    ShellError err = block_io_of(handle, &io);
    if (err != kOk) return err;
    const efi::BlockIoMedia* m = io->media;
    media->present = m->media_present != 0;
    media->removable = m->removable_media != 0;
    media->logical_partition = m->logical_partition != 0;
    media->read_only = m->read_only != 0;
    media->block_size = m->block_size;
    uint64_t blocks;
    if (add_overflows(m->last_block, 1, &blocks) || mul_overflows(blocks, m->block_size, &media->bytes))
        media->bytes = UINT64_MAX;
    return kOk;
}

ShellError read_blocks(efi::Handle handle, uint64_t lba, uint64_t count, uint8_t** buffer,
                       uint64_t* length, uint32_t* block_size) {
    *buffer = nullptr;
    *length = 0;
    *block_size = 0;
    efi::BlockIo* io = nullptr;
    ShellError err = block_io_of(handle, &io);
    if (err != kOk) return err;
    uint64_t bytes = 0;
    err = check_range(io->media, lba, count, &bytes);
    if (err != kOk) return err;
    PageBuffer pages;
    err = pages.allocate_for(bytes);
    if (err != kOk) return err;
    efi::Status st = io->read_blocks(io, io->media->media_id, lba, bytes, pages.get());
    if (efi::is_error(st)) return status_to_error(st);
    auto* out = static_cast<uint8_t*>(allocate(bytes));
    if (!out) return kErrOutOfMemory;
    memcpy(out, pages.get(), bytes);
    *buffer = out;
    *length = bytes;
    *block_size = io->media->block_size;
    return kOk;
}

ShellError write_blocks(efi::Handle handle, uint64_t lba, const void* data, uint64_t length) {
    efi::BlockIo* io = nullptr;
    ShellError err = block_io_of(handle, &io);
    if (err != kOk) return err;
    const efi::BlockIoMedia* media = io->media;
    if (!media->media_present) return kErrNoMedia;
    if (media->read_only) return kErrWriteProtected;
    if (media->block_size == 0) return kErrIo;
    if (length == 0 || length % media->block_size != 0) return kErrInvalidParameter;
    uint64_t bytes = 0;
    err = check_range(media, lba, length / media->block_size, &bytes);
    if (err != kOk) return err;
    PageBuffer pages;
    err = pages.allocate_for(bytes);
    if (err != kOk) return err;
    memcpy(pages.get(), data, bytes);
    efi::Status st = io->write_blocks(io, media->media_id, lba, bytes, pages.get());
    if (efi::is_error(st)) return status_to_error(st);
    st = io->flush_blocks(io);
    return efi::is_error(st) ? status_to_error(st) : kOk;
}

}  // namespace tarn

// The volume table (fsN), the extra names given to volumes (map names) and the one
// current directory of the shell.
#pragma once
#include "runtime/errors.h"
#include "runtime/string_buffer.h"
#include "uefi/base.h"

namespace tarn {

constexpr int kVolumeNameSize = 16;  // "fs%d" and its NUL

struct Volume {
    char name[kVolumeNameSize];  // "fs0", "fs1", ... without a colon
    char* label;                 // UTF-8, never null ("" when the volume has none)
    char* device_path_text;      // UTF-8, never null ("" without a path or text service)
    uint64_t size;               // total bytes (0 when the information cannot be read)
    uint64_t free;               // free bytes
    bool read_only;
    bool removable;              // Block I/O on the same handle reports removable media
    efi::Handle handle;          // the handle carrying Simple File System
};

struct BlockDevice {
    char name[kVolumeNameSize];  // "blk0", "blk1", ...
    char* device_path_text;      // never null
    efi::Handle handle;          // the handle carrying Block I/O
};

// An extra name for a volume: the target is a volume name ("fs1"), not a handle, so the
// name follows the number when a rescan renumbers the volumes.
struct ExtraName {
    char* name;
    char* target;
};

// Program-wide state of the file layer.
struct FsState {
    Volume* volumes;
    int volume_count;
    int boot_index;  // -1 when no volume holds the shell's image
    BlockDevice* blocks;
    int block_count;
    ExtraName* extra_names;
    int extra_count;
    int extra_capacity;
    char* current_directory;  // canonical, or null when there is none
};

FsState& fs_state();
// Host tests: frees everything and returns to the start-up state.
void reset_fs_state();

// Start-up: builds the volume table and changes to the root of the boot volume (or of
// fs0 when the shell was not loaded from a volume).
void initialize_volumes();

// Volume table.
void rescan_volumes();
// As `map -r`: keeps the current directory text, rescans, and changes back to it; when
// that fails, to the root of the boot volume or of fs0 as at start-up.
void rescan_volumes_keep_directory();
int volume_count();
const Volume* volume_at(int index);
efi::Handle volume_handle(int index);
int boot_volume_index();
// The first `length` bytes of `name` looked up among the volume names, then among the
// extra names (whose target must still exist). -1 when nothing matches.
int volume_index(const char* name, uint64_t length);
// The volume whose handle this is; -1 when none.
int volume_of_handle(efi::Handle handle);
// The volume a path names before its colon; -1 when it has no colon or no such volume.
int volume_of_path(const char* path);
[[nodiscard]] ShellError set_volume_label(int index, const char* label);

// Extra names.
// Removes any pair with this name; a null target stops there. A name that is the name
// of a volume is refused with -3 ("already exists"); an empty name or one holding ':',
// '\' or '/' (it could never be typed as a volume reference) with -8.
[[nodiscard]] ShellError set_extra_name(const char* name, const char* target);
// "usb:;stick:" for the names whose target is this volume; empty when none.
void extra_names_of(const char* volume_name, StringBuffer& out);
int extra_name_count();
const ExtraName* extra_name_at(int index);

// Current directory: the canonical text, or "" when there is none.
const char* current_directory();
// 0, -1 when the path does not resolve, the stat error, or -4 for a non-directory.
[[nodiscard]] ShellError change_directory(const char* path);

}  // namespace tarn

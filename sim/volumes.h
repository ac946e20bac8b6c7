// Storage of the simulated firmware: volumes with Simple File System and File protocol
// over in-memory trees (with FAT's rules), Block I/O over memory, device paths and
// Device Path To Text for the nodes made here. Tests build disks with these controls.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim.h"

namespace sim {

using VolumeId = int;
using BlockId = int;

// Where a device sits: PciRoot(0x<root>)/Pci(0x<device>,0x<function>)[/USB(0x<port>,0x0)]
// [/HD(<partition>,MBR,...)] — the partition node only when partition is not 0.
struct DeviceLocation {
    uint32_t root = 0;
    uint32_t pci_device = 1;
    uint32_t pci_function = 0;
    bool usb = false;
    uint32_t usb_port = 0;
    uint32_t partition = 1;
};

struct VolumeLayout {
    std::string label;
    DeviceLocation location;
    bool device_path = true;            // false: no Device Path protocol on the handle
    bool block_io = true;               // Block I/O over a small memory image on the handle
    bool removable = false;             // the Block I/O media is removable
    bool read_only = false;             // the medium is write-protected
    uint64_t capacity = 64ull << 20;    // bytes the files may use
    uint32_t block_size = 512;
    uint64_t blocks = 128;              // blocks of the Block I/O image
};

struct BlockLayout {
    DeviceLocation location{0, 2, 0, false, 0, 0};
    bool device_path = true;
    bool removable = false;
    bool read_only = false;
    bool media_present = true;
    bool logical_partition = false;
    uint32_t block_size = 512;
    uint64_t blocks = 64;
    uint32_t io_align = 0;
};

// Operations of the File protocol, for failure injection.
enum class FileOp { OpenVolume, Open, Delete, Read, Write, GetPosition, SetPosition, GetInfo,
                    SetInfo, Flush };

// ---- volumes ----
VolumeId add_volume(SimFirmware& fw, const VolumeLayout& setup = {});
// Uninstalls the volume's protocols (its handle disappears); files still open keep working.
void remove_volume(SimFirmware& fw, VolumeId volume);
efi::Handle volume_handle(SimFirmware& fw, VolumeId volume);
// The volume the shell's image was loaded from (its LoadedImage device handle); -1 for none.
void set_boot_volume(SimFirmware& fw, VolumeId volume);
std::string volume_label(SimFirmware& fw, VolumeId volume);

// ---- contents (paths from the root with '\', looked up ignoring ASCII case) ----
// Missing parent directories are created.
void add_file(SimFirmware& fw, VolumeId volume, const std::string& path, const std::string& content,
              uint64_t attributes = 0x20);
void add_directory(SimFirmware& fw, VolumeId volume, const std::string& path,
                   uint64_t attributes = 0x10);
bool exists(SimFirmware& fw, VolumeId volume, const std::string& path);
bool is_directory(SimFirmware& fw, VolumeId volume, const std::string& path);
std::optional<std::string> read_file(SimFirmware& fw, VolumeId volume, const std::string& path);
// Names as stored (case kept), in directory order.
std::vector<std::string> list_directory(SimFirmware& fw, VolumeId volume, const std::string& path);
// The entry's own name as stored (case kept); empty when missing.
std::string stored_name(SimFirmware& fw, VolumeId volume, const std::string& path);
uint64_t attributes_of(SimFirmware& fw, VolumeId volume, const std::string& path);
void set_attributes_of(SimFirmware& fw, VolumeId volume, const std::string& path, uint64_t attributes);
efi::Time modification_time(SimFirmware& fw, VolumeId volume, const std::string& path);
efi::Time last_access_time(SimFirmware& fw, VolumeId volume, const std::string& path);
// Bytes the files use.
uint64_t used_bytes(SimFirmware& fw, VolumeId volume);

// ---- failures ----
// After n more successful Write calls every Write fails with kDeviceError; -1 turns it off.
void fail_writes_after(SimFirmware& fw, VolumeId volume, int64_t n);
// Leaves this many bytes free from now on (writes beyond give kVolumeFull).
void set_free_space(SimFirmware& fw, VolumeId volume, uint64_t bytes);
// The call of op after `after` more calls (0 = the next one) returns status, once.
void inject_file_error(SimFirmware& fw, VolumeId volume, FileOp op, efi::Status status,
                       int64_t after = 0);
// Reports this size for files in GetInfo, whatever they hold (a file "larger than memory").
void set_reported_size(SimFirmware& fw, VolumeId volume, const std::string& path, uint64_t size);

// ---- accounting ----
// File protocol instances opened and not yet closed (or deleted).
int64_t open_file_count(SimFirmware& fw);
// Calls on file handles that were closed or never opened.
int64_t file_misuse_count(SimFirmware& fw);
void reset_misuse_count(SimFirmware& fw);
// File protocol calls of an operation so far (all volumes).
uint64_t file_calls(SimFirmware& fw, FileOp op);

// ---- block devices ----
BlockId add_block_device(SimFirmware& fw, const BlockLayout& setup = {});
// The Block I/O device on a volume's handle (-1 when it has none).
BlockId volume_block_device(SimFirmware& fw, VolumeId volume);
efi::Handle block_handle(SimFirmware& fw, BlockId device);
std::vector<uint8_t>& block_data(SimFirmware& fw, BlockId device);
efi::BlockIoMedia& block_media(SimFirmware& fw, BlockId device);
uint64_t block_reads(SimFirmware& fw, BlockId device);
uint64_t block_writes(SimFirmware& fw, BlockId device);
uint64_t block_flushes(SimFirmware& fw, BlockId device);

// ---- device paths ----
// Text of a device path as the Device Path To Text protocol renders it.
std::string device_path_text(const efi::DevicePath* path);
std::string handle_device_path_text(SimFirmware& fw, efi::Handle handle);
// Installs or removes the Device Path To Text protocol (installed at start).
void set_device_path_text_service(SimFirmware& fw, bool present);

}  // namespace sim

// Protocols used by the shell: loaded image, file system and files, block I/O,
// device path to text, shell parameters.
#pragma once
#include "uefi/base.h"
#include "uefi/tables.h"

namespace tarn::efi {

struct LoadedImage {
    uint32_t revision;
    Handle parent_handle;
    SystemTable* system_table;
    Handle device_handle;
    DevicePath* file_path;
    void* reserved;
    uint32_t load_options_size;
    void* load_options;
    void* image_base;
    uint64_t image_size;
    uint32_t image_code_type;
    uint32_t image_data_type;
    Status(EFIAPI* unload)(Handle image_handle);
};
static_assert(offsetof(LoadedImage, load_options_size) == 48);
static_assert(offsetof(LoadedImage, image_base) == 64);

// File open modes and attributes.
constexpr uint64_t kFileModeRead = 0x0000000000000001ull;
constexpr uint64_t kFileModeWrite = 0x0000000000000002ull;
constexpr uint64_t kFileModeCreate = 0x8000000000000000ull;
constexpr uint64_t kFileReadOnly = 0x01;
constexpr uint64_t kFileHidden = 0x02;
constexpr uint64_t kFileSystem = 0x04;
constexpr uint64_t kFileReserved = 0x08;
constexpr uint64_t kFileDirectory = 0x10;
constexpr uint64_t kFileArchive = 0x20;
constexpr uint64_t kFileValidAttr = 0x37;

struct FileProtocol {
    uint64_t revision;
    Status(EFIAPI* open)(FileProtocol* self, FileProtocol** new_handle, const Char16* file_name,
                         uint64_t open_mode, uint64_t attributes);
    Status(EFIAPI* close)(FileProtocol* self);
    Status(EFIAPI* delete_file)(FileProtocol* self);
    Status(EFIAPI* read)(FileProtocol* self, uint64_t* buffer_size, void* buffer);
    Status(EFIAPI* write)(FileProtocol* self, uint64_t* buffer_size, const void* buffer);
    Status(EFIAPI* get_position)(FileProtocol* self, uint64_t* position);
    Status(EFIAPI* set_position)(FileProtocol* self, uint64_t position);
    Status(EFIAPI* get_info)(FileProtocol* self, const Guid* information_type, uint64_t* buffer_size,
                             void* buffer);
    Status(EFIAPI* set_info)(FileProtocol* self, const Guid* information_type, uint64_t buffer_size,
                             void* buffer);
    Status(EFIAPI* flush)(FileProtocol* self);
    // Revision 2 asynchronous calls; not used.
    void* open_ex;
    void* read_ex;
    void* write_ex;
    void* flush_ex;
};

struct FileInfo {
    uint64_t size;  // size of this structure including the name
    uint64_t file_size;
    uint64_t physical_size;
    Time create_time;
    Time last_access_time;
    Time modification_time;
    uint64_t attribute;
    Char16 file_name[1];
};
constexpr uint64_t kFileInfoNameOffset = 80;
static_assert(offsetof(FileInfo, file_name) == kFileInfoNameOffset);

struct FileSystemInfo {
    uint64_t size;
    Boolean read_only;
    uint64_t volume_size;
    uint64_t free_space;
    uint32_t block_size;
    Char16 volume_label[1];
};
constexpr uint64_t kFileSystemInfoLabelOffset = 36;
static_assert(offsetof(FileSystemInfo, volume_label) == kFileSystemInfoLabelOffset);

struct SimpleFileSystem {
    uint64_t revision;
    Status(EFIAPI* open_volume)(SimpleFileSystem* self, FileProtocol** root);
};

struct BlockIoMedia {
    uint32_t media_id;
    Boolean removable_media;
    Boolean media_present;
    Boolean logical_partition;
    Boolean read_only;
    Boolean write_caching;
    uint32_t block_size;
    uint32_t io_align;
    uint64_t last_block;
    // Revision 2 and 3 fields.
    uint64_t lowest_aligned_lba;
    uint32_t logical_blocks_per_physical_block;
    uint32_t optimal_transfer_length_granularity;
};
static_assert(offsetof(BlockIoMedia, last_block) == 24);

struct BlockIo {
    uint64_t revision;
    BlockIoMedia* media;
    Status(EFIAPI* reset)(BlockIo* self, Boolean extended_verification);
    Status(EFIAPI* read_blocks)(BlockIo* self, uint32_t media_id, uint64_t lba, uint64_t size,
                                void* buffer);
    Status(EFIAPI* write_blocks)(BlockIo* self, uint32_t media_id, uint64_t lba, uint64_t size,
                                 const void* buffer);
    Status(EFIAPI* flush_blocks)(BlockIo* self);
};

struct DevicePathToText {
    Char16*(EFIAPI* convert_device_node_to_text)(const DevicePath* node, Boolean display_only,
                                                 Boolean allow_shortcuts);
    Char16*(EFIAPI* convert_device_path_to_text)(const DevicePath* path, Boolean display_only,
                                                 Boolean allow_shortcuts);
};

struct DevicePathFromText {
    DevicePath*(EFIAPI* convert_text_to_device_node)(const Char16* text);
    DevicePath*(EFIAPI* convert_text_to_device_path)(const Char16* text);
};

// EFI_SERIAL_IO_PROTOCOL: Write sends raw bytes to the line, past the terminal driver;
// sermode reads the mode and calls SetAttributes; the other members keep the layout.
struct SerialIo {
    uint32_t revision;
    Status(EFIAPI* reset)(SerialIo* self);
    Status(EFIAPI* set_attributes)(SerialIo* self, uint64_t baud_rate, uint32_t receive_fifo_depth,
                                   uint32_t timeout, uint32_t parity, uint8_t data_bits,
                                   uint32_t stop_bits);
    Status(EFIAPI* set_control)(SerialIo* self, uint32_t control);
    Status(EFIAPI* get_control)(SerialIo* self, uint32_t* control);
    Status(EFIAPI* write)(SerialIo* self, uint64_t* buffer_size, const void* buffer);
    Status(EFIAPI* read)(SerialIo* self, uint64_t* buffer_size, void* buffer);
    void* mode;
};

// EFI_SERIAL_IO_MODE: the port's current settings (what SerialIo::mode points to).
struct SerialIoMode {
    uint32_t control_mask;
    uint32_t timeout;
    uint64_t baud_rate;
    uint32_t receive_fifo_depth;
    uint32_t data_bits;
    uint32_t parity;
    uint32_t stop_bits;
};

struct ShellParameters {
    Char16** argv;
    uint64_t argc;
    Handle std_in;
    Handle std_out;
    Handle std_err;
};

// Device path node types used by the shell.
constexpr uint8_t kHardwareDevicePath = 0x01;
constexpr uint8_t kAcpiDevicePath = 0x02;
constexpr uint8_t kMessagingDevicePath = 0x03;
constexpr uint8_t kMediaDevicePath = 0x04;
constexpr uint8_t kBbsDevicePath = 0x05;
constexpr uint8_t kEndDevicePath = 0x7f;
constexpr uint8_t kEndEntireSubType = 0xff;
constexpr uint8_t kEndInstanceSubType = 0x01;
constexpr uint8_t kMediaHardDriveSubType = 0x01;
constexpr uint8_t kMediaFilePathSubType = 0x04;

}  // namespace tarn::efi

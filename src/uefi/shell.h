// The UEFI Shell protocol (version 2.2) as started applications see it, in the standard's
// slot order.
#pragma once
#include "uefi/base.h"
#include "uefi/protocols.h"

namespace tarn::efi {

inline constexpr Guid kShellProtocolGuid = {
    0x6302d008, 0x7f9b, 0x4f30, {0x87, 0xac, 0x60, 0xc9, 0xfe, 0xf5, 0xda, 0x4e}};

using ShellFileHandle = void*;

struct ListEntry {
    ListEntry* forward;
    ListEntry* back;
};

struct ShellFileInfo {
    ListEntry link;
    Status status;
    const Char16* full_name;
    const Char16* file_name;
    ShellFileHandle handle;
    FileInfo* info;
};

struct ShellProtocol {
    Status(EFIAPI* execute)(Handle* parent_image, Char16* command_line, Char16** environment, Status* status_code);
    const Char16*(EFIAPI* get_env)(const Char16* name);
    Status(EFIAPI* set_env)(const Char16* name, const Char16* value, Boolean volatile_);
    const Char16*(EFIAPI* get_alias)(const Char16* alias, Boolean* volatile_);
    Status(EFIAPI* set_alias)(const Char16* command, const Char16* alias, Boolean replace, Boolean volatile_);
    Status(EFIAPI* get_help_text)(const Char16* command, const Char16* sections, Char16** help_text);
    const DevicePath*(EFIAPI* get_device_path_from_map)(const Char16* mapping);
    const Char16*(EFIAPI* get_map_from_device_path)(DevicePath** device_path);
    DevicePath*(EFIAPI* get_device_path_from_file_path)(const Char16* path);
    Char16*(EFIAPI* get_file_path_from_device_path)(const DevicePath* path);
    Status(EFIAPI* set_map)(const DevicePath* device_path, const Char16* mapping);
    const Char16*(EFIAPI* get_cur_dir)(const Char16* file_system_mapping);
    Status(EFIAPI* set_cur_dir)(const Char16* file_system, const Char16* dir);
    Status(EFIAPI* open_file_list)(Char16* path, uint64_t open_mode, ShellFileInfo** file_list);
    Status(EFIAPI* free_file_list)(ShellFileInfo** file_list);
    Status(EFIAPI* remove_dup_in_file_list)(ShellFileInfo** file_list);
    Boolean(EFIAPI* batch_is_active)();
    Boolean(EFIAPI* is_root_shell)();
    void(EFIAPI* enable_page_break)();
    void(EFIAPI* disable_page_break)();
    Boolean(EFIAPI* get_page_break)();
    Status(EFIAPI* get_device_name)(Handle device, uint32_t flags, char* language, Char16** best_name);
    FileInfo*(EFIAPI* get_file_info)(ShellFileHandle file);
    Status(EFIAPI* set_file_info)(ShellFileHandle file, const FileInfo* info);
    Status(EFIAPI* open_file_by_name)(const Char16* file_name, ShellFileHandle* file, uint64_t open_mode);
    Status(EFIAPI* close_file)(ShellFileHandle file);
    Status(EFIAPI* create_file)(const Char16* file_name, uint64_t attributes, ShellFileHandle* file);
    Status(EFIAPI* read_file)(ShellFileHandle file, uint64_t* size, void* buffer);
    Status(EFIAPI* write_file)(ShellFileHandle file, uint64_t* size, void* buffer);
    Status(EFIAPI* delete_file)(ShellFileHandle file);
    Status(EFIAPI* delete_file_by_name)(const Char16* file_name);
    Status(EFIAPI* get_file_position)(ShellFileHandle file, uint64_t* position);
    Status(EFIAPI* set_file_position)(ShellFileHandle file, uint64_t position);
    Status(EFIAPI* flush_file)(ShellFileHandle file);
    Status(EFIAPI* find_files)(const Char16* pattern, ShellFileInfo** file_list);
    Status(EFIAPI* find_files_in_dir)(ShellFileHandle dir, ShellFileInfo** file_list);
    Status(EFIAPI* get_file_size)(ShellFileHandle file, uint64_t* size);
    Status(EFIAPI* open_root)(DevicePath* device_path, ShellFileHandle* file);
    Status(EFIAPI* open_root_by_handle)(Handle device, ShellFileHandle* file);
    Event execution_break;
    uint32_t major_version;
    uint32_t minor_version;
    Status(EFIAPI* register_guid_name)(const Guid* guid, const Char16* name);
    Status(EFIAPI* get_guid_name)(const Guid* guid, const Char16** name);
    Status(EFIAPI* get_guid_from_name)(const Char16* name, Guid* guid);
    const Char16*(EFIAPI* get_env_ex)(const Char16* name, uint32_t* attributes);
};
static_assert(sizeof(ShellProtocol) == 360);

}  // namespace tarn::efi

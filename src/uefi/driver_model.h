// The UEFI driver model protocols the shell calls: driver binding, component names,
// driver configuration and diagnostics, and the firmware volume's section reader.
#pragma once
#include "uefi/base.h"

namespace tarn::efi {

struct DriverBinding {
    Status(EFIAPI* supported)(DriverBinding* self, Handle controller, DevicePath* remaining);
    Status(EFIAPI* start)(DriverBinding* self, Handle controller, DevicePath* remaining);
    Status(EFIAPI* stop)(DriverBinding* self, Handle controller, uint64_t child_count,
                         Handle* children);
    uint32_t version;
    Handle image_handle;
    Handle driver_binding_handle;
};

// ComponentName (ISO 639-2 codes) and ComponentName2 (RFC 4646 codes) share one layout.
struct ComponentName {
    Status(EFIAPI* get_driver_name)(ComponentName* self, const char* language, Char16** name);
    Status(EFIAPI* get_controller_name)(ComponentName* self, Handle controller, Handle child,
                                        const char* language, Char16** name);
    const char* supported_languages;
};

enum ConfigurationAction : uint32_t {
    kConfigurationActionNone,
    kConfigurationActionStopController,
    kConfigurationActionRestartController,
    kConfigurationActionRestartPlatform,
};

struct DriverConfiguration2 {
    Status(EFIAPI* set_options)(DriverConfiguration2* self, Handle controller, Handle child,
                                const char* language, uint32_t* action_required);
    Status(EFIAPI* options_valid)(DriverConfiguration2* self, Handle controller, Handle child);
    Status(EFIAPI* force_defaults)(DriverConfiguration2* self, Handle controller, Handle child,
                                   uint32_t default_type, uint32_t* action_required);
    const char* supported_languages;
};

struct DriverDiagnostics2 {
    Status(EFIAPI* run_diagnostics)(DriverDiagnostics2* self, Handle controller, Handle child,
                                    uint32_t diagnostic_type, const char* language,
                                    Guid** error_type, uint64_t* buffer_size, Char16** buffer);
    const char* supported_languages;
};

// EFI_FIRMWARE_VOLUME2_PROTOCOL: only ReadSection is called; the rest keeps the layout.
struct FirmwareVolume2 {
    void* get_volume_attributes;
    void* set_volume_attributes;
    void* read_file;
    Status(EFIAPI* read_section)(FirmwareVolume2* self, const Guid* name, uint8_t section_type,
                                 uint64_t section_instance, void** buffer, uint64_t* buffer_size,
                                 uint32_t* authentication_status);
    void* write_file;
    void* get_next_file;
    uint32_t key_size;
    Handle parent_handle;
    void* get_info;
    void* set_info;
};

constexpr uint8_t kMediaFirmwareFileSubType = 6;  // media node naming a firmware file by GUID
constexpr uint8_t kSectionUserInterface = 0x15;

inline constexpr Guid kDriverBindingProtocolGuid = {
    0x18a031ab, 0xb443, 0x4d1a, {0xa5, 0xc0, 0x0c, 0x09, 0x26, 0x1e, 0x9f, 0x71}};
inline constexpr Guid kComponentNameProtocolGuid = {
    0x107a772c, 0xd5e1, 0x11d4, {0x9a, 0x46, 0x00, 0x90, 0x27, 0x3f, 0xc1, 0x4d}};
inline constexpr Guid kComponentName2ProtocolGuid = {
    0x6a7a5cff, 0xe8d9, 0x4f70, {0xba, 0xda, 0x75, 0xab, 0x30, 0x25, 0xce, 0x14}};
inline constexpr Guid kDriverDiagnostics2ProtocolGuid = {
    0x4d330321, 0x025f, 0x4aac, {0x90, 0xd8, 0x5e, 0xd9, 0x00, 0x17, 0x3b, 0x63}};
inline constexpr Guid kDriverConfiguration2ProtocolGuid = {
    0xbfd7dc1d, 0x24f1, 0x40d9, {0x82, 0xe7, 0x2e, 0x09, 0xbb, 0x6b, 0x4e, 0xbe}};
inline constexpr Guid kFirmwareVolume2ProtocolGuid = {
    0x220e73b6, 0x6bdb, 0x4413, {0x84, 0x05, 0xb9, 0x74, 0xb1, 0x08, 0x61, 0x9a}};
inline constexpr Guid kHiiConfigAccessProtocolGuid = {
    0x330d4706, 0xf2a0, 0x4e4f, {0xa3, 0x69, 0xb6, 0x6f, 0xa8, 0xd5, 0x43, 0x85}};
inline constexpr Guid kPciIoProtocolGuid = {
    0x4cf5b200, 0x68b8, 0x4ca5, {0x9e, 0xec, 0xb2, 0x3e, 0x3f, 0x50, 0x02, 0x9a}};

}  // namespace tarn::efi

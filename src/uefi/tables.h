// System table, boot services and runtime services.
#pragma once
#include "uefi/base.h"
#include "uefi/console.h"

namespace tarn::efi {

enum AllocateType : uint32_t { kAllocateAnyPages, kAllocateMaxAddress, kAllocateAddress };

enum MemoryType : uint32_t {
    kReservedMemoryType,
    kLoaderCode,
    kLoaderData,
    kBootServicesCode,
    kBootServicesData,
    kRuntimeServicesCode,
    kRuntimeServicesData,
    kConventionalMemory,
    kUnusableMemory,
    kAcpiReclaimMemory,
    kAcpiMemoryNvs,
    kMemoryMappedIo,
    kMemoryMappedIoPortSpace,
    kPalCode,
    kPersistentMemory,
    kUnacceptedMemoryType,
    kMaxMemoryType
};

struct MemoryDescriptor {
    uint32_t type;
    PhysicalAddress physical_start;
    VirtualAddress virtual_start;
    uint64_t number_of_pages;
    uint64_t attribute;
};

// Event types and task priority levels.
constexpr uint32_t kEvtTimer = 0x80000000u;
constexpr uint32_t kEvtRuntime = 0x40000000u;
constexpr uint32_t kEvtNotifyWait = 0x00000100u;
constexpr uint32_t kEvtNotifySignal = 0x00000200u;
constexpr Tpl kTplApplication = 4;
constexpr Tpl kTplCallback = 8;
constexpr Tpl kTplNotify = 16;

enum TimerDelay : uint32_t { kTimerCancel, kTimerPeriodic, kTimerRelative };

using EventNotify = void(EFIAPI*)(Event event, void* context);

enum InterfaceType : uint32_t { kNativeInterface };
enum LocateSearchType : uint32_t { kAllHandles, kByRegisterNotify, kByProtocol };

constexpr uint32_t kOpenProtocolByHandleProtocol = 0x01;
constexpr uint32_t kOpenProtocolGetProtocol = 0x02;
constexpr uint32_t kOpenProtocolTestProtocol = 0x04;
constexpr uint32_t kOpenProtocolByChildController = 0x08;
constexpr uint32_t kOpenProtocolByDriver = 0x10;
constexpr uint32_t kOpenProtocolExclusive = 0x20;

struct OpenProtocolInformationEntry {
    Handle agent_handle;
    Handle controller_handle;
    uint32_t attributes;
    uint32_t open_count;
};

enum ResetType : uint32_t { kResetCold, kResetWarm, kResetShutdown, kResetPlatformSpecific };

struct BootServices {
    TableHeader hdr;
    Tpl(EFIAPI* raise_tpl)(Tpl new_tpl);
    void(EFIAPI* restore_tpl)(Tpl old_tpl);
    Status(EFIAPI* allocate_pages)(uint32_t type, uint32_t memory_type, uint64_t pages,
                                   PhysicalAddress* memory);
    Status(EFIAPI* free_pages)(PhysicalAddress memory, uint64_t pages);
    Status(EFIAPI* get_memory_map)(uint64_t* map_size, MemoryDescriptor* map, uint64_t* map_key,
                                   uint64_t* descriptor_size, uint32_t* descriptor_version);
    Status(EFIAPI* allocate_pool)(uint32_t pool_type, uint64_t size, void** buffer);
    Status(EFIAPI* free_pool)(void* buffer);
    Status(EFIAPI* create_event)(uint32_t type, Tpl notify_tpl, EventNotify notify,
                                 void* notify_context, Event* event);
    Status(EFIAPI* set_timer)(Event event, uint32_t type, uint64_t trigger_time);
    Status(EFIAPI* wait_for_event)(uint64_t number_of_events, Event* events, uint64_t* index);
    Status(EFIAPI* signal_event)(Event event);
    Status(EFIAPI* close_event)(Event event);
    Status(EFIAPI* check_event)(Event event);
    Status(EFIAPI* install_protocol_interface)(Handle* handle, const Guid* protocol,
                                               uint32_t interface_type, void* interface);
    Status(EFIAPI* reinstall_protocol_interface)(Handle handle, const Guid* protocol,
                                                 void* old_interface, void* new_interface);
    Status(EFIAPI* uninstall_protocol_interface)(Handle handle, const Guid* protocol,
                                                 void* interface);
    Status(EFIAPI* handle_protocol)(Handle handle, const Guid* protocol, void** interface);
    void* reserved;
    Status(EFIAPI* register_protocol_notify)(const Guid* protocol, Event event, void** registration);
    Status(EFIAPI* locate_handle)(uint32_t search_type, const Guid* protocol, void* search_key,
                                  uint64_t* buffer_size, Handle* buffer);
    Status(EFIAPI* locate_device_path)(const Guid* protocol, DevicePath** device_path,
                                       Handle* device);
    Status(EFIAPI* install_configuration_table)(const Guid* guid, void* table);
    Status(EFIAPI* load_image)(Boolean boot_policy, Handle parent_image_handle,
                               DevicePath* device_path, void* source_buffer, uint64_t source_size,
                               Handle* image_handle);
    Status(EFIAPI* start_image)(Handle image_handle, uint64_t* exit_data_size, Char16** exit_data);
    Status(EFIAPI* exit)(Handle image_handle, Status exit_status, uint64_t exit_data_size,
                         Char16* exit_data);
    Status(EFIAPI* unload_image)(Handle image_handle);
    Status(EFIAPI* exit_boot_services)(Handle image_handle, uint64_t map_key);
    Status(EFIAPI* get_next_monotonic_count)(uint64_t* count);
    Status(EFIAPI* stall)(uint64_t microseconds);
    Status(EFIAPI* set_watchdog_timer)(uint64_t timeout, uint64_t watchdog_code,
                                       uint64_t data_size, Char16* watchdog_data);
    Status(EFIAPI* connect_controller)(Handle controller, Handle* driver_image_handle,
                                       DevicePath* remaining_device_path, Boolean recursive);
    Status(EFIAPI* disconnect_controller)(Handle controller, Handle driver_image_handle,
                                          Handle child_handle);
    Status(EFIAPI* open_protocol)(Handle handle, const Guid* protocol, void** interface,
                                  Handle agent_handle, Handle controller_handle,
                                  uint32_t attributes);
    Status(EFIAPI* close_protocol)(Handle handle, const Guid* protocol, Handle agent_handle,
                                   Handle controller_handle);
    Status(EFIAPI* open_protocol_information)(Handle handle, const Guid* protocol,
                                              OpenProtocolInformationEntry** entry_buffer,
                                              uint64_t* entry_count);
    Status(EFIAPI* protocols_per_handle)(Handle handle, Guid*** protocol_buffer,
                                         uint64_t* protocol_buffer_count);
    Status(EFIAPI* locate_handle_buffer)(uint32_t search_type, const Guid* protocol,
                                         void* search_key, uint64_t* no_handles, Handle** buffer);
    Status(EFIAPI* locate_protocol)(const Guid* protocol, void* registration, void** interface);
    // The two multiple-interface calls are variadic in the Microsoft convention; the shell
    // never calls them, so they are kept as opaque slots.
    void* install_multiple_protocol_interfaces;
    void* uninstall_multiple_protocol_interfaces;
    Status(EFIAPI* calculate_crc32)(const void* data, uint64_t data_size, uint32_t* crc32);
    void(EFIAPI* copy_mem)(void* destination, const void* source, uint64_t length);
    void(EFIAPI* set_mem)(void* buffer, uint64_t size, uint8_t value);
    Status(EFIAPI* create_event_ex)(uint32_t type, Tpl notify_tpl, EventNotify notify,
                                    const void* notify_context, const Guid* event_group,
                                    Event* event);
};

struct RuntimeServices {
    TableHeader hdr;
    Status(EFIAPI* get_time)(Time* time, TimeCapabilities* capabilities);
    Status(EFIAPI* set_time)(Time* time);
    Status(EFIAPI* get_wakeup_time)(Boolean* enabled, Boolean* pending, Time* time);
    Status(EFIAPI* set_wakeup_time)(Boolean enable, Time* time);
    Status(EFIAPI* set_virtual_address_map)(uint64_t map_size, uint64_t descriptor_size,
                                            uint32_t descriptor_version, MemoryDescriptor* map);
    Status(EFIAPI* convert_pointer)(uint64_t debug_disposition, void** address);
    Status(EFIAPI* get_variable)(const Char16* name, const Guid* vendor, uint32_t* attributes,
                                 uint64_t* data_size, void* data);
    Status(EFIAPI* get_next_variable_name)(uint64_t* name_size, Char16* name, Guid* vendor);
    Status(EFIAPI* set_variable)(const Char16* name, const Guid* vendor, uint32_t attributes,
                                 uint64_t data_size, const void* data);
    Status(EFIAPI* get_next_high_monotonic_count)(uint32_t* high_count);
    void(EFIAPI* reset_system)(uint32_t reset_type, Status reset_status, uint64_t data_size,
                               void* reset_data);
    void* update_capsule;
    void* query_capsule_capabilities;
    Status(EFIAPI* query_variable_info)(uint32_t attributes, uint64_t* maximum_storage_size,
                                        uint64_t* remaining_storage_size,
                                        uint64_t* maximum_variable_size);
};

// Variable attributes.
constexpr uint32_t kVariableNonVolatile = 0x01;
constexpr uint32_t kVariableBootserviceAccess = 0x02;
constexpr uint32_t kVariableRuntimeAccess = 0x04;
constexpr uint32_t kVariableHardwareErrorRecord = 0x08;
constexpr uint32_t kVariableAuthenticatedWriteAccess = 0x10;
constexpr uint32_t kVariableTimeBasedAuthenticatedWriteAccess = 0x20;
constexpr uint32_t kVariableAppendWrite = 0x40;

struct ConfigurationTable {
    Guid vendor_guid;
    void* vendor_table;
};

struct SystemTable {
    TableHeader hdr;
    Char16* firmware_vendor;
    uint32_t firmware_revision;
    Handle console_in_handle;
    SimpleTextInput* con_in;
    Handle console_out_handle;
    SimpleTextOutput* con_out;
    Handle standard_error_handle;
    SimpleTextOutput* std_err;
    RuntimeServices* runtime_services;
    BootServices* boot_services;
    uint64_t number_of_table_entries;
    ConfigurationTable* configuration_table;
};

static_assert(offsetof(BootServices, calculate_crc32) == 24 + 8 * 40);
static_assert(offsetof(RuntimeServices, query_variable_info) == 24 + 8 * 13);
static_assert(offsetof(SystemTable, configuration_table) == 112);

}  // namespace tarn::efi

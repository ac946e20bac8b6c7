// Drivers of the simulated firmware: Driver Binding with Supported/Start/Stop that open
// a protocol BY_DRIVER and may make a child, component names, and optional Driver
// Configuration 2 and Driver Diagnostics 2 protocols that record what they were given.
// ConnectController and DisconnectController (sim/drivers.cpp) drive them.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "sim.h"
#include "uefi/driver_model.h"
#include "uefi/guids.h"

namespace sim {

struct DriverLayout {
    std::string name = "Sim Driver";  // empty: no component name protocol
    bool name_terminated = true;      // false: the name's units are not followed by a NUL
    bool name2 = true;                // ComponentName2; false: ComponentName
    std::string languages = "en";     // SupportedLanguages
    uint32_t version = 0x10;
    bool configuration = false;       // Driver Configuration 2
    bool diagnostics = false;         // Driver Diagnostics 2
    efi::Guid consumes = efi::kBlockIoProtocolGuid;  // opened BY_DRIVER by Start
    bool make_child = false;          // Start makes one child handle (DevicePath + DiskIo)
    bool loaded_image = true;         // a LoadedImage on the driver's handle
    std::vector<uint8_t> image;       // the bytes that LoadedImage shows (PE name tests)
    efi::Status start_status = efi::kSuccess;
    efi::Status stop_status = efi::kSuccess;
};

// What a protocol call of a driver was given.
struct DriverCall {
    std::string what;  // "Supported", "Start", "Stop", "SetOptions", "OptionsValid",
                       // "ForceDefaults", "RunDiagnostics"
    efi::Handle controller = nullptr;
    efi::Handle child = nullptr;
    uint64_t number = 0;   // Stop: child count; ForceDefaults: type; RunDiagnostics: type
    std::string language;
};

struct SimDriver;
template <class P> struct DriverProtocol {
    P protocol;
    SimDriver* owner;
};

struct SimDriver {
    DriverLayout layout;
    efi::Handle handle = nullptr;
    DriverProtocol<efi::DriverBinding> binding{};
    DriverProtocol<efi::ComponentName> names{};
    DriverProtocol<efi::DriverConfiguration2> configuration{};
    DriverProtocol<efi::DriverDiagnostics2> diagnostics{};
    efi::LoadedImage loaded{};
    std::u16string name16;
    std::vector<char16_t> bare_name;  // the name without a NUL after it
    std::map<efi::Handle, std::u16string> controller_names;
    std::vector<efi::Handle> children;
    std::vector<std::vector<uint8_t>> child_paths;
    // Answers of the configuration and diagnostics protocols.
    efi::Status configuration_status = efi::kSuccess;
    uint32_t action_required = 0;
    efi::Status diagnostics_status = efi::kSuccess;
    std::u16string diagnostics_message;
};

// Installs a driver on a new handle (or on image, a loaded image's handle, whose
// LoadedImage stays as it is).
SimDriver& add_driver(SimFirmware& fw, const DriverLayout& layout, efi::Handle image = nullptr);
// Every call any driver received, in order.
std::vector<DriverCall>& driver_calls(SimFirmware& fw);
// Removes the driver's protocols (its children first); false when none is there.
bool remove_driver(SimFirmware& fw, efi::Handle handle);
// A LoadedImage Unload function that removes the driver installed on the image.
efi::Status EFIAPI unload_sim_driver(efi::Handle image);

}  // namespace sim

// testdrv.efi: a small UEFI boot-services driver for the firmware tests of the driver
// commands.
//
// Its entry point makes one controller of its own (a handle with a vendor device path and
// a private protocol), so that it binds to nothing of the machine's, and installs on its
// image handle Driver Binding (it supports only that controller), Component Name 2
// ("TARN Test Driver", controller "TARN Test Device"), Driver Configuration 2 and
// Driver Diagnostics 2. Both of the latter echo what they receive:
//
//     testdrv: SetOptions child=none lang=en
//     testdrv: OptionsValid child=none
//     testdrv: ForceDefaults child=none type=5
//
// on the console, and RunDiagnostics answers with the message
// "testdrv: RunDiagnostics child=none type=1 lang=en". The image can be unloaded: its
// Unload stops the controller and removes everything it installed.
//
// This program uses only the UEFI definitions in src/uefi, not the shell's runtime.
#include "uefi/driver_model.h"
#include "uefi/guids.h"
#include "uefi/protocols.h"
#include "uefi/tables.h"
#include "efi_test_memory.h"

using namespace tarn::efi;


namespace {

constexpr Guid kTestDeviceGuid = {0x7a9c1e52, 0x3b6d, 0x4f0e, {0x9a, 0x21, 0x5c, 0x84, 0xd2, 0x0f, 0x61, 0xb3}};
constexpr uint32_t kVersion = 0x20;
constexpr size_t kMessageUnits = 160;

struct VendorPath {
    DevicePath header;
    Guid guid;
    DevicePath end;
};

struct Driver {
    Handle image = nullptr;
    SystemTable* st = nullptr;
    BootServices* bs = nullptr;
    Handle device = nullptr;
    int device_interface = 0;
};

constinit Driver g{};

constinit VendorPath g_path = {
    {kHardwareDevicePath, 4, {sizeof(DevicePath) + sizeof(Guid), 0}},
    kTestDeviceGuid,
    {kEndDevicePath, kEndEntireSubType, {4, 0}},
};

// A UCS-2 line built from ASCII pieces and numbers.
struct Message {
    Char16 text[kMessageUnits];
    size_t length = 0;
    void add(const char* s) {
        while (s && *s && length + 1 < kMessageUnits) text[length++] = static_cast<Char16>(*s++);
        text[length] = 0;
    }
    void add_number(uint64_t v) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v && n < 23);
        char out[24];
        for (int i = 0; i < n; i++) out[i] = digits[n - 1 - i];
        out[n] = 0;
        add(out);
    }
    void add_child(Handle child) { add(child ? " child=some" : " child=none"); }
    void print() {
        add("\r\n");
        g.st->con_out->output_string(g.st->con_out, text);
    }
};

Status EFIAPI supported(DriverBinding*, Handle controller, DevicePath*) {
    void* interface = nullptr;
    Status st = g.bs->open_protocol(controller, &kTestDeviceGuid, &interface, g.image, controller,
                                    kOpenProtocolByDriver);
    if (is_error(st)) return st;
    g.bs->close_protocol(controller, &kTestDeviceGuid, g.image, controller);
    return kSuccess;
}

Status EFIAPI start(DriverBinding*, Handle controller, DevicePath*) {
    void* interface = nullptr;
    return g.bs->open_protocol(controller, &kTestDeviceGuid, &interface, g.image, controller,
                               kOpenProtocolByDriver);
}

Status EFIAPI stop(DriverBinding*, Handle controller, uint64_t, Handle*) {
    return g.bs->close_protocol(controller, &kTestDeviceGuid, g.image, controller);
}

constinit DriverBinding g_binding = {supported, start, stop, kVersion, nullptr, nullptr};

bool is_english(const char* language) {
    return language && language[0] == 'e' && language[1] == 'n' && (language[2] == 0 || language[2] == '-');
}

Char16 g_driver_name[] = u"TARN Test Driver";
Char16 g_device_name[] = u"TARN Test Device";

Status EFIAPI driver_name(ComponentName*, const char* language, Char16** name) {
    if (!is_english(language) || !name) return kUnsupported;
    *name = g_driver_name;
    return kSuccess;
}

Status EFIAPI controller_name(ComponentName*, Handle controller, Handle, const char* language, Char16** name) {
    if (!is_english(language) || !name || controller != g.device) return kUnsupported;
    *name = g_device_name;
    return kSuccess;
}

constinit ComponentName g_names = {driver_name, controller_name, "en;en-US"};

Status EFIAPI set_options(DriverConfiguration2*, Handle, Handle child, const char* language, uint32_t* action) {
    Message m;
    m.add("testdrv: SetOptions");
    m.add_child(child);
    m.add(" lang=");
    m.add(language);
    m.print();
    if (action) *action = kConfigurationActionNone;
    return kSuccess;
}

Status EFIAPI options_valid(DriverConfiguration2*, Handle, Handle child) {
    Message m;
    m.add("testdrv: OptionsValid");
    m.add_child(child);
    m.print();
    return kSuccess;
}

Status EFIAPI force_defaults(DriverConfiguration2*, Handle, Handle child, uint32_t type, uint32_t* action) {
    Message m;
    m.add("testdrv: ForceDefaults");
    m.add_child(child);
    m.add(" type=");
    m.add_number(type);
    m.print();
    if (action) *action = kConfigurationActionRestartController;
    return kSuccess;
}

constinit DriverConfiguration2 g_configuration = {set_options, options_valid, force_defaults, "en;en-US"};

Status EFIAPI run_diagnostics(DriverDiagnostics2*, Handle, Handle child, uint32_t type, const char* language,
                              Guid** error_type, uint64_t* size, Char16** buffer) {
    if (error_type) *error_type = nullptr;
    Message m;
    m.add("testdrv: RunDiagnostics");
    m.add_child(child);
    m.add(" type=");
    m.add_number(type);
    m.add(" lang=");
    m.add(language);
    if (buffer && size) {
        void* block = nullptr;
        const uint64_t bytes = (m.length + 1) * sizeof(Char16);
        if (!is_error(g.bs->allocate_pool(kBootServicesData, bytes, &block))) {
            memcpy(block, m.text, bytes);
            *buffer = static_cast<Char16*>(block);
            *size = bytes;
        }
    }
    return kSuccess;
}

constinit DriverDiagnostics2 g_diagnostics = {run_diagnostics, "en;en-US"};

struct Installed {
    Handle* handle;
    const Guid* guid;
    void* interface;
};

Status EFIAPI unload(Handle image) {
    if (image != g.image) return kInvalidParameter;
    g.bs->disconnect_controller(g.device, g.image, nullptr);
    const Installed rows[] = {
        {&g.image, &kDriverBindingProtocolGuid, &g_binding},
        {&g.image, &kComponentName2ProtocolGuid, &g_names},
        {&g.image, &kDriverConfiguration2ProtocolGuid, &g_configuration},
        {&g.image, &kDriverDiagnostics2ProtocolGuid, &g_diagnostics},
        {&g.device, &kTestDeviceGuid, &g.device_interface},
        {&g.device, &kDevicePathProtocolGuid, &g_path},
    };
    for (const Installed& r : rows) {
        Status st = g.bs->uninstall_protocol_interface(*r.handle, r.guid, r.interface);
        if (is_error(st)) return st;
    }
    return kSuccess;
}

}  // namespace

extern "C" Status EFIAPI testdrv_main(Handle image, SystemTable* st) {
    g.image = image;
    g.st = st;
    g.bs = st->boot_services;
    g_binding.image_handle = image;
    g_binding.driver_binding_handle = image;
    Status s = g.bs->install_protocol_interface(&g.device, &kDevicePathProtocolGuid, 0, &g_path);
    if (!is_error(s)) s = g.bs->install_protocol_interface(&g.device, &kTestDeviceGuid, 0, &g.device_interface);
    const Installed rows[] = {
        {&g.image, &kDriverBindingProtocolGuid, &g_binding},
        {&g.image, &kComponentName2ProtocolGuid, &g_names},
        {&g.image, &kDriverConfiguration2ProtocolGuid, &g_configuration},
        {&g.image, &kDriverDiagnostics2ProtocolGuid, &g_diagnostics},
    };
    for (const Installed& r : rows)
        if (!is_error(s)) s = g.bs->install_protocol_interface(r.handle, r.guid, 0, r.interface);
    if (is_error(s)) return s;
    void* loaded = nullptr;
    if (!is_error(g.bs->handle_protocol(image, &kLoadedImageProtocolGuid, &loaded)) && loaded)
        static_cast<LoadedImage*>(loaded)->unload = unload;
    return kSuccess;
}

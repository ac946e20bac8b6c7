#include "drivers.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "handles.h"
#include "sim_internal.h"

namespace sim {
namespace {

struct DriverState {
    std::vector<std::unique_ptr<SimDriver>> drivers;
    std::vector<DriverCall> calls;
};

DriverState& state(SimFirmware& fw) { return fw.module_state<DriverState>(); }
DriverState& state() { return state(*SimFirmware::current()); }

template <class P> SimDriver& owner(P* self) {
    return *reinterpret_cast<DriverProtocol<P>*>(self)->owner;
}

void log(DriverCall call) { state().calls.push_back(std::move(call)); }

bool listed(const std::string& list, const char* language) {
    if (!language) return false;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (list.compare(start, end - start, language) == 0) return true;
        start = end + 1;
    }
    return false;
}

HandleDatabase& db() { return SimFirmware::current()->handles(); }

bool opened_by_driver(efi::Handle controller, const efi::Guid& protocol, efi::Handle agent) {
    for (const OpenRecord& r : db().open_records(controller, protocol))
        if (r.agent == agent && (r.attributes & efi::kOpenProtocolByDriver)) return true;
    return false;
}

efi::Status EFIAPI binding_supported(efi::DriverBinding* self, efi::Handle controller, efi::DevicePath*) {
    SimDriver& d = owner(self);
    log({"Supported", controller});
    if (!db().find(controller, d.layout.consumes)) return efi::kUnsupported;
    if (opened_by_driver(controller, d.layout.consumes, d.handle)) return efi::kAlreadyStarted;
    return efi::kSuccess;
}

int g_child_protocol = 0;

efi::Status EFIAPI binding_start(efi::DriverBinding* self, efi::Handle controller, efi::DevicePath*) {
    SimDriver& d = owner(self);
    log({"Start", controller});
    if (efi::is_error(d.layout.start_status)) return d.layout.start_status;
    void* interface = nullptr;
    efi::Status st = db().open(controller, d.layout.consumes, &interface, d.handle, controller,
                               efi::kOpenProtocolByDriver);
    if (efi::is_error(st)) return st;
    if (d.layout.make_child) {
        // The child's path: the parent's, then a Controller node with the child's index.
        std::vector<uint8_t> path;
        auto* parent = static_cast<const efi::DevicePath*>(db().find(controller, efi::kDevicePathProtocolGuid));
        uint64_t size = parent ? device_path_size(parent) : 0;
        if (size >= 4) path.assign(reinterpret_cast<const uint8_t*>(parent),
                                   reinterpret_cast<const uint8_t*>(parent) + size - 4);
        const uint32_t index = static_cast<uint32_t>(d.children.size());
        const uint8_t node[8] = {efi::kHardwareDevicePath, 5, 8, 0, static_cast<uint8_t>(index), 0, 0, 0};
        path.insert(path.end(), node, node + 8);
        const uint8_t end[4] = {efi::kEndDevicePath, efi::kEndEntireSubType, 4, 0};
        path.insert(path.end(), end, end + 4);
        d.child_paths.push_back(path);
        efi::Handle child = nullptr;
        db().install(&child, efi::kDevicePathProtocolGuid, d.child_paths.back().data());
        static constexpr efi::Guid kDiskIo = {0xce345171, 0xba0b, 0x11d2, {0x8e, 0x4f, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b}};
        db().install(&child, kDiskIo, &g_child_protocol);
        db().open(controller, d.layout.consumes, &interface, d.handle, child, efi::kOpenProtocolByChildController);
        d.children.push_back(child);
    }
    return efi::kSuccess;
}

void destroy_child(SimDriver& d, efi::Handle controller, efi::Handle child) {
    db().close(controller, d.layout.consumes, d.handle, child);
    auto it = std::find(d.children.begin(), d.children.end(), child);
    if (it != d.children.end()) d.children.erase(it);
    for (const efi::Guid& g : db().protocols_on(child)) db().force_remove(child, g);
}

efi::Status EFIAPI binding_stop(efi::DriverBinding* self, efi::Handle controller, uint64_t count,
                                efi::Handle* children) {
    SimDriver& d = owner(self);
    log({"Stop", controller, count && children ? children[0] : nullptr, count});
    if (efi::is_error(d.layout.stop_status)) return d.layout.stop_status;
    if (count) {
        for (uint64_t i = 0; i < count; i++) destroy_child(d, controller, children[i]);
        return efi::kSuccess;
    }
    return db().close(controller, d.layout.consumes, d.handle, controller);
}

efi::Status EFIAPI get_driver_name(efi::ComponentName* self, const char* language, efi::Char16** name) {
    SimDriver& d = owner(self);
    if (!name || !listed(d.layout.languages, language)) return efi::kUnsupported;
    *name = d.layout.name_terminated ? d.name16.data() : d.bare_name.data();
    return efi::kSuccess;
}

efi::Status EFIAPI get_controller_name(efi::ComponentName* self, efi::Handle controller, efi::Handle,
                                       const char* language, efi::Char16** name) {
    SimDriver& d = owner(self);
    if (!name || !listed(d.layout.languages, language)) return efi::kUnsupported;
    auto it = d.controller_names.find(controller);
    if (it == d.controller_names.end()) return efi::kUnsupported;
    *name = it->second.data();
    return efi::kSuccess;
}

efi::Status EFIAPI set_options(efi::DriverConfiguration2* self, efi::Handle controller, efi::Handle child,
                               const char* language, uint32_t* action) {
    SimDriver& d = owner(self);
    log({"SetOptions", controller, child, 0, language ? language : ""});
    if (action) *action = d.action_required;
    return d.configuration_status;
}

efi::Status EFIAPI options_valid(efi::DriverConfiguration2* self, efi::Handle controller, efi::Handle child) {
    SimDriver& d = owner(self);
    log({"OptionsValid", controller, child});
    return d.configuration_status;
}

efi::Status EFIAPI force_defaults(efi::DriverConfiguration2* self, efi::Handle controller, efi::Handle child,
                                  uint32_t type, uint32_t* action) {
    SimDriver& d = owner(self);
    log({"ForceDefaults", controller, child, type});
    if (action) *action = d.action_required;
    return d.configuration_status;
}

efi::Status EFIAPI run_diagnostics(efi::DriverDiagnostics2* self, efi::Handle controller, efi::Handle child,
                                   uint32_t type, const char* language, efi::Guid** error_type,
                                   uint64_t* size, efi::Char16** buffer) {
    SimDriver& d = owner(self);
    log({"RunDiagnostics", controller, child, type, language ? language : ""});
    if (error_type) *error_type = nullptr;
    if (size) *size = 0;
    if (buffer) *buffer = nullptr;
    if (!d.diagnostics_message.empty() && buffer && size) {
        uint64_t bytes = (d.diagnostics_message.size() + 1) * 2;
        auto* block = static_cast<efi::Char16*>(SimFirmware::current()->allocate_pool(bytes));
        if (block) {
            std::memcpy(block, d.diagnostics_message.c_str(), bytes);
            *buffer = block;
            *size = bytes;
        }
    }
    return d.diagnostics_status;
}

}  // namespace

SimDriver& add_driver(SimFirmware& fw, const DriverLayout& layout, efi::Handle image) {
    auto d = std::make_unique<SimDriver>();
    SimDriver& r = *d;
    r.layout = layout;
    r.name16.assign(layout.name.begin(), layout.name.end());
    r.bare_name.assign(layout.name.begin(), layout.name.end());
    r.binding = {{binding_supported, binding_start, binding_stop, layout.version, nullptr, nullptr}, &r};
    r.names = {{get_driver_name, get_controller_name, r.layout.languages.c_str()}, &r};
    r.configuration = {{set_options, options_valid, force_defaults, r.layout.languages.c_str()}, &r};
    r.diagnostics = {{run_diagnostics, r.layout.languages.c_str()}, &r};
    efi::Handle h = image;
    HandleDatabase& hd = fw.handles();
    if (!h && layout.loaded_image) {
        r.loaded.revision = 0x1000;
        r.loaded.system_table = fw.system_table();
        r.loaded.image_base = r.layout.image.empty() ? nullptr : r.layout.image.data();
        r.loaded.image_size = r.layout.image.size();
        r.loaded.image_code_type = efi::kBootServicesCode;
        r.loaded.image_data_type = efi::kBootServicesData;
        hd.install(&h, efi::kLoadedImageProtocolGuid, &r.loaded);
    }
    hd.install(&h, efi::kDriverBindingProtocolGuid, &r.binding);
    r.handle = h;
    r.binding.protocol.image_handle = h;
    r.binding.protocol.driver_binding_handle = h;
    if (!layout.name.empty())
        hd.install(&h, layout.name2 ? efi::kComponentName2ProtocolGuid : efi::kComponentNameProtocolGuid, &r.names);
    if (layout.configuration) hd.install(&h, efi::kDriverConfiguration2ProtocolGuid, &r.configuration);
    if (layout.diagnostics) hd.install(&h, efi::kDriverDiagnostics2ProtocolGuid, &r.diagnostics);
    state(fw).drivers.push_back(std::move(d));
    return r;
}

std::vector<DriverCall>& driver_calls(SimFirmware& fw) { return state(fw).calls; }

bool remove_driver(SimFirmware& fw, efi::Handle handle) {
    for (auto& d : state(fw).drivers) {
        if (d->handle != handle) continue;
        HandleDatabase& hd = fw.handles();
        const efi::Guid* own[] = {&efi::kDriverBindingProtocolGuid, &efi::kComponentName2ProtocolGuid,
                                  &efi::kComponentNameProtocolGuid, &efi::kDriverConfiguration2ProtocolGuid,
                                  &efi::kDriverDiagnostics2ProtocolGuid};
        for (const efi::Guid* g : own)
            if (hd.find(handle, *g)) hd.force_remove(handle, *g);
        d->handle = nullptr;
        return true;
    }
    return false;
}

efi::Status EFIAPI unload_sim_driver(efi::Handle image) {
    SimFirmware* fw = SimFirmware::current();
    // Controllers it still manages are let go first, as a driver's Unload does.
    for (efi::Handle h : fw->handles().handles()) disconnect_drivers(*fw, h, image, nullptr);
    return remove_driver(*fw, image) ? efi::kSuccess : efi::kInvalidParameter;
}

efi::Status connect_drivers(SimFirmware& fw, efi::Handle controller, efi::Handle* drivers,
                            efi::DevicePath* remaining, bool recursive) {
    HandleDatabase& hd = fw.handles();
    std::vector<efi::Handle> candidates;
    if (drivers) {
        for (efi::Handle* p = drivers; *p; p++) candidates.push_back(*p);
    } else {
        candidates = hd.handles_with(efi::kDriverBindingProtocolGuid);
        std::stable_sort(candidates.begin(), candidates.end(), [&](efi::Handle a, efi::Handle b) {
            auto* x = static_cast<efi::DriverBinding*>(hd.find(a, efi::kDriverBindingProtocolGuid));
            auto* y = static_cast<efi::DriverBinding*>(hd.find(b, efi::kDriverBindingProtocolGuid));
            return x->version > y->version;
        });
    }
    bool started = false;
    for (efi::Handle h : candidates) {
        auto* binding = static_cast<efi::DriverBinding*>(hd.find(h, efi::kDriverBindingProtocolGuid));
        if (!binding) continue;
        if (binding->supported(binding, controller, remaining) != efi::kSuccess) continue;
        if (binding->start(binding, controller, remaining) == efi::kSuccess) started = true;
    }
    if (recursive) {
        std::vector<efi::Handle> children;
        for (const efi::Guid& g : hd.protocols_on(controller))
            for (const OpenRecord& r : hd.open_records(controller, g))
                if ((r.attributes & efi::kOpenProtocolByChildController) && r.controller &&
                    r.controller != controller &&
                    std::find(children.begin(), children.end(), r.controller) == children.end())
                    children.push_back(r.controller);
        for (efi::Handle c : children) connect_drivers(fw, c, nullptr, nullptr, true);
    }
    return started ? efi::kSuccess : efi::kNotFound;
}

efi::Status disconnect_drivers(SimFirmware& fw, efi::Handle controller, efi::Handle driver,
                               efi::Handle child) {
    HandleDatabase& hd = fw.handles();
    std::vector<efi::Handle> agents;
    for (const efi::Guid& g : hd.protocols_on(controller))
        for (const OpenRecord& r : hd.open_records(controller, g))
            if ((r.attributes & efi::kOpenProtocolByDriver) && (!driver || r.agent == driver) &&
                std::find(agents.begin(), agents.end(), r.agent) == agents.end())
                agents.push_back(r.agent);
    for (efi::Handle a : agents) {
        auto* binding = static_cast<efi::DriverBinding*>(hd.find(a, efi::kDriverBindingProtocolGuid));
        if (!binding) continue;
        std::vector<efi::Handle> children;
        for (const efi::Guid& g : hd.protocols_on(controller))
            for (const OpenRecord& r : hd.open_records(controller, g))
                if (r.agent == a && (r.attributes & efi::kOpenProtocolByChildController) && r.controller &&
                    (!child || r.controller == child) &&
                    std::find(children.begin(), children.end(), r.controller) == children.end())
                    children.push_back(r.controller);
        if (child && children.empty()) continue;
        if (!children.empty()) {
            efi::Status st = binding->stop(binding, controller, children.size(), children.data());
            if (efi::is_error(st)) return st;
        }
        if (!child) {
            efi::Status st = binding->stop(binding, controller, 0, nullptr);
            if (efi::is_error(st)) return st;
        }
    }
    return efi::kSuccess;
}

}  // namespace sim

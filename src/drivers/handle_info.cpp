#include "drivers/handle_info.h"

#include "drivers/handle_table.h"
#include "drivers/pe_debug_name.h"
#include "runtime/firmware.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/driver_model.h"
#include "uefi/guids.h"

namespace tarn {
namespace {

constexpr uint64_t kMaxNameUnits = 256;
constexpr uint64_t kMaxPathNodes = 16;
constexpr uint64_t kLanguageSize = 32;

void add_records(HandleSnapshot& s, efi::BootServices* bs, efi::Handle handle) {
    efi::Guid** guids = nullptr;
    uint64_t count = 0;
    if (efi::is_error(bs->protocols_per_handle(handle, &guids, &count)) || !guids) return;
    for (uint64_t p = 0; p < count; p++) {
        if (!guids[p]) continue;
        efi::OpenProtocolInformationEntry* entries = nullptr;
        uint64_t n = 0;
        if (efi::is_error(bs->open_protocol_information(handle, guids[p], &entries, &n)) || !entries)
            continue;
        for (uint64_t i = 0; i < n; i++)
            s.records.push(OpenRecord{handle, *guids[p], entries[i].agent_handle,
                                      entries[i].controller_handle, entries[i].attributes,
                                      entries[i].open_count});
        bs->free_pool(entries);
    }
    bs->free_pool(guids);
}

// Whether entry (length n) is a whole entry of the ';'-separated list.
bool listed(const char* list, const char* entry) {
    const uint64_t n = strlen(entry);
    if (n == 0) return false;
    for (const char* p = list; *p;) {
        const char* end = strchr(p, ';');
        uint64_t len = end ? static_cast<uint64_t>(end - p) : strlen(p);
        if (len == n && strncmp(p, entry, n) == 0) return true;
        if (!end) break;
        p = end + 1;
    }
    return false;
}

// A component name protocol of the handle and the language to ask it with.
efi::ComponentName* naming_protocol(efi::Handle handle, const char* wanted, char* language) {
    if (auto* cn2 = static_cast<efi::ComponentName*>(protocol_on(handle, efi::kComponentName2ProtocolGuid))) {
        component_name2_language(cn2->supported_languages, wanted, language, kLanguageSize);
        return cn2;
    }
    if (auto* cn = static_cast<efi::ComponentName*>(protocol_on(handle, efi::kComponentNameProtocolGuid))) {
        strlcpy(language, component_name_language(wanted), kLanguageSize);
        return cn;
    }
    return nullptr;
}

// The UI section of the firmware file the image was loaded from, or null.
char* firmware_file_name(const efi::LoadedImage* li) {
    const auto* node = reinterpret_cast<const uint8_t*>(li->file_path);
    if (!node || !li->device_handle) return nullptr;
    for (uint64_t i = 0; i < kMaxPathNodes; i++) {
        const uint64_t length = static_cast<uint64_t>(node[2] | (node[3] << 8));
        if (node[0] == efi::kEndDevicePath || length < 4) return nullptr;
        if (node[0] == efi::kMediaDevicePath && node[1] == efi::kMediaFirmwareFileSubType &&
            length >= 4 + sizeof(efi::Guid)) {
            auto* fv = static_cast<efi::FirmwareVolume2*>(
                protocol_on(li->device_handle, efi::kFirmwareVolume2ProtocolGuid));
            if (!fv || !fv->read_section) return nullptr;
            efi::Guid name;
            memcpy(&name, node + 4, sizeof name);
            void* buffer = nullptr;
            uint64_t size = 0;
            uint32_t authentication = 0;
            efi::Status st = fv->read_section(fv, &name, efi::kSectionUserInterface, 0, &buffer, &size,
                                              &authentication);
            if (efi::is_error(st) || !buffer) return nullptr;
            char* text = bounded_ucs2(static_cast<const char16_t*>(buffer), size / 2);
            boot_services()->free_pool(buffer);
            if (!*text) {
                release(text);
                return nullptr;
            }
            return text;
        }
        node += length;
    }
    return nullptr;
}

}  // namespace

bool HandleSnapshot::take() {
    efi::BootServices* bs = boot_services();
    if (!bs) return false;
    uint64_t n = 0;
    efi::Handle* list = nullptr;
    if (efi::is_error(bs->locate_handle_buffer(efi::kAllHandles, nullptr, nullptr, &n, &list)) || !list)
        return false;
    for (uint64_t i = 0; i < n; i++)
        if (list[i]) {
            handles.push(list[i]);
            handle_number(list[i]);
        }
    bs->free_pool(list);
    for (efi::Handle h : handles) add_records(*this, bs, h);
    return true;
}

bool contains(const HandleList& list, efi::Handle handle) {
    for (efi::Handle h : list)
        if (h == handle) return true;
    return false;
}

void add_unique(HandleList& list, efi::Handle handle) {
    if (handle && !contains(list, handle)) list.push(handle);
}

void managed_controllers(const HandleSnapshot& s, efi::Handle driver, HandleList& out) {
    for (const OpenRecord& r : s.records)
        if (r.agent == driver && (r.attributes & efi::kOpenProtocolByDriver)) add_unique(out, r.handle);
}

void driver_children(const HandleSnapshot& s, efi::Handle driver, HandleList& out) {
    for (const OpenRecord& r : s.records)
        if (r.agent == driver && (r.attributes & efi::kOpenProtocolByChildController) && r.controller &&
            r.controller != r.handle)
            add_unique(out, r.controller);
}

void controller_children(const HandleSnapshot& s, efi::Handle controller, efi::Handle driver,
                         HandleList& out) {
    for (const OpenRecord& r : s.records)
        if (r.handle == controller && (r.attributes & efi::kOpenProtocolByChildController) &&
            r.controller && r.controller != controller && (!driver || r.agent == driver))
            add_unique(out, r.controller);
}

void handle_parents(const HandleSnapshot& s, efi::Handle handle, HandleList& out) {
    for (const OpenRecord& r : s.records)
        if ((r.attributes & efi::kOpenProtocolByChildController) && r.controller == handle &&
            r.handle != handle)
            add_unique(out, r.handle);
}

void managing_drivers(const HandleSnapshot& s, efi::Handle controller, HandleList& out) {
    for (const OpenRecord& r : s.records)
        if (r.handle == controller && (r.attributes & efi::kOpenProtocolByDriver)) add_unique(out, r.agent);
}

void* protocol_on(efi::Handle handle, const efi::Guid& protocol) {
    efi::BootServices* bs = boot_services();
    void* interface = nullptr;
    if (!bs || !handle) return nullptr;
    if (efi::is_error(bs->handle_protocol(handle, &protocol, &interface))) return nullptr;
    return interface;
}

bool has_protocol(efi::Handle handle, const efi::Guid& protocol) {
    efi::BootServices* bs = boot_services();
    void* interface = nullptr;
    return bs && handle && !efi::is_error(bs->handle_protocol(handle, &protocol, &interface));
}

bool is_driver(efi::Handle handle) { return has_protocol(handle, efi::kDriverBindingProtocolGuid); }

bool is_device(efi::Handle handle) {
    return has_protocol(handle, efi::kDevicePathProtocolGuid) &&
           !has_protocol(handle, efi::kLoadedImageProtocolGuid) && !is_driver(handle);
}

void component_name2_language(const char* supported, const char* wanted, char* out, uint64_t size) {
    if (!supported || !*supported) {
        strlcpy(out, "en", size);
        return;
    }
    const char* candidates[] = {wanted, "en", "en-US"};
    for (const char* c : candidates)
        if (c && listed(supported, c)) {
            strlcpy(out, c, size);
            return;
        }
    const char* end = strchr(supported, ';');
    uint64_t n = end ? static_cast<uint64_t>(end - supported) : strlen(supported);
    if (n >= size) n = size - 1;
    memcpy(out, supported, n);
    out[n] = 0;
}

const char* component_name_language(const char* wanted) {
    return wanted && strlen(wanted) == 3 ? wanted : "eng";
}

char* bounded_ucs2(const char16_t* units, uint64_t max) {
    if (!units) return xstrdup("");
    uint64_t n = 0;
    while (n < max && units[n]) n++;
    char* text = ucs2_to_utf8(units, n);
    return text ? text : xstrdup("");
}

char* driver_name(efi::Handle driver, const char* language) {
    char lang[kLanguageSize];
    efi::ComponentName* cn = naming_protocol(driver, language, lang);
    if (!cn || !cn->get_driver_name) return nullptr;
    efi::Char16* name = nullptr;
    if (efi::is_error(cn->get_driver_name(cn, lang, &name)) || !name) return nullptr;
    return bounded_ucs2(name, kMaxNameUnits);
}

char* device_name(const HandleSnapshot& s, efi::Handle device, const char* language) {
    HandleList drivers;
    managing_drivers(s, device, drivers);
    for (efi::Handle d : drivers) {
        char lang[kLanguageSize];
        efi::ComponentName* cn = naming_protocol(d, language, lang);
        if (!cn || !cn->get_controller_name) continue;
        efi::Char16* name = nullptr;
        if (efi::is_error(cn->get_controller_name(cn, device, nullptr, lang, &name)) || !name) continue;
        char* text = bounded_ucs2(name, kMaxNameUnits);
        if (*text) return text;
        release(text);
    }
    return device_path_text(device);
}

char* path_text(const void* path) {
    efi::BootServices* bs = boot_services();
    void* service = nullptr;
    if (!bs || !path ||
        efi::is_error(bs->locate_protocol(&efi::kDevicePathToTextProtocolGuid, nullptr, &service)) || !service)
        return xstrdup("");
    auto* to_text = static_cast<efi::DevicePathToText*>(service);
    efi::Char16* text = to_text->convert_device_path_to_text(static_cast<const efi::DevicePath*>(path), 1, 1);
    if (!text) return xstrdup("");
    char* out = bounded_ucs2(text, 4096);
    bs->free_pool(text);
    return out;
}

char* device_path_text(efi::Handle handle) {
    return path_text(protocol_on(handle, efi::kDevicePathProtocolGuid));
}

char* image_name(efi::Handle image) {
    auto* li = static_cast<efi::LoadedImage*>(protocol_on(image, efi::kLoadedImageProtocolGuid));
    if (!li) return xstrdup("");
    char name[128];
    if (li->image_base &&
        pe_debug_name(static_cast<const uint8_t*>(li->image_base), li->image_size, name, sizeof name))
        return xstrdup(name);
    if (char* ui = firmware_file_name(li)) return ui;
    return path_text(li->file_path);
}

efi::Handle driver_image(efi::Handle driver) {
    auto* binding = static_cast<efi::DriverBinding*>(protocol_on(driver, efi::kDriverBindingProtocolGuid));
    return binding && binding->image_handle ? binding->image_handle : driver;
}

}  // namespace tarn

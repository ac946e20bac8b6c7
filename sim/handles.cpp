// The handle database, the protocol handling boot services over it, and images:
// LoadImage/StartImage of registered host functions, Exit and UnloadImage.
#include "handles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>

#include "sim_impl.h"

namespace sim {

// ---------------------------------------------------------------- device paths

uint16_t node_length(const efi::DevicePath* node) {
    return static_cast<uint16_t>(node->length[0] | (node->length[1] << 8));
}

bool is_end_node(const efi::DevicePath* node) {
    return node->type == efi::kEndDevicePath && node->sub_type == efi::kEndEntireSubType;
}

const efi::DevicePath* next_node(const efi::DevicePath* node) {
    return reinterpret_cast<const efi::DevicePath*>(reinterpret_cast<const uint8_t*>(node) +
                                                    node_length(node));
}

uint64_t device_path_size(const efi::DevicePath* path) {
    constexpr uint64_t kLimit = 64 * 1024;
    if (!path) return 0;
    uint64_t total = 0;
    for (const efi::DevicePath* n = path;; n = next_node(n)) {
        uint16_t len = node_length(n);
        if (len < 4 || total + len > kLimit) return 0;
        total += len;
        if (is_end_node(n)) return total;
    }
}

namespace {

// Bytes of path matched by prefix (all nodes of prefix before its end), or -1.
int64_t prefix_match(const efi::DevicePath* prefix, const efi::DevicePath* path) {
    if (device_path_size(prefix) == 0 || device_path_size(path) == 0) return -1;
    int64_t matched = 0;
    const efi::DevicePath* p = prefix;
    const efi::DevicePath* q = path;
    while (!is_end_node(p)) {
        if (p->type == efi::kEndDevicePath) break;  // end of the first instance
        if (q->type == efi::kEndDevicePath) return -1;
        uint16_t len = node_length(p);
        if (len != node_length(q) || std::memcmp(p, q, len) != 0) return -1;
        matched += len;
        p = next_node(p);
        q = next_node(q);
    }
    return matched;
}

}  // namespace

// ---------------------------------------------------------------- the database

namespace {

struct ProtoEntry {
    efi::Guid guid{};
    void* interface = nullptr;
    std::vector<OpenRecord> opens;
};

struct HandleRec {
    std::vector<std::unique_ptr<ProtoEntry>> protocols;
    bool persistent = false;
};

struct NotifyReg {
    efi::Guid guid{};
    efi::Event event = nullptr;
    std::deque<efi::Handle> queue;
};

constexpr uint32_t kDriverOpens = efi::kOpenProtocolByDriver | efi::kOpenProtocolExclusive;

}  // namespace

struct HandleDatabase::State {
    std::vector<std::unique_ptr<HandleRec>> handles;  // creation order
    std::vector<std::unique_ptr<NotifyReg>> notifies;

    HandleRec* rec(efi::Handle h) const {
        if (!h) return nullptr;
        for (auto& r : handles)
            if (r.get() == h) return r.get();
        return nullptr;
    }
    ProtoEntry* proto(efi::Handle h, const efi::Guid& g) const {
        HandleRec* r = rec(h);
        if (!r) return nullptr;
        for (auto& p : r->protocols)
            if (p->guid == g) return p.get();
        return nullptr;
    }
    void remove_handle(efi::Handle h) {
        for (auto& n : notifies) n->queue.erase(std::remove(n->queue.begin(), n->queue.end(), h), n->queue.end());
        for (size_t i = 0; i < handles.size(); i++)
            if (handles[i].get() == h) {
                handles.erase(handles.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        // Open records naming the vanished handle as agent or controller go with it.
        for (auto& r : handles)
            for (auto& p : r->protocols)
                p->opens.erase(std::remove_if(p->opens.begin(), p->opens.end(),
                                              [&](const OpenRecord& o) {
                                                  return o.agent == h || o.controller == h;
                                              }),
                               p->opens.end());
    }
    void remove_protocol(efi::Handle h, const efi::Guid& g) {
        HandleRec* r = rec(h);
        if (!r) return;
        for (size_t i = 0; i < r->protocols.size(); i++)
            if (r->protocols[i]->guid == g) {
                r->protocols.erase(r->protocols.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        if (r->protocols.empty() && !r->persistent) remove_handle(h);
    }
    void notify_install(efi::Handle h, const efi::Guid& g) {
        std::vector<efi::Event> to_signal;
        for (auto& n : notifies)
            if (n->guid == g) {
                n->queue.push_back(h);
                to_signal.push_back(n->event);
            }
        if (to_signal.empty() || !SimFirmware::current()) return;
        auto& s = current_impl();
        for (efi::Event e : to_signal)
            if (EventRec* ev = find_event(s, e)) signal_event(s, ev);
    }
};

HandleDatabase::HandleDatabase() : state_(std::make_unique<State>()) {}
HandleDatabase::~HandleDatabase() = default;

efi::Handle HandleDatabase::create_handle() {
    auto r = std::make_unique<HandleRec>();
    r->persistent = true;
    efi::Handle h = r.get();
    state_->handles.push_back(std::move(r));
    return h;
}

void HandleDatabase::destroy_handle(efi::Handle handle) {
    if (state_->rec(handle)) state_->remove_handle(handle);
}

bool HandleDatabase::is_valid(efi::Handle handle) const { return state_->rec(handle) != nullptr; }

efi::Status HandleDatabase::install(efi::Handle* handle, const efi::Guid& protocol, void* interface) {
    if (!handle) return efi::kInvalidParameter;
    if (*handle) {
        if (!state_->rec(*handle)) return efi::kInvalidParameter;
        if (state_->proto(*handle, protocol)) return efi::kInvalidParameter;
    } else {
        auto r = std::make_unique<HandleRec>();
        *handle = r.get();
        state_->handles.push_back(std::move(r));
    }
    auto p = std::make_unique<ProtoEntry>();
    p->guid = protocol;
    p->interface = interface;
    state_->rec(*handle)->protocols.push_back(std::move(p));
    state_->notify_install(*handle, protocol);
    return efi::kSuccess;
}

efi::Handle HandleDatabase::install_new(const efi::Guid& protocol, void* interface) {
    efi::Handle h = nullptr;
    return install(&h, protocol, interface) == efi::kSuccess ? h : nullptr;
}

efi::Status HandleDatabase::uninstall(efi::Handle handle, const efi::Guid& protocol, void* interface) {
    if (!state_->rec(handle)) return efi::kInvalidParameter;
    ProtoEntry* p = state_->proto(handle, protocol);
    if (!p || p->interface != interface) return efi::kNotFound;
    for (auto& o : p->opens)
        if (o.attributes & kDriverOpens) return efi::kAccessDenied;
    state_->remove_protocol(handle, protocol);
    return efi::kSuccess;
}

efi::Status HandleDatabase::reinstall(efi::Handle handle, const efi::Guid& protocol,
                                      void* old_interface, void* new_interface) {
    if (!state_->rec(handle)) return efi::kInvalidParameter;
    ProtoEntry* p = state_->proto(handle, protocol);
    if (!p || p->interface != old_interface) return efi::kNotFound;
    for (auto& o : p->opens)
        if (o.attributes & kDriverOpens) return efi::kAccessDenied;
    p->interface = new_interface;
    state_->notify_install(handle, protocol);
    return efi::kSuccess;
}

void* HandleDatabase::find(efi::Handle handle, const efi::Guid& protocol) const {
    ProtoEntry* p = state_->proto(handle, protocol);
    return p ? p->interface : nullptr;
}

std::vector<efi::Handle> HandleDatabase::handles() const {
    std::vector<efi::Handle> out;
    for (auto& r : state_->handles)
        if (!r->protocols.empty()) out.push_back(r.get());
    return out;
}

std::vector<efi::Handle> HandleDatabase::handles_with(const efi::Guid& protocol) const {
    std::vector<efi::Handle> out;
    for (auto& r : state_->handles)
        for (auto& p : r->protocols)
            if (p->guid == protocol) {
                out.push_back(r.get());
                break;
            }
    return out;
}

std::vector<efi::Guid> HandleDatabase::protocols_on(efi::Handle handle) const {
    std::vector<efi::Guid> out;
    if (HandleRec* r = state_->rec(handle))
        for (auto& p : r->protocols) out.push_back(p->guid);
    return out;
}

const efi::Guid* HandleDatabase::stored_guid(efi::Handle handle, const efi::Guid& protocol) const {
    ProtoEntry* p = state_->proto(handle, protocol);
    return p ? &p->guid : nullptr;
}

std::vector<OpenRecord> HandleDatabase::open_records(efi::Handle handle,
                                                     const efi::Guid& protocol) const {
    ProtoEntry* p = state_->proto(handle, protocol);
    return p ? p->opens : std::vector<OpenRecord>{};
}

efi::Status HandleDatabase::open(efi::Handle handle, const efi::Guid& protocol, void** interface,
                                 efi::Handle agent, efi::Handle controller, uint32_t attributes) {
    if (!state_->rec(handle)) return efi::kInvalidParameter;
    if (!interface && attributes != efi::kOpenProtocolTestProtocol) return efi::kInvalidParameter;
    switch (attributes) {
    case efi::kOpenProtocolByHandleProtocol:
    case efi::kOpenProtocolGetProtocol:
    case efi::kOpenProtocolTestProtocol:
        break;
    case efi::kOpenProtocolByChildController:
        if (!state_->rec(agent) || !state_->rec(controller) || handle == controller)
            return efi::kInvalidParameter;
        break;
    case efi::kOpenProtocolByDriver:
    case efi::kOpenProtocolByDriver | efi::kOpenProtocolExclusive:
        if (!state_->rec(agent) || !state_->rec(controller)) return efi::kInvalidParameter;
        break;
    case efi::kOpenProtocolExclusive:
        if (!state_->rec(agent)) return efi::kInvalidParameter;
        break;
    default:
        return efi::kInvalidParameter;
    }
    ProtoEntry* p = state_->proto(handle, protocol);
    if (!p) {
        if (interface && attributes != efi::kOpenProtocolTestProtocol) *interface = nullptr;
        return efi::kUnsupported;
    }
    if (attributes == efi::kOpenProtocolTestProtocol) return efi::kSuccess;
    bool wants_driver = attributes & efi::kOpenProtocolByDriver;
    bool wants_exclusive = attributes & efi::kOpenProtocolExclusive;
    if (wants_driver || wants_exclusive) {
        for (auto& o : p->opens) {
            bool held_exclusive = o.attributes & efi::kOpenProtocolExclusive;
            bool held_driver = o.attributes & efi::kOpenProtocolByDriver;
            if (held_exclusive || (held_driver && (wants_driver || wants_exclusive))) {
                *interface = p->interface;
                return o.agent == agent ? efi::kAlreadyStarted : efi::kAccessDenied;
            }
        }
    }
    for (auto& o : p->opens)
        if (o.agent == agent && o.controller == controller && o.attributes == attributes) {
            o.open_count++;
            *interface = p->interface;
            return efi::kSuccess;
        }
    p->opens.push_back(OpenRecord{agent, controller, attributes, 1});
    *interface = p->interface;
    return efi::kSuccess;
}

efi::Status HandleDatabase::close(efi::Handle handle, const efi::Guid& protocol, efi::Handle agent,
                                  efi::Handle controller) {
    if (!state_->rec(handle) || !state_->rec(agent)) return efi::kInvalidParameter;
    if (controller && !state_->rec(controller)) return efi::kInvalidParameter;
    ProtoEntry* p = state_->proto(handle, protocol);
    if (!p) return efi::kNotFound;
    size_t before = p->opens.size();
    p->opens.erase(std::remove_if(p->opens.begin(), p->opens.end(),
                                  [&](const OpenRecord& o) {
                                      return o.agent == agent && o.controller == controller;
                                  }),
                   p->opens.end());
    return p->opens.size() == before ? efi::kNotFound : efi::kSuccess;
}

void HandleDatabase::close_all_opened_by(efi::Handle agent) {
    for (auto& r : state_->handles)
        for (auto& p : r->protocols)
            p->opens.erase(std::remove_if(p->opens.begin(), p->opens.end(),
                                          [&](const OpenRecord& o) { return o.agent == agent; }),
                           p->opens.end());
}

efi::Handle HandleDatabase::locate_device_path(const efi::Guid& protocol, const efi::DevicePath* path,
                                               const efi::DevicePath** remaining) const {
    efi::Handle best = nullptr;
    int64_t best_len = -1;
    for (efi::Handle h : handles_with(protocol)) {
        auto* dp = static_cast<const efi::DevicePath*>(find(h, efi::kDevicePathProtocolGuid));
        if (!dp) continue;
        int64_t len = prefix_match(dp, path);
        if (len > best_len) {
            best_len = len;
            best = h;
        }
    }
    if (best && remaining)
        *remaining = reinterpret_cast<const efi::DevicePath*>(reinterpret_cast<const uint8_t*>(path) +
                                                              best_len);
    return best;
}

void HandleDatabase::force_remove(efi::Handle handle, const efi::Guid& protocol) {
    if (state_->proto(handle, protocol)) state_->remove_protocol(handle, protocol);
}

efi::Handle HandleDatabase::core_agent() {
    if (!state_->rec(core_agent_)) core_agent_ = create_handle();
    return core_agent_;
}

void* HandleDatabase::register_notify(const efi::Guid& protocol, efi::Event event) {
    auto n = std::make_unique<NotifyReg>();
    n->guid = protocol;
    n->event = event;
    void* key = n.get();
    state_->notifies.push_back(std::move(n));
    return key;
}

bool HandleDatabase::is_registration(void* registration) const {
    for (auto& n : state_->notifies)
        if (n.get() == registration) return true;
    return false;
}

efi::Handle HandleDatabase::next_notified(void* registration) {
    for (auto& n : state_->notifies)
        if (n.get() == registration) {
            while (!n->queue.empty()) {
                efi::Handle h = n->queue.front();
                n->queue.pop_front();
                if (state_->proto(h, n->guid)) return h;
            }
            return nullptr;
        }
    return nullptr;
}

// ---------------------------------------------------------------- boot services

namespace {

SimFirmware::Impl& im() { return current_impl(); }

efi::Status EFIAPI bs_install_protocol_interface(efi::Handle* handle, const efi::Guid* protocol,
                                                 uint32_t type, void* interface) {
    if (!handle || !protocol || type != efi::kNativeInterface) return efi::kInvalidParameter;
    return im().handles.install(handle, *protocol, interface);
}

efi::Status EFIAPI bs_reinstall_protocol_interface(efi::Handle handle, const efi::Guid* protocol,
                                                   void* old_interface, void* new_interface) {
    if (!protocol) return efi::kInvalidParameter;
    return im().handles.reinstall(handle, *protocol, old_interface, new_interface);
}

efi::Status EFIAPI bs_uninstall_protocol_interface(efi::Handle handle, const efi::Guid* protocol,
                                                   void* interface) {
    if (!protocol) return efi::kInvalidParameter;
    return im().handles.uninstall(handle, *protocol, interface);
}

efi::Status EFIAPI bs_handle_protocol(efi::Handle handle, const efi::Guid* protocol, void** interface) {
    auto& s = im();
    if (!protocol || !interface) return efi::kInvalidParameter;
    return s.handles.open(handle, *protocol, interface, s.handles.core_agent(), nullptr,
                          efi::kOpenProtocolByHandleProtocol);
}

efi::Status EFIAPI bs_register_protocol_notify(const efi::Guid* protocol, efi::Event event,
                                               void** registration) {
    auto& s = im();
    if (!protocol || !registration || !find_event(s, event)) return efi::kInvalidParameter;
    *registration = s.handles.register_notify(*protocol, event);
    return efi::kSuccess;
}

efi::Status collect(SimFirmware::Impl& s, uint32_t search, const efi::Guid* protocol, void* key,
                    std::vector<efi::Handle>* out) {
    switch (search) {
    case efi::kAllHandles:
        *out = s.handles.handles();
        break;
    case efi::kByProtocol:
        if (!protocol) return efi::kInvalidParameter;
        *out = s.handles.handles_with(*protocol);
        break;
    case efi::kByRegisterNotify:
        if (!s.handles.is_registration(key)) return efi::kInvalidParameter;
        if (efi::Handle h = s.handles.next_notified(key)) out->push_back(h);
        break;
    default:
        return efi::kInvalidParameter;
    }
    return out->empty() ? efi::kNotFound : efi::kSuccess;
}

efi::Status EFIAPI bs_locate_handle(uint32_t search, const efi::Guid* protocol, void* key,
                                    uint64_t* buffer_size, efi::Handle* buffer) {
    auto& s = im();
    if (!buffer_size) return efi::kInvalidParameter;
    std::vector<efi::Handle> found;
    efi::Status st = collect(s, search, protocol, key, &found);
    if (st != efi::kSuccess) return st;
    uint64_t need = found.size() * sizeof(efi::Handle);
    if (*buffer_size < need) {
        *buffer_size = need;
        return efi::kBufferTooSmall;
    }
    if (!buffer) return efi::kInvalidParameter;
    std::memcpy(buffer, found.data(), need);
    *buffer_size = need;
    return efi::kSuccess;
}

efi::Status EFIAPI bs_locate_handle_buffer(uint32_t search, const efi::Guid* protocol, void* key,
                                           uint64_t* count, efi::Handle** buffer) {
    auto& s = im();
    if (!count || !buffer) return efi::kInvalidParameter;
    *count = 0;
    *buffer = nullptr;
    std::vector<efi::Handle> found;
    efi::Status st = collect(s, search, protocol, key, &found);
    if (st != efi::kSuccess) return st;
    void* p = pool_alloc(s, found.size() * sizeof(efi::Handle));
    if (!p) return efi::kOutOfResources;
    std::memcpy(p, found.data(), found.size() * sizeof(efi::Handle));
    *buffer = static_cast<efi::Handle*>(p);
    *count = found.size();
    return efi::kSuccess;
}

efi::Status EFIAPI bs_locate_protocol(const efi::Guid* protocol, void* registration, void** interface) {
    auto& s = im();
    if (!protocol || !interface) return efi::kInvalidParameter;
    *interface = nullptr;
    efi::Handle h = nullptr;
    if (registration) {
        if (!s.handles.is_registration(registration)) return efi::kInvalidParameter;
        h = s.handles.next_notified(registration);
    } else {
        auto all = s.handles.handles_with(*protocol);
        if (!all.empty()) h = all.front();
    }
    if (!h) return efi::kNotFound;
    *interface = s.handles.find(h, *protocol);
    return efi::kSuccess;
}

efi::Status EFIAPI bs_locate_device_path(const efi::Guid* protocol, efi::DevicePath** path,
                                         efi::Handle* device) {
    auto& s = im();
    if (!protocol || !path || !*path || !device) return efi::kInvalidParameter;
    if (device_path_size(*path) == 0) return efi::kInvalidParameter;
    const efi::DevicePath* rest = nullptr;
    efi::Handle h = s.handles.locate_device_path(*protocol, *path, &rest);
    if (!h) return efi::kNotFound;
    *device = h;
    *path = const_cast<efi::DevicePath*>(rest);
    return efi::kSuccess;
}

efi::Status EFIAPI bs_open_protocol(efi::Handle handle, const efi::Guid* protocol, void** interface,
                                    efi::Handle agent, efi::Handle controller, uint32_t attributes) {
    if (!protocol) return efi::kInvalidParameter;
    return im().handles.open(handle, *protocol, interface, agent, controller, attributes);
}

efi::Status EFIAPI bs_close_protocol(efi::Handle handle, const efi::Guid* protocol, efi::Handle agent,
                                     efi::Handle controller) {
    if (!protocol) return efi::kInvalidParameter;
    return im().handles.close(handle, *protocol, agent, controller);
}

efi::Status EFIAPI bs_open_protocol_information(efi::Handle handle, const efi::Guid* protocol,
                                                efi::OpenProtocolInformationEntry** entries,
                                                uint64_t* count) {
    auto& s = im();
    if (!protocol || !entries || !count) return efi::kInvalidParameter;
    if (!s.handles.stored_guid(handle, *protocol)) return efi::kNotFound;  // also a null interface
    auto recs = s.handles.open_records(handle, *protocol);
    // Firmware hands back a buffer even when there is nothing to report.
    uint64_t n = std::max<uint64_t>(recs.size(), 1);
    auto* out = static_cast<efi::OpenProtocolInformationEntry*>(
        pool_alloc(s, n * sizeof(efi::OpenProtocolInformationEntry)));
    if (!out) return efi::kOutOfResources;
    for (size_t i = 0; i < recs.size(); i++)
        out[i] = {recs[i].agent, recs[i].controller, recs[i].attributes, recs[i].open_count};
    *entries = out;
    *count = recs.size();
    return efi::kSuccess;
}

efi::Status EFIAPI bs_protocols_per_handle(efi::Handle handle, efi::Guid*** buffer, uint64_t* count) {
    auto& s = im();
    if (!buffer || !count || !s.handles.is_valid(handle)) return efi::kInvalidParameter;
    auto guids = s.handles.protocols_on(handle);
    if (guids.empty()) return efi::kInvalidParameter;
    auto* out = static_cast<efi::Guid**>(pool_alloc(s, guids.size() * sizeof(efi::Guid*)));
    if (!out) return efi::kOutOfResources;
    for (size_t i = 0; i < guids.size(); i++)
        out[i] = const_cast<efi::Guid*>(s.handles.stored_guid(handle, guids[i]));
    *buffer = out;
    *count = guids.size();
    return efi::kSuccess;
}

// ---------------------------------------------------------------- images

std::string lower_ascii(std::string t) {
    for (char& c : t)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return t;
}

// The file-path nodes of a device path joined into one path ("\EFI\tool.efi").
std::string file_path_text(const efi::DevicePath* path) {
    std::string out;
    if (device_path_size(path) == 0) return out;
    for (const efi::DevicePath* n = path; n->type != efi::kEndDevicePath; n = next_node(n)) {
        if (n->type != efi::kMediaDevicePath || n->sub_type != efi::kMediaFilePathSubType) continue;
        std::string part;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(n) + 4;
        uint16_t units = static_cast<uint16_t>((node_length(n) - 4) / 2);
        for (uint16_t i = 0; i < units; i++) {
            uint16_t c = static_cast<uint16_t>(p[2 * i] | (p[2 * i + 1] << 8));
            if (!c) break;
            part.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        if (!out.empty() && out.back() != '\\' && !part.empty() && part.front() != '\\') out += '\\';
        out += part;
    }
    return out;
}

// Reads the file a device path names through the Simple File System on its device.
bool read_file_by_path(SimFirmware::Impl& s, const efi::DevicePath* path, std::vector<uint8_t>* out) {
    const efi::DevicePath* rest = nullptr;
    efi::Handle dev = s.handles.locate_device_path(efi::kSimpleFileSystemProtocolGuid, path, &rest);
    if (!dev) return false;
    auto* fs = static_cast<efi::SimpleFileSystem*>(s.handles.find(dev, efi::kSimpleFileSystemProtocolGuid));
    std::string name = file_path_text(rest);
    if (!fs || name.empty()) return false;
    efi::FileProtocol* root = nullptr;
    if (fs->open_volume(fs, &root) != efi::kSuccess || !root) return false;
    std::u16string wide(name.begin(), name.end());
    efi::FileProtocol* file = nullptr;
    efi::Status st = root->open(root, &file, wide.c_str(), efi::kFileModeRead, 0);
    root->close(root);
    if (st != efi::kSuccess || !file) return false;
    uint8_t chunk[4096];
    for (;;) {
        uint64_t n = sizeof(chunk);
        if (file->read(file, &n, chunk) != efi::kSuccess) {
            file->close(file);
            return false;
        }
        if (n == 0) break;
        out->insert(out->end(), chunk, chunk + std::min<uint64_t>(n, sizeof(chunk)));
    }
    file->close(file);
    return true;
}

const ImageRegistration* match_buffer(SimFirmware::Impl& s, const uint8_t* bytes, uint64_t size) {
    for (auto& r : s.registrations)
        if (r->by_buffer && r->bytes.size() == size &&
            (size == 0 || std::memcmp(r->bytes.data(), bytes, size) == 0))
            return r.get();
    return nullptr;
}

efi::Status EFIAPI bs_load_image(efi::Boolean, efi::Handle parent, efi::DevicePath* path,
                                 void* buffer, uint64_t size, efi::Handle* image_handle) {
    auto& s = im();
    if (!image_handle || !s.images.count(parent)) return efi::kInvalidParameter;
    if (!buffer && !path) return efi::kNotFound;
    if (path && device_path_size(path) == 0) return efi::kInvalidParameter;
    const ImageRegistration* reg = nullptr;
    std::vector<uint8_t> bytes;
    if (buffer) {
        bytes.assign(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + size);
        reg = match_buffer(s, bytes.data(), bytes.size());
    } else {
        std::string name = lower_ascii(file_path_text(path));
        for (auto& r : s.registrations)
            if (!r->by_buffer && !name.empty() && lower_ascii(r->file_path) == name) {
                reg = r.get();
                break;
            }
        if (!reg) {
            if (!read_file_by_path(s, path, &bytes)) return efi::kNotFound;
            reg = match_buffer(s, bytes.data(), bytes.size());
        }
    }
    if (!reg) return efi::kLoadError;
    efi::Status load_status = reg->options.load_status;
    if (efi::is_error(load_status) && load_status != efi::kSecurityViolation) return load_status;

    auto rec = std::make_unique<ImageRec>();
    rec->registration = reg;
    rec->load_status = load_status;
    rec->image_bytes = bytes.empty() ? std::vector<uint8_t>(512, 0) : bytes;
    efi::LoadedImage& li = rec->loaded;
    li.revision = 0x1000;
    li.parent_handle = parent;
    li.system_table = &s.st;
    if (path) {
        uint64_t n = device_path_size(path);
        rec->full_path.assign(reinterpret_cast<uint8_t*>(path), reinterpret_cast<uint8_t*>(path) + n);
        const efi::DevicePath* rest = path;
        efi::Handle dev = s.handles.locate_device_path(efi::kDevicePathProtocolGuid, path, &rest);
        li.device_handle = dev;
        const uint8_t* r = reinterpret_cast<const uint8_t*>(dev ? rest : path);
        rec->file_path.assign(r, r + device_path_size(reinterpret_cast<const efi::DevicePath*>(r)));
        li.file_path = reinterpret_cast<efi::DevicePath*>(rec->file_path.data());
    }
    li.image_base = rec->image_bytes.data();
    li.image_size = rec->image_bytes.size();
    // A driver's image is boot-services code, as the firmware marks a driver subsystem.
    li.image_code_type = reg->options.driver ? efi::kBootServicesCode : efi::kLoaderCode;
    li.image_data_type = reg->options.driver ? efi::kBootServicesData : efi::kLoaderData;
    efi::Handle h = nullptr;
    if (s.handles.install(&h, efi::kLoadedImageProtocolGuid, &rec->loaded) != efi::kSuccess)
        return efi::kOutOfResources;
    if (!rec->full_path.empty())
        s.handles.install(&h, efi::kLoadedImageDevicePathProtocolGuid, rec->full_path.data());
    rec->handle = h;
    s.images[h] = std::move(rec);
    *image_handle = h;
    return load_status;
}

efi::Status EFIAPI bs_start_image(efi::Handle handle, uint64_t* exit_data_size, efi::Char16** exit_data) {
    auto& s = im();
    auto it = s.images.find(handle);
    if (it == s.images.end() || !it->second->registration || it->second->started)
        return efi::kInvalidParameter;
    ImageRec* rec = it->second.get();
    if (rec->load_status == efi::kSecurityViolation) return efi::kSecurityViolation;
    rec->started = rec->running = true;
    s.images_started++;
    s.contexts.push_back(std::make_unique<ExitContext>());
    ExitContext* ctx = s.contexts.back().get();
    ctx->image = handle;
    if (setjmp(ctx->jump) == 0) {
        try {
            ctx->status = rec->registration->entry(handle, &s.st);
        } catch (...) {
            unwind_contexts(s, ctx);
            unload_image(s, handle);
            throw;
        }
    }
    // Back here on return and on Exit: this context is the innermost one.
    efi::Status status = ctx->status;
    char16_t* data = ctx->exit_data;
    uint64_t data_size = ctx->exit_data_size;
    unwind_contexts(s, ctx);
    if (exit_data_size) *exit_data_size = data ? data_size : 0;
    if (exit_data) {
        *exit_data = data;
    } else if (data && s.pool.count(data)) {
        pool_free(s, data);
    }
    auto again = s.images.find(handle);
    if (again != s.images.end()) {
        again->second->running = false;
        if (efi::is_error(status) || !again->second->registration->options.driver)
            unload_image(s, handle);
    }
    return status;
}

efi::Status EFIAPI bs_exit(efi::Handle handle, efi::Status status, uint64_t data_size,
                           efi::Char16* data) {
    auto& s = im();
    if (!s.contexts.empty() && s.contexts.back()->image == handle) {
        ExitContext* ctx = s.contexts.back().get();
        ctx->status = status;
        ctx->exit_data_size = data ? data_size : 0;
        ctx->exit_data = data;
        std::longjmp(ctx->jump, 1);
    }
    auto it = s.images.find(handle);
    if (it != s.images.end() && it->second->registration && !it->second->started) {
        unload_image(s, handle);
        return efi::kSuccess;
    }
    if (handle == s.image && s.contexts.empty()) {
        std::fprintf(stderr, "sim: Exit of the program called outside SimFirmware::run\n");
        throw std::runtime_error("sim: Exit called outside SimFirmware::run");
    }
    return efi::kInvalidParameter;
}

efi::Status EFIAPI bs_unload_image(efi::Handle handle) {
    auto& s = im();
    auto it = s.images.find(handle);
    if (it == s.images.end() || !it->second->registration) return efi::kInvalidParameter;
    ImageRec* rec = it->second.get();
    if (rec->running) return efi::kUnsupported;
    if (rec->started) {
        if (!rec->loaded.unload) return efi::kUnsupported;
        efi::Status st = rec->loaded.unload(handle);
        if (efi::is_error(st)) return st;
    }
    unload_image(s, handle);
    return efi::kSuccess;
}

}  // namespace

void unload_image(SimFirmware::Impl& s, efi::Handle handle) {
    auto it = s.images.find(handle);
    if (it == s.images.end()) return;
    s.handles.close_all_opened_by(handle);
    s.handles.force_remove(handle, efi::kLoadedImageDevicePathProtocolGuid);
    s.handles.force_remove(handle, efi::kLoadedImageProtocolGuid);
    s.images.erase(it);
}

void create_top_image(SimFirmware::Impl& s) {
    auto rec = std::make_unique<ImageRec>();
    rec->image_bytes.assign(4096, 0);
    efi::LoadedImage& li = rec->loaded;
    li.revision = 0x1000;
    li.system_table = &s.st;
    li.image_base = rec->image_bytes.data();
    li.image_size = rec->image_bytes.size();
    li.image_code_type = efi::kLoaderCode;
    li.image_data_type = efi::kLoaderData;
    rec->started = rec->running = true;
    efi::Handle h = s.handles.install_new(efi::kLoadedImageProtocolGuid, &rec->loaded);
    rec->handle = h;
    s.image = h;
    s.images[h] = std::move(rec);
}

void install_handle_services(SimFirmware::Impl& s) {
    auto& bs = s.bs;
    bs.install_protocol_interface = bs_install_protocol_interface;
    bs.reinstall_protocol_interface = bs_reinstall_protocol_interface;
    bs.uninstall_protocol_interface = bs_uninstall_protocol_interface;
    bs.handle_protocol = bs_handle_protocol;
    bs.register_protocol_notify = bs_register_protocol_notify;
    bs.locate_handle = bs_locate_handle;
    bs.locate_device_path = bs_locate_device_path;
    bs.load_image = bs_load_image;
    bs.start_image = bs_start_image;
    bs.exit = bs_exit;
    bs.unload_image = bs_unload_image;
    bs.open_protocol = bs_open_protocol;
    bs.close_protocol = bs_close_protocol;
    bs.open_protocol_information = bs_open_protocol_information;
    bs.protocols_per_handle = bs_protocols_per_handle;
    bs.locate_handle_buffer = bs_locate_handle_buffer;
    bs.locate_protocol = bs_locate_protocol;
}

// ---------------------------------------------------------------- SimFirmware controls

void SimFirmware::register_image_buffer(const std::vector<uint8_t>& bytes, ImageEntry fn,
                                        ImageOptions options) {
    auto r = std::make_unique<ImageRegistration>();
    r->by_buffer = true;
    r->bytes = bytes;
    r->entry = std::move(fn);
    r->options = options;
    impl_->registrations.push_back(std::move(r));
}

void SimFirmware::register_image_path(const std::string& file_path, ImageEntry fn,
                                      ImageOptions options) {
    auto r = std::make_unique<ImageRegistration>();
    r->file_path = file_path;
    r->entry = std::move(fn);
    r->options = options;
    impl_->registrations.push_back(std::move(r));
}

uint64_t SimFirmware::images_started() const { return impl_->images_started; }

efi::LoadedImage* SimFirmware::loaded_image() {
    auto it = impl_->images.find(impl_->image);
    return it == impl_->images.end() ? nullptr : &it->second->loaded;
}

void SimFirmware::set_load_options(const std::u16string& options) {
    impl_->load_options = options;
    efi::LoadedImage* li = loaded_image();
    if (!li) return;
    if (options.empty()) {
        li->load_options = nullptr;
        li->load_options_size = 0;
    } else {
        li->load_options = impl_->load_options.data();
        li->load_options_size = static_cast<uint32_t>((options.size() + 1) * sizeof(char16_t));
    }
}

}  // namespace sim

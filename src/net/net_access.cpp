#include "net/net_access.h"

#include "net/net_text.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"

namespace tarn {

const char* const kNoIpv6StackMessage =
    "no IPv6 network interface: the firmware IPv6 stack is not loaded.\n"
    "Load the network drivers (SnpDxe.efi, MnpDxe.efi, Ip6Dxe.efi, Dhcp6Dxe.efi, Udp6Dxe.efi,\n"
    "Mtftp6Dxe.efi, TcpDxe.efi, DnsDxe.efi, HttpDxe.efi) with `load`, then `connect -r`.";

const char* const kNoIpv4StackMessage =
    "no network interface: the firmware network stack is not loaded.\n"
    "Load the network drivers (SnpDxe.efi, MnpDxe.efi, ArpDxe.efi, Ip4Dxe.efi, Dhcp4Dxe.efi,\n"
    "Udp4Dxe.efi, Mtftp4Dxe.efi, TcpDxe.efi, DnsDxe.efi, HttpDxe.efi) with `load`, then\n"
    "`connect -r`.";

namespace {

constexpr uint64_t kPollMs = 50;

void name_from_info(const char16_t* name, char* out) {
    uint64_t n = 0;
    for (uint64_t i = 0; i < efi::kInterfaceNameSize && name[i]; i++) {
        char16_t c = name[i];
        if (n + 1 >= kInterfaceNameBytes) break;
        out[n++] = c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
    out[n] = 0;
}

const efi::Guid& config_guid(efi::Ip4Config2*) { return efi::kIp4Config2ProtocolGuid; }
const efi::Guid& config_guid(efi::Ip6Config*) { return efi::kIp6ConfigProtocolGuid; }

void read_name(efi::Ip4Config2* config, char* out) {
    efi::Status st;
    Owned<efi::Ip4Config2InterfaceInfo> info = ip4_interface_info(config, &st);
    if (info) name_from_info(info->name, out);
}
void read_name(efi::Ip6Config* config, char* out) {
    efi::Status st;
    Owned<efi::Ip6ConfigInterfaceInfo> info = ip6_interface_info(config, &st);
    if (info) name_from_info(info->name, out);
}

// GetData of one item into a block of the size the firmware asks for (both configuration
// protocols have the same GetData).
template <class Config>
efi::Status get_config_data(Config* config, uint32_t type, Owned<uint8_t>* data, uint64_t* size) {
    uint64_t want = 0;
    efi::Status st = config->get_data(config, type, &want, nullptr);
    if (st == efi::kNotFound) {
        data->reset(static_cast<uint8_t*>(allocate(1)));
        *size = 0;
        return data->get() ? efi::kSuccess : efi::kOutOfResources;
    }
    if (st != efi::kBufferTooSmall && st != efi::kSuccess) return st;
    // The size can grow between the calls (a DHCP answer arriving); try a few times.
    for (int attempt = 0; attempt < 4; attempt++) {
        if (want > 0x100000) return efi::kBadBufferSize;
        Owned<uint8_t> block(static_cast<uint8_t*>(allocate_zeroed(1, want ? want : 1)));
        if (!block) return efi::kOutOfResources;
        uint64_t got = want;
        st = config->get_data(config, type, &got, block.get());
        if (st == efi::kBufferTooSmall && got > want) {
            want = got;
            continue;
        }
        if (st == efi::kNotFound) got = 0;
        else if (st != efi::kSuccess) return st;
        if (got > want) return efi::kBadBufferSize;
        *data = move(block);
        *size = got;
        return efi::kSuccess;
    }
    return efi::kBufferTooSmall;
}

// SetData; on kNotReady, the wait for the data notification.
template <class Config>
efi::Status set_config_data(Config* config, uint32_t type, const void* data, uint64_t size, uint64_t timeout_ms) {
    FlagEvent done;
    bool registered = done.event() &&
                      config->register_data_notify(config, type, done.event()) == efi::kSuccess;
    efi::Status st = config->set_data(config, type, size, const_cast<void*>(data));
    if (st == efi::kNotReady) {
        st = efi::kTimeout;
        if (registered) {
            for (uint64_t waited = 0; waited <= timeout_ms; waited += kPollMs) {
                if (done.signaled()) {
                    st = efi::kSuccess;
                    break;
                }
                if (!sleep_interruptible(kPollMs)) {
                    st = efi::kAborted;
                    break;
                }
            }
            if (st == efi::kTimeout && done.signaled()) st = efi::kSuccess;
        }
    }
    if (registered) config->unregister_data_notify(config, type, done.event());
    return st;
}

// Whether count items of item_size bytes at table lie inside the size bytes at begin,
// after the header of header_size bytes.
bool table_inside(const void* begin, uint64_t size, uint64_t header_size, const void* table, uint64_t count,
                  uint64_t item_size) {
    uint64_t bytes = 0;
    if (count == 0 || !table || mul_overflows(count, item_size, &bytes)) return false;
    uintptr_t b = reinterpret_cast<uintptr_t>(begin);
    uintptr_t t = reinterpret_cast<uintptr_t>(table);
    return t >= b + header_size && t - b <= size && bytes <= size - (t - b);
}

// A 32-bit item (policy, transmit count).
template <class Config> efi::Status get_u32(Config* config, uint32_t type, uint32_t* value) {
    uint64_t size = sizeof *value;
    efi::Status st = config->get_data(config, type, &size, value);
    if (st != efi::kSuccess) return st;
    return size == sizeof *value ? efi::kSuccess : efi::kBadBufferSize;
}

}  // namespace

template <class Config> InterfaceList<Config>::InterfaceList() {
    efi::BootServices* bs = boot_services();
    if (!bs) return;
    const efi::Guid& guid = config_guid(static_cast<Config*>(nullptr));
    uint64_t n = 0;
    efi::Handle* handles = nullptr;
    if (bs->locate_handle_buffer(efi::kByProtocol, &guid, nullptr, &n, &handles) != efi::kSuccess || !handles)
        return;
    for (uint64_t i = 0; i < n; i++) {
        void* iface = nullptr;
        if (bs->handle_protocol(handles[i], &guid, &iface) != efi::kSuccess || !iface) continue;
        InterfaceEntry<Config> entry{};
        entry.handle = handles[i];
        entry.config = static_cast<Config*>(iface);
        read_name(entry.config, entry.name);
        if (!entry.name[0]) format_into(entry.name, sizeof entry.name, "eth%llu", static_cast<unsigned long long>(items_.size()));
        items_.push(entry);
    }
    bs->free_pool(handles);
}

template <class Config> InterfaceEntry<Config>* InterfaceList<Config>::find(const char* name) {
    for (InterfaceEntry<Config>& e : items_)
        if (equal_nocase(e.name, name)) return &e;
    return nullptr;
}

template class InterfaceList<efi::Ip4Config2>;
template class InterfaceList<efi::Ip6Config>;

NetInterface* select_ipv4_interface(Ip4InterfaceList& list, const char* command, const char* name) {
    if (list.count() == 0) {
        print_error("%s\n", kNoIpv4StackMessage);
        return nullptr;
    }
    if (!name) return &list[0];
    NetInterface* e = list.find(name);
    if (!e) print_error("%s: no interface named %s (see ifconfig -l)\n", command, name);
    return e;
}

Net6Interface* select_ipv6_interface(Ip6InterfaceList& list, const char* command, const char* name) {
    if (list.count() == 0) {
        print_error("%s\n", kNoIpv6StackMessage);
        return nullptr;
    }
    if (!name) return &list[0];
    Net6Interface* e = list.find(name);
    if (!e) print_error("%s: no interface named %s (see ifconfig6 -l)\n", command, name);
    return e;
}

efi::Status ip4_get_data(efi::Ip4Config2* config, efi::Ip4Config2DataType type, Owned<uint8_t>* data,
                         uint64_t* size) {
    return get_config_data(config, type, data, size);
}

Owned<efi::Ip4Config2InterfaceInfo> ip4_interface_info(efi::Ip4Config2* config, efi::Status* status) {
    Owned<uint8_t> data;
    uint64_t size = 0;
    *status = ip4_get_data(config, efi::kIp4Config2InterfaceInfo, &data, &size);
    if (*status != efi::kSuccess) return Owned<efi::Ip4Config2InterfaceInfo>();
    if (size < sizeof(efi::Ip4Config2InterfaceInfo)) {
        *status = efi::kBadBufferSize;
        return Owned<efi::Ip4Config2InterfaceInfo>();
    }
    auto* info = reinterpret_cast<efi::Ip4Config2InterfaceInfo*>(data.get());
    // The route table must lie inside the block the firmware filled.
    if (!table_inside(data.get(), size, sizeof *info, info->route_table, info->route_table_size,
                      sizeof(efi::Ip4RouteTable))) {
        info->route_table_size = 0;
        info->route_table = nullptr;
    }
    if (info->hw_address_size > sizeof info->hw_address.addr) info->hw_address_size = sizeof info->hw_address.addr;
    return Owned<efi::Ip4Config2InterfaceInfo>(reinterpret_cast<efi::Ip4Config2InterfaceInfo*>(data.take()));
}

efi::Status ip4_get_policy(efi::Ip4Config2* config, efi::Ip4Config2Policy* policy) {
    uint32_t value = 0;
    uint64_t size = sizeof value;
    efi::Status st = config->get_data(config, efi::kIp4Config2Policy, &size, &value);
    if (st != efi::kSuccess) return st;
    if (size != sizeof value) return efi::kBadBufferSize;
    *policy = value == efi::kIp4PolicyStatic ? efi::kIp4PolicyStatic : efi::kIp4PolicyDhcp;
    return efi::kSuccess;
}

efi::Status ip4_set_data(efi::Ip4Config2* config, efi::Ip4Config2DataType type, const void* data,
                         uint64_t size, uint64_t timeout_ms) {
    return set_config_data(config, type, data, size, timeout_ms);
}

WaitResult wait_for_ipv4_address(efi::Ip4Config2* config, uint64_t timeout_ms) {
    for (uint64_t waited = 0;; waited += kPollMs) {
        efi::Status st;
        Owned<efi::Ip4Config2InterfaceInfo> info = ip4_interface_info(config, &st);
        if (info) {
            const uint8_t* a = info->station_address.addr;
            if (a[0] | a[1] | a[2] | a[3]) return WaitResult::kReady;
        }
        if (waited >= timeout_ms) return WaitResult::kTimedOut;
        if (!sleep_interruptible(kPollMs)) return WaitResult::kInterrupted;
    }
}

MediaState media_state(efi::Handle handle) {
    efi::BootServices* bs = boot_services();
    void* iface = nullptr;
    if (bs->handle_protocol(handle, &efi::kAdapterInformationProtocolGuid, &iface) == efi::kSuccess && iface) {
        auto* aip = static_cast<efi::AdapterInformation*>(iface);
        void* block = nullptr;
        uint64_t size = 0;
        if (aip->get_information(aip, &efi::kAdapterInfoMediaStateGuid, &block, &size) == efi::kSuccess &&
            block) {
            MediaState state = MediaState::kUnknown;
            if (size >= sizeof(efi::Status)) {
                efi::Status media = 0;
                memcpy(&media, block, sizeof media);
                state = media == efi::kSuccess ? MediaState::kPresent
                        : media == efi::kNoMedia ? MediaState::kDisconnected
                                                 : MediaState::kUnknown;
            }
            bs->free_pool(block);
            return state;
        }
    }
    iface = nullptr;
    if (bs->handle_protocol(handle, &efi::kSimpleNetworkProtocolGuid, &iface) == efi::kSuccess && iface) {
        const efi::SimpleNetworkMode* mode = static_cast<efi::SimpleNetwork*>(iface)->mode;
        if (mode && mode->media_present_supported)
            return mode->media_present ? MediaState::kPresent : MediaState::kDisconnected;
    }
    return MediaState::kUnknown;
}

const char* media_state_text(MediaState state) {
    switch (state) {
    case MediaState::kPresent: return "present";
    case MediaState::kDisconnected: return "disconnected";
    case MediaState::kUnknown: return "unknown";
    }
    return "unknown";
}

ServiceChild::ServiceChild(efi::Handle parent, const efi::Guid& binding, const efi::Guid& protocol) {
    efi::BootServices* bs = boot_services();
    void* sb = nullptr;
    if (bs->handle_protocol(parent, &binding, &sb) != efi::kSuccess || !sb) return;
    binding_ = static_cast<efi::ServiceBinding*>(sb);
    status_ = binding_->create_child(binding_, &child_);
    if (status_ != efi::kSuccess) {
        child_ = nullptr;
        return;
    }
    status_ = bs->handle_protocol(child_, &protocol, &protocol_);
    if (status_ == efi::kSuccess && !protocol_) status_ = efi::kUnsupported;
}

ServiceChild::~ServiceChild() {
    if (child_) binding_->destroy_child(binding_, child_);
}

FlagEvent::FlagEvent() {
    efi::BootServices* bs = boot_services();
    if (bs->create_event(efi::kEvtNotifySignal, efi::kTplCallback, &FlagEvent::notify, this, &event_) !=
        efi::kSuccess)
        event_ = nullptr;
}

FlagEvent::~FlagEvent() {
    if (event_) boot_services()->close_event(event_);
}

void EFIAPI FlagEvent::notify(efi::Event, void* context) { static_cast<FlagEvent*>(context)->flag_ = true; }

// ---- IPv6

efi::Status ip6_get_data(efi::Ip6Config* config, efi::Ip6ConfigDataType type, Owned<uint8_t>* data,
                         uint64_t* size) {
    return get_config_data(config, type, data, size);
}

Owned<efi::Ip6ConfigInterfaceInfo> ip6_interface_info(efi::Ip6Config* config, efi::Status* status) {
    Owned<uint8_t> data;
    uint64_t size = 0;
    *status = ip6_get_data(config, efi::kIp6ConfigInterfaceInfo, &data, &size);
    if (*status != efi::kSuccess) return Owned<efi::Ip6ConfigInterfaceInfo>();
    if (size < sizeof(efi::Ip6ConfigInterfaceInfo)) {
        *status = efi::kBadBufferSize;
        return Owned<efi::Ip6ConfigInterfaceInfo>();
    }
    auto* info = reinterpret_cast<efi::Ip6ConfigInterfaceInfo*>(data.get());
    if (!table_inside(data.get(), size, sizeof *info, info->address_info, info->address_info_count,
                      sizeof(efi::Ip6AddressInfo))) {
        info->address_info_count = 0;
        info->address_info = nullptr;
    }
    if (!table_inside(data.get(), size, sizeof *info, info->route_table, info->route_count,
                      sizeof(efi::Ip6RouteTable))) {
        info->route_count = 0;
        info->route_table = nullptr;
    }
    if (info->hw_address_size > sizeof info->hw_address.addr) info->hw_address_size = sizeof info->hw_address.addr;
    return Owned<efi::Ip6ConfigInterfaceInfo>(reinterpret_cast<efi::Ip6ConfigInterfaceInfo*>(data.take()));
}

efi::Status ip6_get_policy(efi::Ip6Config* config, efi::Ip6ConfigPolicy* policy) {
    uint32_t value = 0;
    efi::Status st = get_u32(config, efi::kIp6ConfigPolicy, &value);
    if (st == efi::kSuccess) *policy = value == efi::kIp6PolicyManual ? efi::kIp6PolicyManual : efi::kIp6PolicyAutomatic;
    return st;
}

efi::Status ip6_get_dad_transmits(efi::Ip6Config* config, uint32_t* count) {
    return get_u32(config, efi::kIp6ConfigDadTransmits, count);
}

efi::Status ip6_set_data(efi::Ip6Config* config, efi::Ip6ConfigDataType type, const void* data, uint64_t size,
                         uint64_t timeout_ms) {
    return set_config_data(config, type, data, size, timeout_ms);
}

WaitResult wait_for_ipv6_source(efi::Ip6Config* config, const efi::Ipv6Address& target, uint64_t timeout_ms,
                                efi::Ipv6Address* source) {
    for (uint64_t waited = 0;; waited += kPollMs) {
        efi::Status st;
        Owned<efi::Ip6ConfigInterfaceInfo> info = ip6_interface_info(config, &st);
        if (info) {
            int64_t i = choose_ipv6_source(info->address_info, info->address_info_count, target);
            if (i >= 0) {
                *source = info->address_info[i].address;
                return WaitResult::kReady;
            }
        }
        if (waited >= timeout_ms) return WaitResult::kTimedOut;
        if (!sleep_interruptible(kPollMs)) return WaitResult::kInterrupted;
    }
}

}  // namespace tarn

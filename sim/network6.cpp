// The fake IPv6 half of a network interface: IP6 Config, the IP6 service binding and its
// ICMPv6 children, and MTFTP6.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "handles.h"
#include "mtftp_fake.h"
#include "service_children.h"
#include "network.h"
#include "uefi/network.h"

namespace sim {

namespace efi = tarn::efi;
using efi::Status;

Ipv6 ipv6(const char* text) {
    Ipv6 a{};
    if (inet_pton(AF_INET6, text, a.data()) != 1) {
        std::fprintf(stderr, "sim: bad IPv6 address %s\n", text);
        std::abort();
    }
    return a;
}

std::string ipv6_text(const Ipv6& a) {
    char s[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, a.data(), s, sizeof s);
    return s;
}

namespace {

efi::BootServices* bs() { return SimFirmware::current()->system_table()->boot_services; }
uint64_t now() { return SimFirmware::current()->now_us(); }
efi::Ipv6Address to_efi(const Ipv6& a) {
    efi::Ipv6Address e;
    std::memcpy(e.addr, a.data(), 16);
    return e;
}
Ipv6 from_efi(const efi::Ipv6Address& e) {
    Ipv6 a;
    std::memcpy(a.data(), e.addr, 16);
    return a;
}
bool is_zero(const Ipv6& a) { return a == Ipv6{}; }
bool link_local(const Ipv6& a) { return a[0] == 0xfe && (a[1] & 0xc0) == 0x80; }

// The ICMPv6 checksum of message as sent from source to destination: 0 when it is right.
uint16_t icmp6_check(const Ipv6& source, const Ipv6& destination, const std::vector<uint8_t>& message) {
    std::vector<uint8_t> b(source.begin(), source.end());
    b.insert(b.end(), destination.begin(), destination.end());
    uint32_t n = static_cast<uint32_t>(message.size());
    uint8_t tail[8] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), 0, 0, 0, 58};
    b.insert(b.end(), tail, tail + 8);
    b.insert(b.end(), message.begin(), message.end());
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < b.size(); i += 2) sum += b[i] << 8 | b[i + 1];
    if (b.size() & 1) sum += b.back() << 8;
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

struct Rx6Record {
    efi::Ip6ReceiveData rx{};
    efi::Ip6Header header{};
    std::vector<uint8_t> bytes;
    FakeNic6* nic = nullptr;
    bool recycled = false;
};

struct Pending6 {
    uint64_t due_us;
    Ipv6 from;
    std::vector<uint8_t> message;
};

struct FakeIp6 {
    efi::Ip6 protocol{};  // first, so the protocol pointer is the instance's
    FakeNic6* nic = nullptr;
    efi::Handle child = nullptr;
    bool configured = false;
    Ipv6 station{};
    efi::Ip6CompletionToken* rx_token = nullptr;
    std::vector<Pending6> replies;
};

struct FakeMtftp6 {
    efi::Mtftp6 protocol{};  // first
    FakeNic6* nic = nullptr;
    efi::Handle child = nullptr;
    bool configured = false;
    efi::Mtftp6Token* pending = nullptr;
    uint64_t due_us = 0;
    Status result = 0;
};

}  // namespace

struct FakeNic6::Impl {
    efi::Ip6Config config{};  // first: its pointer leads back here
    FakeNic6* owner = nullptr;
    struct Binding {
        efi::ServiceBinding protocol{};
        Impl* d = nullptr;
    } ip6_binding, tftp_binding;
    Nic6Setup setup;
    std::string name;
    std::vector<uint8_t> mac;
    std::map<uint32_t, std::vector<efi::Event>> notify;
    efi::Event auto_timer = nullptr;
    efi::Event dad_timer = nullptr;
    std::vector<efi::Ip6ConfigManualAddress> pending_manual;
    std::vector<std::unique_ptr<FakeIp6>> children;
    std::vector<std::unique_ptr<FakeMtftp6>> tftp_children;
    std::vector<std::unique_ptr<Rx6Record>> received;

    void signal(uint32_t type) {
        for (efi::Event e : notify[type]) bs()->signal_event(e);
    }
};

namespace {

FakeNic6::Impl* impl_of(efi::Ip6Config* self) { return reinterpret_cast<FakeNic6::Impl*>(self); }
FakeNic6::Impl* impl_of(efi::ServiceBinding* self) { return reinterpret_cast<FakeNic6::Impl::Binding*>(self)->d; }

Status give(const void* data, uint64_t n, uint64_t* size, void* out) {
    if (!size) return efi::kInvalidParameter;
    if (*size < n || (!out && n)) {
        *size = n;
        return efi::kBufferTooSmall;
    }
    *size = n;
    if (n) std::memcpy(out, data, n);
    return efi::kSuccess;
}

Status give_list(const std::vector<Ipv6>& list, uint64_t* size, void* out) {
    if (list.empty()) return efi::kNotFound;
    std::vector<uint8_t> bytes;
    for (const Ipv6& a : list) bytes.insert(bytes.end(), a.begin(), a.end());
    return give(bytes.data(), bytes.size(), size, out);
}

Status give_info(FakeNic6::Impl* d, uint64_t* size, void* data) {
    FakeNic6& nic = *d->owner;
    if (d->setup.info_fails) return efi::kDeviceError;
    const uint64_t n = sizeof(efi::Ip6ConfigInterfaceInfo) + nic.addresses.size() * sizeof(efi::Ip6AddressInfo) +
                       nic.routes.size() * sizeof(efi::Ip6RouteTable);
    if (!size) return efi::kInvalidParameter;
    if (*size < n || !data) {
        *size = n;
        return efi::kBufferTooSmall;
    }
    *size = n;
    std::memset(data, 0, n);
    auto* info = static_cast<efi::Ip6ConfigInterfaceInfo*>(data);
    for (size_t i = 0; i < d->name.size() && i < 31; i++) info->name[i] = d->name[i];
    info->if_type = 1;
    info->hw_address_size = static_cast<uint32_t>(d->mac.size());
    std::memcpy(info->hw_address.addr, d->mac.data(), d->mac.size());
    auto* addresses = reinterpret_cast<efi::Ip6AddressInfo*>(info + 1);
    auto* routes = reinterpret_cast<efi::Ip6RouteTable*>(addresses + nic.addresses.size());
    info->address_info_count = static_cast<uint32_t>(nic.addresses.size());
    info->address_info = nic.addresses.empty() ? nullptr : addresses;
    if (d->setup.tables_outside && !nic.addresses.empty()) info->address_info = addresses + 1000;
    for (size_t i = 0; i < nic.addresses.size(); i++) {
        addresses[i].address = to_efi(nic.addresses[i].address);
        addresses[i].prefix_length = nic.addresses[i].prefix;
    }
    info->route_count = static_cast<uint32_t>(nic.routes.size());
    info->route_table = nic.routes.empty() ? nullptr : routes;
    for (size_t i = 0; i < nic.routes.size(); i++)
        routes[i] = {to_efi(nic.routes[i].gateway), to_efi(nic.routes[i].destination), nic.routes[i].prefix};
    return efi::kSuccess;
}

Status EFIAPI config_get(efi::Ip6Config* self, uint32_t type, uint64_t* size, void* data) {
    FakeNic6::Impl* d = impl_of(self);
    FakeNic6& nic = *d->owner;
    switch (type) {
    case efi::kIp6ConfigInterfaceInfo: return give_info(d, size, data);
    case efi::kIp6ConfigPolicy: return give(&nic.policy, 4, size, data);
    case efi::kIp6ConfigDadTransmits: return give(&nic.dad_transmits, 4, size, data);
    case efi::kIp6ConfigGateway: return give_list(nic.gateways, size, data);
    case efi::kIp6ConfigDnsServer: return give_list(nic.dns, size, data);
    }
    return efi::kNotFound;
}

void EFIAPI auto_fires(efi::Event, void* context) {
    FakeNic6::Impl* d = static_cast<FakeNic6::Impl*>(context);
    FakeNic6& nic = *d->owner;
    if (nic.policy != 1) return;
    nic.addresses.push_back(nic.auto_address);
    Ipv6 prefix = nic.auto_address.address;
    for (int i = nic.auto_address.prefix / 8; i < 16; i++) prefix[i] = 0;
    nic.routes.push_back({prefix, nic.auto_address.prefix, Ipv6{}});
    nic.routes.push_back({Ipv6{}, 0, nic.auto_gateway});
    nic.log.push_back("autoconfigured " + ipv6_text(nic.auto_address.address));
}

void EFIAPI dad_fires(efi::Event, void* context) {
    FakeNic6::Impl* d = static_cast<FakeNic6::Impl*>(context);
    FakeNic6& nic = *d->owner;
    for (const efi::Ip6ConfigManualAddress& m : d->pending_manual) {
        nic.addresses.push_back({from_efi(m.address), m.prefix_length});
        nic.log.push_back("manual applied " + ipv6_text(from_efi(m.address)));
    }
    d->pending_manual.clear();
    d->signal(efi::kIp6ConfigManualAddress);
}

void keep_link_local(FakeNic6& nic) {
    std::vector<FakeNic6::Address> kept;
    for (const auto& a : nic.addresses)
        if (link_local(a.address)) kept.push_back(a);
    nic.addresses = kept;
    nic.routes.clear();
    nic.gateways.clear();
    nic.dns.clear();
}

Status set_list(FakeNic6& nic, std::vector<Ipv6>& list, const char* what, uint64_t size, const uint8_t* bytes) {
    if (size % 16 || (size && !bytes)) return efi::kBadBufferSize;
    list.clear();
    std::string line = std::string("set ") + what;
    for (uint64_t i = 0; i < size; i += 16) {
        Ipv6 a;
        std::memcpy(a.data(), bytes + i, 16);
        list.push_back(a);
        line += " " + ipv6_text(a);
    }
    nic.log.push_back(line);
    return efi::kSuccess;
}

Status EFIAPI config_set(efi::Ip6Config* self, uint32_t type, uint64_t size, void* data) {
    FakeNic6::Impl* d = impl_of(self);
    FakeNic6& nic = *d->owner;
    if (static_cast<int>(type) == nic.fail_set_type) return nic.fail_set_status;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    Status st = efi::kSuccess;
    switch (type) {
    case efi::kIp6ConfigPolicy: {
        if (size != 4 || !data) return efi::kBadBufferSize;
        uint32_t policy;
        std::memcpy(&policy, data, 4);
        if (policy > 1) return efi::kInvalidParameter;
        nic.log.push_back(std::string("set policy ") + (policy ? "automatic" : "manual"));
        if (policy != nic.policy) {
            nic.policy = policy;
            keep_link_local(nic);
            if (policy == 1 && nic.router_answers) {
                if (!d->auto_timer)
                    bs()->create_event(efi::kEvtTimer | efi::kEvtNotifySignal, efi::kTplCallback, auto_fires, d,
                                       &d->auto_timer);
                bs()->set_timer(d->auto_timer, efi::kTimerRelative, nic.auto_delay_us * 10);
            }
        }
        break;
    }
    case efi::kIp6ConfigDadTransmits: {
        if (size != 4 || !data) return efi::kBadBufferSize;
        std::memcpy(&nic.dad_transmits, data, 4);
        nic.log.push_back("set dad " + std::to_string(nic.dad_transmits));
        break;
    }
    case efi::kIp6ConfigManualAddress: {
        if (nic.policy != 0) return efi::kWriteProtected;
        if (size % sizeof(efi::Ip6ConfigManualAddress) || (size && !data)) return efi::kBadBufferSize;
        std::string line = "set manual";
        d->pending_manual.clear();
        for (uint64_t at = 0; at < size; at += sizeof(efi::Ip6ConfigManualAddress)) {
            efi::Ip6ConfigManualAddress m;
            std::memcpy(&m, bytes + at, sizeof m);
            d->pending_manual.push_back(m);
            line += " " + ipv6_text(from_efi(m.address)) + "/" + std::to_string(m.prefix_length);
        }
        nic.log.push_back(line);
        if (nic.dad_completes) {
            if (!d->dad_timer)
                bs()->create_event(efi::kEvtTimer | efi::kEvtNotifySignal, efi::kTplCallback, dad_fires, d,
                                   &d->dad_timer);
            bs()->set_timer(d->dad_timer, efi::kTimerRelative, nic.dad_delay_us * 10);
        }
        return efi::kNotReady;
    }
    case efi::kIp6ConfigGateway:
        if (nic.policy != 0) return efi::kWriteProtected;
        st = set_list(nic, nic.gateways, "gateway", size, bytes);
        break;
    case efi::kIp6ConfigDnsServer:
        if (nic.policy != 0) return efi::kWriteProtected;
        st = set_list(nic, nic.dns, "dns", size, bytes);
        break;
    default: return efi::kInvalidParameter;
    }
    if (st == efi::kSuccess) d->signal(type);
    return st;
}

Status EFIAPI config_register(efi::Ip6Config* self, uint32_t type, efi::Event event) {
    if (type > efi::kIp6ConfigDnsServer || !event) return efi::kInvalidParameter;
    impl_of(self)->notify[type].push_back(event);
    return efi::kSuccess;
}

Status EFIAPI config_unregister(efi::Ip6Config* self, uint32_t type, efi::Event event) {
    auto& list = impl_of(self)->notify[type];
    for (auto it = list.begin(); it != list.end(); ++it)
        if (*it == event) {
            list.erase(it);
            return efi::kSuccess;
        }
    return efi::kNotFound;
}

// ---- IP6 children

FakeIp6* ip6_of(efi::Ip6* self) { return reinterpret_cast<FakeIp6*>(self); }

Status EFIAPI ip6_configure(efi::Ip6* self, efi::Ip6ConfigData* config) {
    FakeIp6* ip = ip6_of(self);
    FakeNic6& nic = *ip->nic;
    if (!config) {
        ip->configured = false;
        return efi::kSuccess;
    }
    if (nic.configure_status) return nic.configure_status;
    Ipv6 station = from_efi(config->station_address);
    bool known = is_zero(station);
    for (const auto& a : nic.addresses)
        if (a.address == station) known = true;
    if (!known) return efi::kInvalidParameter;  // not an address of this interface
    ip->station = station;
    nic.ip6_configs.push_back("station " + ipv6_text(station) + " protocol " +
                              std::to_string(config->default_protocol));
    ip->configured = true;
    return efi::kSuccess;
}

void EFIAPI recycled6(efi::Event e, void* context) {
    auto* r = static_cast<Rx6Record*>(context);
    if (!r->recycled) r->nic->packets_recycled++;
    r->recycled = true;
    bs()->close_event(e);
}

void deliver(FakeIp6* ip, const Pending6& reply) {
    FakeNic6::Impl* d = ip->nic->impl.get();
    auto rec = std::make_unique<Rx6Record>();
    rec->nic = ip->nic;
    rec->bytes = reply.message;
    rec->header.version_class_flow[0] = 0x60;
    rec->header.next_header = 58;
    rec->header.hop_limit = ip->nic->reply_hop_limit;
    rec->header.source = to_efi(reply.from);
    rec->header.destination = to_efi(ip->station);
    rec->rx.header_length = 40;
    rec->rx.header = &rec->header;
    rec->rx.data_length = static_cast<uint32_t>(reply.message.size());
    rec->rx.fragment_count = 1;
    rec->rx.fragments[0].length = static_cast<uint32_t>(reply.message.size());
    rec->rx.fragments[0].buffer = rec->bytes.data();
    bs()->create_event(efi::kEvtNotifySignal, efi::kTplCallback, recycled6, rec.get(), &rec->rx.recycle_signal);
    efi::Ip6CompletionToken* token = ip->rx_token;
    ip->rx_token = nullptr;
    token->status = efi::kSuccess;
    token->packet.rx = &rec->rx;
    ip->nic->packets_delivered++;
    d->received.push_back(std::move(rec));
    bs()->signal_event(token->event);
}

Status EFIAPI ip6_poll(efi::Ip6* self) {
    FakeIp6* ip = ip6_of(self);
    while (ip->rx_token && !ip->replies.empty() && ip->replies.front().due_us <= now()) {
        Pending6 r = ip->replies.front();
        ip->replies.erase(ip->replies.begin());
        deliver(ip, r);
    }
    return efi::kSuccess;
}

Status EFIAPI ip6_transmit(efi::Ip6* self, efi::Ip6CompletionToken* token) {
    FakeIp6* ip = ip6_of(self);
    FakeNic6& nic = *ip->nic;
    if (!ip->configured) return efi::kNotStarted;
    if (!token || !token->event || !token->packet.tx) return efi::kInvalidParameter;
    if (nic.transmit_status) return nic.transmit_status;
    const efi::Ip6TransmitData* tx = token->packet.tx;
    if (tx->fragment_count == 0) return efi::kInvalidParameter;
    std::vector<uint8_t> message;
    for (uint32_t i = 0; i < tx->fragment_count; i++) {
        const uint8_t* p = static_cast<const uint8_t*>(tx->fragments[i].buffer);
        message.insert(message.end(), p, p + tx->fragments[i].length);
    }
    if (message.size() != tx->data_length) return efi::kBadBufferSize;
    Ipv6 to = from_efi(tx->destination);
    Ipv6 from = ip->station;
    if (is_zero(from))
        for (const auto& a : nic.addresses)
            if (link_local(a.address) == link_local(to)) {
                from = a.address;
                break;
            }
    nic.sent.push_back(message);
    nic.sent_to.push_back(to);
    nic.sent_from.push_back(from);
    bool valid = icmp6_check(from, to, message) == 0;
    if (!valid) nic.bad_checksums++;
    auto it = nic.responders.find(to);
    if (valid && it != nic.responders.end() && message.size() >= 8 && message[0] == 128) {
        std::vector<uint8_t> reply = message;
        reply[0] = 129;
        reply[2] = reply[3] = 0;
        uint16_t c = icmp6_check(to, from, reply);
        reply[2] = static_cast<uint8_t>(c >> 8);
        reply[3] = static_cast<uint8_t>(c);
        ip->replies.push_back({now() + it->second, to, reply});
    }
    token->status = efi::kSuccess;
    bs()->signal_event(token->event);
    return efi::kSuccess;
}

Status EFIAPI ip6_receive(efi::Ip6* self, efi::Ip6CompletionToken* token) {
    FakeIp6* ip = ip6_of(self);
    if (!ip->configured) return efi::kNotStarted;
    if (!token || !token->event) return efi::kInvalidParameter;
    if (ip->rx_token) return efi::kAccessDenied;
    ip->rx_token = token;
    return efi::kSuccess;
}

Status EFIAPI ip6_cancel(efi::Ip6* self, efi::Ip6CompletionToken* token) {
    FakeIp6* ip = ip6_of(self);
    if (ip->rx_token && (!token || ip->rx_token == token)) {
        efi::Ip6CompletionToken* t = ip->rx_token;
        ip->rx_token = nullptr;
        t->status = efi::kAborted;
        bs()->signal_event(t->event);
        return efi::kSuccess;
    }
    return token ? efi::kNotFound : efi::kSuccess;
}

Status EFIAPI ip6_sb_create(efi::ServiceBinding* self, efi::Handle* child) {
    FakeNic6::Impl* d = impl_of(self);
    if (d->owner->create_child_status) return d->owner->create_child_status;
    auto ip = std::make_unique<FakeIp6>();
    ip->nic = d->owner;
    ip->protocol.configure = ip6_configure;
    ip->protocol.transmit = ip6_transmit;
    ip->protocol.receive = ip6_receive;
    ip->protocol.cancel = ip6_cancel;
    ip->protocol.poll = ip6_poll;
    return add_child(d->children, std::move(ip), efi::kIp6ProtocolGuid, child, &d->owner->children_created);
}

Status EFIAPI ip6_sb_destroy(efi::ServiceBinding* self, efi::Handle child) {
    FakeNic6::Impl* d = impl_of(self);
    return remove_child(d->children, child, efi::kIp6ProtocolGuid, &d->owner->children_destroyed,
                        [](FakeIp6* ip) { ip6_cancel(&ip->protocol, nullptr); });
}

// ---- MTFTP6 children

FakeMtftp6* tftp6_of(efi::Mtftp6* self) { return reinterpret_cast<FakeMtftp6*>(self); }

Status EFIAPI tftp6_configure(efi::Mtftp6* self, efi::Mtftp6ConfigData* config) {
    FakeMtftp6* t = tftp6_of(self);
    if (!config) {
        mtftp::abort_pending(t);
        return efi::kSuccess;
    }
    if (t->nic->tftp_configure_status) return t->nic->tftp_configure_status;
    t->nic->tftp_requests.push_back("configure server " + ipv6_text(from_efi(config->server_ip)) + " port " +
                                    std::to_string(config->initial_server_port) + " tries " +
                                    std::to_string(config->try_count) + " timeout " +
                                    std::to_string(config->timeout_value) + " local " +
                                    std::to_string(config->local_port));
    t->configured = true;
    return efi::kSuccess;
}

Status EFIAPI tftp6_get_info(efi::Mtftp6* self, void*, const uint8_t* filename, const uint8_t* mode, uint8_t count,
                             efi::Mtftp6Option* options, uint32_t* length, void** packet) {
    FakeMtftp6* t = tftp6_of(self);
    if (!t->configured) return efi::kNotStarted;
    return mtftp::get_info(*t->nic, filename, mode, count, options, length, packet);
}

Status EFIAPI tftp6_parse_options(efi::Mtftp6*, uint32_t length, void* packet, uint32_t* count,
                                  efi::Mtftp6Option** options) {
    return mtftp::parse_options(length, packet, count, options);
}

Status EFIAPI tftp6_read_file(efi::Mtftp6* self, efi::Mtftp6Token* token) {
    return mtftp::read_file(tftp6_of(self), token);
}

Status EFIAPI tftp6_poll(efi::Mtftp6* self) { return mtftp::poll(tftp6_of(self)); }

Status EFIAPI tftp6_sb_create(efi::ServiceBinding* self, efi::Handle* child) {
    FakeNic6::Impl* d = impl_of(self);
    auto t = std::make_unique<FakeMtftp6>();
    t->nic = d->owner;
    t->protocol.configure = tftp6_configure;
    t->protocol.get_info = tftp6_get_info;
    t->protocol.parse_options = tftp6_parse_options;
    t->protocol.read_file = tftp6_read_file;
    t->protocol.poll = tftp6_poll;
    return add_child(d->tftp_children, std::move(t), efi::kMtftp6ProtocolGuid, child,
                     &d->owner->tftp_children_created);
}

Status EFIAPI tftp6_sb_destroy(efi::ServiceBinding* self, efi::Handle child) {
    FakeNic6::Impl* d = impl_of(self);
    return remove_child(d->tftp_children, child, efi::kMtftp6ProtocolGuid, &d->owner->tftp_children_destroyed,
                        [](FakeMtftp6* t) { tftp6_configure(&t->protocol, nullptr); });
}

struct Nics6 {
    std::vector<std::unique_ptr<FakeNic6>> list;
};

}  // namespace

FakeNic6::FakeNic6() : impl(new Impl) {}
FakeNic6::~FakeNic6() = default;

size_t FakeNic6::notify_registrations() const {
    size_t n = 0;
    for (auto& [type, list] : impl->notify) n += list.size();
    return n;
}

FakeNic6& add_nic6(SimFirmware& fw, FakeNic* on, const Nic6Setup& setup) {
    auto nic = std::make_unique<FakeNic6>();
    FakeNic6::Impl* d = nic->impl.get();
    d->owner = nic.get();
    d->setup = setup;
    d->name = setup.name;
    d->mac = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
    d->config = {config_set, config_get, config_register, config_unregister};
    d->ip6_binding.protocol = {ip6_sb_create, ip6_sb_destroy};
    d->ip6_binding.d = d;
    d->tftp_binding.protocol = {tftp6_sb_create, tftp6_sb_destroy};
    d->tftp_binding.d = d;
    // The link-local address from the MAC (modified EUI-64).
    const std::vector<uint8_t>& m = d->mac;
    Ipv6 ll = ipv6("fe80::");
    uint8_t eui[8] = {uint8_t(m[0] ^ 2), m[1], m[2], 0xff, 0xfe, m[3], m[4], m[5]};
    std::memcpy(ll.data() + 8, eui, 8);
    nic->addresses.push_back({ll, 64});
    efi::Handle h = on ? on->handle : nullptr;
    fw.handles().install(&h, efi::kIp6ConfigProtocolGuid, &d->config);
    nic->handle = h;
    if (setup.ip6_service) fw.handles().install(&h, efi::kIp6ServiceBindingProtocolGuid, &d->ip6_binding.protocol);
    if (setup.mtftp6_service)
        fw.handles().install(&h, efi::kMtftp6ServiceBindingProtocolGuid, &d->tftp_binding.protocol);
    FakeNic6& ref = *nic;
    fw.module_state<Nics6>().list.push_back(std::move(nic));
    return ref;
}

}  // namespace sim

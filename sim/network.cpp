// The fake network interface: IP4 Config2, media state, IP4 service binding and IP4.
#include "network.h"

#include <cstdio>
#include <algorithm>
#include <cstring>

#include "handles.h"
#include "mtftp_fake.h"
#include "service_children.h"
#include "uefi/network.h"

namespace sim {

namespace efi = tarn::efi;
using efi::Status;

namespace {

struct FakeIp4;
struct FakeMtftp4;
struct FakeHttp;

struct RxRecord {
    efi::Ip4ReceiveData rx{};
    efi::Ip4Header header{};
    std::vector<uint8_t> bytes;
    FakeNic* nic = nullptr;
    bool recycled = false;
};

struct PendingReply {
    uint64_t due_us;
    Ipv4 from;
    std::vector<uint8_t> message;
};

struct FakeIp4 {
    efi::Ip4 protocol{};  // first, so the protocol pointer is the instance's
    FakeNic* nic = nullptr;
    efi::Handle child = nullptr;
    bool configured = false;
    efi::Ip4CompletionToken* rx_token = nullptr;
    efi::Ip4CompletionToken* tx_token = nullptr;  // held (neighbour not resolved)
    std::vector<PendingReply> replies;
};

efi::BootServices* bs() { return SimFirmware::current()->system_table()->boot_services; }
uint64_t now() { return SimFirmware::current()->now_us(); }

std::string text(const Ipv4& a) {
    char s[20];
    std::snprintf(s, sizeof s, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return s;
}
Ipv4 from_efi(const efi::Ipv4Address& a) { return {a.addr[0], a.addr[1], a.addr[2], a.addr[3]}; }
efi::Ipv4Address to_efi(const Ipv4& a) { return {{a[0], a[1], a[2], a[3]}}; }

uint16_t checksum(const std::vector<uint8_t>& b) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < b.size(); i += 2) sum += b[i] << 8 | b[i + 1];
    if (b.size() & 1) sum += b.back() << 8;
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

}  // namespace

struct FakeNic::Impl {
    // Ip4Config2 and the service binding first; their pointers lead back here.
    efi::Ip4Config2 config{};
    FakeNic* owner = nullptr;
    struct Binding {
        efi::ServiceBinding protocol{};
        Impl* d = nullptr;
    } binding;
    struct Binding tftp_binding;
    struct Binding http_binding;
    std::vector<std::unique_ptr<FakeHttp>> http_children;
    std::vector<std::unique_ptr<FakeMtftp4>> tftp_children;
    struct Aip {
        efi::AdapterInformation protocol{};
        Impl* d = nullptr;
    } aip;
    efi::SimpleNetwork snp{};
    efi::SimpleNetworkMode snp_mode{};
    NicSetup setup;
    std::map<uint32_t, std::vector<efi::Event>> notify;
    efi::Event dhcp_timer = nullptr;
    efi::Event manual_timer = nullptr;
    Ipv4 pending_station{}, pending_mask{};
    std::vector<std::unique_ptr<FakeIp4>> children;
    std::vector<std::unique_ptr<RxRecord>> received;

    void signal(uint32_t type) {
        for (efi::Event e : notify[type]) bs()->signal_event(e);
    }
};

namespace {

FakeNic::Impl* impl_of_config(efi::Ip4Config2* self) { return reinterpret_cast<FakeNic::Impl*>(self); }
FakeNic::Impl* impl_of_binding(efi::ServiceBinding* self) {
    return reinterpret_cast<FakeNic::Impl::Binding*>(self)->d;
}
FakeNic::Impl* impl_of_aip(efi::AdapterInformation* self) { return reinterpret_cast<FakeNic::Impl::Aip*>(self)->d; }

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

Status give_addresses(const std::vector<Ipv4>& list, uint64_t* size, void* out) {
    if (list.empty()) return efi::kNotFound;
    std::vector<uint8_t> bytes;
    for (const Ipv4& a : list) bytes.insert(bytes.end(), a.begin(), a.end());
    return give(bytes.data(), bytes.size(), size, out);
}

Status EFIAPI config_get_data(efi::Ip4Config2* self, uint32_t type, uint64_t* size, void* data) {
    FakeNic::Impl* d = impl_of_config(self);
    FakeNic& nic = *d->owner;
    switch (type) {
    case efi::kIp4Config2InterfaceInfo: {
        if (d->setup.info_fails) return efi::kDeviceError;
        const uint64_t n = sizeof(efi::Ip4Config2InterfaceInfo) + nic.routes.size() * sizeof(efi::Ip4RouteTable);
        if (!size) return efi::kInvalidParameter;
        if (*size < n || !data) {
            *size = n;
            return efi::kBufferTooSmall;
        }
        *size = n;
        std::memset(data, 0, n);
        auto* info = static_cast<efi::Ip4Config2InterfaceInfo*>(data);
        for (size_t i = 0; i < d->setup.name.size() && i < 31; i++) info->name[i] = d->setup.name[i];
        info->if_type = 1;
        info->hw_address_size = static_cast<uint32_t>(d->setup.mac.size());
        std::memcpy(info->hw_address.addr, d->setup.mac.data(), d->setup.mac.size());
        info->station_address = to_efi(nic.station);
        info->subnet_mask = to_efi(nic.mask);
        info->route_table_size = static_cast<uint32_t>(nic.routes.size());
        auto* table = reinterpret_cast<efi::Ip4RouteTable*>(info + 1);
        info->route_table = nic.routes.empty() ? nullptr : table;
        for (size_t i = 0; i < nic.routes.size(); i++)
            table[i] = {to_efi(nic.routes[i][0]), to_efi(nic.routes[i][1]), to_efi(nic.routes[i][2])};
        return efi::kSuccess;
    }
    case efi::kIp4Config2Policy: return give(&nic.policy, 4, size, data);
    case efi::kIp4Config2ManualAddress: {
        if (nic.policy != 0) return efi::kNotFound;
        efi::Ip4Config2ManualAddress m{to_efi(nic.station), to_efi(nic.mask)};
        return give(&m, sizeof m, size, data);
    }
    case efi::kIp4Config2Gateway: return give_addresses(nic.gateways, size, data);
    case efi::kIp4Config2DnsServer: return give_addresses(nic.dns, size, data);
    }
    return efi::kInvalidParameter;
}

void EFIAPI dhcp_fires(efi::Event, void* context) {
    FakeNic::Impl* d = static_cast<FakeNic::Impl*>(context);
    FakeNic& nic = *d->owner;
    if (nic.policy != 1) return;
    nic.station = nic.dhcp_address;
    nic.mask = nic.dhcp_mask;
    nic.log.push_back("dhcp bound " + text(nic.station));
}

void EFIAPI manual_fires(efi::Event, void* context) {
    FakeNic::Impl* d = static_cast<FakeNic::Impl*>(context);
    d->owner->station = d->pending_station;
    d->owner->mask = d->pending_mask;
    d->owner->log.push_back("manual applied " + text(d->pending_station));
    d->signal(efi::kIp4Config2ManualAddress);
}

void start_dhcp(FakeNic::Impl* d) {
    FakeNic& nic = *d->owner;
    if (!nic.dhcp_answers) return;
    if (!d->dhcp_timer)
        bs()->create_event(efi::kEvtTimer | efi::kEvtNotifySignal, efi::kTplCallback, dhcp_fires, d, &d->dhcp_timer);
    bs()->set_timer(d->dhcp_timer, efi::kTimerRelative, nic.dhcp_delay_us * 10);
}

Status EFIAPI config_set_data(efi::Ip4Config2* self, uint32_t type, uint64_t size, void* data) {
    FakeNic::Impl* d = impl_of_config(self);
    FakeNic& nic = *d->owner;
    if (static_cast<int>(type) == nic.fail_set_type) return nic.fail_set_status;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    switch (type) {
    case efi::kIp4Config2Policy: {
        if (size != 4 || !data) return efi::kBadBufferSize;
        uint32_t policy;
        std::memcpy(&policy, data, 4);
        if (policy > 1) return efi::kInvalidParameter;
        nic.log.push_back("set policy " + std::string(policy ? "dhcp" : "static"));
        if (policy != nic.policy) {
            nic.policy = policy;
            nic.station = nic.mask = Ipv4{};
            nic.gateways.clear();
            nic.dns.clear();
            if (policy == 1) start_dhcp(d);
        }
        d->signal(type);
        return efi::kSuccess;
    }
    case efi::kIp4Config2ManualAddress: {
        if (nic.policy != 0) return efi::kWriteProtected;
        if (size != 8 || !data) return efi::kBadBufferSize;
        Ipv4 a{bytes[0], bytes[1], bytes[2], bytes[3]}, m{bytes[4], bytes[5], bytes[6], bytes[7]};
        nic.log.push_back("set manual " + text(a) + " " + text(m));
        if (!nic.manual_not_ready) {
            nic.station = a;
            nic.mask = m;
            d->signal(type);
            return efi::kSuccess;
        }
        d->pending_station = a;
        d->pending_mask = m;
        if (nic.manual_completes) {
            if (!d->manual_timer)
                bs()->create_event(efi::kEvtTimer | efi::kEvtNotifySignal, efi::kTplCallback, manual_fires, d,
                                   &d->manual_timer);
            bs()->set_timer(d->manual_timer, efi::kTimerRelative, nic.manual_delay_us * 10);
        }
        return efi::kNotReady;
    }
    case efi::kIp4Config2Gateway:
    case efi::kIp4Config2DnsServer: {
        if (type == efi::kIp4Config2Gateway && nic.policy != 0) return efi::kWriteProtected;
        if (size % 4 || (size && !data)) return efi::kBadBufferSize;
        std::vector<Ipv4>& list = type == efi::kIp4Config2Gateway ? nic.gateways : nic.dns;
        list.clear();
        std::string line = type == efi::kIp4Config2Gateway ? "set gateway" : "set dns";
        for (uint64_t i = 0; i < size; i += 4) {
            list.push_back({bytes[i], bytes[i + 1], bytes[i + 2], bytes[i + 3]});
            line += " " + text(list.back());
        }
        nic.log.push_back(line);
        d->signal(type);
        return efi::kSuccess;
    }
    }
    return efi::kInvalidParameter;
}

Status EFIAPI config_register(efi::Ip4Config2* self, uint32_t type, efi::Event event) {
    if (type > efi::kIp4Config2DnsServer || !event) return efi::kInvalidParameter;
    impl_of_config(self)->notify[type].push_back(event);
    return efi::kSuccess;
}

Status EFIAPI config_unregister(efi::Ip4Config2* self, uint32_t type, efi::Event event) {
    auto& list = impl_of_config(self)->notify[type];
    for (auto it = list.begin(); it != list.end(); ++it)
        if (*it == event) {
            list.erase(it);
            return efi::kSuccess;
        }
    return efi::kNotFound;
}

Status EFIAPI aip_get(efi::AdapterInformation* self, const efi::Guid* type, void** block, uint64_t* size) {
    FakeNic::Impl* d = impl_of_aip(self);
    if (!(*type == efi::kAdapterInfoMediaStateGuid)) return efi::kUnsupported;
    void* p = SimFirmware::current()->allocate_pool(sizeof(Status));
    if (!p) return efi::kOutOfResources;
    Status media = d->setup.media == NicSetup::Media::kPresent ? efi::kSuccess : efi::kNoMedia;
    std::memcpy(p, &media, sizeof media);
    *block = p;
    *size = sizeof media;
    return efi::kSuccess;
}

// ---- IP4 children

FakeIp4* ip4_of(efi::Ip4* self) { return reinterpret_cast<FakeIp4*>(self); }

Status EFIAPI ip4_configure(efi::Ip4* self, efi::Ip4ConfigData* config) {
    FakeIp4* ip = ip4_of(self);
    if (!config) {
        ip->configured = false;
        ip->nic->log.push_back("ip4 unconfigured");
        return efi::kSuccess;
    }
    if (ip->nic->configure_status) return ip->nic->configure_status;
    if (config->use_default_address && ip->nic->station == Ipv4{}) return efi::kNoMapping;
    char line[64];
    std::snprintf(line, sizeof line, "ip4 configured protocol %u default %u", config->default_protocol,
                  config->use_default_address);
    ip->nic->log.push_back(line);
    ip->configured = true;
    return efi::kSuccess;
}

void EFIAPI recycled(efi::Event e, void* context) {
    auto* r = static_cast<RxRecord*>(context);
    if (!r->recycled) r->nic->packets_recycled++;
    r->recycled = true;
    bs()->close_event(e);
}

void deliver(FakeIp4* ip, const Ipv4& from, const std::vector<uint8_t>& message) {
    FakeNic::Impl* d = ip->nic->impl.get();
    auto rec = std::make_unique<RxRecord>();
    rec->nic = ip->nic;
    rec->bytes = message;
    rec->header.version_length = 0x45;
    rec->header.time_to_live = ip->nic->reply_ttl;
    rec->header.protocol = 1;
    rec->header.source = to_efi(from);
    rec->header.destination = to_efi(ip->nic->station);
    rec->rx.header_length = 20;
    rec->rx.header = &rec->header;
    rec->rx.data_length = static_cast<uint32_t>(message.size());
    rec->rx.fragment_count = 1;
    rec->rx.fragments[0].length = static_cast<uint32_t>(message.size());
    rec->rx.fragments[0].buffer = rec->bytes.data();
    bs()->create_event(efi::kEvtNotifySignal, efi::kTplCallback, recycled, rec.get(), &rec->rx.recycle_signal);
    efi::Ip4CompletionToken* token = ip->rx_token;
    ip->rx_token = nullptr;
    token->status = efi::kSuccess;
    token->packet.rx = &rec->rx;
    ip->nic->packets_delivered++;
    d->received.push_back(std::move(rec));
    bs()->signal_event(token->event);
}

Status EFIAPI ip4_poll(efi::Ip4* self) {
    FakeIp4* ip = ip4_of(self);
    while (ip->rx_token && !ip->replies.empty() && ip->replies.front().due_us <= now()) {
        PendingReply r = ip->replies.front();
        ip->replies.erase(ip->replies.begin());
        deliver(ip, r.from, r.message);
    }
    return efi::kSuccess;
}

Status EFIAPI ip4_transmit(efi::Ip4* self, efi::Ip4CompletionToken* token) {
    FakeIp4* ip = ip4_of(self);
    FakeNic& nic = *ip->nic;
    if (!ip->configured) return efi::kNotStarted;
    if (!token || !token->event || !token->packet.tx) return efi::kInvalidParameter;
    if (nic.transmit_status) return nic.transmit_status;
    const efi::Ip4TransmitData* tx = token->packet.tx;
    std::vector<uint8_t> message;
    for (uint32_t i = 0; i < tx->fragment_count; i++) {
        const uint8_t* p = static_cast<const uint8_t*>(tx->fragments[i].buffer);
        message.insert(message.end(), p, p + tx->fragments[i].length);
    }
    Ipv4 to = from_efi(tx->destination);
    nic.sent.push_back(message);
    nic.sent_to.push_back(to);
    for (const Ipv4& u : nic.unresolved)
        if (u == to) {
            ip->tx_token = token;
            return efi::kSuccess;
        }
    auto it = nic.responders.find(to);
    if (it != nic.responders.end() && message.size() >= 8 && message[0] == 8) {
        if (nic.stray_before_reply) {
            std::vector<uint8_t> stray = message;
            stray[0] = 0;
            stray[7] ^= 0x55;  // another sequence
            ip->replies.push_back({now(), to, stray});
        }
        std::vector<uint8_t> reply = message;
        reply[0] = 0;
        reply[2] = reply[3] = 0;
        uint16_t c = checksum(reply);
        reply[2] = static_cast<uint8_t>(c >> 8);
        reply[3] = static_cast<uint8_t>(c);
        ip->replies.push_back({now() + it->second, to, reply});
    }
    token->status = nic.transmit_completion;
    bs()->signal_event(token->event);
    return efi::kSuccess;
}

Status EFIAPI ip4_receive(efi::Ip4* self, efi::Ip4CompletionToken* token) {
    FakeIp4* ip = ip4_of(self);
    if (!ip->configured) return efi::kNotStarted;
    if (!token || !token->event) return efi::kInvalidParameter;
    if (ip->rx_token) return efi::kAccessDenied;
    ip->rx_token = token;
    return efi::kSuccess;
}

Status EFIAPI ip4_cancel(efi::Ip4* self, efi::Ip4CompletionToken* token) {
    FakeIp4* ip = ip4_of(self);
    for (efi::Ip4CompletionToken** slot : {&ip->rx_token, &ip->tx_token})
        if (*slot && (!token || *slot == token)) {
            efi::Ip4CompletionToken* t = *slot;
            *slot = nullptr;
            t->status = efi::kAborted;
            bs()->signal_event(t->event);
            if (token) return efi::kSuccess;
        }
    return token ? efi::kNotFound : efi::kSuccess;
}

Status EFIAPI sb_create(efi::ServiceBinding* self, efi::Handle* child) {
    FakeNic::Impl* d = impl_of_binding(self);
    if (d->owner->create_child_status) return d->owner->create_child_status;
    auto ip = std::make_unique<FakeIp4>();
    ip->nic = d->owner;
    ip->protocol.configure = ip4_configure;
    ip->protocol.transmit = ip4_transmit;
    ip->protocol.receive = ip4_receive;
    ip->protocol.cancel = ip4_cancel;
    ip->protocol.poll = ip4_poll;
    return add_child(d->children, std::move(ip), efi::kIp4ProtocolGuid, child, &d->owner->children_created);
}

Status EFIAPI sb_destroy(efi::ServiceBinding* self, efi::Handle child) {
    FakeNic::Impl* d = impl_of_binding(self);
    // Tokens still held are aborted.
    return remove_child(d->children, child, efi::kIp4ProtocolGuid, &d->owner->children_destroyed,
                        [](FakeIp4* ip) { ip4_cancel(&ip->protocol, nullptr); });
}

// ---- MTFTP4 children

struct FakeMtftp4 {
    efi::Mtftp4 protocol{};  // first, so the protocol pointer is the instance's
    FakeNic* nic = nullptr;
    efi::Handle child = nullptr;
    bool configured = false;
    efi::Mtftp4Token* pending = nullptr;
    uint64_t due_us = 0;
    Status result = 0;
};

FakeMtftp4* tftp_of(efi::Mtftp4* self) { return reinterpret_cast<FakeMtftp4*>(self); }

Status EFIAPI tftp_configure(efi::Mtftp4* self, efi::Mtftp4ConfigData* config) {
    FakeMtftp4* t = tftp_of(self);
    if (!config) {
        mtftp::abort_pending(t);
        return efi::kSuccess;
    }
    if (t->nic->tftp_configure_status) return t->nic->tftp_configure_status;
    char line[96];
    std::snprintf(line, sizeof line, "configure server %s port %u tries %u timeout %u local %u",
                  text(from_efi(config->server_ip)).c_str(), config->initial_server_port, config->try_count,
                  config->timeout_value, config->local_port);
    t->nic->tftp_requests.push_back(line);
    t->configured = true;
    return efi::kSuccess;
}

Status EFIAPI tftp_get_info(efi::Mtftp4* self, void*, const uint8_t* filename, const uint8_t* mode,
                            uint8_t count, efi::Mtftp4Option* options, uint32_t* length, void** packet) {
    FakeMtftp4* t = tftp_of(self);
    if (!t->configured) return efi::kNotStarted;
    return mtftp::get_info(*t->nic, filename, mode, count, options, length, packet);
}

Status EFIAPI tftp_parse_options(efi::Mtftp4*, uint32_t length, void* packet, uint32_t* count,
                                 efi::Mtftp4Option** options) {
    return mtftp::parse_options(length, packet, count, options);
}

Status EFIAPI tftp_read_file(efi::Mtftp4* self, efi::Mtftp4Token* token) {
    return mtftp::read_file(tftp_of(self), token);
}

Status EFIAPI tftp_poll(efi::Mtftp4* self) { return mtftp::poll(tftp_of(self)); }

// ---- HTTP children

struct FakeHttp {
    efi::Http protocol{};  // first, so the protocol pointer is the instance's
    FakeNic* nic = nullptr;
    efi::Handle child = nullptr;
    bool configured = false;
    const HttpReply* reply = nullptr;
    HttpReply not_found;
    size_t offset = 0;
    efi::HttpToken* pending = nullptr;
};

FakeHttp* http_of(efi::Http* self) { return reinterpret_cast<FakeHttp*>(self); }

char* pool_string(const std::string& text) {
    char* p = static_cast<char*>(SimFirmware::current()->allocate_pool(text.size() + 1));
    if (p) std::memcpy(p, text.c_str(), text.size() + 1);
    return p;
}

Status EFIAPI http_configure(efi::Http* self, efi::HttpConfigData* config) {
    FakeHttp* h = http_of(self);
    if (!config) {
        h->configured = false;
        return efi::kSuccess;
    }
    if (h->nic->http_configure_status) return h->nic->http_configure_status;
    h->nic->http_ipv6 = config->local_address_is_ipv6;
    h->configured = true;
    return efi::kSuccess;
}

Status EFIAPI http_request(efi::Http* self, efi::HttpToken* token) {
    FakeHttp* h = http_of(self);
    FakeNic& nic = *h->nic;
    if (!h->configured) return efi::kNotStarted;
    if (!token || !token->message || !token->message->data.request) return efi::kInvalidParameter;
    std::string url;
    for (const char16_t* p = token->message->data.request->url; p && *p; p++) url += static_cast<char>(*p);
    std::string line = "GET " + url;
    for (uint64_t i = 0; i < token->message->header_count; i++)
        line += std::string("|") + token->message->headers[i].name + ": " + token->message->headers[i].value;
    nic.http_requests.push_back(line);
    if (nic.http_request_status) return nic.http_request_status;
    auto it = nic.http_pages.find(url);
    h->not_found = HttpReply{21, {{"Content-Length", "9"}}, "not found"};
    h->reply = it != nic.http_pages.end() ? &it->second : &h->not_found;
    h->offset = 0;
    token->status = efi::kSuccess;
    bs()->signal_event(token->event);
    return efi::kSuccess;
}

Status EFIAPI http_response(efi::Http* self, efi::HttpToken* token) {
    FakeHttp* h = http_of(self);
    FakeNic& nic = *h->nic;
    if (!h->configured || !h->reply) return efi::kNotStarted;
    if (!token || !token->message) return efi::kInvalidParameter;
    if (nic.http_silent || (!token->message->data.response && h->offset >= h->reply->stall_after)) {
        h->pending = token;
        return efi::kSuccess;
    }
    efi::HttpMessage* m = token->message;
    const HttpReply& r = *h->reply;
    if (m->data.response) {
        m->data.response->status_code = r.status;
        m->header_count = r.headers.size();
        m->headers = nullptr;
        if (!r.headers.empty()) {
            m->headers = static_cast<efi::HttpHeader*>(
                SimFirmware::current()->allocate_pool(r.headers.size() * sizeof(efi::HttpHeader)));
            for (size_t i = 0; i < r.headers.size(); i++)
                m->headers[i] = {pool_string(r.headers[i].first), pool_string(r.headers[i].second)};
        }
    }
    size_t limit = std::min(r.body.size(), r.close_after);
    size_t n = std::min({nic.http_chunk, static_cast<size_t>(m->body_length), limit - h->offset});
    if (!m->data.response && h->offset >= limit) {
        m->body_length = 0;
        token->status = efi::make_error(104);  // the connection is gone (connection finished)
    } else {
        if (n && m->body) std::memcpy(m->body, r.body.data() + h->offset, n);
        h->offset += n;
        m->body_length = n;
        token->status = m->data.response && r.response_status ? r.response_status : efi::kSuccess;
    }
    bs()->signal_event(token->event);
    return efi::kSuccess;
}

Status EFIAPI http_cancel(efi::Http* self, efi::HttpToken* token) {
    FakeHttp* h = http_of(self);
    if (!h->pending || (token && token != h->pending)) return efi::kNotFound;
    efi::HttpToken* t = h->pending;
    h->pending = nullptr;
    t->status = efi::kAborted;
    bs()->signal_event(t->event);
    return efi::kSuccess;
}

Status EFIAPI http_poll(efi::Http*) { return efi::kSuccess; }

struct Nics {
    std::vector<std::unique_ptr<FakeNic>> list;
};

}  // namespace

namespace {

Status EFIAPI tftp_sb_create(efi::ServiceBinding* self, efi::Handle* child) {
    FakeNic::Impl* d = impl_of_binding(self);
    auto t = std::make_unique<FakeMtftp4>();
    t->nic = d->owner;
    t->protocol.configure = tftp_configure;
    t->protocol.get_info = tftp_get_info;
    t->protocol.parse_options = tftp_parse_options;
    t->protocol.read_file = tftp_read_file;
    t->protocol.poll = tftp_poll;
    return add_child(d->tftp_children, std::move(t), efi::kMtftp4ProtocolGuid, child,
                     &d->owner->tftp_children_created);
}

Status EFIAPI tftp_sb_destroy(efi::ServiceBinding* self, efi::Handle child) {
    FakeNic::Impl* d = impl_of_binding(self);
    return remove_child(d->tftp_children, child, efi::kMtftp4ProtocolGuid, &d->owner->tftp_children_destroyed,
                        [](FakeMtftp4* t) { tftp_configure(&t->protocol, nullptr); });
}

Status EFIAPI http_sb_create(efi::ServiceBinding* self, efi::Handle* child) {
    FakeNic::Impl* d = impl_of_binding(self);
    auto t = std::make_unique<FakeHttp>();
    t->nic = d->owner;
    t->protocol.configure = http_configure;
    t->protocol.request = http_request;
    t->protocol.response = http_response;
    t->protocol.cancel = http_cancel;
    t->protocol.poll = http_poll;
    return add_child(d->http_children, std::move(t), efi::kHttpProtocolGuid, child,
                     &d->owner->http_children_created);
}

Status EFIAPI http_sb_destroy(efi::ServiceBinding* self, efi::Handle child) {
    FakeNic::Impl* d = impl_of_binding(self);
    return remove_child(d->http_children, child, efi::kHttpProtocolGuid, &d->owner->http_children_destroyed,
                        [](FakeHttp* t) { http_cancel(&t->protocol, nullptr); });
}

}  // namespace

FakeNic::FakeNic() : impl(new Impl) {}
FakeNic::~FakeNic() = default;

size_t FakeNic::notify_registrations() const {
    size_t n = 0;
    for (auto& [type, list] : impl->notify) n += list.size();
    return n;
}

FakeNic& add_nic(SimFirmware& fw, const NicSetup& setup) {
    auto nic = std::make_unique<FakeNic>();
    FakeNic::Impl* d = nic->impl.get();
    d->owner = nic.get();
    d->setup = setup;
    d->config = {config_set_data, config_get_data, config_register, config_unregister};
    d->binding.protocol = {sb_create, sb_destroy};
    d->binding.d = d;
    d->aip.d = d;
    d->tftp_binding.protocol = {tftp_sb_create, tftp_sb_destroy};
    d->tftp_binding.d = d;
    d->http_binding.protocol = {http_sb_create, http_sb_destroy};
    d->http_binding.d = d;
    efi::Handle h = fw.handles().install_new(efi::kIp4Config2ProtocolGuid, &d->config);
    nic->handle = h;
    if (setup.ip4_service) fw.handles().install(&h, efi::kIp4ServiceBindingProtocolGuid, &d->binding);
    if (setup.mtftp4_service)
        fw.handles().install(&h, efi::kMtftp4ServiceBindingProtocolGuid, &d->tftp_binding.protocol);
    if (setup.http_service)
        fw.handles().install(&h, efi::kHttpServiceBindingProtocolGuid, &d->http_binding.protocol);
    if (setup.media != NicSetup::Media::kNone) {
        d->aip.protocol.get_information = aip_get;
        fw.handles().install(&h, efi::kAdapterInformationProtocolGuid, &d->aip.protocol);
    }
    FakeNic& ref = *nic;
    fw.module_state<Nics>().list.push_back(std::move(nic));
    return ref;
}

}  // namespace sim

// ping and ping6: ICMP echo requests to an IPv4 address through a child of the firmware's
// IP4 service binding, or ICMPv6 echo requests through an IP6 child; the replies, their
// round trips and a summary.
#include "net/icmp.h"
#include "net/net_access.h"
#include "net/net_commands.h"
#include "net/net_text.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int ping_command(int count, char** vector);
int ping6_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"ping", ping_command, "ping [-n COUNT] [-l SIZE] [-i IF] ADDRESS", "Send ICMP echo requests",
     "  -n COUNT   requests to send, 1 to 10000 (default 10)\n"
     "  -l SIZE    data bytes in each, 0 to 1400 (default 16)\n"
     "  -i IF      the interface to send on (default: the first)\n"
     "  One request a second; each waits up to a second for its reply. Ctrl-C stops the\n"
     "  series. Exit code 1 when no reply came. An address that is not dotted IPv4 is\n"
     "  pinged over IPv6, as ping6 does.\n",
     0},
    {"ping6", ping6_command, "ping6 [-n COUNT] [-l SIZE] [-s SOURCE] [-i IF] ADDRESS", "Send ICMPv6 echo requests",
     "  -n COUNT   requests to send, 1 to 10000 (default 10)\n"
     "  -l SIZE    data bytes in each, 0 to 1400 (default 16)\n"
     "  -s SOURCE  the address to send from (default: an address of the interface that\n"
     "             can reach ADDRESS, link-local for a link-local target)\n"
     "  -i IF      the interface to send on (default: the first)\n"
     "  One request a second; each waits up to a second for its reply. Ctrl-C stops the\n"
     "  series. Exit code 1 when no reply came.\n",
     0},
};

struct PingOptions {
    const char* count = nullptr;
    const char* size = nullptr;
    const char* interface = nullptr;
    bool ip6 = false;
};

constexpr Option<PingOptions> kOptions[] = {
    value_option("n", &PingOptions::count),
    value_option("l", &PingOptions::size),
    value_option("i", &PingOptions::interface),
    switch_option("_ip6", &PingOptions::ip6),
};

struct Ping6Options {
    const char* count = nullptr;
    const char* size = nullptr;
    const char* source = nullptr;
    const char* interface = nullptr;
};

constexpr Option<Ping6Options> kOptions6[] = {
    value_option("n", &Ping6Options::count),
    value_option("l", &Ping6Options::size),
    value_option("s", &Ping6Options::source),
    value_option("i", &Ping6Options::interface),
};

constexpr uint16_t kIdentifier = 0x5441;
constexpr uint64_t kReplyWaitMs = 1000;
constexpr uint64_t kIntervalMs = 1000;
constexpr uint64_t kAddressWaitMs = 5000;
constexpr uint64_t kMaxData = 1400;
constexpr uint64_t kMaxMessage = kIcmpHeaderSize + kMaxData;

bool parse_count(const char* text, int64_t low, int64_t high, int64_t* out) {
    int64_t v = 0;
    if (!parse_integer_in_range(text, &v) || v < low || v > high) return false;
    *out = v;
    return true;
}

// What differs between the IPv4 and the IPv6 path: the protocols, their structures and
// the fields of the received header.
struct Icmp4 {
    using Ip = efi::Ip4;
    using Token = efi::Ip4CompletionToken;
    using TransmitData = efi::Ip4TransmitData;
    using ReceiveData = efi::Ip4ReceiveData;
    using Address = efi::Ipv4Address;
    static constexpr bool kV6 = false;
    static const efi::Guid& binding() { return efi::kIp4ServiceBindingProtocolGuid; }
    static const efi::Guid& protocol() { return efi::kIp4ProtocolGuid; }
    static efi::Status configure(Ip* ip, const Address*) {
        efi::Ip4ConfigData c{};
        c.default_protocol = kIpProtocolIcmp;
        c.accept_icmp_errors = 1;
        c.use_default_address = 1;
        c.time_to_live = 64;
        return ip->configure(ip, &c);
    }
    static void fill(TransmitData* tx, const Address& to, uint32_t length) {
        tx->destination = to;
        tx->total_data_length = length;
    }
    static uint8_t limit(const ReceiveData& rx) { return rx.header ? rx.header->time_to_live : 0; }
    static void source(const ReceiveData& rx, Address* from) {
        if (rx.header) *from = rx.header->source;
    }
};

struct Icmp6 {
    using Ip = efi::Ip6;
    using Token = efi::Ip6CompletionToken;
    using TransmitData = efi::Ip6TransmitData;
    using ReceiveData = efi::Ip6ReceiveData;
    using Address = efi::Ipv6Address;
    static constexpr bool kV6 = true;
    static const efi::Guid& binding() { return efi::kIp6ServiceBindingProtocolGuid; }
    static const efi::Guid& protocol() { return efi::kIp6ProtocolGuid; }
    // The station address is the source the checksum was computed for, so that the
    // driver sends from exactly that address.
    static efi::Status configure(Ip* ip, const Address* station) {
        efi::Ip6ConfigData c{};
        c.default_protocol = kIpProtocolIcmp6;
        c.accept_icmp_errors = 1;
        c.hop_limit = 64;
        if (station) c.station_address = *station;
        return ip->configure(ip, &c);
    }
    static void fill(TransmitData* tx, const Address& to, uint32_t length) {
        tx->destination = to;
        tx->next_header = kIpProtocolIcmp6;
        tx->data_length = length;
    }
    static uint8_t limit(const ReceiveData& rx) { return rx.header ? rx.header->hop_limit : 0; }
    static void source(const ReceiveData& rx, Address* from) {
        if (rx.header) *from = rx.header->source;
    }
};

// An IP child configured for ICMP (or ICMPv6), with one receive outstanding at a time.
template <class V> class IcmpSession {
public:
    explicit IcmpSession(efi::Handle nic) : child_(nic, V::binding(), V::protocol()) {
        ip_ = static_cast<typename V::Ip*>(child_.protocol());
    }
    IcmpSession(const IcmpSession&) = delete;
    IcmpSession& operator=(const IcmpSession&) = delete;
    ~IcmpSession() {
        if (rx_posted_) ip_->cancel(ip_, &rx_token_);
        end_send();
        if (configured_) ip_->configure(ip_, nullptr);
    }
    efi::Status create_status() const {
        if (child_.status() != efi::kSuccess) return child_.status();
        return tx_done_.event() && rx_done_.event() ? efi::kSuccess : efi::kOutOfResources;
    }
    efi::Status configure(const typename V::Address* station) {
        efi::Status st = V::configure(ip_, station);
        configured_ = st == efi::kSuccess;
        return st;
    }
    // Starts the transmission of one message (which must stay valid until end_send).
    efi::Status send(const typename V::Address& to, uint8_t* message, uint64_t length) {
        tx_ = typename V::TransmitData{};
        V::fill(&tx_, to, static_cast<uint32_t>(length));
        tx_.fragment_count = 1;
        tx_.fragments[0].length = static_cast<uint32_t>(length);
        tx_.fragments[0].buffer = message;
        tx_token_ = typename V::Token{};
        tx_token_.event = tx_done_.event();
        tx_token_.packet.tx = &tx_;
        tx_done_.clear();
        efi::Status st = ip_->transmit(ip_, &tx_token_);
        tx_pending_ = st == efi::kSuccess;
        return st;
    }
    // The driver's verdict on the transmission: kNotReady while it still holds the
    // message (a neighbour not yet resolved), else the token's status (once).
    efi::Status send_status() {
        if (!tx_pending_) return efi::kSuccess;
        if (!tx_done_.signaled()) return efi::kNotReady;
        tx_pending_ = false;
        return tx_token_.status;
    }
    // Takes back a message the driver still holds.
    void end_send() {
        if (tx_pending_ && !tx_done_.signaled()) ip_->cancel(ip_, &tx_token_);
        tx_pending_ = false;
    }
    // Keeps a receive posted; false when the driver refuses one.
    bool post_receive() {
        if (rx_posted_) return true;
        rx_token_ = typename V::Token{};
        rx_token_.event = rx_done_.event();
        rx_done_.clear();
        rx_posted_ = ip_->receive(ip_, &rx_token_) == efi::kSuccess;
        return rx_posted_;
    }
    // When a packet has arrived: copies its data (at most capacity bytes) and the header
    // fields (time to live or hop limit, source), gives the packet back to the driver and
    // returns true.
    bool take_packet(uint8_t* out, uint64_t capacity, uint64_t* length, uint8_t* limit, typename V::Address* from) {
        ip_->poll(ip_);
        if (!rx_posted_ || !rx_done_.signaled()) return false;
        rx_posted_ = false;
        typename V::ReceiveData* rx = rx_token_.packet.rx;
        if (rx_token_.status != efi::kSuccess || !rx) return false;
        uint64_t n = 0;
        for (uint32_t i = 0; i < rx->fragment_count && i < 64; i++) {
            const efi::FragmentData& f = rx->fragments[i];
            uint64_t take = min_of<uint64_t>(f.length, capacity - n);
            if (f.buffer && take) memcpy(out + n, f.buffer, take);
            n += take;
        }
        *length = min_of<uint64_t>(n, rx->data_length);
        *limit = V::limit(*rx);
        V::source(*rx, from);
        if (rx->recycle_signal) boot_services()->signal_event(rx->recycle_signal);
        return true;
    }

private:
    ServiceChild child_;
    typename V::Ip* ip_ = nullptr;
    FlagEvent tx_done_, rx_done_;
    typename V::Token rx_token_{};
    typename V::Token tx_token_{};
    typename V::TransmitData tx_{};
    bool rx_posted_ = false;
    bool tx_pending_ = false;
    bool configured_ = false;
};

void print_summary(const PingSummary& s) {
    uint64_t percent = 0;
    if (ping_loss_percent(s, &percent))
        out_printf("\n%d packets transmitted, %d received, %d%% packet loss\n", static_cast<int>(s.sent),
                   static_cast<int>(s.received), static_cast<int>(percent));
    else
        out_printf("\n%d packets transmitted, %d received\n", static_cast<int>(s.sent), static_cast<int>(s.received));
    if (s.received)
        out_printf("Rtt(round trip time) min=%llums max=%llums avg=%llums\n",
                   static_cast<unsigned long long>(s.rtt_min), static_cast<unsigned long long>(s.rtt_max),
                   static_cast<unsigned long long>(ping_rtt_average(s)));
}

enum class Turn { kNext, kStop };

bool is_zero(const efi::Ipv4Address& a) { return !(a.addr[0] | a.addr[1] | a.addr[2] | a.addr[3]); }
bool is_zero(const efi::Ipv6Address& a) {
    for (uint8_t b : a.addr)
        if (b) return false;
    return true;
}
void address_text(const efi::Ipv4Address& a, char* out, uint64_t size) { format_ipv4(a, out, size); }
void address_text(const efi::Ipv6Address& a, char* out, uint64_t size) { format_ipv6(a, out, size); }

// How one series reports: the command's name (for failures) and the label of the
// received header's hop count.
struct SeriesText {
    const char* command;
    const char* limit_label;  // "ttl" or "hop_limit"
    const char* target;
};

// Waits out one sequence: the reply until kReplyWaitMs, then the rest of the interval.
// kStop when Ctrl-C or a failed transmission ends the series.
template <class V>
Turn await_reply(IcmpSession<V>& session, uint16_t sequence, uint64_t sent_at, PingSummary* summary,
                 const SeriesText& text) {
    bool answered = false;
    uint8_t packet[kMaxMessage + 64];
    for (;;) {
        efi::Status sent = session.send_status();
        if (sent != efi::kSuccess && sent != efi::kNotReady) {
            print_error("%s: send failed: %s\n", text.command, status_message(sent));
            return Turn::kStop;
        }
        uint64_t elapsed = milliseconds() - sent_at;
        if (!answered && elapsed >= kReplyWaitMs) {
            out_printf("Echo request sequence %lld timeout.\n", static_cast<long long>(sequence));
            answered = true;
        }
        if (elapsed >= kIntervalMs) {
            session.end_send();
            return Turn::kNext;
        }
        session.post_receive();
        uint64_t n = 0;
        uint8_t limit = 0;
        typename V::Address from{};
        if (session.take_packet(packet, sizeof packet, &n, &limit, &from)) {
            if (!answered && is_echo_reply(packet, n, V::kV6, kIdentifier, sequence)) {
                uint64_t rtt = milliseconds() - sent_at;
                ping_count_reply(summary, rtt);
                char source[kIpv6TextSize];
                if (!is_zero(from)) address_text(from, source, sizeof source);
                else format_into(source, sizeof source, "%s", text.target);
                out_printf("%u bytes from %s : icmp_seq=%lld %s=%u time=%llums\n", static_cast<unsigned>(n), source,
                           static_cast<long long>(sequence), text.limit_label, limit,
                           static_cast<unsigned long long>(rtt));
                answered = true;
            }
            continue;
        }
        if (!sleep_interruptible(1)) return Turn::kStop;
    }
}

// The series of requests; the summary; the exit code.
template <class V, class Build>
int run_series(IcmpSession<V>& session, const typename V::Address& target, int64_t count, const SeriesText& text,
               Build build) {
    PingSummary summary;
    uint8_t message[kMaxMessage];
    for (int64_t seq = 0; seq < count; seq++) {
        if (poll_break()) break;
        uint64_t n = build(message, sizeof message, static_cast<uint16_t>(seq));
        session.post_receive();
        uint64_t sent_at = milliseconds();
        efi::Status st = session.send(target, message, n);
        if (st != efi::kSuccess) {
            print_error("%s: send failed: %s\n", text.command, status_message(st));
            break;
        }
        summary.sent++;
        if (await_reply(session, static_cast<uint16_t>(seq), sent_at, &summary, text) == Turn::kStop) break;
    }
    print_summary(summary);
    return summary.received ? kExitSuccess : kExitFailure;
}

int ping4(const efi::Ipv4Address& target, const char* target_text, int64_t count, int64_t size,
          const char* interface) {
    Ip4InterfaceList list;
    NetInterface* e = select_ipv4_interface(list, "ping", interface);
    if (!e) return kExitFailure;
    WaitResult w = wait_for_ipv4_address(e->config, kAddressWaitMs);
    if (w == WaitResult::kInterrupted) return kExitInterrupted;
    if (w != WaitResult::kReady) return report_error("ping", "%s has no IPv4 address (ifconfig -s %s dhcp)", e->name, e->name);
    IcmpSession<Icmp4> session(e->handle);
    efi::Status st = session.create_status();
    if (st != efi::kSuccess) return report_error("ping", "cannot create an IP4 instance: %s", status_message(st));
    st = session.configure(nullptr);
    if (st != efi::kSuccess) return report_error("ping", "cannot configure IP4: %s", status_message(st));

    out_printf("Ping %s %lld data bytes.\n", target_text, static_cast<long long>(size));
    const SeriesText text{"ping", "ttl", target_text};
    return run_series(session, target, count, text, [&](uint8_t* out, uint64_t capacity, uint16_t seq) {
        return build_icmp_echo(out, capacity, kIdentifier, seq, static_cast<uint64_t>(size));
    });
}

// The IPv6 path, for ping6 and for ping given an IPv6 address: command names the
// messages; source_text is -s SOURCE, or null to choose an address of the target's scope.
int ping6(const char* command, const efi::Ipv6Address& target, const char* target_text, int64_t count,
          int64_t size, const char* source_text, const char* interface) {
    Ip6InterfaceList list;
    Net6Interface* e = select_ipv6_interface(list, command, interface);
    if (!e) return kExitFailure;
    efi::Ipv6Address source{};
    if (source_text) {
        if (!parse_ipv6(source_text, &source)) return report_error(command, "%s is not an IPv6 address", source_text);
    } else {
        WaitResult w = wait_for_ipv6_source(e->config, target, kAddressWaitMs, &source);
        if (w == WaitResult::kInterrupted) return kExitInterrupted;
        if (w != WaitResult::kReady) {
            print_error("%s: %s has no IPv6 address that can reach %s (ifconfig6 -s %s auto)\n", command, e->name,
                        target_text, e->name);
            return kExitFailure;
        }
    }
    IcmpSession<Icmp6> session(e->handle);
    efi::Status st = session.create_status();
    if (st != efi::kSuccess) return report_error(command, "cannot create an IP6 instance: %s", status_message(st));
    st = session.configure(&source);
    if (st != efi::kSuccess) return report_error(command, "cannot configure IP6: %s", status_message(st));

    char from[kIpv6TextSize];
    format_ipv6(source, from, sizeof from);
    out_printf("Ping %s %lld data bytes (from %s).\n", target_text, static_cast<long long>(size), from);
    const SeriesText text{command, "hop_limit", target_text};
    return run_series(session, target, count, text, [&](uint8_t* out, uint64_t capacity, uint16_t seq) {
        return build_icmp6_echo(out, capacity, source, target, kIdentifier, seq, static_cast<uint64_t>(size));
    });
}

int ping_command(int count, char** vector) {
    PingOptions o;
    int first = parse_options(count, vector, kOptions, 0, &o);
    if (first < 0) return kExitUsage;
    int64_t n = 10, size = 16;
    if (count - first != 1 || (o.count && !parse_count(o.count, 1, 10000, &n)) ||
        (o.size && !parse_count(o.size, 0, static_cast<int64_t>(kMaxData), &size)))
        return report_usage("ping");
    const char* address = vector[first];
    efi::Ipv4Address v4;
    efi::Ipv6Address v6;
    if (!o.ip6 && parse_ipv4(address, &v4)) return ping4(v4, address, n, size, o.interface);
    if (parse_ipv6(address, &v6)) return ping6("ping", v6, address, n, size, nullptr, o.interface);
    if (o.ip6) return report_error("ping", "%s is not an IPv6 address", address);
    return report_error("ping", "%s is not an IP address", address);
}

int ping6_command(int count, char** vector) {
    Ping6Options o;
    int first = parse_options(count, vector, kOptions6, 0, &o);
    if (first < 0) return kExitUsage;
    int64_t n = 10, size = 16;
    if (count - first != 1 || (o.count && !parse_count(o.count, 1, 10000, &n)) ||
        (o.size && !parse_count(o.size, 0, static_cast<int64_t>(kMaxData), &size)))
        return report_usage("ping6");
    const char* address = vector[first];
    efi::Ipv6Address v6;
    if (!parse_ipv6(address, &v6)) return report_error("ping6", "%s is not an IPv6 address", address);
    return ping6("ping6", v6, address, n, size, o.source, o.interface);
}

}  // namespace

void register_ping_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

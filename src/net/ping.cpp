// ping: ICMP echo requests to an IPv4 address through a child of the firmware's IP4
// service binding; the replies, their round trips and a summary.
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

constexpr CommandDescriptor kCommands[] = {
    {"ping", ping_command, "ping [-n COUNT] [-l SIZE] [-i IF] ADDRESS", "Send ICMP echo requests",
     "  -n COUNT   requests to send, 1 to 10000 (default 10)\n"
     "  -l SIZE    data bytes in each, 0 to 1400 (default 16)\n"
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

// An IP4 child configured for ICMP, with one receive outstanding at a time.
class IcmpSession {
public:
    explicit IcmpSession(efi::Handle nic) : child_(nic, efi::kIp4ServiceBindingProtocolGuid, efi::kIp4ProtocolGuid) {
        ip4_ = static_cast<efi::Ip4*>(child_.protocol());
    }
    IcmpSession(const IcmpSession&) = delete;
    IcmpSession& operator=(const IcmpSession&) = delete;
    ~IcmpSession() {
        if (rx_posted_) ip4_->cancel(ip4_, &rx_token_);
        end_send();
        if (configured_) ip4_->configure(ip4_, nullptr);
    }
    efi::Status create_status() const {
        if (child_.status() != efi::kSuccess) return child_.status();
        return tx_done_.event() && rx_done_.event() ? efi::kSuccess : efi::kOutOfResources;
    }
    efi::Status configure() {
        efi::Ip4ConfigData c{};
        c.default_protocol = kIpProtocolIcmp;
        c.accept_icmp_errors = 1;
        c.use_default_address = 1;
        c.time_to_live = 64;
        efi::Status st = ip4_->configure(ip4_, &c);
        configured_ = st == efi::kSuccess;
        return st;
    }
    // Starts the transmission of one message (which must stay valid until end_send).
    efi::Status send(const efi::Ipv4Address& to, uint8_t* message, uint64_t length) {
        tx_ = efi::Ip4TransmitData{};
        tx_.destination = to;
        tx_.total_data_length = static_cast<uint32_t>(length);
        tx_.fragment_count = 1;
        tx_.fragments[0].length = static_cast<uint32_t>(length);
        tx_.fragments[0].buffer = message;
        tx_token_ = efi::Ip4CompletionToken{};
        tx_token_.event = tx_done_.event();
        tx_token_.packet.tx = &tx_;
        tx_done_.clear();
        efi::Status st = ip4_->transmit(ip4_, &tx_token_);
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
        if (tx_pending_ && !tx_done_.signaled()) ip4_->cancel(ip4_, &tx_token_);
        tx_pending_ = false;
    }
    // Keeps a receive posted; false when the driver refuses one.
    bool post_receive() {
        if (rx_posted_) return true;
        rx_token_ = efi::Ip4CompletionToken{};
        rx_token_.event = rx_done_.event();
        rx_done_.clear();
        rx_posted_ = ip4_->receive(ip4_, &rx_token_) == efi::kSuccess;
        return rx_posted_;
    }
    // When a packet has arrived: copies its data (at most capacity bytes) and the header
    // fields, gives the packet back to the driver and returns true.
    bool take_packet(uint8_t* out, uint64_t capacity, uint64_t* length, uint8_t* ttl, efi::Ipv4Address* from) {
        ip4_->poll(ip4_);
        if (!rx_posted_ || !rx_done_.signaled()) return false;
        rx_posted_ = false;
        efi::Ip4ReceiveData* rx = rx_token_.packet.rx;
        if (rx_token_.status != efi::kSuccess || !rx) return false;
        uint64_t n = 0;
        for (uint32_t i = 0; i < rx->fragment_count && i < 64; i++) {
            const efi::FragmentData& f = rx->fragments[i];
            uint64_t take = min_of<uint64_t>(f.length, capacity - n);
            if (f.buffer && take) memcpy(out + n, f.buffer, take);
            n += take;
        }
        *length = min_of<uint64_t>(n, rx->data_length);
        *ttl = rx->header ? rx->header->time_to_live : 0;
        if (rx->header) *from = rx->header->source;
        if (rx->recycle_signal) boot_services()->signal_event(rx->recycle_signal);
        return true;
    }

private:
    ServiceChild child_;
    efi::Ip4* ip4_ = nullptr;
    FlagEvent tx_done_, rx_done_;
    efi::Ip4CompletionToken rx_token_{};
    efi::Ip4CompletionToken tx_token_{};
    efi::Ip4TransmitData tx_{};
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

// Waits out one sequence: the reply until kReplyWaitMs, then the rest of the interval.
// kStop when Ctrl-C or a failed transmission ends the series.
Turn await_reply(IcmpSession& session, uint16_t sequence, uint64_t sent_at, PingSummary* summary,
                 const char* target) {
    bool answered = false;
    uint8_t packet[kMaxMessage + 64];
    for (;;) {
        efi::Status sent = session.send_status();
        if (sent != efi::kSuccess && sent != efi::kNotReady) {
            print_error("ping: send failed: %s\n", status_message(sent));
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
        uint8_t ttl = 0;
        efi::Ipv4Address from{};
        if (session.take_packet(packet, sizeof packet, &n, &ttl, &from)) {
            if (!answered && is_echo_reply(packet, n, false, kIdentifier, sequence)) {
                uint64_t rtt = milliseconds() - sent_at;
                ping_count_reply(summary, rtt);
                char source[kIpv4TextSize];
                if (from.addr[0] | from.addr[1] | from.addr[2] | from.addr[3]) format_ipv4(from, source, sizeof source);
                else format_into(source, sizeof source, "%s", target);
                out_printf("%u bytes from %s : icmp_seq=%lld ttl=%u time=%llums\n", static_cast<unsigned>(n), source,
                           static_cast<long long>(sequence), ttl, static_cast<unsigned long long>(rtt));
                answered = true;
            }
            continue;
        }
        if (!sleep_interruptible(1)) return Turn::kStop;
    }
}

int ping4(const efi::Ipv4Address& target, const char* target_text, int64_t count, int64_t size,
          const char* interface) {
    Ip4InterfaceList list;
    NetInterface* e = select_ipv4_interface(list, "ping", interface);
    if (!e) return kExitFailure;
    WaitResult w = wait_for_ipv4_address(e->config, kAddressWaitMs);
    if (w == WaitResult::kInterrupted) return kExitInterrupted;
    if (w != WaitResult::kReady) return report_error("ping", "%s has no IPv4 address (ifconfig -s %s dhcp)", e->name, e->name);
    IcmpSession session(e->handle);
    efi::Status st = session.create_status();
    if (st != efi::kSuccess) return report_error("ping", "cannot create an IP4 instance: %s", status_message(st));
    st = session.configure();
    if (st != efi::kSuccess) return report_error("ping", "cannot configure IP4: %s", status_message(st));

    out_printf("Ping %s %lld data bytes.\n", target_text, static_cast<long long>(size));
    PingSummary summary;
    uint8_t message[kMaxMessage];
    for (int64_t seq = 0; seq < count; seq++) {
        if (poll_break()) break;
        uint64_t n = build_icmp_echo(message, sizeof message, kIdentifier, static_cast<uint16_t>(seq),
                                     static_cast<uint64_t>(size));
        session.post_receive();
        uint64_t sent_at = milliseconds();
        st = session.send(target, message, n);
        if (st != efi::kSuccess) {
            print_error("ping: send failed: %s\n", status_message(st));
            break;
        }
        summary.sent++;
        if (await_reply(session, static_cast<uint16_t>(seq), sent_at, &summary, target_text) == Turn::kStop) break;
    }
    print_summary(summary);
    return summary.received ? kExitSuccess : kExitFailure;
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
    if (parse_ipv6(address, &v6)) return report_error("ping", "%s: IPv6 ping is not available yet", address);
    return report_error("ping", "%s is not an IP address", address);
}

}  // namespace

void register_ping_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

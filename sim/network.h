// A fake network interface for host tests: IP4 Config2 (interface information, policy,
// manual address, gateway, DNS servers, data notifications), the media state, and an IP4
// service binding whose children carry ICMP to hosts that answer after a set time.
#pragma once
#include <stdint.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim.h"

namespace sim {

using Ipv4 = std::array<uint8_t, 4>;

struct NicSetup {
    std::string name = "eth0";   // empty: the interface information has no name
    bool info_fails = false;     // GetData of the interface information fails
    std::vector<uint8_t> mac = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
    enum class Media { kPresent, kDisconnected, kNone } media = Media::kPresent;
    bool ip4_service = true;     // an IP4 service binding on the handle
    bool mtftp4_service = true;  // an MTFTP4 service binding on the handle
    bool http_service = true;    // an HTTP service binding on the handle
};

// What the fake HTTP server answers for one URL: the status (the protocol's
// enumeration: 3 is 200, 21 is 404), headers, and the body, of which only close_after
// bytes are sent before the connection ends.
struct HttpReply {
    uint32_t status = 3;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    size_t close_after = SIZE_MAX;
    size_t stall_after = SIZE_MAX;  // after this many body bytes nothing more comes, no close either
    tarn::efi::Status response_status = 0;  // the first Response's token status (the codes are still given)
};

class FakeNic {
public:
    // ---- configuration (what GetData answers; the tests may set it directly)
    uint32_t policy = 1;  // dhcp
    Ipv4 station{}, mask{};
    std::vector<Ipv4> gateways, dns;
    // A route table entry per {subnet, mask, gateway}.
    std::vector<std::array<Ipv4, 3>> routes;

    // DHCP: once the policy is DHCP, this address arrives after dhcp_delay_us (never when
    // dhcp_answers is false).
    bool dhcp_answers = true;
    uint64_t dhcp_delay_us = 2000000;
    Ipv4 dhcp_address{10, 0, 2, 15}, dhcp_mask{255, 255, 255, 0};
    // A manual address is answered with kNotReady and applied (with its notification)
    // after manual_delay_us; never when manual_completes is false.
    bool manual_not_ready = true;
    bool manual_completes = true;
    uint64_t manual_delay_us = 300000;
    // SetData of this type fails with this status (-1: none).
    int fail_set_type = -1;
    tarn::efi::Status fail_set_status = 0;

    // ---- ICMP: hosts that answer echo requests after rtt_us; hosts whose neighbour
    // never resolves keep the message until it is cancelled; others swallow it.
    std::map<Ipv4, uint64_t> responders;
    std::vector<Ipv4> unresolved;
    uint8_t reply_ttl = 64;
    bool stray_before_reply = false;      // an unrelated ICMP message comes first
    tarn::efi::Status transmit_status = 0;    // what Transmit returns
    tarn::efi::Status transmit_completion = 0;  // the status the token completes with
    tarn::efi::Status configure_status = 0;
    tarn::efi::Status create_child_status = 0;

    // ---- TFTP: the server's files; the size it announces (the real one unless
    // tftp_announced is set; none when tftp_tsize is false); a transfer takes
    // tftp_duration_us and completes with tftp_read_status unless that is 0.
    std::map<std::string, std::string> tftp_files;
    bool tftp_tsize = true;
    int64_t tftp_announced = -1;
    uint64_t tftp_duration_us = 0;
    tarn::efi::Status tftp_read_status = 0;
    tarn::efi::Status tftp_configure_status = 0;
    std::vector<std::string> tftp_requests;  // "info NAME opt=value ...", "read NAME ..."
    int tftp_children_created = 0, tftp_children_destroyed = 0;

    // ---- HTTP: pages by URL (others answer 404); each Response gives at most
    // http_chunk bytes; a server that never answers when http_silent.
    std::map<std::string, HttpReply> http_pages;
    size_t http_chunk = 1000;
    bool http_silent = false;
    tarn::efi::Status http_configure_status = 0;
    tarn::efi::Status http_request_status = 0;
    std::vector<std::string> http_requests;  // "GET URL|Name: value|..."
    bool http_ipv6 = false;  // the last configuration asked for an IPv6 access point
    int http_children_created = 0, http_children_destroyed = 0;

    // ---- what happened
    std::vector<std::string> log;                // "set policy 0", "set manual ...", ...
    std::vector<std::vector<uint8_t>> sent;      // ICMP messages transmitted
    std::vector<Ipv4> sent_to;
    int children_created = 0, children_destroyed = 0;
    int packets_delivered = 0, packets_recycled = 0;
    size_t notify_registrations() const;         // registered and not yet unregistered

    tarn::efi::Handle handle = nullptr;
    struct Impl;
    std::unique_ptr<Impl> impl;
    FakeNic();
    ~FakeNic();
};

// Installs an interface on a new handle; the firmware owns it.
FakeNic& add_nic(SimFirmware& fw, const NicSetup& setup = {});

// ---- IPv6: IP6 Config, an IP6 service binding carrying ICMPv6, and MTFTP6, on the
// handle of a FakeNic (sharing its media state and HTTP service) or on a handle of
// their own.

using Ipv6 = std::array<uint8_t, 16>;
// The address in text (for tests; aborts on a malformed one).
Ipv6 ipv6(const char* text);
std::string ipv6_text(const Ipv6& a);

struct Nic6Setup {
    std::string name = "eth0";   // used when the fake has a handle of its own
    bool info_fails = false;     // GetData of the interface information fails
    bool tables_outside = false; // the address table points outside the block
    bool ip6_service = true;
    bool mtftp6_service = true;
};

class FakeNic6 {
public:
    struct Address {
        Ipv6 address;
        uint8_t prefix;
    };
    struct Route {
        Ipv6 destination;
        uint8_t prefix;
        Ipv6 gateway;
    };
    // ---- configuration (what GetData answers; tests may set it directly)
    uint32_t policy = 0;  // manual
    uint32_t dad_transmits = 1;
    std::vector<Address> addresses;  // the link-local address from the MAC to begin with
    std::vector<Route> routes;
    std::vector<Ipv6> gateways, dns;
    // Automatic policy: after auto_delay_us the router's advertisement brings auto_address,
    // a route for its prefix and auto_gateway (never when router_answers is false).
    bool router_answers = true;
    uint64_t auto_delay_us = 1500000;
    Address auto_address{ipv6("fec0::5054:ff:fe12:3456"), 64};
    Ipv6 auto_gateway = ipv6("fe80::2");
    // Manual addresses are answered with kNotReady and applied, with their notification,
    // once duplicate address detection ends after dad_delay_us (never when dad_completes
    // is false).
    bool dad_completes = true;
    uint64_t dad_delay_us = 300000;
    int fail_set_type = -1;
    tarn::efi::Status fail_set_status = 0;

    // ---- ICMPv6: hosts that answer echo requests after rtt_us; a request whose checksum
    // is wrong for its pseudo-header is dropped (and counted), as a receiver does.
    std::map<Ipv6, uint64_t> responders;
    uint8_t reply_hop_limit = 64;
    tarn::efi::Status transmit_status = 0;
    tarn::efi::Status configure_status = 0;
    tarn::efi::Status create_child_status = 0;
    int bad_checksums = 0;
    std::vector<std::vector<uint8_t>> sent;
    std::vector<Ipv6> sent_to, sent_from;
    std::vector<std::string> ip6_configs;  // "station ADDR protocol N"

    // ---- TFTP over IPv6, as FakeNic's TFTP
    std::map<std::string, std::string> tftp_files;
    bool tftp_tsize = true;
    int64_t tftp_announced = -1;
    tarn::efi::Status tftp_read_status = 0;
    tarn::efi::Status tftp_configure_status = 0;
    uint64_t tftp_duration_us = 0;
    std::vector<std::string> tftp_requests;

    // ---- what happened
    std::vector<std::string> log;
    int children_created = 0, children_destroyed = 0;
    int tftp_children_created = 0, tftp_children_destroyed = 0;
    int packets_delivered = 0, packets_recycled = 0;
    size_t notify_registrations() const;

    tarn::efi::Handle handle = nullptr;
    struct Impl;
    std::unique_ptr<Impl> impl;
    FakeNic6();
    ~FakeNic6();
};

// Installs the IPv6 half on nic's handle (or, with nic null, on a new handle).
FakeNic6& add_nic6(SimFirmware& fw, FakeNic* nic = nullptr, const Nic6Setup& setup = {});

}  // namespace sim

// Text forms of network things: IPv4 and IPv6 addresses, http:// addresses, the local
// file names downloads are saved under, and the arithmetic of the ping summary. No
// firmware calls here; the commands and the host tests share these routines.
#pragma once
#include "runtime/util.h"
#include "uefi/network.h"

namespace tarn {

// Room for the longest text of each address form, NUL included.
constexpr uint64_t kIpv4TextSize = 16;
constexpr uint64_t kIpv6TextSize = 46;

// Exactly four decimal numbers below 256 joined by '.', nothing after; leading zeros are
// allowed, at most three digits a number.
[[nodiscard]] bool parse_ipv4(const char* text, efi::Ipv4Address* out);
// The same on the first n bytes of text.
[[nodiscard]] bool parse_ipv4_n(const char* text, uint64_t n, efi::Ipv4Address* out);
// "%u.%u.%u.%u".
void format_ipv4(const efi::Ipv4Address& a, char* out, uint64_t size);

// Colon-hexadecimal: eight groups of one to four hex digits, or fewer with exactly one
// "::" standing for the missing zero groups; the last 32 bits may be written as a dotted
// IPv4 address. Nothing else, and nothing after.
[[nodiscard]] bool parse_ipv6(const char* text, efi::Ipv6Address* out);
[[nodiscard]] bool parse_ipv6_n(const char* text, uint64_t n, efi::Ipv6Address* out);
// ADDR or ADDR/LEN with LEN 0 to 128 in decimal. *has_length tells which form it was;
// without one *length is left as it was.
[[nodiscard]] bool parse_ipv6_prefix(const char* text, efi::Ipv6Address* out, uint8_t* length,
                                     bool* has_length);
// Groups in lower-case "%x"; the longest run of two or more zero groups (the first of
// equal runs) becomes "::".
void format_ipv6(const efi::Ipv6Address& a, char* out, uint64_t size);
// fe80::/10.
bool is_link_local(const efi::Ipv6Address& a);

// The index of the address in list to send to target from, -1 when none can: for a
// link-local target (fe80::/10, or a multicast group of link or node scope) a link-local
// address; for any other target an address that is not link-local, the one sharing the
// longest prefix with the target (the first of equals). Unspecified and multicast
// entries are never chosen.
int64_t choose_ipv6_source(const efi::Ip6AddressInfo* list, uint64_t count, const efi::Ipv6Address& target);

// The parts of an http:// address, pointing into the text.
struct HttpUrl {
    const char* host;      // without the brackets of an IPv6 literal
    uint64_t host_length;
    bool ipv6_host;        // the host was bracketed
    efi::Ipv6Address ipv6; // the literal, when ipv6_host
    uint16_t port;         // 80 unless given
    const char* path;      // from the first '/' after the host ("/" when none was written)
};

enum class UrlError { kOk, kNotHttp, kNoHost, kBadIpv6, kBadPort };

// Parses "http://HOST[:PORT][/PATH]"; the scheme is matched without regard to case.
[[nodiscard]] UrlError parse_http_url(const char* url, HttpUrl* out);

// The name a download is saved under when no local name is given: the last component of
// the path, with any "?query" and "#fragment" removed; "index.html" when that is empty.
// Written into out (truncated to size).
void url_local_name(const char* path, char* out, uint64_t size);
// The part of a TFTP remote name after its last '/' (or '\'); a pointer into remote.
const char* tftp_local_name(const char* remote);

// What a ping series adds up to.
struct PingSummary {
    uint64_t sent = 0;
    uint64_t received = 0;
    uint64_t rtt_min = 0;
    uint64_t rtt_max = 0;
    uint64_t rtt_total = 0;
};
// Counts one reply that took rtt milliseconds.
void ping_count_reply(PingSummary* s, uint64_t rtt);
// The loss in whole percent (rounded down); false when nothing was sent, so there is no
// percentage to give.
[[nodiscard]] bool ping_loss_percent(const PingSummary& s, uint64_t* percent);
// The average round trip (rounded down); 0 without replies.
uint64_t ping_rtt_average(const PingSummary& s);

}  // namespace tarn

// ICMP and ICMPv6 echo messages: building the request, the Internet checksum, and
// recognising the reply to a request.
#pragma once
#include "runtime/util.h"
#include "uefi/network.h"

namespace tarn {

constexpr uint8_t kIcmpEchoRequest = 8;
constexpr uint8_t kIcmpEchoReply = 0;
constexpr uint8_t kIcmp6EchoRequest = 128;
constexpr uint8_t kIcmp6EchoReply = 129;
constexpr uint8_t kIpProtocolIcmp = 1;
constexpr uint8_t kIpProtocolIcmp6 = 58;
constexpr uint64_t kIcmpHeaderSize = 8;

// The ones'-complement sum of 16-bit big-endian words (an odd last byte padded with
// zero), folded, added to `initial` (a pseudo-header's partial sum); not inverted.
uint32_t ones_complement_sum(const uint8_t* bytes, uint64_t n, uint32_t initial = 0);
// The Internet checksum of the bytes: the inverted folded sum.
uint16_t internet_checksum(const uint8_t* bytes, uint64_t n, uint32_t initial = 0);

// The data bytes an echo request carries: byte i is i & 0xff.
// Writes an ICMP echo request (type 8) with identifier, sequence and data_size data bytes
// into out; returns its length, or 0 when capacity is too small.
uint64_t build_icmp_echo(uint8_t* out, uint64_t capacity, uint16_t identifier, uint16_t sequence,
                         uint64_t data_size);
// The ICMPv6 form (type 128); its checksum covers the pseudo-header of source and
// destination, the length and next header 58.
uint64_t build_icmp6_echo(uint8_t* out, uint64_t capacity, const efi::Ipv6Address& source,
                          const efi::Ipv6Address& destination, uint16_t identifier,
                          uint16_t sequence, uint64_t data_size);

// Whether bytes hold the echo reply (type 0, or 129 when v6) to the request with this
// identifier and sequence.
bool is_echo_reply(const uint8_t* bytes, uint64_t n, bool v6, uint16_t identifier, uint16_t sequence);

}  // namespace tarn

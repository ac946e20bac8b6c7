#include "net/icmp.h"

namespace tarn {
namespace {

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

uint32_t fold(uint32_t sum) {
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return sum;
}

// Header and data; the checksum field left zero.
uint64_t build_echo(uint8_t* out, uint64_t capacity, uint8_t type, uint16_t identifier,
                    uint16_t sequence, uint64_t data_size) {
    if (capacity < kIcmpHeaderSize || data_size > capacity - kIcmpHeaderSize) return 0;
    out[0] = type;
    out[1] = 0;
    put16(out + 2, 0);
    put16(out + 4, identifier);
    put16(out + 6, sequence);
    for (uint64_t i = 0; i < data_size; i++) out[kIcmpHeaderSize + i] = static_cast<uint8_t>(i);
    return kIcmpHeaderSize + data_size;
}

}  // namespace

uint32_t ones_complement_sum(const uint8_t* bytes, uint64_t n, uint32_t initial) {
    uint64_t sum = initial;
    uint64_t i = 0;
    for (; i + 1 < n; i += 2) sum += get16(bytes + i);
    if (i < n) sum += static_cast<uint32_t>(bytes[i]) << 8;
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint32_t>(sum);
}

uint16_t internet_checksum(const uint8_t* bytes, uint64_t n, uint32_t initial) {
    return static_cast<uint16_t>(~fold(ones_complement_sum(bytes, n, initial)) & 0xffff);
}

uint64_t build_icmp_echo(uint8_t* out, uint64_t capacity, uint16_t identifier, uint16_t sequence,
                         uint64_t data_size) {
    uint64_t n = build_echo(out, capacity, kIcmpEchoRequest, identifier, sequence, data_size);
    if (n) put16(out + 2, internet_checksum(out, n));
    return n;
}

uint64_t build_icmp6_echo(uint8_t* out, uint64_t capacity, const efi::Ipv6Address& source,
                          const efi::Ipv6Address& destination, uint16_t identifier,
                          uint16_t sequence, uint64_t data_size) {
    uint64_t n = build_echo(out, capacity, kIcmp6EchoRequest, identifier, sequence, data_size);
    if (!n) return 0;
    uint32_t pseudo = ones_complement_sum(source.addr, 16);
    pseudo = ones_complement_sum(destination.addr, 16, pseudo);
    const uint8_t tail[8] = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                             static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0, 0, 0,
                             kIpProtocolIcmp6};
    pseudo = ones_complement_sum(tail, sizeof tail, pseudo);
    put16(out + 2, internet_checksum(out, n, pseudo));
    return n;
}

bool is_echo_reply(const uint8_t* bytes, uint64_t n, bool v6, uint16_t identifier, uint16_t sequence) {
    if (!bytes || n < kIcmpHeaderSize) return false;
    return bytes[0] == (v6 ? kIcmp6EchoReply : kIcmpEchoReply) && bytes[1] == 0 &&
           get16(bytes + 4) == identifier && get16(bytes + 6) == sequence;
}

}  // namespace tarn

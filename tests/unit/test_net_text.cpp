// Network text forms and packets: IPv4/IPv6 parsing and formatting (checked against the
// host's inet_pton/inet_ntop where they agree on the syntax), http:// addresses, local
// names, the ping summary, and ICMP/ICMPv6 echo messages with their checksums.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "net/icmp.h"
#include "net/net_text.h"

namespace {

using tarn::efi::Ipv4Address;
using tarn::efi::Ipv6Address;

std::string v6_text(const Ipv6Address& a) {
    char out[tarn::kIpv6TextSize];
    tarn::format_ipv6(a, out, sizeof out);
    return out;
}

std::string parsed_v6(const char* text) {
    Ipv6Address a;
    if (!tarn::parse_ipv6(text, &a)) return "<invalid>";
    return v6_text(a);
}

std::string parsed_v4(const char* text) {
    Ipv4Address a;
    if (!tarn::parse_ipv4(text, &a)) return "<invalid>";
    char out[tarn::kIpv4TextSize];
    tarn::format_ipv4(a, out, sizeof out);
    return out;
}

struct TextCase {
    const char* text;
    const char* expected;
};

TEST(NetAddresses, Ipv4ParsesFourDecimalNumbersOnly) {
    const TextCase cases[] = {
        {"10.0.2.15", "10.0.2.15"},       {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"}, {"010.000.002.015", "10.0.2.15"},
        {"256.0.0.1", "<invalid>"},       {"1.2.3", "<invalid>"},
        {"1.2.3.4.", "<invalid>"},        {"1.2.3.4.5", "<invalid>"},
        {"1..2.3", "<invalid>"},          {" 1.2.3.4", "<invalid>"},
        {"1.2.3.4 ", "<invalid>"},        {"0001.2.3.4", "<invalid>"},
        {"a.b.c.d", "<invalid>"},         {"", "<invalid>"},
        {"1.2.3.-4", "<invalid>"},        {"99999999999999999999.1.1.1", "<invalid>"},
        {"1.2.3.0x4", "<invalid>"},       {".1.2.3", "<invalid>"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(parsed_v4(c.text), c.expected) << c.text;
}

TEST(NetAddresses, Ipv6ParsesEveryGapPlacementAndRejectsTheRest) {
    const TextCase cases[] = {
        {"::", "::"},
        {"::1", "::1"},
        {"1::", "1::"},
        {"1::2", "1::2"},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
        {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8"},
        {"1:2:3::6:7:8", "1:2:3::6:7:8"},
        {"FE80::5054:FF:FE12:3456", "fe80::5054:ff:fe12:3456"},
        {"0000:0000::0001", "::1"},
        {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
        {"::ffff:1.2.3.4", "::ffff:102:304"},
        {"1:2:3:4:5:6:10.0.2.2", "1:2:3:4:5:6:a00:202"},
        {"", "<invalid>"},
        {":", "<invalid>"},
        {":::", "<invalid>"},
        {"1:2", "<invalid>"},
        {"1::2::3", "<invalid>"},
        {"12345::", "<invalid>"},
        {"00000::1", "<invalid>"},
        {"1:2:3:4:5:6:7:8:9", "<invalid>"},
        {"1:2:3:4:5:6:7:8::", "<invalid>"},
        {"::1:2:3:4:5:6:7:8", "<invalid>"},
        {"1:", "<invalid>"},
        {":1", "<invalid>"},
        {"g::", "<invalid>"},
        {"1:::2", "<invalid>"},
        {"::1.2.3", "<invalid>"},
        {"::1.2.3.4.5", "<invalid>"},
        {"1.2.3.4", "<invalid>"},
        {"1:2:3:4:5:6:7:1.2.3.4", "<invalid>"},
        {"::1.2.3.4:5", "<invalid>"},
        {"::1 ", "<invalid>"},
        {"fe80::1%eth0", "<invalid>"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(parsed_v6(c.text), c.expected) << c.text;
}

TEST(NetAddresses, Ipv6FormatWritesTheLongestZeroRun) {
    struct Case {
        uint16_t groups[8];
        const char* expected;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, "::"},
        {{0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
        {{1, 0, 0, 0, 0, 0, 0, 0}, "1::"},
        {{1, 0, 0, 2, 0, 0, 0, 3}, "1:0:0:2::3"},
        {{1, 0, 0, 2, 0, 0, 3, 4}, "1::2:0:0:3:4"},
        {{1, 0, 2, 3, 4, 5, 6, 7}, "1:0:2:3:4:5:6:7"},
        {{0, 0, 1, 2, 3, 4, 5, 6}, "::1:2:3:4:5:6"},
        {{1, 2, 3, 4, 5, 6, 0, 0}, "1:2:3:4:5:6::"},
        {{0xfe80, 0, 0, 0, 0x5054, 0xff, 0xfe12, 0x3456}, "fe80::5054:ff:fe12:3456"},
        {{0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff},
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
    };
    for (const Case& c : cases) {
        Ipv6Address a;
        for (int i = 0; i < 8; i++) {
            a.addr[2 * i] = static_cast<uint8_t>(c.groups[i] >> 8);
            a.addr[2 * i + 1] = static_cast<uint8_t>(c.groups[i]);
        }
        EXPECT_EQ(v6_text(a), c.expected);
        // The host's formatter agrees (it writes no dotted tails for these).
        char host[INET6_ADDRSTRLEN];
        ASSERT_NE(inet_ntop(AF_INET6, a.addr, host, sizeof host), nullptr);
        if (c.groups[0] || c.groups[1] || c.groups[2] || c.groups[3] || c.groups[4] > 1)
            EXPECT_EQ(v6_text(a), host);
    }
}

TEST(NetAddresses, Ipv6AgreesWithTheHostParserOnRandomColonHexText) {
    std::mt19937 rng(21);
    const char alphabet[] = "0123456789abcdefABCDEF:::::";
    int accepted = 0;
    for (int i = 0; i < 40000; i++) {
        std::string text;
        int length = 1 + static_cast<int>(rng() % 24);
        for (int k = 0; k < length; k++) text += alphabet[rng() % (sizeof alphabet - 1)];
        Ipv6Address ours, theirs;
        bool ok = tarn::parse_ipv6(text.c_str(), &ours);
        bool host_ok = inet_pton(AF_INET6, text.c_str(), theirs.addr) == 1;
        ASSERT_EQ(ok, host_ok) << text;
        if (ok) {
            accepted++;
            EXPECT_EQ(0, std::memcmp(ours.addr, theirs.addr, 16)) << text;
            // Formatting and parsing again gives the same address.
            Ipv6Address again;
            ASSERT_TRUE(tarn::parse_ipv6(v6_text(ours).c_str(), &again)) << text;
            EXPECT_EQ(0, std::memcmp(ours.addr, again.addr, 16)) << text;
        }
    }
    EXPECT_GT(accepted, 100);
}

TEST(NetAddresses, PrefixLengthsFrom0To128) {
    struct Case {
        const char* text;
        bool ok;
        bool has_length;
        int length;
    };
    const Case cases[] = {
        {"fe80::1/64", true, true, 64}, {"::/0", true, true, 0},   {"::/128", true, true, 128},
        {"2001:db8::1", true, false, 7}, {"::/129", false, false, 0}, {"::/", false, false, 0},
        {"::/1a", false, false, 0},     {"/64", false, false, 0},   {"::/0064", false, false, 0},
        {"::1/64/1", false, false, 0},  {"::g/64", false, false, 0},
    };
    for (const Case& c : cases) {
        Ipv6Address a;
        uint8_t length = 7;
        bool has = false;
        EXPECT_EQ(tarn::parse_ipv6_prefix(c.text, &a, &length, &has), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(has, c.has_length) << c.text;
        EXPECT_EQ(length, c.length) << c.text;
    }
}

TEST(NetAddresses, LinkLocalIsFe80Slash10) {
    const TextCase cases[] = {{"fe80::1", "y"}, {"febf::1", "y"}, {"fec0::1", "n"},
                              {"fe7f::1", "n"}, {"2001:db8::", "n"}, {"::1", "n"}};
    for (const TextCase& c : cases) {
        Ipv6Address a;
        ASSERT_TRUE(tarn::parse_ipv6(c.text, &a));
        EXPECT_EQ(tarn::is_link_local(a) ? "y" : "n", std::string(c.expected)) << c.text;
    }
}

TEST(NetUrls, HttpAddressesSplitIntoHostPortAndPath) {
    using tarn::UrlError;
    struct Case {
        const char* url;
        UrlError error;
        const char* host;
        bool v6;
        int port;
        const char* path;
    };
    const Case cases[] = {
        {"http://10.0.2.100/file.bin", UrlError::kOk, "10.0.2.100", false, 80, "/file.bin"},
        {"HTTP://host:8080", UrlError::kOk, "host", false, 8080, "/"},
        {"http://[fe80::1]:81/a/b?x", UrlError::kOk, "fe80::1", true, 81, "/a/b?x"},
        {"http://h/", UrlError::kOk, "h", false, 80, "/"},
        {"https://x/", UrlError::kNotHttp, "", false, 0, ""},
        {"ftp://x/", UrlError::kNotHttp, "", false, 0, ""},
        {"http:/x", UrlError::kNotHttp, "", false, 0, ""},
        {"http://", UrlError::kNoHost, "", false, 0, ""},
        {"http:///a", UrlError::kNoHost, "", false, 0, ""},
        {"http://[]/", UrlError::kBadIpv6, "", false, 0, ""},
        {"http://[fe80::g]/", UrlError::kBadIpv6, "", false, 0, ""},
        {"http://[fe80::1/", UrlError::kBadIpv6, "", false, 0, ""},
        {"http://[::1]x/", UrlError::kBadIpv6, "", false, 0, ""},
        {"http://h:0/", UrlError::kBadPort, "", false, 0, ""},
        {"http://h:65536/", UrlError::kBadPort, "", false, 0, ""},
        {"http://h:999999/", UrlError::kBadPort, "", false, 0, ""},
        {"http://h:/", UrlError::kBadPort, "", false, 0, ""},
        {"http://h:80x/", UrlError::kBadPort, "", false, 0, ""},
    };
    for (const Case& c : cases) {
        tarn::HttpUrl u{};
        ASSERT_EQ(tarn::parse_http_url(c.url, &u), c.error) << c.url;
        if (c.error != UrlError::kOk) continue;
        EXPECT_EQ(std::string(u.host, u.host_length), c.host) << c.url;
        EXPECT_EQ(u.ipv6_host, c.v6) << c.url;
        EXPECT_EQ(u.port, c.port) << c.url;
        EXPECT_STREQ(u.path, c.path) << c.url;
    }
}

TEST(NetUrls, LocalNamesDropQueryAndFragment) {
    const TextCase http[] = {
        {"/dir/file.bin", "file.bin"}, {"/", "index.html"},        {"/dir/", "index.html"},
        {"/a/b?x=1", "b"},             {"/a/b#frag", "b"},          {"/a?x/y", "a"},
        {"", "index.html"},            {"/a/b.txt?q#f", "b.txt"},   {"/?q", "index.html"},
        {"/a/#x/y", "index.html"},
    };
    for (const TextCase& c : http) {
        char out[64];
        tarn::url_local_name(c.text, out, sizeof out);
        EXPECT_STREQ(out, c.expected) << c.text;
    }
    const TextCase tftp[] = {{"boot/grubx64.efi", "grubx64.efi"}, {"file", "file"},
                             {"a\\b", "b"}, {"/x/y/z.img", "z.img"}, {"dir/", ""}};
    for (const TextCase& c : tftp) EXPECT_STREQ(tarn::tftp_local_name(c.text), c.expected) << c.text;
}

TEST(NetPing, SummaryArithmetic) {
    struct Case {
        uint64_t sent;
        std::vector<uint64_t> rtts;
        bool has_percent;
        uint64_t percent, min, max, average;
    };
    const Case cases[] = {
        {0, {}, false, 0, 0, 0, 0},
        {3, {}, true, 100, 0, 0, 0},
        {3, {5}, true, 66, 5, 5, 5},
        {4, {9, 1, 4}, true, 25, 1, 9, 4},
        {10, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, true, 0, 0, 1, 0},
        {7, {3, 3, 3, 3, 3, 3, 4}, true, 0, 3, 4, 3},
    };
    for (const Case& c : cases) {
        tarn::PingSummary s;
        s.sent = c.sent;
        for (uint64_t r : c.rtts) tarn::ping_count_reply(&s, r);
        uint64_t percent = 12345;
        EXPECT_EQ(tarn::ping_loss_percent(s, &percent), c.has_percent) << c.sent;
        if (c.has_percent) EXPECT_EQ(percent, c.percent) << c.sent;
        EXPECT_EQ(s.rtt_min, c.min);
        EXPECT_EQ(s.rtt_max, c.max);
        EXPECT_EQ(tarn::ping_rtt_average(s), c.average);
    }
}

TEST(NetIcmp, ChecksumVectors) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint16_t checksum;
    };
    const Case cases[] = {
        {{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}, 0x220d},  // the classic worked example
        {{0xff, 0xff, 0xff, 0xff}, 0x0000},
        {{0xff, 0xff, 0x00, 0x01}, 0xfffe},                          // one end-around carry
        {{0x12}, 0xedff},                                            // odd byte padded on the right
        {{}, 0xffff},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tarn::internet_checksum(c.bytes.data(), c.bytes.size()), c.checksum);
}

TEST(NetIcmp, EchoRequestsCarryIdSequenceDataAndChecksum) {
    struct Case {
        uint16_t id, seq;
        uint64_t size;
        uint16_t checksum;
    };
    // 0x0800 + 0x1234 + 0x0001 = 0x1a35, inverted 0xe5ca; data 00 01 02 03 adds 0x0204.
    const Case cases[] = {
        {0x1234, 1, 0, 0xe5ca}, {0x1234, 1, 1, 0xe5ca}, {0x1234, 1, 3, 0xe3c9}, {0x1234, 1, 4, 0xe3c6},
    };
    for (const Case& c : cases) {
        uint8_t packet[64];
        uint64_t n = tarn::build_icmp_echo(packet, sizeof packet, c.id, c.seq, c.size);
        ASSERT_EQ(n, 8 + c.size);
        EXPECT_EQ(packet[0], 8);
        EXPECT_EQ(packet[1], 0);
        EXPECT_EQ(packet[2] << 8 | packet[3], c.checksum);
        EXPECT_EQ(packet[4] << 8 | packet[5], c.id);
        EXPECT_EQ(packet[6] << 8 | packet[7], c.seq);
        for (uint64_t i = 0; i < c.size; i++) EXPECT_EQ(packet[8 + i], i & 0xff);
        EXPECT_EQ(tarn::internet_checksum(packet, n), 0);  // a receiver's check
    }
    uint8_t small[16];
    EXPECT_EQ(tarn::build_icmp_echo(small, sizeof small, 1, 1, 9), 0u);
    EXPECT_EQ(tarn::build_icmp_echo(small, 7, 1, 1, 0), 0u);
    EXPECT_EQ(tarn::build_icmp_echo(small, sizeof small, 1, 1, 8), 16u);
}

TEST(NetIcmp, Icmp6ChecksumCoversThePseudoHeader) {
    Ipv6Address src, dst;
    ASSERT_TRUE(tarn::parse_ipv6("fe80::1", &src));
    ASSERT_TRUE(tarn::parse_ipv6("fe80::2", &dst));
    uint8_t packet[64];
    // fe80+1 + fe80+2 + length 8 + next header 0x3a + 0x8000 + 1 + 2 = 0x27d48 -> 0x7d4a.
    ASSERT_EQ(tarn::build_icmp6_echo(packet, sizeof packet, src, dst, 1, 2, 0), 8u);
    EXPECT_EQ(packet[0], 128);
    EXPECT_EQ(packet[2] << 8 | packet[3], 0x82b5);
    // With data the receiver's check over pseudo-header and message still comes to zero.
    uint64_t n = tarn::build_icmp6_echo(packet, sizeof packet, src, dst, 7, 9, 21);
    ASSERT_EQ(n, 29u);
    uint8_t pseudo[40] = {};
    std::memcpy(pseudo, src.addr, 16);
    std::memcpy(pseudo + 16, dst.addr, 16);
    pseudo[35] = 29;
    pseudo[39] = 58;
    EXPECT_EQ(tarn::internet_checksum(packet, n, tarn::ones_complement_sum(pseudo, 40)), 0);
}

TEST(NetIcmp, Icmp6ChecksumOfASiteRequestWithData) {
    Ipv6Address src, dst;
    ASSERT_TRUE(tarn::parse_ipv6("fec0::15", &src));
    ASSERT_TRUE(tarn::parse_ipv6("fec0::2", &dst));
    uint8_t packet[16];
    // Pseudo-header fed5 + fec2 + length 000a + next header 003a, message 8000 + 5441 +
    // 0001 + data 0001: 0x2d21e, folded 0xd220, inverted 0x2ddf.
    ASSERT_EQ(tarn::build_icmp6_echo(packet, sizeof packet, src, dst, 0x5441, 1, 2), 10u);
    const uint8_t expected[10] = {128, 0, 0x2d, 0xdf, 0x54, 0x41, 0, 1, 0, 1};
    EXPECT_EQ(std::memcmp(packet, expected, sizeof expected), 0);
    // Swapping the addresses leaves the sum as it is; another source changes it.
    ASSERT_EQ(tarn::build_icmp6_echo(packet, sizeof packet, dst, src, 0x5441, 1, 2), 10u);
    EXPECT_EQ(packet[2] << 8 | packet[3], 0x2ddf);
    ASSERT_TRUE(tarn::parse_ipv6("fec0::16", &src));
    ASSERT_EQ(tarn::build_icmp6_echo(packet, sizeof packet, src, dst, 0x5441, 1, 2), 10u);
    EXPECT_EQ(packet[2] << 8 | packet[3], 0x2dde);
    EXPECT_EQ(tarn::build_icmp6_echo(packet, 9, src, dst, 1, 1, 2), 0u);
}

TEST(NetIcmp, RepliesMatchOnTypeIdAndSequence) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool v6;
        bool match;
    };
    const Case cases[] = {
        {{0, 0, 0xaa, 0xbb, 0x12, 0x34, 0, 5}, false, true},
        {{0, 0, 0, 0, 0x12, 0x34, 0, 5, 1, 2, 3}, false, true},
        {{8, 0, 0, 0, 0x12, 0x34, 0, 5}, false, false},    // our own request
        {{0, 0, 0, 0, 0x12, 0x35, 0, 5}, false, false},    // another identifier
        {{0, 0, 0, 0, 0x12, 0x34, 0, 6}, false, false},    // another sequence
        {{0, 0, 0, 0, 0x12, 0x34, 0}, false, false},       // short
        {{129, 0, 0, 0, 0x12, 0x34, 0, 5}, true, true},
        {{0, 0, 0, 0, 0x12, 0x34, 0, 5}, true, false},
        {{3, 1, 0, 0, 0x12, 0x34, 0, 5}, false, false},    // unreachable
    };
    for (const Case& c : cases)
        EXPECT_EQ(tarn::is_echo_reply(c.bytes.data(), c.bytes.size(), c.v6, 0x1234, 5), c.match);
}

TEST(NetText, Ipv6SourceOfTheTargetsScope) {
    // The interface's addresses, by index.
    const char* const addresses[] = {"fe80::5054:ff:fe12:3456", "::", "ff02::1", "fec0::15", "2001:db8:1::9",
                                     "2001:db8::7", "fe80::1"};
    std::vector<tarn::efi::Ip6AddressInfo> list;
    for (const char* a : addresses) {
        tarn::efi::Ip6AddressInfo info{};
        ASSERT_TRUE(tarn::parse_ipv6(a, &info.address)) << a;
        info.prefix_length = 64;
        list.push_back(info);
    }
    struct Case {
        const char* target;
        uint64_t count;  // how many of the addresses the interface has
        int64_t chosen;
    };
    const Case cases[] = {
        {"fe80::2", 7, 6},        // link-local: the link-local address nearest the target
        {"ff02::1", 7, 0},        // a link-scope group counts as link-local (a tie: the first)
        {"fec0::2", 7, 3},        // site: the longest common prefix
        {"2001:db8::1", 7, 5},
        {"2001:db8:1::1", 7, 4},
        {"2001:db8:2::1", 7, 4},  // equal prefixes: the first of them
        {"fec0::2", 3, -1},       // only link-local, unspecified and multicast entries
        {"fe80::2", 0, -1},
        {"fe80::2", 1, 0},
    };
    for (const Case& c : cases) {
        Ipv6Address target;
        ASSERT_TRUE(tarn::parse_ipv6(c.target, &target));
        EXPECT_EQ(tarn::choose_ipv6_source(list.data(), c.count, target), c.chosen) << c.target << " " << c.count;
    }
    Ipv6Address any;
    ASSERT_TRUE(tarn::parse_ipv6("fec0::2", &any));
    EXPECT_EQ(tarn::choose_ipv6_source(nullptr, 3, any), -1);
}

}  // namespace

// ping6 (and ping given an IPv6 address) over the fake IPv6 interface: the source of the
// target's scope, ICMPv6 requests whose checksums the fake checks over its own
// pseudo-header, replies, timeouts, failures, and the IP6 children destroyed every time.
#include "net6_shell.h"

using namespace tarn;
using namespace tarn_test;

namespace {

const char* const kLinkLocal = "fe80::5054:ff:fe12:3456";
const char* const kSite = "fec0::5054:ff:fe12:3456";

// After a run: every child destroyed, every packet given back, every request valid.
void expect_clean(const sim::FakeNic6& n) {
    EXPECT_EQ(n.children_created, n.children_destroyed);
    EXPECT_EQ(n.packets_delivered, n.packets_recycled);
    EXPECT_EQ(n.bad_checksums, 0);
}

// A shell whose interface has a site address and two hosts that answer.
struct PingShell : Net6Shell {
    PingShell() {
        nic6.policy = 1;
        nic6.addresses.push_back({sim::ipv6(kSite), 64});
        nic6.responders[sim::ipv6("fe80::2")] = 3000;
        nic6.responders[sim::ipv6("fec0::2")] = 12000;
    }
};

}  // namespace

TEST(NetPing6, RepliesFromEachScope) {
    struct Case {
        const char* line;
        const char* header;
        const char* reply;  // the reply line of sequence 0
        const char* source;
        size_t size;        // bytes of each request
    };
    const Case cases[] = {
        {"ping6 -n 3 fe80::2", "Ping fe80::2 16 data bytes (from fe80::5054:ff:fe12:3456).\n",
         "24 bytes from fe80::2 : icmp_seq=0 hop_limit=64 time=3ms\n", kLinkLocal, 24},
        {"ping6 -n 3 -l 0 fec0::2", "Ping fec0::2 0 data bytes (from fec0::5054:ff:fe12:3456).\n",
         "8 bytes from fec0::2 : icmp_seq=0 hop_limit=64 time=12ms\n", kSite, 8},
        {"ping6 -n 3 -l 1400 FEC0:0::2", "Ping FEC0:0::2 1400 data bytes (from fec0::5054:ff:fe12:3456).\n",
         "1408 bytes from fec0::2 : icmp_seq=0 hop_limit=64 time=12ms\n", kSite, 1408},
        // ping with an address that is not dotted takes the same path.
        {"ping -n 3 fe80::2", "Ping fe80::2 16 data bytes (from fe80::5054:ff:fe12:3456).\n",
         "24 bytes from fe80::2 : icmp_seq=0 hop_limit=64 time=3ms\n", kLinkLocal, 24},
        {"ping -_ip6 -n 3 fec0::2", "Ping fec0::2 16 data bytes (from fec0::5054:ff:fe12:3456).\n",
         "24 bytes from fec0::2 : icmp_seq=0 hop_limit=64 time=12ms\n", kSite, 24},
        {"ping6 -n 3 -s fe80::5054:ff:fe12:3456 fec0::2",
         "Ping fec0::2 16 data bytes (from fe80::5054:ff:fe12:3456).\n",
         "24 bytes from fec0::2 : icmp_seq=0 hop_limit=64 time=12ms\n", kLinkLocal, 24},
    };
    for (const Case& c : cases) {
        PingShell s;
        auto r = s.run_captured(c.line);
        EXPECT_EQ(r.code, 0) << c.line << r.errors;
        EXPECT_EQ(r.out.rfind(c.header, 0), 0u) << r.out;
        EXPECT_NE(r.out.find(c.reply), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\n3 packets transmitted, 3 received, 0% packet loss\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Rtt(round trip time) min="), std::string::npos);
        ASSERT_EQ(s.nic6.sent.size(), 3u) << c.line;
        for (size_t i = 0; i < 3; i++) {
            const std::vector<uint8_t>& m = s.nic6.sent[i];
            ASSERT_EQ(m.size(), c.size);
            EXPECT_EQ(m[0], 128);
            EXPECT_EQ(m[4] << 8 | m[5], 0x5441);
            EXPECT_EQ(m[6] << 8 | m[7], static_cast<int>(i));
            EXPECT_EQ(sim::ipv6_text(s.nic6.sent_from[i]), c.source);
        }
        EXPECT_EQ(s.nic6.ip6_configs, std::vector<std::string>{std::string("station ") + c.source + " protocol 58"});
        expect_clean(s.nic6);
    }
}

TEST(NetPing6, WaitsForTheRoutersPrefix) {
    Net6Shell s;
    s.nic6.responders[sim::ipv6("fec0::2")] = 1000;
    EXPECT_EQ(s.output("ifconfig6 -s eth0 auto"), "");
    // The site address arrives while ping6 waits for a source that can reach the target.
    auto r = s.run_captured("ping6 -n 1 fec0::2");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out.rfind("Ping fec0::2 16 data bytes (from fec0::5054:ff:fe12:3456).\n", 0), 0u) << r.out;
    expect_clean(s.nic6);
}

TEST(NetPing6, UnansweredSeries) {
    PingShell s;
    uint64_t before = s.fw.now_us();
    auto r = s.run_captured("ping6 -n 3 fec0::77");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out,
              "Ping fec0::77 16 data bytes (from fec0::5054:ff:fe12:3456).\n"
              "Echo request sequence 0 timeout.\nEcho request sequence 1 timeout.\nEcho request sequence 2 timeout.\n"
              "\n3 packets transmitted, 0 received, 100% packet loss\n");
    EXPECT_GE(s.fw.now_us() - before, 3000000u);
    EXPECT_LT(s.fw.now_us() - before, 3300000u);
    expect_clean(s.nic6);
}

TEST(NetPing6, Failures) {
    struct Case {
        const char* line;
        void (*arrange)(PingShell&);
        int code;
        const char* errors;
    };
    const Case cases[] = {
        {"ping6 -n 2 fec0::2", [](PingShell& s) { s.nic6.addresses.resize(1); }, 1,
         "ping6: eth0 has no IPv6 address that can reach fec0::2 (ifconfig6 -s eth0 auto)\n"},
        {"ping -n 2 fec0::2", [](PingShell& s) { s.nic6.addresses.resize(1); }, 1,
         "ping: eth0 has no IPv6 address that can reach fec0::2 (ifconfig6 -s eth0 auto)\n"},
        {"ping6 -n 2 fe80::2", [](PingShell& s) { s.nic6.addresses.clear(); }, 1,
         "ping6: eth0 has no IPv6 address that can reach fe80::2 (ifconfig6 -s eth0 auto)\n"},
        {"ping6 -s fec0::99 fec0::2", nullptr, 1, "ping6: cannot configure IP6: invalid parameter\n"},
        {"ping6 -s zz fec0::2", nullptr, 1, "ping6: zz is not an IPv6 address\n"},
        {"ping6 fec0::2", [](PingShell& s) { s.nic6.configure_status = efi::kNoMapping; }, 1,
         "ping6: cannot configure IP6: no mapping\n"},
        {"ping6 fec0::2", [](PingShell& s) { s.nic6.create_child_status = efi::kOutOfResources; }, 1,
         "ping6: cannot create an IP6 instance: out of resources\n"},
        {"ping fe80::2", [](PingShell& s) { s.nic6.create_child_status = efi::kOutOfResources; }, 1,
         "ping: cannot create an IP6 instance: out of resources\n"},
        {"ping6 10.0.2.2", nullptr, 1, "ping6: 10.0.2.2 is not an IPv6 address\n"},
        {"ping -_ip6 10.0.2.2", nullptr, 1, "ping: 10.0.2.2 is not an IPv6 address\n"},
        {"ping fec0::2::1", nullptr, 1, "ping: fec0::2::1 is not an IP address\n"},
        {"ping6 -i eth5 fe80::2", nullptr, 1, "ping6: no interface named eth5 (see ifconfig6 -l)\n"},
    };
    for (const Case& c : cases) {
        PingShell s;
        if (c.arrange) c.arrange(s);
        s.expect_failure(c.line, c.code, c.errors);
        EXPECT_TRUE(s.nic6.sent.empty()) << c.line;
        expect_clean(s.nic6);
    }
    {
        // A send the driver refuses ends the series; nothing was transmitted.
        PingShell s;
        s.nic6.transmit_status = efi::kDeviceError;
        auto r = s.run_captured("ping6 fe80::2");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.errors, "ping6: send failed: device error\n");
        EXPECT_NE(r.out.find("\n0 packets transmitted, 0 received\n"), std::string::npos) << r.out;
        expect_clean(s.nic6);
    }
    {
        // No IP6 service binding on the interface.
        LeakCheckedShell s;
        sim::Nic6Setup setup;
        setup.ip6_service = false;
        sim::add_nic6(s.fw, nullptr, setup);
        s.expect_failure("ping6 fe80::2", 1, "ping6: cannot create an IP6 instance: unsupported\n");
    }
    for (const char* line : {"ping6", "ping6 -n 0 fe80::2", "ping6 -n 10001 fe80::2", "ping6 -l 1401 fe80::2",
                             "ping6 -l -1 fe80::2", "ping6 fe80::2 fe80::3", "ping6 -x fe80::2"}) {
        PingShell s;
        auto r = s.run(line);
        EXPECT_EQ(r.code, 2) << line;
        EXPECT_TRUE(s.nic6.sent.empty());
    }
}

TEST(NetPing6, CtrlCStopsTheSeries) {
    {
        // During the wait for an address that can reach the target.
        Net6Shell w;
        w.fw.push_key(3, 0, 0, 1000000);
        EXPECT_EQ(w.run("ping6 fec0::2").code, 130);
        EXPECT_TRUE(w.nic6.sent.empty());
        EXPECT_EQ(w.nic6.children_created, 0);
    }
    PingShell s;
    s.fw.push_key(3, 0, 0, 2500000);
    auto r = s.run_captured("ping6 -n 10 fec0::2");
    EXPECT_EQ(s.nic6.sent.size(), 3u);
    EXPECT_NE(r.out.find("\n3 packets transmitted, 3 received, 0% packet loss\n"), std::string::npos) << r.out;
    expect_clean(s.nic6);
}

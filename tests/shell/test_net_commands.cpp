// ifconfig and ping over the fake network interface: listings, DHCP and static settings
// with the firmware's not-ready-then-notify answer, ICMP echo series with replies,
// timeouts and failures, and the IP4 children destroyed on every path.
#include "command_test.h"
#include "network.h"
#include "uefi/network.h"

using namespace tarn;
using namespace tarn_test;

namespace {

// Each run must give back every pool block it took.
ShellSetup net_setup() {
    ShellSetup setup;
    setup.paging = false;
    return setup;
}

// Every run gives back each pool block it took (counted once its capture is gone).
struct NetShell : CommandShell {
    NetShell() : CommandShell(net_setup()) {}
    std::string output(const std::string& line) {
        int64_t before = fw.outstanding_allocations();
        std::string out = CommandShell::output(line);
        EXPECT_EQ(fw.outstanding_allocations(), before) << "leak in: " << line;
        return out;
    }
    RunResult run_captured(const std::string& line) {
        int64_t before = fw.outstanding_allocations();
        RunResult r = CommandShell::run_captured(line);
        EXPECT_EQ(fw.outstanding_allocations(), before) << "leak in: " << line;
        return r;
    }
    RunResult expect_failure(const std::string& line, int code, const std::string& message) {
        int64_t before = fw.outstanding_allocations();
        RunResult r = CommandShell::expect_failure(line, code, message);
        EXPECT_EQ(fw.outstanding_allocations(), before) << "leak in: " << line;
        return r;
    }
};

// A NIC configured statically with two DNS servers and two routes.
sim::FakeNic& static_nic(NetShell& s, const sim::NicSetup& setup = {}) {
    sim::FakeNic& nic = sim::add_nic(s.fw, setup);
    nic.policy = 0;
    nic.station = {192, 168, 7, 20};
    nic.mask = {255, 255, 255, 0};
    nic.gateways = {{192, 168, 7, 1}};
    nic.dns = {{192, 168, 7, 53}, {9, 9, 9, 9}};
    nic.routes = {{{{192, 168, 7, 0}, {255, 255, 255, 0}, {0, 0, 0, 0}}},
                  {{{0, 0, 0, 0}, {0, 0, 0, 0}, {192, 168, 7, 1}}}};
    return nic;
}

sim::FakeNic& dhcp_nic(NetShell& s) {
    sim::FakeNic& nic = sim::add_nic(s.fw);
    nic.station = {10, 0, 2, 15};
    nic.mask = {255, 255, 255, 0};
    return nic;
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

void expect_children_gone(const sim::FakeNic& nic) {
    EXPECT_EQ(nic.children_created, nic.children_destroyed);
    EXPECT_EQ(nic.packets_delivered, nic.packets_recycled);
}

const char* const kListing =
    "name         : eth0\n"
    "media state  : present\n"
    "policy       : static\n"
    "mac addr     : 52-54-00-12-34-56\n"
    "ipv4 address : 192.168.7.20\n"
    "subnet mask  : 255.255.255.0\n"
    "gateway      : 192.168.7.1\n"
    "dns server   : 192.168.7.53\n"
    "dns server   : 9.9.9.9\n"
    "route table  :\n"
    "  subnet 192.168.7.0 netmask 255.255.255.0 gateway 0.0.0.0\n"
    "  subnet 0.0.0.0 netmask 0.0.0.0 gateway 192.168.7.1\n"
    "\n";

}  // namespace

TEST(NetIfconfig, WithoutInterfacesNamesTheDrivers) {
    NetShell s;
    for (const char* line : {"ifconfig", "ifconfig -s eth0 dhcp", "ping 10.0.2.2"}) {
        auto r = s.run(line);
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_EQ(r.errors.rfind("no network interface: the firmware network stack is not loaded.\n", 0), 0u)
            << r.errors;
        EXPECT_NE(r.errors.find("Ip4Dxe.efi"), std::string::npos);
    }
}

TEST(NetIfconfig, ListsEveryInterface) {
    NetShell s;
    static_nic(s);
    sim::NicSetup second;
    second.name = "";
    second.media = sim::NicSetup::Media::kDisconnected;
    second.mac = {0xaa, 0x0b};
    sim::FakeNic& other = sim::add_nic(s.fw, second);
    sim::NicSetup third;
    third.name = "lan9";
    third.media = sim::NicSetup::Media::kNone;
    sim::add_nic(s.fw, third);
    (void)other;
    EXPECT_EQ(s.output("ifconfig -l eth0"), kListing);
    std::string all = s.output("ifconfig");
    EXPECT_EQ(all.rfind(kListing, 0), 0u);
    EXPECT_NE(all.find("name         : eth1\nmedia state  : disconnected\npolicy       : dhcp\n"
                       "mac addr     : AA-0B\nipv4 address : 0.0.0.0\n"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("name         : lan9\nmedia state  : unknown\n"), std::string::npos);
    EXPECT_EQ(all, s.output("ifconfig -l"));
    EXPECT_EQ(s.output("ifconfig -l ETH1").substr(0, 20), "name         : eth1\n");
    s.expect_failure("ifconfig -l wlan0", 1, "ifconfig: no interface named wlan0 (see ifconfig -l)\n");
    EXPECT_EQ(s.output("ifconfig -data -l eth0"),
              "name=eth0\nmedia=present\npolicy=static\nmac=52-54-00-12-34-56\nip=192.168.7.20\n"
              "mask=255.255.255.0\ngateway=192.168.7.1\ndns=192.168.7.53 9.9.9.9\n");
}

TEST(NetIfconfig, NameFallsBackToEthIndexWhenInfoFails) {
    NetShell s;
    sim::add_nic(s.fw);
    sim::NicSetup broken;
    broken.info_fails = true;
    sim::add_nic(s.fw, broken);
    auto r = s.run_captured("ifconfig -l eth1");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "ifconfig: device error\n");
}

TEST(NetIfconfig, DhcpWaitsForTheAddress) {
  {
    NetShell s;
    sim::FakeNic& nic = static_nic(s);
    uint64_t before = s.fw.now_us();
    EXPECT_EQ(s.output("ifconfig -s eth0 dhcp"), "eth0: waiting for DHCP... done\n");
    EXPECT_GE(s.fw.now_us() - before, nic.dhcp_delay_us);
    EXPECT_LT(s.fw.now_us() - before, nic.dhcp_delay_us + 200000);
    EXPECT_EQ(nic.station, (sim::Ipv4{10, 0, 2, 15}));
    EXPECT_EQ(nic.log.front(), "set policy dhcp");
    EXPECT_EQ(nic.notify_registrations(), 0u);
  }
  {
    // A server that never answers: the wait ends after 15 seconds, successfully.
    NetShell quiet;
    sim::FakeNic& q = static_nic(quiet);
    q.dhcp_answers = false;
    uint64_t before = quiet.fw.now_us();
    EXPECT_EQ(quiet.output("ifconfig -s eth0 dhcp"),
              "eth0: waiting for DHCP... no answer yet (the address may arrive later)\n");
    EXPECT_GE(quiet.fw.now_us() - before, 15000000u);
    EXPECT_LT(quiet.fw.now_us() - before, 15300000u);
  }
  {
    // Ctrl-C ends the wait.
    NetShell stopped;
    sim::FakeNic& st = static_nic(stopped);
    st.dhcp_answers = false;
    stopped.fw.push_key(3, 0, 0, 500000);
    EXPECT_EQ(stopped.run("ifconfig -s eth0 dhcp").code, 130);
  }
}

TEST(NetIfconfig, StaticAddressWaitsForTheNotification) {
  {
    NetShell s;
    sim::FakeNic& nic = dhcp_nic(s);
    EXPECT_EQ(s.output("ifconfig -s eth0 static 10.0.2.30 255.255.255.0 10.0.2.2"), "");
    const std::vector<std::string> expected = {"set policy static", "set manual 10.0.2.30 255.255.255.0",
                                               "manual applied 10.0.2.30", "set gateway 10.0.2.2"};
    EXPECT_EQ(nic.log, expected);
    EXPECT_EQ(nic.notify_registrations(), 0u);
    EXPECT_EQ(s.output("ifconfig -s eth0 dns 10.0.2.3 1.1.1.1"), "");
    EXPECT_EQ(nic.log.back(), "set dns 10.0.2.3 1.1.1.1");
    std::string listing = s.output("ifconfig");
    EXPECT_NE(listing.find("policy       : static\n"), std::string::npos);
    EXPECT_NE(listing.find("ipv4 address : 10.0.2.30\n"), std::string::npos);
    EXPECT_NE(listing.find("gateway      : 10.0.2.2\ndns server   : 10.0.2.3\ndns server   : 1.1.1.1\n"),
              std::string::npos);
  }
  {
    // A notification that never comes: the setting gives up with the firmware's words.
    NetShell never;
    sim::FakeNic& n2 = dhcp_nic(never);
    n2.manual_completes = false;
    never.expect_failure("ifconfig -s eth0 static 10.0.2.30 255.255.255.0 10.0.2.2", 1, "ifconfig: timeout\n");
    EXPECT_EQ(n2.notify_registrations(), 0u);
    EXPECT_EQ(n2.log.back(), "set manual 10.0.2.30 255.255.255.0");
  }
  {
    // Ctrl-C while waiting.
    NetShell stopped;
    sim::FakeNic& n3 = dhcp_nic(stopped);
    n3.manual_completes = false;
    stopped.fw.push_key(3, 0, 0, 200000);
    EXPECT_EQ(stopped.run("ifconfig -s eth0 static 10.0.2.30 255.255.255.0 10.0.2.2").code, 130);
    EXPECT_EQ(n3.notify_registrations(), 0u);
  }
}

TEST(NetIfconfig, BadSettings) {
    NetShell s;
    sim::FakeNic& nic = dhcp_nic(s);
    struct Case {
        const char* line;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"ifconfig -s eth0 static 10.0.2.30 255.255.255.0", 2, "usage: ifconfig -s NAME static IP MASK GATEWAY\n"},
        {"ifconfig -s eth0 static 1 2 3 4", 2, "usage: ifconfig -s NAME static IP MASK GATEWAY\n"},
        {"ifconfig -s eth0 static 10.0.2 255.255.255.0 10.0.2.2", 1, "ifconfig: 10.0.2 is not an IPv4 address\n"},
        {"ifconfig -s eth0 static 10.0.2.30 255.255.256.0 10.0.2.2", 1,
         "ifconfig: 255.255.256.0 is not an IPv4 address\n"},
        {"ifconfig -s eth0 dns", 2, "usage: ifconfig -s NAME dns IP [IP...]\n"},
        {"ifconfig -s eth0 dns 1.1.1.1 1.1.1.2 1.1.1.3 1.1.1.4 1.1.1.5 1.1.1.6 1.1.1.7 1.1.1.8 1.1.1.9", 2,
         "usage: ifconfig -s NAME dns IP [IP...]\n"},
        {"ifconfig -s eth0 dns 1.1.1.1 x", 1, "ifconfig: x is not an IPv4 address\n"},
        {"ifconfig -s eth0", 2, "usage: ifconfig"},
        {"ifconfig -s eth0 bogus", 2, "usage: ifconfig"},
        {"ifconfig -s eth0 dhcp now", 2, "usage: ifconfig"},
        {"ifconfig -s wlan0 dhcp", 1, "ifconfig: no interface named wlan0 (see ifconfig -l)\n"},
        {"ifconfig -l eth0 eth1", 2, "usage: ifconfig"},
        {"ifconfig -x", 2, "usage: ifconfig"},
    };
    for (const Case& c : cases) s.expect_failure(c.line, c.code, c.message);
    EXPECT_TRUE(nic.log.empty());
    nic.fail_set_type = efi::kIp4Config2DnsServer;
    nic.fail_set_status = efi::kDeviceError;
    s.expect_failure("ifconfig -s eth0 dns 1.1.1.1", 1, "ifconfig: device error\n");
}

TEST(NetIfconfig, ResetGoesBackToDhcp) {
    NetShell s;
    sim::FakeNic& a = static_nic(s);
    sim::NicSetup second;
    second.name = "eth1";
    sim::FakeNic& b = sim::add_nic(s.fw, second);
    b.policy = 0;
    EXPECT_EQ(s.output("ifconfig -r eth1"), "");
    EXPECT_EQ(a.policy, 0u);
    EXPECT_EQ(b.policy, 1u);
    b.policy = 0;
    EXPECT_EQ(s.output("ifconfig -r"), "");
    EXPECT_EQ(a.policy, 1u);
    EXPECT_EQ(b.policy, 1u);
}

TEST(NetPing, RepliesAndTheirSummary) {
    NetShell s;
    sim::FakeNic& nic = dhcp_nic(s);
    nic.responders[{10, 0, 2, 2}] = 3000;
    nic.stray_before_reply = true;
    uint64_t before = s.fw.now_us();
    EXPECT_EQ(s.output("ping -n 3 10.0.2.2"),
              "Ping 10.0.2.2 16 data bytes.\n"
              "24 bytes from 10.0.2.2 : icmp_seq=0 ttl=64 time=3ms\n"
              "24 bytes from 10.0.2.2 : icmp_seq=1 ttl=64 time=3ms\n"
              "24 bytes from 10.0.2.2 : icmp_seq=2 ttl=64 time=3ms\n"
              "\n3 packets transmitted, 3 received, 0% packet loss\n"
              "Rtt(round trip time) min=3ms max=3ms avg=3ms\n");
    // One request a second.
    EXPECT_GE(s.fw.now_us() - before, 3000000u);
    EXPECT_LT(s.fw.now_us() - before, 3200000u);
    ASSERT_EQ(nic.sent.size(), 3u);
    for (size_t i = 0; i < nic.sent.size(); i++) {
        const std::vector<uint8_t>& m = nic.sent[i];
        ASSERT_EQ(m.size(), 24u);
        EXPECT_EQ(m[0], 8);
        EXPECT_EQ(m[4] << 8 | m[5], 0x5441);
        EXPECT_EQ(m[6] << 8 | m[7], static_cast<int>(i));
        uint32_t sum = 0;
        for (size_t k = 0; k < m.size(); k += 2) sum += m[k] << 8 | m[k + 1];
        while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
        EXPECT_EQ(sum, 0xffffu);
    }
    EXPECT_EQ(nic.packets_delivered, 6);  // a stray message before each reply
    expect_children_gone(nic);
    EXPECT_EQ(nic.children_created, 1);
    EXPECT_NE(std::find(nic.log.begin(), nic.log.end(), "ip4 configured protocol 1 default 1"), nic.log.end());
    EXPECT_EQ(nic.log.back(), "ip4 unconfigured");

    nic.sent.clear();
    EXPECT_NE(s.output("ping -n 1 -l 0 10.0.2.2").find("8 bytes from 10.0.2.2 : icmp_seq=0"), std::string::npos);
    ASSERT_EQ(nic.sent.size(), 1u);
    EXPECT_EQ(nic.sent[0].size(), 8u);
    nic.sent.clear();
    EXPECT_NE(s.output("ping -n 1 -l 1400 -i eth0 10.0.2.2").find("1408 bytes from"), std::string::npos);
    expect_children_gone(nic);
}

TEST(NetPing, UnansweredSeriesLosesEverything) {
    for (bool resolved : {false, true}) {
        NetShell s;
        sim::FakeNic& nic = dhcp_nic(s);
        if (!resolved) nic.unresolved = {{10, 0, 2, 77}};
        auto r = s.run_captured("ping -n 3 10.0.2.77");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.errors, "");
        EXPECT_EQ(r.out,
                  "Ping 10.0.2.77 16 data bytes.\n"
                  "Echo request sequence 0 timeout.\n"
                  "Echo request sequence 1 timeout.\n"
                  "Echo request sequence 2 timeout.\n"
                  "\n3 packets transmitted, 0 received, 100% packet loss\n");
        expect_children_gone(nic);
    }
}

TEST(NetPing, UsageAndAddressErrors) {
    NetShell s;
    sim::FakeNic& nic = dhcp_nic(s);
    const char* const usage[] = {"ping -n 0 10.0.2.2", "ping -n 10001 10.0.2.2", "ping -l 1401 10.0.2.2",
                                 "ping -l -1 10.0.2.2", "ping", "ping 10.0.2.2 10.0.2.3", "ping -n x 10.0.2.2",
                                 "ping -n"};
    for (const char* line : usage) s.expect_failure(line, 2, "usage: ping");
    s.expect_failure("ping 10.0.2", 1, "ping: 10.0.2 is not an IP address\n");
    s.expect_failure("ping host.example", 1, "ping: host.example is not an IP address\n");
    s.expect_failure("ping -i eth7 10.0.2.2", 1, "ping: no interface named eth7 (see ifconfig -l)\n");
    EXPECT_TRUE(nic.sent.empty());
    EXPECT_EQ(nic.children_created, 0);
}

TEST(NetPing, FailuresEndTheSeriesAndDestroyTheChild) {
    {
        NetShell s;  // no address: the wait takes 5 seconds
        sim::FakeNic& nic = sim::add_nic(s.fw);
        nic.dhcp_answers = false;
        uint64_t before = s.fw.now_us();
        s.expect_failure("ping 10.0.2.2", 1, "ping: eth0 has no IPv4 address (ifconfig -s eth0 dhcp)\n");
        EXPECT_GE(s.fw.now_us() - before, 5000000u);
        EXPECT_EQ(nic.children_created, 0);
    }
    {
        NetShell s;  // the first transmission is refused: no percentage
        sim::FakeNic& nic = dhcp_nic(s);
        nic.transmit_status = efi::kDeviceError;
        auto r = s.run_captured("ping 10.0.2.2");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.errors, "ping: send failed: device error\n");
        EXPECT_EQ(r.out, "Ping 10.0.2.2 16 data bytes.\n\n0 packets transmitted, 0 received\n");
        expect_children_gone(nic);
    }
    {
        NetShell s;  // the transmission completes with an error
        sim::FakeNic& nic = dhcp_nic(s);
        nic.transmit_completion = efi::kNoMapping;
        auto r = s.run_captured("ping 10.0.2.2");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.errors, "ping: send failed: no mapping\n");
        EXPECT_EQ(count_of(r.out, "1 packets transmitted, 0 received, 100% packet loss\n"), 1);
        expect_children_gone(nic);
    }
    {
        NetShell s;
        sim::FakeNic& nic = dhcp_nic(s);
        nic.create_child_status = efi::kOutOfResources;
        s.expect_failure("ping 10.0.2.2", 1, "ping: cannot create an IP4 instance: out of resources\n");
        nic.create_child_status = 0;
        nic.configure_status = efi::kNoMapping;
        s.expect_failure("ping 10.0.2.2", 1, "ping: cannot configure IP4: no mapping\n");
        EXPECT_EQ(nic.children_created, 1);
        expect_children_gone(nic);
    }
    {
        NetShell s;  // no IP4 service binding at all
        sim::NicSetup setup;
        setup.ip4_service = false;
        sim::FakeNic& nic = sim::add_nic(s.fw, setup);
        nic.station = {10, 0, 2, 15};
        s.expect_failure("ping 10.0.2.2", 1, "ping: cannot create an IP4 instance: unsupported\n");
    }
}

TEST(NetPing, CtrlCStopsTheSeries) {
    NetShell s;
    sim::FakeNic& nic = dhcp_nic(s);
    nic.responders[{10, 0, 2, 2}] = 1000;
    s.fw.push_key(3, 0, 0, 2500000);
    auto r = s.run_captured("ping -n 100 10.0.2.2");
    EXPECT_EQ(r.code, 130);  // the shell's code for a command Ctrl-C stopped
    EXPECT_EQ(count_of(r.out, " bytes from 10.0.2.2"), 3);
    EXPECT_NE(r.out.find("\n3 packets transmitted, 3 received, 0% packet loss\n"), std::string::npos) << r.out;
    expect_children_gone(nic);
}

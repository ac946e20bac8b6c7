// ifconfig6 over the fake IPv6 interface: the listing with its link-local marks and its
// record, automatic and manual settings with the duplicate-address wait, the dad count,
// and the messages for bad words, addresses and counts.
#include "net6_shell.h"

using namespace tarn;
using namespace tarn_test;

namespace {

// nic6 as a router's advertisement and a manual DNS setting leave it.
void configure(sim::FakeNic6& n) {
    n.policy = 1;
    n.dad_transmits = 2;
    n.addresses.push_back({sim::ipv6("fec0::5054:ff:fe12:3456"), 64});
    n.routes = {{sim::ipv6("fec0::"), 64, sim::ipv6("::")}, {sim::ipv6("::"), 0, sim::ipv6("fe80::2")}};
    n.gateways = {sim::ipv6("fe80::2")};
    n.dns = {sim::ipv6("fec0::3"), sim::ipv6("2001:db8::53")};
}

const char* const kListing =
    "name         : eth0\n"
    "media state  : present\n"
    "policy       : automatic\n"
    "dad transmits: 2\n"
    "mac addr     : 52-54-00-12-34-56\n"
    "ipv6 address : fe80::5054:ff:fe12:3456/64  (link-local)\n"
    "               fec0::5054:ff:fe12:3456/64\n"
    "route table  :\n"
    "  fec0::/64 gateway ::\n"
    "  ::/0 gateway fe80::2\n"
    "dns server   : fec0::3\n"
    "dns server   : 2001:db8::53\n"
    "gateway      : fe80::2\n"
    "\n";

}  // namespace

TEST(NetIfconfig6, WithoutAnIpv6StackNamesTheDrivers) {
    LeakCheckedShell s;
    sim::add_nic(s.fw);  // IPv4 only
    for (const char* line : {"ifconfig6", "ifconfig6 -s eth0 auto", "ifconfig6 -r", "ping6 fe80::1",
                             "ping fec0::2", "tftp fec0::2 a.bin"}) {
        auto r = s.run(line);
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_EQ(r.errors.rfind("no IPv6 network interface: the firmware IPv6 stack is not loaded.\n", 0), 0u)
            << line << ": " << r.errors;
        EXPECT_NE(r.errors.find("Ip6Dxe.efi"), std::string::npos) << line;
    }
}

TEST(NetIfconfig6, ListsAddressesRoutesAndServers) {
    Net6Shell s;
    configure(s.nic6);
    sim::Nic6Setup second;
    second.name = "";
    sim::FakeNic6& other = sim::add_nic6(s.fw, nullptr, second);
    EXPECT_EQ(s.output("ifconfig6 -l eth0"), kListing);
    std::string all = s.output("ifconfig6");
    EXPECT_EQ(all.rfind(kListing, 0), 0u) << all;
    EXPECT_NE(all.find("name         : eth1\nmedia state  : unknown\npolicy       : manual\ndad transmits: 1\n"
                       "mac addr     : 52-54-00-12-34-56\n"
                       "ipv6 address : fe80::5054:ff:fe12:3456/64  (link-local)\nroute table  :\n\n"),
              std::string::npos)
        << all;
    EXPECT_EQ(all, s.output("ifconfig6 -l"));
    other.addresses.clear();
    EXPECT_NE(s.output("ifconfig6 ETH1").find("ipv6 address : none\nroute table  :\n"), std::string::npos);
    s.expect_failure("ifconfig6 -l wlan0", 1, "ifconfig6: no interface named wlan0 (see ifconfig6 -l)\n");
    EXPECT_EQ(s.output("ifconfig6 -data -l eth0"),
              "name=eth0\nmedia=present\npolicy=automatic\nmac=52-54-00-12-34-56\n"
              "ip=fe80::5054:ff:fe12:3456/64 fec0::5054:ff:fe12:3456/64\ngateway=fe80::2\n"
              "dns=fec0::3 2001:db8::53\ndad=2\n");
}

TEST(NetIfconfig6, BrokenInterfaceInformation) {
    LeakCheckedShell s;
    sim::add_nic6(s.fw);
    sim::Nic6Setup broken;
    broken.info_fails = true;
    sim::add_nic6(s.fw, nullptr, broken);
    sim::Nic6Setup outside;
    outside.name = "eth7";
    outside.tables_outside = true;
    sim::add_nic6(s.fw, nullptr, outside);
    // No name from the information: the entry's index; the listing fails with the status.
    s.expect_failure("ifconfig6 -l eth1", 1, "ifconfig6: device error\n");
    // A table that points outside the block the firmware filled is not read.
    EXPECT_NE(s.output("ifconfig6 eth7").find("ipv6 address : none\n"), std::string::npos);
}

TEST(NetIfconfig6, AutomaticBringsTheRoutersPrefix) {
    Net6Shell s;
    EXPECT_EQ(s.output("ifconfig6 -s eth0 auto"), "");
    EXPECT_EQ(s.nic6.policy, 1u);
    s.fw.advance_us(s.nic6.auto_delay_us + 1000);
    std::string listing = s.output("ifconfig6");
    EXPECT_NE(listing.find("policy       : automatic\n"), std::string::npos);
    EXPECT_NE(listing.find("ipv6 address : fe80::5054:ff:fe12:3456/64  (link-local)\n"
                           "               fec0::5054:ff:fe12:3456/64\n"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find("  ::/0 gateway fe80::2\n"), std::string::npos);
    // -r sets manual interfaces back to automatic: every one, or the one named.
    sim::Nic6Setup second;
    second.name = "eth1";
    sim::FakeNic6& other = sim::add_nic6(s.fw, nullptr, second);
    s.nic6.policy = 0;
    EXPECT_EQ(s.output("ifconfig6 -r eth1"), "");
    EXPECT_EQ(other.policy, 1u);
    EXPECT_EQ(s.nic6.policy, 0u);
    other.policy = 0;
    EXPECT_EQ(s.output("ifconfig6 -r"), "");
    EXPECT_EQ(other.policy, 1u);
    EXPECT_EQ(s.nic6.policy, 1u);
}

TEST(NetIfconfig6, ManualSettingsInOrder) {
    struct Case {
        const char* line;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"ifconfig6 -s eth0 man host fec0::10 gw fe80::2 dns fec0::3",
         {"set policy manual", "set manual fec0::10/64", "manual applied fec0::10", "set gateway fe80::2",
          "set dns fec0::3"}},
        // Words switch the kind; a prefix length is kept; several of a kind.
        {"ifconfig6 -s eth0 man dns fec0::3 fec0::4 HOST 2001:db8::1/48 fec0::11 gw fe80::1",
         {"set policy manual", "set manual 2001:db8::1/48 fec0::11/64", "manual applied 2001:db8::1",
          "manual applied fec0::11", "set gateway fe80::1", "set dns fec0::3 fec0::4"}},
        {"ifconfig6 -s eth0 man", {"set policy manual"}},
    };
    for (const Case& c : cases) {
        Net6Shell s;
        s.nic6.policy = 1;
        EXPECT_EQ(s.output(c.line), "") << c.line;
        EXPECT_EQ(s.nic6.log, c.log) << c.line;
        EXPECT_EQ(s.nic6.notify_registrations(), 0u);
    }
    // The listing shows what was set.
    Net6Shell s;
    EXPECT_EQ(s.output("ifconfig6 -s eth0 man host fec0::10/96 gw fe80::2 dns fec0::3"), "");
    std::string listing = s.output("ifconfig6");
    EXPECT_NE(listing.find("policy       : manual\n"), std::string::npos);
    EXPECT_NE(listing.find("               fec0::10/96\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("dns server   : fec0::3\ngateway      : fe80::2\n"), std::string::npos) << listing;
}

TEST(NetIfconfig6, BadSettingsChangeNothing) {
    struct Case {
        const char* line;
        int code;
        const char* errors;
    };
    const std::string man_usage = "usage: ifconfig6 -s NAME man [host ADDR[/LEN]...] [gw ADDR...] [dns ADDR...]\n";
    const std::string dad_usage = "usage: ifconfig6 -s NAME dad COUNT (0-10)\n";
    const Case cases[] = {
        {"ifconfig6 -s eth0 man fec0::1", 1, "ifconfig6: fec0::1: not a valid IPv6 setting (host, gw or dns)\n"},
        {"ifconfig6 -s eth0 man route fec0::1", 1, "ifconfig6: route: not a valid IPv6 setting (host, gw or dns)\n"},
        {"ifconfig6 -s eth0 man host fec0::g", 1, "ifconfig6: fec0::g: not a valid IPv6 address (ADDR or ADDR/LEN)\n"},
        {"ifconfig6 -s eth0 man host fec0::1/129", 1,
         "ifconfig6: fec0::1/129: not a valid IPv6 address (ADDR or ADDR/LEN)\n"},
        {"ifconfig6 -s eth0 man host fec0::1/", 1, "ifconfig6: fec0::1/: not a valid IPv6 address (ADDR or ADDR/LEN)\n"},
        {"ifconfig6 -s eth0 man host 1:2:3:4:5:6:7:8:9", 1,
         "ifconfig6: 1:2:3:4:5:6:7:8:9: not a valid IPv6 address (ADDR or ADDR/LEN)\n"},
        {"ifconfig6 -s eth0 man gw 10.0.2.2", 1, "ifconfig6: 10.0.2.2: not a valid IPv6 address\n"},
        {"ifconfig6 -s eth0 man dns fec0::3/64", 1, "ifconfig6: fec0::3/64: not a valid IPv6 address\n"},
        {"ifconfig6 -s eth0 man dns 1 2 3 4 5 6 7 8 9", 1, "ifconfig6: 1: not a valid IPv6 address\n"},
        {"ifconfig6 -s eth0 man dns ::1 ::2 ::3 ::4 ::5 ::6 ::7 ::8 ::9", 2, man_usage.c_str()},
        {"ifconfig6 -s eth0 dad 11", 2, dad_usage.c_str()},
        {"ifconfig6 -s eth0 dad -1", 2, dad_usage.c_str()},
        {"ifconfig6 -s eth0 dad x", 2, dad_usage.c_str()},
        {"ifconfig6 -s eth0 dad", 2, dad_usage.c_str()},
        {"ifconfig6 -s eth0 dad 1 2", 2, dad_usage.c_str()},
        {"ifconfig6 -s eth9 auto", 1, "ifconfig6: no interface named eth9 (see ifconfig6 -l)\n"},
        {"ifconfig6 -r eth9", 1, "ifconfig6: no interface named eth9 (see ifconfig6 -l)\n"},
    };
    for (const Case& c : cases) {
        Net6Shell s;
        s.expect_failure(c.line, c.code, c.errors);
        EXPECT_TRUE(s.nic6.log.empty()) << c.line;
    }
    for (const char* line : {"ifconfig6 -l -r", "ifconfig6 -s eth0", "ifconfig6 -s eth0 bogus", "ifconfig6 a b",
                             "ifconfig6 -s eth0 auto now"}) {
        Net6Shell s;
        auto r = s.run(line);
        EXPECT_EQ(r.code, 2) << line;
        EXPECT_EQ(r.errors.rfind("usage: ifconfig6", 0), 0u) << line << r.errors;
        EXPECT_TRUE(s.nic6.log.empty()) << line;
    }
}

TEST(NetIfconfig6, DadCountAndFirmwareFailures) {
    {
        Net6Shell s;
        for (const char* count : {"0", "3", "10"}) {
            EXPECT_EQ(s.output(std::string("ifconfig6 -s eth0 dad ") + count), "");
            EXPECT_EQ(s.nic6.log.back(), std::string("set dad ") + count);
        }
        EXPECT_NE(s.output("ifconfig6").find("dad transmits: 10\n"), std::string::npos);
    }
    {
        // Duplicate address detection that never ends: the wait gives up.
        Net6Shell s;
        s.nic6.dad_completes = false;
        uint64_t before = s.fw.now_us();
        s.expect_failure("ifconfig6 -s eth0 man host fec0::10", 1, "ifconfig6: timeout\n");
        EXPECT_GE(s.fw.now_us() - before, 10000000u);
        EXPECT_EQ(s.nic6.notify_registrations(), 0u);
    }
    {
        // Ctrl-C during that wait.
        Net6Shell s;
        s.nic6.dad_completes = false;
        s.fw.push_key(3, 0, 0, 500000);
        EXPECT_EQ(s.run("ifconfig6 -s eth0 man host fec0::10").code, 130);
        EXPECT_EQ(s.nic6.notify_registrations(), 0u);
    }
    {
        Net6Shell s;
        s.nic6.fail_set_type = efi::kIp6ConfigPolicy;
        s.nic6.fail_set_status = efi::kDeviceError;
        s.expect_failure("ifconfig6 -s eth0 auto", 1, "ifconfig6: device error\n");
        s.expect_failure("ifconfig6 -r", 1, "ifconfig6: device error\n");
        s.nic6.fail_set_type = efi::kIp6ConfigGateway;
        s.nic6.fail_set_status = efi::kWriteProtected;
        s.expect_failure("ifconfig6 -s eth0 man gw fe80::1", 1, "ifconfig6: write protected\n");
    }
}

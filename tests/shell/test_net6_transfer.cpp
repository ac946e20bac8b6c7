// Downloads over IPv6: tftp to a server with an IPv6 address through the fake MTFTP6
// service (sent from the address of the server's scope), and http to a bracketed IPv6
// host through an IPv6 access point; failures leave no file and no child behind.
#include "net6_shell.h"

using namespace tarn;
using namespace tarn_test;

namespace {

struct Transfer6Shell : Net6Shell {
    Transfer6Shell() {
        nic6.policy = 1;
        nic6.addresses.push_back({sim::ipv6("fec0::5054:ff:fe12:3456"), 64});
        nic6.tftp_files["boot/grubx64.efi"] = "MZ grub";
        nic6.tftp_files["big.img"] = std::string(70000, 'x') + "end";
        sim::HttpReply page;
        page.body = std::string(2500, 'b') + "tail";
        page.headers = {{"Content-Length", std::to_string(page.body.size())}};
        nic.http_pages["http://[fec0::2]:8080/d/page.bin"] = page;
    }
    // A run that must give back its memory, close its files and destroy its children.
    RunResult checked(const std::string& line) {
        RunResult r = run_captured(line);
        EXPECT_EQ(nic6.tftp_children_created, nic6.tftp_children_destroyed) << line;
        EXPECT_EQ(nic.tftp_children_created, 0) << line;
        EXPECT_EQ(nic.http_children_created, nic.http_children_destroyed) << line;
        expect_handles_closed();
        return r;
    }
};

}  // namespace

TEST(NetTftp6, SavesTheFileFromAnIpv6Server) {
    struct Case {
        const char* line;
        const char* out;
        const char* file;
        const char* remote;
        std::vector<std::string> requests;
    };
    const Case cases[] = {
        {"tftp fec0::2 boot/grubx64.efi",
         "Downloading boot/grubx64.efi from fec0::2 ...\n7 bytes saved to fs0:\\grubx64.efi\n", "\\grubx64.efi", "boot/grubx64.efi",
         {"configure server fec0::2 port 69 tries 6 timeout 4 local 0", "info boot/grubx64.efi octet tsize=0",
          "read boot/grubx64.efi octet"}},
        {"tftp -s 1468 -r 1069 -c 3 -t 9 -l 2000 fe80::2 big.img copy.img",
         "Downloading big.img from fe80::2 ...\n70003 bytes saved to fs0:\\copy.img\n", "\\copy.img", "big.img",
         {"configure server fe80::2 port 1069 tries 3 timeout 9 local 2000", "info big.img octet tsize=0 blksize=1468",
          "read big.img octet blksize=1468"}},
    };
    for (const Case& c : cases) {
        Transfer6Shell s;
        auto r = s.checked(c.line);
        EXPECT_EQ(r.code, 0) << c.line << r.errors;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(s.file_content(c.file), s.nic6.tftp_files[c.remote]);
        EXPECT_EQ(s.nic6.tftp_requests, c.requests) << c.line;
    }
}

TEST(NetTftp6, FailuresLeaveNothingBehind) {
    struct Case {
        const char* line;
        void (*arrange)(Transfer6Shell&);
        const char* errors;
    };
    const Case cases[] = {
        {"tftp fec0::2 nothere.bin", nullptr, "tftp: download failed: TFTP error\n"},
        {"tftp fec0::2 big.img", [](Transfer6Shell& s) { s.nic6.tftp_announced = int64_t(1) << 50; },
         "tftp: download failed: out of resources (1125899906842624 bytes)\n"},
        {"tftp fec0::2 big.img", [](Transfer6Shell& s) { s.nic6.tftp_tsize = false; },
         "tftp: download failed: unsupported\n"},
        {"tftp fec0::2 big.img", [](Transfer6Shell& s) { s.nic6.tftp_read_status = efi::kTimeout; },
         "tftp: download failed: timeout\n"},
        {"tftp fec0::2 big.img", [](Transfer6Shell& s) { s.nic6.tftp_configure_status = efi::kNoMapping; },
         "tftp: cannot configure TFTP: no mapping\n"},
        {"tftp fec0::2 big.img", [](Transfer6Shell& s) { s.nic6.addresses.resize(1); },
         "tftp: eth0 has no IPv6 address that can reach fec0::2 (ifconfig6 -s eth0 auto)\n"},
        {"tftp -i eth4 fec0::2 big.img", nullptr, "tftp: no interface named eth4 (see ifconfig6 -l)\n"},
        {"tftp fec0::2 big.img fs9:\\x.img", nullptr, "tftp: invalid local file\n"},
    };
    for (const Case& c : cases) {
        Transfer6Shell s;
        if (c.arrange) c.arrange(s);
        auto r = s.checked(c.line);
        EXPECT_EQ(r.code, 1) << c.line;
        EXPECT_EQ(r.errors, c.errors) << c.line;
        EXPECT_FALSE(s.exists("\\big.img")) << c.line;
    }
    {
        LeakCheckedShell s;
        sim::Nic6Setup setup;
        setup.mtftp6_service = false;
        sim::add_nic6(s.fw, nullptr, setup);
        s.expect_failure("tftp fe80::2 a.bin", 1, "tftp: no TFTPv6 service on this interface (Mtftp6Dxe not loaded?)\n");
    }
    {
        Transfer6Shell s;
        s.nic6.tftp_duration_us = 5000000;
        s.fw.push_key(3, 0, 0, 1000000);
        auto r = s.checked("tftp fec0::2 big.img");
        EXPECT_EQ(r.code, 130);
        EXPECT_FALSE(s.exists("\\big.img"));
    }
}

TEST(NetHttp6, BracketedHostGoesThroughAnIpv6AccessPoint) {
    Transfer6Shell s;
    auto r = s.checked("http http://[fec0::2]:8080/d/page.bin");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out,
              "Downloading http://[fec0::2]:8080/d/page.bin\n"
              "\r  1000 / 2504 bytes\r  2504 / 2504 bytes\n2504 bytes saved to fs0:\\page.bin\n");
    EXPECT_EQ(s.file_content("\\page.bin"), std::string(2500, 'b') + "tail");
    EXPECT_TRUE(s.nic.http_ipv6);
    ASSERT_EQ(s.nic.http_requests.size(), 1u);
    EXPECT_EQ(s.nic.http_requests[0],
              "GET http://[fec0::2]:8080/d/page.bin|Host: [fec0::2]:8080|Accept: */*|User-Agent: TARN/0.2.1");
    // An IPv4 host still configures an IPv4 access point.
    s.nic.station = {10, 0, 2, 15};
    s.nic.http_pages["http://10.0.2.100/a"].body = "a";
    EXPECT_EQ(s.checked("http http://10.0.2.100/a").code, 0);
    EXPECT_FALSE(s.nic.http_ipv6);
}

TEST(NetHttp6, Failures) {
    struct Case {
        const char* line;
        void (*arrange)(Transfer6Shell&);
        const char* errors;
    };
    const Case cases[] = {
        {"http http://[fec0::2]/d/page.bin", [](Transfer6Shell& s) { s.nic6.addresses.resize(1); },
         "http: eth0 has no IPv6 address that can reach fec0::2 (ifconfig6 -s eth0 auto)\n"},
        {"http http://[fec0::2]/none", nullptr, "http: server answered 404\n"},
        {"http -i eth3 http://[fe80::2]/x", nullptr, "http: no interface named eth3 (see ifconfig6 -l)\n"},
        {"http http://[fec0::2/x", nullptr, "http: http://[fec0::2/x is not a valid IPv6 address\n"},
        {"http http://[fec0::2::3]/x", nullptr, "http: http://[fec0::2::3]/x is not a valid IPv6 address\n"},
    };
    for (const Case& c : cases) {
        Transfer6Shell s;
        if (c.arrange) c.arrange(s);
        auto r = s.checked(c.line);
        EXPECT_EQ(r.code, 1) << c.line;
        EXPECT_EQ(r.errors, c.errors) << c.line;
        EXPECT_FALSE(s.exists("\\page.bin"));
    }
    LeakCheckedShell s;
    sim::add_nic(s.fw);  // IPv4 only
    auto r = s.run("http http://[fec0::2]/x");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors.rfind("no IPv6 network interface: the firmware IPv6 stack is not loaded.\n", 0), 0u);
}

// tftp over the fake interface's MTFTP4 service: the size query and the transfer with
// their options, the saved file, and every failure leaving no file and no child behind.
#include "command_test.h"
#include "network.h"
#include "uefi/network.h"

using namespace tarn;
using namespace tarn_test;

namespace {

ShellSetup tftp_setup() {
    ShellSetup setup;
    setup.paging = false;
    return setup;
}

struct TftpShell : CommandShell {
    TftpShell() : CommandShell(tftp_setup()), nic(sim::add_nic(fw)) {
        nic.station = {10, 0, 2, 15};
        nic.mask = {255, 255, 255, 0};
        nic.tftp_files["boot/grubx64.efi"] = "MZ grub";
        nic.tftp_files["big.img"] = std::string(70000, 'x') + "end";
        add_directory("\\sub");
    }
    // A run that must give back its memory and its files, and destroy its children.
    RunResult checked(const std::string& line) {
        int64_t before = fw.outstanding_allocations();
        RunResult r = run_captured(line);
        EXPECT_EQ(fw.outstanding_allocations(), before) << "leak in: " << line;
        EXPECT_EQ(nic.tftp_children_created, nic.tftp_children_destroyed) << line;
        expect_handles_closed();
        return r;
    }
    sim::FakeNic& nic;
};

}  // namespace

TEST(NetTftp, SavesTheFileUnderItsLastComponent) {
    TftpShell s;
    auto r = s.checked("tftp 10.0.2.2 boot/grubx64.efi");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out, "Downloading boot/grubx64.efi from 10.0.2.2 ...\n7 bytes saved to fs0:\\grubx64.efi\n");
    EXPECT_EQ(s.file_content("\\grubx64.efi"), "MZ grub");
    const std::vector<std::string> expected = {"configure server 10.0.2.2 port 69 tries 6 timeout 4 local 0",
                                               "info boot/grubx64.efi octet tsize=0",
                                               "read boot/grubx64.efi octet"};
    EXPECT_EQ(s.nic.tftp_requests, expected);
}

TEST(NetTftp, OptionsReachTheDriver) {
    TftpShell s;
    auto r = s.checked("tftp -s 1468 -r 1069 -c 3 -t 9 -l 2000 -w 4 10.0.2.2 big.img sub\\copy.img");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out, "Downloading big.img from 10.0.2.2 ...\n70003 bytes saved to fs0:\\sub\\copy.img\n");
    EXPECT_EQ(s.file_content("\\sub\\copy.img"), s.nic.tftp_files["big.img"]);
    const std::vector<std::string> expected = {"configure server 10.0.2.2 port 1069 tries 3 timeout 9 local 2000",
                                               "info big.img octet tsize=0 blksize=1468",
                                               "read big.img octet blksize=1468"};
    EXPECT_EQ(s.nic.tftp_requests, expected);
}

TEST(NetTftp, FailuresLeaveNothingBehind) {
    struct Case {
        const char* line;
        void (*arrange)(TftpShell&);
        int code;
        const char* errors;
    };
    const Case cases[] = {
        {"tftp 10.0.2.2 nothere.bin", nullptr, 1, "tftp: download failed: TFTP error\n"},
        {"tftp 10.0.2.2 big.img", [](TftpShell& s) { s.nic.tftp_announced = int64_t(1) << 50; }, 1,
         "tftp: download failed: out of resources (1125899906842624 bytes)\n"},
        {"tftp 10.0.2.2 big.img", [](TftpShell& s) { s.nic.tftp_announced = 10; }, 1,
         "tftp: download failed: buffer too small\n"},
        {"tftp 10.0.2.2 big.img", [](TftpShell& s) { s.nic.tftp_tsize = false; }, 1,
         "tftp: download failed: unsupported\n"},
        {"tftp 10.0.2.2 big.img", [](TftpShell& s) { s.nic.tftp_read_status = efi::kTimeout; }, 1,
         "tftp: download failed: timeout\n"},
        {"tftp 10.0.2.2 big.img", [](TftpShell& s) { s.nic.tftp_configure_status = efi::kNoMapping; }, 1,
         "tftp: cannot configure TFTP: no mapping\n"},
        {"tftp 10.0.2.2 big.img", [](TftpShell& s) { sim::set_free_space(s.fw, s.boot_volume(), 1000); }, 1,
         "tftp: fs0:\\big.img: volume full\n"},
        {"tftp 10.0.2.2 big.img", [](TftpShell& s) { s.nic.dhcp_answers = false; s.nic.station = {}; }, 1,
         "tftp: eth0 has no IPv4 address (ifconfig -s eth0 dhcp)\n"},
        {"tftp 10.0.2 big.img", nullptr, 1, "tftp: 10.0.2 is not an IP address\n"},
        {"tftp fe80::g big.img", nullptr, 1, "tftp: fe80::g is not an IP address\n"},
        {"tftp 10.0.2.2 big.img fs9:\\x.img", nullptr, 1, "tftp: invalid local file\n"},
        {"tftp 10.0.2.2 dir/", nullptr, 1, "tftp: invalid local file\n"},
        {"tftp -i eth5 10.0.2.2 big.img", nullptr, 1, "tftp: no interface named eth5 (see ifconfig -l)\n"},
        {"tftp 10.0.2.2", nullptr, 2, ""},
        {"tftp 10.0.2.2 a b c", nullptr, 2, ""},
        {"tftp -r 65536 10.0.2.2 a", nullptr, 2, ""},
        {"tftp -s 7 10.0.2.2 a", nullptr, 2, ""},
        {"tftp -c x 10.0.2.2 a", nullptr, 2, ""},
        {"tftp -t -1 10.0.2.2 a", nullptr, 2, ""},
    };
    for (const Case& c : cases) {
        TftpShell s;
        if (c.arrange) c.arrange(s);
        auto r = s.checked(c.line);
        EXPECT_EQ(r.code, c.code) << c.line;
        if (c.code == 2) EXPECT_EQ(r.errors.rfind("usage: tftp", 0), 0u) << c.line << r.errors;
        else EXPECT_EQ(r.errors, c.errors) << c.line;
        EXPECT_FALSE(s.exists("\\big.img")) << c.line;
        EXPECT_FALSE(s.exists("\\nothere.bin")) << c.line;
        // The shell goes on.
        EXPECT_EQ(s.run("echo on").code, 0);
    }
}

TEST(NetTftp, MissingServiceAndCtrlC) {
    {
        CommandShell s(tftp_setup());
        sim::NicSetup setup;
        setup.mtftp4_service = false;
        sim::FakeNic& nic = sim::add_nic(s.fw, setup);
        nic.station = {10, 0, 2, 15};
        s.expect_failure("tftp 10.0.2.2 a.bin", 1, "tftp: no TFTP service on this interface (Mtftp4Dxe not loaded?)\n");
    }
    {
        TftpShell s;
        s.nic.tftp_duration_us = 5000000;
        s.fw.push_key(3, 0, 0, 1000000);
        auto r = s.checked("tftp 10.0.2.2 big.img");
        EXPECT_EQ(r.code, 130);
        EXPECT_FALSE(s.exists("\\big.img"));
    }
}

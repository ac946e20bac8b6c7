// bcfg in the UEFI Shell's syntax and the BASIC boot functions over the simulated store.
#include <string>
#include <vector>

#include "command_test.h"
#include "load_option_bytes.h"
#include "drivers/handle_table.h"
#include "uefi/guids.h"

using namespace tarn;
using namespace tarn_test;

namespace {

Bytes option(uint32_t attributes, const std::string& description, const Bytes& optional = {}) {
    Bytes b;
    put16(b, attributes & 0xffff);
    put16(b, attributes >> 16);
    put16(b, 4);
    Bytes d = ucs2(description);
    b.insert(b.end(), d.begin(), d.end());
    b.insert(b.end(), {0x7f, 0xff, 4, 0});
    b.insert(b.end(), optional.begin(), optional.end());
    return b;
}

struct Parts {
    std::string description;
    Bytes path;
    Bytes optional;
};

Parts parts(const Bytes& b) {
    Parts p;
    const size_t list = b[4] | b[5] << 8;
    size_t at = 6;
    for (; b[at] || b[at + 1]; at += 2) p.description += static_cast<char>(b[at]);
    at += 2;
    p.path.assign(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + list));
    p.optional.assign(b.begin() + static_cast<long>(at + list), b.end());
    return p;
}

class Bcfg : public ::testing::Test {
protected:
    Bcfg() : sh(file_commands()) {
        sh.add_file("\\efi\\x.efi", pe_image());
        for (uint32_t n : {1u, 2u, 3u}) {
            char name[16];
            snprintf(name, sizeof name, "Boot%04X", n);
            std::u16string u(name, name + strlen(name));
            sh.store().put(u, kGlobal, 7, option(1, "Entry " + std::to_string(n)));
        }
        set_order({1, 2, 3});
    }
    void set_order(const std::vector<uint32_t>& numbers) {
        Bytes b;
        for (uint32_t n : numbers) put16(b, n);
        sh.store().put(u"BootOrder", kGlobal, 7, b);
    }
    Bytes value(const std::string& name) {
        const sim::StoredVariable* v = sh.store().find(name, kGlobal);
        return v ? v->data : Bytes{0xee};
    }
    std::string order() {
        Bytes b = value("BootOrder");
        std::string s;
        for (size_t i = 0; i + 1 < b.size(); i += 2)
            s += (s.empty() ? "" : ",") + std::to_string(b[i] | b[i + 1] << 8);
        return s;
    }
    CommandShell sh;
};

TEST_F(Bcfg, DumpListsByPosition) {
    sh.store().put(u"Boot0002", kGlobal, 7, option(1, "Entry 2", ucs2("quiet")));
    set_order({1, 2, 9});
    const std::string out = sh.output("bcfg boot dump -V");
    EXPECT_EQ(out,
              "Option: 00. Variable: Boot0001\n  Desc    - Entry 1\n  DevPath - \n  Optional- N\n"
              "Option: 01. Variable: Boot0002\n  Desc    - Entry 2\n  DevPath - \n  Optional- Y\n"
              "  Data    - quiet\n"
              "Option: 02. Variable: Boot0009\n  <missing variable>\n");
    EXPECT_EQ(sh.output("BCFG Boot").find("  Data"), std::string::npos);
    EXPECT_EQ(sh.output("bcfg driver"), "No Driver options.\n");
}

TEST_F(Bcfg, AddInsertsAtThePosition) {
    const struct {
        const char* line;
        const char* target;
        const char* order;
    } cases[] = {
        {"bcfg boot add 0 fs0:\\efi\\x.efi \"X\"", "Target = 0000.\n", "0,1,2,3"},
        {"bcfg boot add 99 fs0:\\efi\\x.efi Y", "Target = 0004.\n", "0,1,2,3,4"},
        {"bcfg boot addp 2 fs0:\\efi\\x.efi Z", "Target = 0005.\n", "0,1,5,2,3,4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(sh.output(c.line), c.target);
        EXPECT_EQ(order(), c.order);
    }
    const Parts full = parts(value("Boot0000"));
    const Parts short_form = parts(value("Boot0005"));
    EXPECT_EQ(full.description, "X");
    EXPECT_EQ(full.path[0], 2);        // from PciRoot
    EXPECT_EQ(short_form.path[0], 4);  // from the hard-drive node
    EXPECT_EQ(short_form.path[1], 1);
    ASSERT_LT(short_form.path.size(), full.path.size());
    EXPECT_TRUE(std::equal(short_form.path.begin(), short_form.path.end(),
                           full.path.end() - static_cast<long>(short_form.path.size())));
    // A backup was made although nothing was said.
    EXPECT_TRUE(sh.exists("\\tarn\\backup\\boot-20250307-140509.txt"));
}

TEST_F(Bcfg, AddByHandleAndWithoutPartitionTable) {
    const uint64_t number = handle_number(sim::volume_handle(sh.fw, sh.volumes[0]));
    char line[128];
    snprintf(line, sizeof line, "bcfg boot addh 0 %llx \"Volume\"", static_cast<unsigned long long>(number));
    EXPECT_EQ(sh.output(line), "Target = 0000.\n");
    EXPECT_EQ(parts(value("Boot0000")).path[0], 2);
    sh.expect_failure("bcfg boot addh 0 ffff X", 1, "bcfg: ffff is not a handle with a device path\n");

    sim::VolumeLayout layout;
    layout.location.pci_device = 7;
    layout.location.partition = 0;
    sim::VolumeId plain = sim::add_volume(sh.fw, layout);
    sim::add_file(sh.fw, plain, "\\p.efi", pe_image());
    ASSERT_EQ(sh.run("map -r").code, 0);
    const RunResult r = sh.run_captured("bcfg boot addp 0 fs1:\\p.efi P");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.errors, "bcfg: the volume has no partition table: using the full device path\n");
    EXPECT_EQ(r.out, "Target = 0004.\n");
    EXPECT_EQ(parts(value("Boot0004")).path[0], 2);
}

TEST_F(Bcfg, RemoveMoveAndModify) {
    ASSERT_EQ(sh.run("bcfg boot mv 0 2").code, 0);
    EXPECT_EQ(order(), "2,3,1");
    ASSERT_EQ(sh.run("bcfg boot rm 1").code, 0);
    EXPECT_EQ(order(), "2,1");
    EXPECT_EQ(value("Boot0003"), Bytes{0xee});
    ASSERT_EQ(sh.run("bcfg boot mod 0 \"Renamed\"").code, 0);
    EXPECT_EQ(value("Boot0002"), option(1, "Renamed"));
    ASSERT_EQ(sh.run("bcfg boot -opt 0 \"quiet\"").code, 0);
    EXPECT_EQ(value("Boot0002"), option(1, "Renamed", ucs2("quiet")));
    sh.add_file("\\opt.bin", std::string("\x01\x02\x03", 3));
    ASSERT_EQ(sh.run("bcfg boot -opt 0 fs0:\\opt.bin").code, 0);
    EXPECT_EQ(value("Boot0002"), option(1, "Renamed", {1, 2, 3}));
    ASSERT_EQ(sh.run("bcfg boot -opt 0").code, 0);
    EXPECT_EQ(value("Boot0002"), option(1, "Renamed"));
    ASSERT_EQ(sh.run("bcfg boot modf 1 fs0:\\efi\\x.efi").code, 0);
    const Parts p = parts(value("Boot0001"));
    EXPECT_EQ(p.description, "Entry 1");
    EXPECT_EQ(p.path[0], 2);
}

TEST_F(Bcfg, RefusedArguments) {
    sh.store().put(u"Boot0003", kGlobal, 7, {1, 0, 0});
    const struct {
        const char* line;
        int code;
        const char* message;
    } cases[] = {
        {"bcfg", 2, "usage"},
        {"bcfg net dump", 2, "usage"},
        {"bcfg boot frob", 2, "usage"},
        {"bcfg boot add 0 fs0:\\efi\\x.efi", 2, "usage"},
        {"bcfg boot add zz fs0:\\efi\\x.efi X", 2, "usage"},
        {"bcfg boot add 0 fs0:\\none.efi X", 1, "bcfg: fs0:\\none.efi: file not found\n"},
        {"bcfg boot rm 5", 1, "bcfg: invalid option number (see bcfg boot dump)\n"},
        {"bcfg BOOT rm", 1, "bcfg: invalid option number (see bcfg BOOT dump)\n"},
        {"bcfg boot mv 0 3", 1, "bcfg: invalid option number (see bcfg boot dump)\n"},
        {"bcfg boot mod 0", 1, "bcfg: invalid option number or arguments (see help bcfg)\n"},
        {"bcfg boot mod 3 x", 1, "bcfg: invalid option number or arguments (see help bcfg)\n"},
        {"bcfg boot -opt 0 a b", 1, "bcfg: invalid option number or arguments (see help bcfg)\n"},
        {"bcfg boot mod 2 x", 1, "bcfg: Boot0003 is missing or invalid\n"},
        {"bcfg boot modf 0 fs0:\\efi", 1, "bcfg: fs0:\\efi: file not found\n"},
    };
    const Bytes before = value("BootOrder");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        sh.expect_failure(c.line, c.code, c.message);
    }
    EXPECT_EQ(value("BootOrder"), before);
    EXPECT_EQ(value("Boot0001"), option(1, "Entry 1"));
}

TEST_F(Bcfg, AFailedWriteIsReportedAsThePlanDoes) {
    sh.store().refuse_writes(efi::kWriteProtected);
    sh.expect_failure("bcfg boot mod 0 x", 1, "bootmgr: writing Boot0001 failed: ");
}

TEST(BcfgNoVolume, AFailedQuietBackupDoesNotStopTheChange) {
    CommandShell sh(0);
    sh.store().put(u"Boot0001", kGlobal, 7, option(1, "One"));
    sh.store().put(u"BootOrder", kGlobal, 7, {1, 0});
    const RunResult r = sh.run_captured("bcfg boot mod 0 Renamed");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(sh.store().find("Boot0001", kGlobal)->data, option(1, "Renamed"));
}

TEST_F(Bcfg, BasicBootFunctions) {
    sh.store().put(u"Boot0002", kGlobal, 6, option(0, "Off", ucs2("-k")));
    sh.store().put(u"BootCurrent", kGlobal, 6, {3, 0});
    RunResult r = sh.run_basic(
        "print bootcount(); \" \"; bootid(0); \" \"; bootid(2); \" \"; bootcurrent()\n"
        "print bootdesc$(1); \"|\"; bootargs$(2); \"|\"; bootenabled(1); \" \"; bootenabled(2)\n"
        "print bootdesc$(&hFFFF); \"|\"; err; \"|\"; bootdesc$(3); \" \"; err\n"
        "print bootpath$(1); \"|\"; bootenabled(&h10); \" \"; err\n");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out, "3 1 3 3\nEntry 1|-k|-1 0\n|127|Entry 3 0\n|0 127\n");
    const struct {
        const char* code;
        const char* message;
    } errors[] = {
        {"print bootid(bootcount())", "BOOTID: index 3 out of range (0 to 2)"},
        {"print bootid(-1)", "BOOTID: index -1 out of range (0 to 2)"},
        {"print bootdesc$(-1)", "invalid boot entry number"},
        {"print bootenabled(&h10000)", "invalid boot entry number"},
    };
    for (const auto& e : errors) {
        r = sh.run_basic(e.code);
        EXPECT_NE(r.code, 0) << e.code;
        EXPECT_EQ(error_message(r), e.message) << e.code;
    }
    sh.store().erase("BootOrder", kGlobal);
    sh.store().erase("BootCurrent", kGlobal);
    r = sh.run_basic("print bootcount(); \" \"; bootcurrent()");
    EXPECT_EQ(r.out, "0 -1\n");
    EXPECT_EQ(error_message(sh.run_basic("print bootid(0)")), "BOOTID: index 0 out of range (0 to -1)");
}

}  // namespace

// bootmgr over the simulated variable store: listings, every subcommand's plan, messages
// and exit codes, the confirmation, the dated backup and what a failed step leaves.
// Load options are assembled and read back here field by field, not with the shell's code.
#include <string>
#include <vector>

#include "command_test.h"
#include "load_option_bytes.h"
#include "uefi/guids.h"

using namespace tarn;
using namespace tarn_test;

namespace {

Bytes file_node_path(const std::string& name) {
    Bytes body = ucs2(name);
    Bytes p{4, 4};
    put16(p, static_cast<uint32_t>(body.size() + 4));
    p.insert(p.end(), body.begin(), body.end());
    p.insert(p.end(), {0x7f, 0xff, 4, 0});
    return p;
}

Bytes option(uint32_t attributes, const std::string& description, const Bytes& path,
             const Bytes& optional = {}) {
    Bytes b;
    put16(b, attributes & 0xffff);
    put16(b, attributes >> 16);
    put16(b, static_cast<uint32_t>(path.size()));
    Bytes d = ucs2(description);
    b.insert(b.end(), d.begin(), d.end());
    b.insert(b.end(), path.begin(), path.end());
    b.insert(b.end(), optional.begin(), optional.end());
    return b;
}

// A load option read back: the fields as stored.
struct Decoded {
    uint32_t attributes = 0;
    std::string description;
    Bytes path;
    Bytes optional;
};

Decoded decode(const Bytes& b) {
    Decoded d;
    d.attributes = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    const size_t list = b[4] | b[5] << 8;
    size_t at = 6;
    while (b[at] || b[at + 1]) {
        d.description += static_cast<char>(b[at]);
        at += 2;
    }
    at += 2;
    d.path.assign(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + list));
    d.optional.assign(b.begin() + static_cast<long>(at + list), b.end());
    return d;
}

class Bootmgr : public ::testing::Test {
protected:
    Bootmgr() : sh(file_commands()) {}

    void put(const char* name, const Bytes& data) {
        std::u16string n;
        for (const char* p = name; *p; p++) n += static_cast<char16_t>(*p);
        sh.store().put(n, kGlobal, 7, data);
    }
    void put_entry(uint32_t number, uint32_t attributes, const std::string& description,
                   const Bytes& optional = {}) {
        char name[16];
        snprintf(name, sizeof name, "Boot%04X", number);
        put(name, option(attributes, description, file_node_path("\\efi\\e.efi"), optional));
    }
    void put_order(const char* name, const std::vector<uint32_t>& numbers) {
        Bytes b;
        for (uint32_t n : numbers) put16(b, n);
        put(name, b);
    }
    bool has(const std::string& name) { return sh.store().find(name, kGlobal) != nullptr; }
    Bytes value(const std::string& name) {
        const sim::StoredVariable* v = sh.store().find(name, kGlobal);
        return v ? v->data : Bytes{0xee};
    }
    std::string order(const char* name = "BootOrder") {
        if (!has(name)) return "<none>";
        Bytes b = value(name);
        std::string s;
        for (size_t i = 0; i + 1 < b.size(); i += 2) {
            char t[8];
            snprintf(t, sizeof t, "%s%04X", s.empty() ? "" : ",", b[i] | b[i + 1] << 8);
            s += t;
        }
        return s;
    }
    // Three entries in order 0001,0002 and 0003 outside it.
    void three_entries() {
        put_entry(1, 1, "First");
        put_entry(2, 0, "Second");
        put_entry(3, 1, "Third", ucs2("-c 1"));
        put_order("BootOrder", {1, 2});
    }

    CommandShell sh;
};

TEST_F(Bootmgr, ListsEntriesInOrderThenTheRest) {
    three_entries();
    put_order("BootOrder", {1, 9, 2});
    put("BootCurrent", {1, 0});
    put("Timeout", {5, 0});
    put("Boot0004", {1, 2, 3, 4, 5, 6, 7});
    const std::string out = sh.output("bootmgr");
    for (const char* line : {
             "BootCurrent: 0001   BootNext: -   Timeout: 5 s\n",
             "Ord  Id    Flg  Description\n",
             "  1  0001  A *  First\n",
             "  2  0009  !    <missing: listed in BootOrder but not defined>\n",
             "  3  0002  -    Second\n",
             "  -  0003  A    Third\n",
             "                 args: -c 1\n",
             "  -  0004  -    <invalid load option>\n",
             "Flags: A active, H hidden, * current boot, N next boot. '-' in Ord: not in the "
             "boot order.\n",
         })
        EXPECT_NE(out.find(line), std::string::npos) << line << "in\n" << out;
    EXPECT_LT(out.find("0002  -"), out.find("0003  A"));
}

TEST_F(Bootmgr, ListsDriversWithoutTheSettingsLine) {
    for (const char* line : {"bootmgr list -driver", "bootmgr ls -DRIVER"}) {
        const std::string out = sh.output(line);
        EXPECT_EQ(out.find("BootCurrent"), std::string::npos);
        EXPECT_NE(out.find("(no Driver entries)\n"), std::string::npos) << out;
    }
}

TEST_F(Bootmgr, DataRecords) {
    three_entries();
    put("BootNext", {2, 0});
    const std::string out = sh.output("bootmgr -data");
    EXPECT_EQ(out.rfind("kind=settings\nbootcurrent=\nbootnext=0002\ntimeout=\n", 0), 0u) << out;
    EXPECT_NE(out.find("kind=entry\nid=0002\nvariable=Boot0002\norder=2\nactive=no\nhidden=no\n"
                       "current=no\nnext=yes\ndescription=Second\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("id=0003\nvariable=Boot0003\norder=\n"), std::string::npos);
    EXPECT_NE(out.find("args=-c 1\n"), std::string::npos);
    EXPECT_EQ(out.find("Flags:"), std::string::npos);
}

TEST_F(Bootmgr, AddWritesTheOptionAndTheOrder) {
    sh.add_file("\\efi\\x.efi", pe_image());
    put_entry(0, 1, "Zero");
    put_order("BootOrder", {0, 1});  // 0001 is listed but missing: not free either
    const RunResult r = sh.run_captured("bootmgr add fs0:\\efi\\x.efi \"My OS\" -y -B quiet splash");
    ASSERT_EQ(r.code, 0) << r.errors;
    EXPECT_NE(r.out.find("  create Boot0002 \"My OS\" -> "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" args: quiet splash\n  BootOrder = 0000,0001,0002\nDone.\n"),
              std::string::npos)
        << r.out;
    const Decoded d = decode(value("Boot0002"));
    EXPECT_EQ(d.attributes, 1u);
    EXPECT_EQ(d.description, "My OS");
    EXPECT_EQ(d.optional, ucs2("quiet splash"));
    // The full path: the volume's nodes, then the file and the end node.
    const Bytes tail = file_node_path("\\efi\\x.efi");
    ASSERT_GT(d.path.size(), tail.size());
    EXPECT_EQ(Bytes(d.path.end() - static_cast<long>(tail.size()), d.path.end()), tail);
    EXPECT_EQ(d.path[0], 2);  // PciRoot first
    EXPECT_EQ(order(), "0000,0001,0002");
    // -t puts the next one first.
    ASSERT_EQ(sh.run("bootmgr add fs0:\\efi\\x.efi Second -t -y -B").code, 0);
    EXPECT_EQ(order(), "0003,0000,0001,0002");
}

TEST_F(Bootmgr, DryRunShowsThePlanAndWritesNothing) {
    sh.add_file("\\efi\\x.efi", pe_image());
    const std::string out = sh.output("bootmgr add fs0:\\efi\\x.efi \"X\" -t -n");
    EXPECT_EQ(out.rfind("Planned changes (dry run, nothing is written):\n  create Boot0000 \"X\" -> ",
                        0),
              0u)
        << out;
    EXPECT_NE(out.find("\n  BootOrder = 0000\n"), std::string::npos) << out;
    EXPECT_FALSE(has("Boot0000"));
    EXPECT_FALSE(has("BootOrder"));
}

TEST_F(Bootmgr, RefusedArguments) {
    three_entries();
    sh.add_file("\\efi\\x.efi", pe_image());
    sh.add_file("\\notes.txt", "hello");
    sh.add_directory("\\efi\\dir");
    const struct {
        const char* line;
        int code;
        const char* message;
    } cases[] = {
        {"bootmgr frob", 2, "usage"},
        {"bootmgr add fs0:\\efi\\x.efi", 1, "bootmgr: usage: bootmgr add FILE \"DESCRIPTION\" [ARGS...] [-t] [-n] [-y]\n"},
        {"bootmgr add fs0:\\efi\\dir X -y", 1, "bootmgr: fs0:\\efi\\dir: file not found\n"},
        {"bootmgr add fs0:\\none.efi X -y", 1, "bootmgr: fs0:\\none.efi: file not found\n"},
        {"bootmgr add fs0:\\notes.txt X -y", 1, "(use -f to add it anyway)"},
        {"bootmgr del", 1, "bootmgr: an entry number is required (e.g. 0003)\n"},
        {"bootmgr del 1 2", 1, "bootmgr: an entry number is required (e.g. 0003)\n"},
        {"bootmgr del 7", 1, "bootmgr: Boot0007 does not exist\n"},
        {"bootmgr enable zz", 1, "bootmgr: an entry number is required (e.g. 0003)\n"},
        {"bootmgr del 1 -driver", 1, "bootmgr: Driver0001 does not exist\n"},
        {"bootmgr edit 3", 1, "bootmgr: edit: nothing to change (use -D DESC, -a ARGS, -F FILE)\n"},
        {"bootmgr edit 3 -F fs0:\\notes.txt", 1, "(use -f to use it anyway)"},
        {"bootmgr order 3,3", 1, "bootmgr: 0003 is listed twice\n"},
        {"bootmgr order 1,zz 8", 1, "bootmgr: invalid entry number zz\nbootmgr: Boot0008 does not exist\n"},
        {"bootmgr timeout 70000", 1, "bootmgr: timeout: seconds between 0 and 65535\n"},
        {"bootmgr timeout -1", 1, "bootmgr: timeout: seconds between 0 and 65535\n"},
        {"bootmgr timeout five", 1, "bootmgr: timeout: seconds between 0 and 65535\n"},
        {"bootmgr backup", 1, "bootmgr: usage: bootmgr backup FILE\n"},
        {"bootmgr backup nofs:\\x.txt", 1, "bootmgr: nofs:\\x.txt: invalid path\n"},
        {"bootmgr restore a b", 1, "bootmgr: usage: bootmgr restore FILE\n"},
        {"bootmgr restore fs0:\\missing.txt", 1, "bootmgr: fs0:\\missing.txt: "},
        {"bootmgr next 7", 1, "bootmgr: Boot0007 does not exist\n"},
    };
    const Bytes before = value("BootOrder");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        sh.expect_failure(c.line, c.code, c.message);
    }
    EXPECT_EQ(value("BootOrder"), before);
    EXPECT_FALSE(has("Boot0000"));
    EXPECT_FALSE(has("Timeout"));
    EXPECT_FALSE(has("BootNext"));
}

TEST_F(Bootmgr, OrderTopAndTheirNotes) {
    three_entries();
    EXPECT_EQ(sh.output("bootmgr order"), "BootOrder: 0001,0002\n");
    std::string out = sh.output("bootmgr order 3,1 0002 -y -B");
    EXPECT_EQ(out, "Changes:\n  BootOrder = 0003,0001,0002\nDone.\n");
    EXPECT_EQ(order(), "0003,0001,0002");
    out = sh.output("bootmgr order boot2,, ,3 -y -B");
    EXPECT_EQ(out.rfind("note: 0001 is removed from BootOrder (the entry itself is kept)\n", 0), 0u) << out;
    EXPECT_EQ(order(), "0002,0003");
    ASSERT_EQ(sh.run("bootmgr top 1 -y -B").code, 0);
    EXPECT_EQ(order(), "0001,0002,0003");
    ASSERT_EQ(sh.run("bootmgr top 3 -y -B").code, 0);
    EXPECT_EQ(order(), "0003,0001,0002");
    EXPECT_EQ(sh.output("bootmgr order -driver"), "DriverOrder: (empty)\n");
}

TEST_F(Bootmgr, DeleteAlsoClearsTheOrderAndBootNext) {
    three_entries();
    put_order("BootOrder", {3, 1});
    put("BootNext", {3, 0});
    const std::string out = sh.output("bootmgr del 3 -y -B");
    EXPECT_EQ(out, "Changes:\n  delete Boot0003 \"Third\"\n  BootOrder = 0001\n  delete BootNext\nDone.\n");
    EXPECT_FALSE(has("Boot0003"));
    EXPECT_FALSE(has("BootNext"));
    EXPECT_EQ(order(), "0001");
}

TEST_F(Bootmgr, EnableDisableAndEditKeepTheOtherParts) {
    put("Boot0005", option(0x80000109, "Five", file_node_path("\\a.efi"), {9, 8, 7}));
    ASSERT_EQ(sh.run("bootmgr disable 5 -y -B").code, 0);
    EXPECT_EQ(value("Boot0005"), option(0x80000108, "Five", file_node_path("\\a.efi"), {9, 8, 7}));
    EXPECT_EQ(sh.output("bootmgr enable boot5 -y -B"),
              "Changes:\n  enable Boot0005 \"Five\"\nDone.\n");
    EXPECT_EQ(value("Boot0005"), option(0x80000109, "Five", file_node_path("\\a.efi"), {9, 8, 7}));
    EXPECT_EQ(sh.output("bootmgr edit 5 -D \"New name\" -a \"x y\" -y -B"),
              "Changes:\n  modify Boot0005: description \"New name\" args \"x y\"\nDone.\n");
    EXPECT_EQ(value("Boot0005"), option(0x80000109, "New name", file_node_path("\\a.efi"), ucs2("x y")));
    ASSERT_EQ(sh.run("bootmgr edit 5 -a \"\" -y -B").code, 0);
    EXPECT_EQ(value("Boot0005"), option(0x80000109, "New name", file_node_path("\\a.efi")));
    sh.add_file("\\efi\\y.efi", pe_image());
    ASSERT_EQ(sh.run("bootmgr edit 5 -F fs0:\\efi\\y.efi -y -B").code, 0);
    const Decoded d = decode(value("Boot0005"));
    EXPECT_EQ(d.description, "New name");
    const Bytes tail = file_node_path("\\efi\\y.efi");
    EXPECT_EQ(Bytes(d.path.end() - static_cast<long>(tail.size()), d.path.end()), tail);
}

TEST_F(Bootmgr, MalformedEntriesAreShownButNeverRebuilt) {
    const Bytes bad = {1, 0, 0, 0, 4, 0, 'A', 0};  // no description terminator
    put("Boot0003", bad);
    for (const char* line : {"bootmgr enable 3 -y -B", "bootmgr disable 3 -y -B",
                             "bootmgr edit 3 -D x -y -B"})
        sh.expect_failure(line, 1,
                          "bootmgr: the entry is not a valid load option and cannot be modified\n");
    EXPECT_EQ(value("Boot0003"), bad);
    EXPECT_NE(sh.output("bootmgr").find("  -  0003  -    <invalid load option>\n"), std::string::npos);
}

TEST_F(Bootmgr, NextAndTimeout) {
    three_entries();
    EXPECT_EQ(sh.output("bootmgr next"), "BootNext is not set\n");
    EXPECT_EQ(sh.output("bootmgr timeout"), "Timeout is not set\n");
    // Never asked, even without -y.
    EXPECT_EQ(sh.output("bootmgr next 2 -B"),
              "Changes:\n  BootNext = 0002 \"Second\" (used once at the next boot)\nDone.\n");
    EXPECT_EQ(value("BootNext"), (Bytes{2, 0}));
    EXPECT_EQ(sh.output("bootmgr next"), "BootNext: 0002\n");
    EXPECT_EQ(sh.output("bootmgr next -d -B"), "Changes:\n  delete BootNext\nDone.\n");
    EXPECT_FALSE(has("BootNext"));
    EXPECT_EQ(sh.output("bootmgr next -d -B"), "Changes:\n  delete BootNext\nDone.\n");
    EXPECT_EQ(sh.output("bootmgr timeout 0x10 -y -B"), "Changes:\n  Timeout = 16 s\nDone.\n");
    EXPECT_EQ(value("Timeout"), (Bytes{16, 0}));
    EXPECT_EQ(sh.output("bootmgr timeout"), "Timeout: 16 s\n");
}

TEST_F(Bootmgr, TheQuestionDecides) {
    three_entries();
    const struct {
        const char* answer;
        bool yes;
    } cases[] = {{"n\r", false}, {"\r", false}, {"ja\r", false}, {"Yes\r", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        put("Timeout", {1, 0});
        sh.fw.push_text(c.answer);
        const RunResult r = sh.run_captured("bootmgr timeout 9 -B");
        EXPECT_EQ(r.code, c.yes ? 0 : 1);
        EXPECT_EQ(value("Timeout"), (Bytes{static_cast<uint8_t>(c.yes ? 9 : 1), 0}));
        EXPECT_NE(r.out.find(c.yes ? "Done.\n" : "Cancelled.\n"), std::string::npos) << r.out;
    }
    EXPECT_NE(normal_text(sh.screen()).find("Apply these changes? [y/N] "), std::string::npos);
}

TEST_F(Bootmgr, BackupBeforeEveryChangeNeverOverwritten) {
    three_entries();
    put("Timeout", {3, 0});
    const std::string out = sh.output("bootmgr timeout 4 -y");
    EXPECT_NE(out.find("Backup saved to fs0:\\tarn\\backup\\boot-20250307-140509.txt\n"),
              std::string::npos)
        << out;
    const std::string text = sh.file_content("\\tarn\\backup\\boot-20250307-140509.txt");
    EXPECT_EQ(text.rfind("# TARN boot variables backup: GUID ATTRIBUTES NAME DATA\n", 0), 0u);
    EXPECT_LT(text.find(" Boot0001 "), text.find(" Boot0003 "));
    EXPECT_LT(text.find(" Boot0003 "), text.find(" BootOrder "));
    EXPECT_LT(text.find(" BootOrder "), text.find(" Timeout 0300"));
    // The same second again: a new file beside it.
    EXPECT_NE(sh.output("bootmgr timeout 5 -y").find("boot-20250307-140509-1.txt"), std::string::npos);
    EXPECT_NE(sh.file_content("\\tarn\\backup\\boot-20250307-140509-1.txt").find(" Timeout 0400"),
              std::string::npos);
}

TEST_F(Bootmgr, AFailedStepKeepsEarlierStepsAndTheBackup) {
    sh.add_file("\\efi\\x.efi", pe_image());
    sh.store().set_fault([](const sim::VariableCall& c) -> efi::Status {
        return c.op == sim::VariableOp::kSet && c.name == u"BootOrder" ? efi::kOutOfResources : 0;
    });
    sh.expect_failure("bootmgr add fs0:\\efi\\x.efi X -y", 1, "bootmgr: writing BootOrder failed: ");
    sh.store().set_fault(nullptr);
    EXPECT_TRUE(has("Boot0000"));
    EXPECT_FALSE(has("BootOrder"));
    EXPECT_TRUE(sh.exists("\\tarn\\backup\\boot-20250307-140509.txt"));
}

TEST(BootmgrNoVolume, NoBackupNoChangeUnlessSkipped) {
    CommandShell sh(0);
    sh.store().put(u"Boot0001", kGlobal, 7, option(1, "One", file_node_path("\\a")));
    sh.expect_failure("bootmgr next 1", 1,
                      "bootmgr: cannot save the backup of the boot variables on the boot volume "
                      "(use -B to continue without backup)\n");
    EXPECT_EQ(sh.store().find("BootNext", kGlobal), nullptr);
    EXPECT_EQ(sh.run("bootmgr next 1 -B").code, 0);
    EXPECT_NE(sh.store().find("BootNext", kGlobal), nullptr);
}

TEST_F(Bootmgr, BackupAndRestoreBringTheEntriesBack) {
    three_entries();
    put("Timeout", {3, 0});
    EXPECT_EQ(sh.output("bootmgr backup fs0:\\saved.txt"), "Boot variables saved to fs0:\\saved.txt\n");
    const Bytes one = value("Boot0001");
    // Change the store: an entry goes, one comes, the order changes.
    sh.store().erase("Boot0001", kGlobal);
    put_entry(7, 1, "Seven");
    put_order("BootOrder", {7});
    const std::string plan = sh.output("bootmgr restore fs0:\\saved.txt -n");
    EXPECT_EQ(plan, "The backup contains 5 variables.\n  delete Boot0007 (not in the backup)\n"
                    "Dry run: nothing is written.\n");
    EXPECT_TRUE(has("Boot0007"));
    const std::string out = sh.output("bootmgr restore fs0:\\saved.txt -y");
    EXPECT_NE(out.find("Current state saved to fs0:\\tarn\\backup\\boot-"), std::string::npos) << out;
    EXPECT_NE(out.find("Done.\n"), std::string::npos);
    EXPECT_FALSE(has("Boot0007"));
    EXPECT_EQ(value("Boot0001"), one);
    EXPECT_EQ(order(), "0001,0002");
}

TEST_F(Bootmgr, RestoreAsksFirst) {
    three_entries();
    sh.add_file("\\empty.txt", "# TARN boot variables backup: GUID ATTRIBUTES NAME DATA\n");
    sh.fw.push_text("n\r");
    const RunResult r = sh.run_captured("bootmgr restore fs0:\\empty.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("The backup contains 0 variables.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Cancelled.\n"), std::string::npos) << r.out;
    EXPECT_NE(normal_text(sh.screen()).find("Restore the boot variables from this backup? [y/N] "),
              std::string::npos);
    EXPECT_TRUE(has("Boot0001") && has("Boot0002") && has("Boot0003"));
}

TEST_F(Bootmgr, RestoreSearchesTheWholeTextAndCountsFailures) {
    three_entries();
    sh.add_file("\\hand.txt",
                "# TARN boot variables backup: GUID ATTRIBUTES NAME DATA\n"
                "# keep Boot0001 please\n"
                "8be4df61-93ca-11d2-aa0d-00e098032b8c 00000007 Timeout 05:00\n"
                "8be4df61-93ca-11d2-aa0d-00e098032b8c 00000007 BootNext 050\n");
    const RunResult r = sh.run_captured("bootmgr restore fs0:\\hand.txt -y -B");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("The backup contains 2 variables.\n  delete Boot0002 (not in the backup)\n"
                         "  delete Boot0003 (not in the backup)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.errors.find("bootmgr: 1 variables could not be restored\n"), std::string::npos) << r.errors;
    EXPECT_TRUE(has("Boot0001"));
    EXPECT_FALSE(has("Boot0002"));
    EXPECT_EQ(value("Timeout"), (Bytes{5, 0}));
}

TEST_F(Bootmgr, CheckFindsWhatIsGone) {
    sh.add_file("\\efi\\x.efi", pe_image());
    sh.add_file("\\efi\\gone.efi", pe_image());
    ASSERT_EQ(sh.run("bootmgr add fs0:\\efi\\x.efi Present -y -B").code, 0);
    ASSERT_EQ(sh.run("bootmgr add fs0:\\efi\\gone.efi Gone -y -B").code, 0);
    ASSERT_EQ(sh.run("del fs0:\\efi\\gone.efi").code, 0);
    // A firmware application (no file node), a short-form path, a foreign device,
    // a malformed option, and an order entry without its variable.
    put("Boot0010", option(1, "Shell", {0x7f, 0xff, 4, 0}));
    Bytes hd = {4, 1, 42, 0};
    hd.resize(42, 0);
    Bytes short_form = hd;
    Bytes f = file_node_path("\\x.efi");
    short_form.insert(short_form.end(), f.begin(), f.end());
    put("Boot0011", option(1, "Disk", short_form));
    Bytes foreign = {1, 1, 6, 0, 0, 0x1f};
    foreign.insert(foreign.end(), f.begin(), f.end());
    put("Boot0012", option(1, "Elsewhere", foreign));
    put("Boot0013", {1, 0, 0});
    put_order("BootOrder", {0, 1, 0x20});
    const RunResult r = sh.run_captured("bootmgr check");
    EXPECT_EQ(r.code, 1);
    char expected[1024];
    snprintf(expected, sizeof expected,
             "0020  listed in BootOrder but the entry does not exist\n"
             "0000  %-40s ok\n0001  %-40s MISSING: file not found\n"
             "0010  %-40s n/a (firmware application or device)\n"
             "0011  %-40s unverified (short-form path)\n"
             "0012  %-40s MISSING: device not found\n"
             "0013  %-40s INVALID: malformed load option\n4 problems found.\n",
             "Present", "Gone", "Shell", "Disk", "Elsewhere", "<invalid load option>");
    EXPECT_EQ(r.out, expected);
    sh.store().erase("Boot0001", kGlobal);
    sh.store().erase("Boot0012", kGlobal);
    sh.store().erase("Boot0013", kGlobal);
    put_order("BootOrder", {0});
    EXPECT_NE(sh.output("bootmgr check").find("No problems found.\n"), std::string::npos);
}

}  // namespace

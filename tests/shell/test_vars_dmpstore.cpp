// dmpstore and setvar over the simulated variable store: the record file (its CRCs
// checked against values from Python's zlib.crc32), damaged files, deletion with its
// question, and every setvar data item as the raw words the shell hands it.
#include <cstring>
#include <string>
#include <vector>

#include "command_test.h"
#include "device_path_from_text.h"
#include "uefi/guids.h"

using namespace tarn;
using namespace tarn_test;

namespace {

const efi::Guid& kGlobal = efi::kGlobalVariableGuid;
constexpr efi::Guid kShim = {0x605dab50, 0xe046, 0x4300, {0xab, 0xb6, 0x3d, 0xd8, 0x10, 0xdd, 0x8b, 0x23}};
using Bytes = std::vector<uint8_t>;

// A record built by the test: sizes, name, GUID, attributes, data and a given CRC.
std::string record(const std::u16string& name, const efi::Guid& guid, uint32_t attributes,
                   const Bytes& data, uint32_t crc, int64_t name_size = -1) {
    std::string out;
    auto put32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; i++) out.push_back(static_cast<char>(v >> (8 * i)));
    };
    put32(name_size >= 0 ? static_cast<uint32_t>(name_size) : static_cast<uint32_t>(name.size() * 2 + 2));
    put32(static_cast<uint32_t>(data.size()));
    for (char16_t c : name) {
        out.push_back(static_cast<char>(c & 0xff));
        out.push_back(static_cast<char>(c >> 8));
    }
    out.append(2, '\0');
    out.append(reinterpret_cast<const char*>(&guid), 16);
    put32(attributes);
    out.append(data.begin(), data.end());
    put32(crc);
    return out;
}

// CRCs of the three records of fill(), from zlib.crc32 over each record's first bytes.
constexpr uint32_t kCrcA = 0x261155ce, kCrcBoot = 0xd3c604e8, kCrcMok = 0xe68cf683;

class Dmpstore : public ::testing::Test {
protected:
    CommandShell sh{file_commands()};

    void fill() {
        sh.store().put(u"A", kGlobal, 7, {1, 2});
        sh.store().put(u"Boot0000", kGlobal, 3, {'a', 'b', 'c'});
        sh.store().put(u"MokNew", kShim, 3, {0xde, 0xad});
    }
    std::string file(const std::string& path) {
        return sim::read_file(sh.fw, sh.volumes[0], path).value_or("<missing>");
    }
    void write(const std::string& path, const std::string& bytes) {
        sim::add_file(sh.fw, sh.volumes[0], path, bytes);
    }
    void clear_store() {
        for (const auto& v : sh.store().all()) sh.store().erase(sim::from_u16(v.name), v.guid);
    }
    Bytes stored(const std::string& name, const efi::Guid& guid = kGlobal) {
        const sim::StoredVariable* v = sh.store().find(name, guid);
        return v ? v->data : Bytes{0xee, 0xee, 0xee};
    }
    uint32_t attributes(const std::string& name, const efi::Guid& guid = kGlobal) {
        const sim::StoredVariable* v = sh.store().find(name, guid);
        return v ? v->attributes : 0xffffffffu;
    }
    // The three records of fill().
    const std::string rec_a = record(u"A", kGlobal, 7, {1, 2}, kCrcA);
    const std::string rec_boot = record(u"Boot0000", kGlobal, 3, {'a', 'b', 'c'}, kCrcBoot);
    const std::string rec_mok = record(u"MokNew", kShim, 3, {0xde, 0xad}, kCrcMok);
    std::string saved_file() { return rec_a + rec_boot + rec_mok; }
};

TEST_F(Dmpstore, SaveWritesTheRecordFormat) {
    fill();
    RunResult r = sh.run("dmpstore -all -s all.bin");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out, "3 variables saved to fs0:\\all.bin\n");
    EXPECT_EQ(file("\\all.bin"), saved_file());

    const struct {
        const char* line;
        int count;
        std::string bytes;
    } cases[] = {
        {"dmpstore -s g.bin", 2, rec_a + rec_boot},
        {"dmpstore -guid shim -s g.bin", 1, rec_mok},
        {"dmpstore B* -S g.bin", 1, rec_boot},
        {"dmpstore -all M?kNew -s g.bin", 1, rec_mok},
        {"dmpstore Nothing -s g.bin", 0, ""},
    };
    for (const auto& c : cases) {
        r = sh.run(c.line);
        EXPECT_EQ(r.code, 0) << c.line << r.errors;
        EXPECT_EQ(r.out, std::to_string(c.count) + " variables saved to fs0:\\g.bin\n") << c.line;
        EXPECT_EQ(file("\\g.bin"), c.bytes) << c.line;
    }
    EXPECT_EQ(sh.run("dmpstore -s fs9:\\x.bin").errors, "dmpstore: fs9:\\x.bin: invalid path\n");
}

TEST_F(Dmpstore, DumpSelectsByGuidAndName) {
    fill();
    RunResult r = sh.run("dmpstore a");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out, "Variable NV+BS+RT '8BE4DF61-93CA-11D2-AA0D-00E098032B8C:A' DataSize = 0x2\n"
                     "  0000  01 02                                            |..|\n")
        << r.out;
    const struct {
        const char* line;
        std::vector<std::string> shown;  // the names of the dump lines
    } cases[] = {
        {"dmpstore", {"A", "Boot0000"}},
        {"dmpstore -all", {"A", "Boot0000", "MokNew"}},
        {"dmpstore -ALL -b", {"A", "Boot0000", "MokNew"}},
        {"dmpstore -guid SHIM", {"MokNew"}},
        {"dmpstore * -guid 605dab50-e046-4300-abb6-3dd810dd8b23", {"MokNew"}},
        {"dmpstore MokNew", {}},
    };
    for (const auto& c : cases) {
        r = sh.run(c.line);
        std::vector<std::string> shown;
        for (size_t at = 0; (at = r.out.find("Variable ", at)) != std::string::npos; at++) {
            const size_t colon = r.out.find(':', at), end = r.out.find('\'', colon);
            shown.push_back(r.out.substr(colon + 1, end - colon - 1));
        }
        EXPECT_EQ(shown, c.shown) << c.line << "\n" << r.out;
    }
    EXPECT_EQ(sh.run("dmpstore MokNew").errors, "dmpstore: variable MokNew not found\n");
}

TEST_F(Dmpstore, ArgumentErrors) {
    fill();
    const std::string usage =
        "usage: dmpstore [-b] [-d] [-all | [NAME] [-guid GUID]] [-s FILE | -l FILE]\n";
    const struct {
        const char* line;
        int code;
        std::string errors;
    } cases[] = {
        {"dmpstore -d -s x", 1, "dmpstore: -d, -s and -l cannot be combined\n"},
        {"dmpstore -s x -l y", 1, "dmpstore: -d, -s and -l cannot be combined\n"},
        {"dmpstore -guid 12345", 1, "dmpstore: invalid GUID 12345\n"},
        {"dmpstore A B", 2, usage},
        {"dmpstore -d", 1, "dmpstore: -d needs a variable name, a GUID or -all\n"},
        {"dmpstore -s", 2, ""},
        {"dmpstore -guid", 2, ""},
        {"dmpstore -x", 2, usage},
        {"dmpstore A -1", 2, usage},
    };
    for (const auto& c : cases) {
        RunResult r = sh.run(c.line);
        EXPECT_EQ(r.code, c.code) << c.line;
        if (!c.errors.empty()) EXPECT_EQ(r.errors, c.errors) << c.line;
        else EXPECT_NE(r.errors.find(usage), std::string::npos) << c.line << r.errors;
    }
    EXPECT_EQ(sh.store().count(), 3u);
}

TEST_F(Dmpstore, DeleteAsksForPatternsOnly) {
    fill();
    sh.store().put(u"Boot0001", kGlobal, 3, {1});
    sh.store().put(u"BootOrder", kGlobal, 3, {0, 0});
    // No: nothing goes.
    sh.fw.push_key(u'n');
    sh.fw.push_key(u'\r');
    RunResult r = sh.run("dmpstore Boot* -d");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("Delete 3 variables? [y/N] "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Cancelled.\n"), std::string::npos) << r.out;
    EXPECT_EQ(sh.store().count(), 5u);
    // A plain name goes without a question.
    r = sh.run("dmpstore Boot0001 -d");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Delete variable 8be4df61-93ca-11d2-aa0d-00e098032b8c:Boot0001 - Success\n");
    EXPECT_EQ(sh.store().count(), 4u);
    EXPECT_EQ(sh.run("dmpstore Boot0001 -d").out, "No matching variable.\n");
    // Yes, for the shim GUID only: the global variables stay.
    for (char16_t c : std::u16string(u"YES\r")) sh.fw.push_key(c);
    r = sh.run("dmpstore -d -guid shim");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_NE(r.out.find("Delete 1 variables? [y/N] "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Delete variable 605dab50-e046-4300-abb6-3dd810dd8b23:MokNew - Success\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(sh.store().count(), 3u);
    // A refused delete is reported and counted.
    sh.store().refuse_deletes(efi::kWriteProtected);
    for (char16_t c : std::u16string(u"y\r")) sh.fw.push_key(c);
    r = sh.run("dmpstore -d -all");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("Delete variable 8be4df61-93ca-11d2-aa0d-00e098032b8c:A - write protected\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(sh.store().count(), 3u);
}

TEST_F(Dmpstore, LoadSelectsAndReports) {
    write("\\all.bin", saved_file());
    RunResult r = sh.run("dmpstore -l all.bin");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out, "Load variable 8be4df61-93ca-11d2-aa0d-00e098032b8c:A - Success\n"
                     "Load variable 8be4df61-93ca-11d2-aa0d-00e098032b8c:Boot0000 - Success\n");
    EXPECT_EQ(sh.store().count(), 2u);
    EXPECT_EQ(stored("Boot0000"), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(attributes("A"), 7u);
    // Only non-global records: the hint, unless -all or -guid says which.
    write("\\shim.bin", rec_mok);
    r = sh.run("dmpstore -l shim.bin");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "No variable in the file matches (without -guid only the global GUID is loaded; use -all).\n");
    EXPECT_FALSE(sh.store().find(std::string("MokNew"), kShim));
    r = sh.run("dmpstore -l shim.bin -all");
    EXPECT_EQ(r.out, "Load variable 605dab50-e046-4300-abb6-3dd810dd8b23:MokNew - Success\n");
    EXPECT_EQ(stored("MokNew", kShim), (Bytes{0xde, 0xad}));
    clear_store();
    r = sh.run("dmpstore Boot* -l all.bin");
    EXPECT_EQ(sh.store().count(), 1u);
    EXPECT_EQ(stored("Boot0000"), (Bytes{'a', 'b', 'c'}));
    // Refused by the firmware: reported, counted, the next one still written.
    clear_store();
    sh.store().set_fault([](const sim::VariableCall& c) -> efi::Status {
        return c.op == sim::VariableOp::kSet && c.name == u"A" ? efi::kWriteProtected : 0;
    });
    r = sh.run("dmpstore -l all.bin");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "Load variable 8be4df61-93ca-11d2-aa0d-00e098032b8c:A - write protected\n"
                     "Load variable 8be4df61-93ca-11d2-aa0d-00e098032b8c:Boot0000 - Success\n");
    EXPECT_EQ(sh.run("dmpstore -l none.bin").errors, "dmpstore: fs0:\\none.bin: not found\n");
}

TEST_F(Dmpstore, DamagedFilesStopOrSkip) {
    const std::string good = saved_file();
    const std::string& a = rec_a;
    const std::string& boot = rec_boot;
    std::string flipped = boot;
    flipped[flipped.size() - 5] ^= 0x01;  // the last data byte
    std::string bad_crc = a;
    bad_crc.back() ^= 0x80;
    const struct {
        const char* what;
        std::string bytes;
        std::vector<std::string> loaded;
        std::string errors;
    } cases[] = {
        {"cut in the last record", good.substr(0, a.size() + boot.size() - 1) , {"A"},
         "dmpstore: f.bin: truncated or damaged file\n"},
        {"cut in the sizes", a + std::string("\x04\x00\x00", 3), {"A"}, ""},
        {"a data byte flipped", a + flipped, {"A"}, "dmpstore: Boot0000: CRC error, not loaded\n"},
        {"the CRC damaged", bad_crc + boot, {"Boot0000"}, "dmpstore: A: CRC error, not loaded\n"},
        {"an odd name size", record(u"A", kGlobal, 7, {1}, 0, 3) + boot, {},
         "dmpstore: f.bin: truncated or damaged file\n"},
        {"a zero name size", record(u"", kGlobal, 7, {}, 0, 0) + boot, {},
         "dmpstore: f.bin: truncated or damaged file\n"},
        {"a name size near 2^32", a + record(u"B", kGlobal, 7, {1}, 0, 0xfffffffe), {"A"},
         "dmpstore: f.bin: truncated or damaged file\n"},
        {"a name without its NUL", a + record(u"AB", kGlobal, 7, {1}, 0, 4), {"A"},
         "dmpstore: f.bin: truncated or damaged file\n"},
        {"a NUL inside the name", record(std::u16string(u"A\0B", 3), kGlobal, 7, {1}, 0) + boot, {},
         "dmpstore: f.bin: truncated or damaged file\n"},
        {"an empty file", "", {}, ""},
    };
    for (const auto& c : cases) {
        clear_store();
        write("\\f.bin", c.bytes);
        RunResult r = sh.run("dmpstore -l f.bin");
        EXPECT_EQ(r.errors, c.errors) << c.what;
        EXPECT_EQ(r.code, c.errors.empty() ? 0 : 1) << c.what;
        std::vector<std::string> names;
        for (const auto& v : sh.store().all()) names.push_back(sim::from_u16(v.name));
        EXPECT_EQ(names, c.loaded) << c.what;
    }
    // A record whose data size runs past the end.
    std::string huge = a + record(u"B", kGlobal, 7, {1}, 0);
    huge[a.size() + 4] = '\xff';
    huge[a.size() + 7] = '\xff';
    clear_store();
    write("\\f.bin", huge);
    EXPECT_EQ(sh.run("dmpstore -l f.bin").errors, "dmpstore: f.bin: truncated or damaged file\n");
    EXPECT_EQ(sh.store().count(), 1u);
}

// ---- setvar

class Setvar : public Dmpstore {};

TEST_F(Setvar, EveryDataItemForm) {
    sim::install_device_path_from_text(sh.fw);
    const struct {
        const char* line;
        Bytes bytes;
    } cases[] = {
        {"setvar T =0100", {0x01, 0x00}},
        {"setvar T =0d0A", {0x0d, 0x0a}},
        {"setvar T =0x01", {0x01}},
        {"setvar T =0x0001", {0x01, 0x00}},
        {"setvar T =0x000001", {0x01, 0, 0, 0}},
        {"setvar T =0xABC", {0xbc, 0x0a}},
        {"setvar T =0x0102030405", {5, 4, 3, 2, 1, 0, 0, 0}},
        {"setvar T =0x1122334455667788", {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
        {"setvar T =\"ab\" L\"c\" 0x0d0a", {0x61, 0x62, 0x63, 0, 0, 0, 0x0a, 0x0d}},
        {"setvar T =\"a b\"", {'a', ' ', 'b'}},
        {"setvar T =l\"\"", {0, 0}},
        {"setvar T = 01 \"\" 02", {1, 2}},
        {"setvar T =--PciRoot(0x0)/Pci(0x1,0x1)",
         {0x02, 0x01, 0x0c, 0x00, 0xd0, 0x41, 0x03, 0x0a, 0, 0, 0, 0, 0x01, 0x01, 0x06, 0x00,
          0x01, 0x01, 0x7f, 0xff, 0x04, 0x00}},
    };
    for (const auto& c : cases) {
        RunResult r = sh.run(c.line);
        EXPECT_EQ(r.code, 0) << c.line << r.errors;
        EXPECT_EQ(r.out, "") << c.line;
        EXPECT_EQ(stored("T"), c.bytes) << c.line;
        EXPECT_EQ(attributes("T"), 2u) << c.line;
    }
}

TEST_F(Setvar, InvalidItemsWriteNothing) {
    const std::string invalid =
        "setvar: invalid data: use hex bytes (0102), \"ascii\", L\"unicode\" or --DevicePath\n";
    const char* lines[] = {
        "setvar T =012",          "setvar T =zz",       "setvar T =0x",
        "setvar T =0x12345678901234567", "setvar T =0xg1", "setvar T =\"a\"b",
        "setvar T =L\"a\"b",         "setvar T =--PciRoot(0x0)",  // no From Text protocol yet
        "setvar T =01 03 5",
        "setvar T =01 -nv",  // once the data has started, every word is a data item
    };
    for (const char* line : lines) {
        RunResult r = sh.run(line);
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_EQ(r.errors, invalid) << line;
    }
    sim::install_device_path_from_text(sh.fw);
    EXPECT_EQ(sh.run("setvar T =--Bogus(1)").errors, invalid);
    EXPECT_EQ(sh.run("setvar T =--").errors, invalid);
    EXPECT_FALSE(sh.store().find(std::string("T"), kGlobal));
}

TEST_F(Setvar, AttributesShowAndDelete) {
    const struct {
        const char* line;
        const char* name;
        const efi::Guid* guid;
        uint32_t attributes;
    } cases[] = {
        {"setvar N1 -nv -rt =0100", "N1", &kGlobal, 7}, {"setvar N2 -NV =01", "N2", &kGlobal, 3},
        {"setvar N3 -rt =01", "N3", &kGlobal, 6},       {"setvar N4 -bs =01", "N4", &kGlobal, 2},
        {"setvar -guid shim N5 -nv =01", "N5", &kShim, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sh.run(c.line).code, 0) << c.line;
        EXPECT_EQ(attributes(c.name, *c.guid), c.attributes) << c.line;
    }
    // An existing variable keeps its attributes; others are the firmware's refusal.
    EXPECT_EQ(sh.run("setvar N2 =0203").code, 0);
    EXPECT_EQ(attributes("N2"), 3u);
    EXPECT_EQ(stored("N2"), (Bytes{2, 3}));
    RunResult r = sh.run("setvar N2 -nv -rt =09");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "setvar: N2: invalid parameter\n");
    EXPECT_EQ(stored("N2"), (Bytes{2, 3}));
    // Show.
    r = sh.run("setvar N1");
    EXPECT_EQ(r.out, "Variable NV+BS+RT '8BE4DF61-93CA-11D2-AA0D-00E098032B8C:N1' DataSize = 0x2\n"
                     "  0000  01 00                                            |..|\n") << r.out;
    EXPECT_EQ(sh.run("setvar Missing").errors, "setvar: Missing: not found\n");
    // Delete with an empty value: only the named variable.
    const size_t before = sh.store().count();
    EXPECT_EQ(sh.run("setvar N1 =").code, 0);
    EXPECT_EQ(sh.store().count(), before - 1);
    EXPECT_FALSE(sh.store().find(std::string("N1"), kGlobal));
    EXPECT_EQ(sh.run("setvar N5 =").code, 1);  // global by default: not found
    EXPECT_EQ(sh.store().count(), before - 1);

    const std::string usage = "usage: setvar NAME [-guid GUID] [-bs] [-rt] [-nv] [=DATA...]\n";
    EXPECT_EQ(sh.run("setvar").errors, usage);
    EXPECT_EQ(sh.run("setvar A B =01").errors, usage);
    EXPECT_EQ(sh.run("setvar A -guid nope =01").errors, "setvar: invalid GUID nope\n");
    EXPECT_FALSE(sh.store().find(std::string("A"), kGlobal));
}

}  // namespace

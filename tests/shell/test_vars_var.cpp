// The var command and the shared variable texts over the simulated variable store.
#include <string>
#include <vector>

#include "runtime/memory.h"
#include "command_test.h"
#include "uefi/guids.h"
#include "vars/variable_text.h"

using namespace tarn;
using namespace tarn_test;

namespace {

const efi::Guid& kGlobal = efi::kGlobalVariableGuid;
constexpr efi::Guid kShim = {0x605dab50, 0xe046, 0x4300, {0xab, 0xb6, 0x3d, 0xd8, 0x10, 0xdd, 0x8b, 0x23}};
using Bytes = std::vector<uint8_t>;

Bytes stored(CommandShell& sh, const std::string& name, const efi::Guid& guid = kGlobal) {
    const sim::StoredVariable* v = sh.store().find(name, guid);
    return v ? v->data : Bytes{0xee, 0xee, 0xee};
}

uint32_t attributes_of(CommandShell& sh, const std::string& name, const efi::Guid& guid = kGlobal) {
    const sim::StoredVariable* v = sh.store().find(name, guid);
    return v ? v->attributes : 0xffffffffu;
}

// A store like a fresh OVMF one, in its enumeration order.
void fill_boot_store(CommandShell& sh) {
    sh.store().put(u"Boot0000", kGlobal, 7, {1, 0, 0, 0, 0x2c, 0});
    sh.store().put(u"Timeout", kGlobal, 7, {5, 0});
    sh.store().put(u"BootOrder", kGlobal, 7, {1, 0, 0, 0});
    sh.store().put(u"Lang", kGlobal, 7, {'e', 'n', 'g'});
    sh.store().put(u"PlatformLang", kGlobal, 7, {'e', 'n', 0});
    sh.store().put(u"Boot0001", kGlobal, 7, {1, 0, 0, 0});
    sh.store().put(u"BootCurrent", kGlobal, 6, {1, 0});
    sh.store().put(u"MokNew", kShim, 3, {0xde, 0xad, 0xbe, 0xef, 0x01});
    sh.store().put(u"Two", kGlobal, 3, {'e', 'n'});
}

TEST(VarText, GuidsRoundTripAndNames) {
    sim::SimFirmware fw;
    struct Case {
        const char* text;
        bool ok;
        const char* printed;
    } cases[] = {
        {"8be4df61-93ca-11d2-aa0d-00e098032b8c", true, "8be4df61-93ca-11d2-aa0d-00e098032b8c"},
        {"8BE4DF61-93CA-11D2-AA0D-00E098032B8C", true, "8be4df61-93ca-11d2-aa0d-00e098032b8c"},
        {"SHIM", true, "605dab50-e046-4300-abb6-3dd810dd8b23"},
        {"systemd", true, "4a67b082-0a4c-41cf-b6c7-440b29bb8c4f"},
        {"12345", false, nullptr},
        {"8be4df61-93ca-11d2-aa0d-00e098032b8", false, nullptr},
        {"8be4df6193ca-11d2-aa0d-00e098032b8c0", false, nullptr},
        {"8be4df61-93ca-11d2-aa0d-00e098032b8g", false, nullptr},
        {"8be4df61-93ca-11d2-aa0d--0e098032b8c", false, nullptr},
        {"", false, nullptr},
    };
    for (const Case& c : cases) {
        efi::Guid g{};
        ASSERT_EQ(parse_guid(c.text, &g), c.ok) << c.text;
        if (!c.ok) continue;
        char text[kGuidTextSize];
        format_guid(g, text);
        EXPECT_STREQ(text, c.printed) << c.text;
    }
    EXPECT_STREQ(guid_name(kShim), "shim");
    EXPECT_EQ(guid_name(efi::kShellAliasGuid), nullptr);
    // Data1 is read big-endian from the text and kept in memory order.
    efi::Guid g{};
    ASSERT_TRUE(parse_guid("01020304-0506-0708-090a-0b0c0d0e0f10", &g));
    EXPECT_EQ(g.data1, 0x01020304u);
    EXPECT_EQ(g.data2, 0x0506);
    EXPECT_EQ(g.data4[7], 0x10);
}

TEST(VarText, AttributeTexts) {
    const struct {
        uint32_t bits;
        const char* short_text;
        const char* long_text;
    } cases[] = {
        {0x07, "NVBSRT", "NV+BS+RT"}, {0x00, "      ", ""},   {0x02, "  BS  ", "BS"},
        {0x27, "NVBSRTA", "NV+BS+RT+AT"}, {0x3f, "NVBSRTA", "NV+BS+RT+HR+AW+AT"},
        {0x10, "      A", "AW"},
    };
    for (const auto& c : cases) {
        char s[kShortAttributesSize], l[kLongAttributesSize];
        attributes_short(c.bits, s);
        attributes_long(c.bits, l);
        EXPECT_STREQ(s, c.short_text) << c.bits;
        EXPECT_STREQ(l, c.long_text) << c.bits;
    }
}

TEST(VarText, HexDecodingAndText) {
    sim::SimFirmware fw;
    const struct {
        const char* text;
        bool ok;
        Bytes bytes;
    } cases[] = {
        {"0d0A", true, {0x0d, 0x0a}}, {"01 02-03:04", true, {1, 2, 3, 4}}, {"", true, {}},
        {"012", false, {}},           {"0x01", false, {}},                 {"0 1", false, {}},
        {"zz", false, {}},
    };
    for (const auto& c : cases) {
        uint8_t* bytes = nullptr;
        uint64_t size = 0;
        ASSERT_EQ(decode_hex(c.text, std::string(c.text).size(), &bytes, &size), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(Bytes(bytes, bytes + size), c.bytes) << c.text;
        release(bytes);
    }
    const uint8_t raw[] = {0x00, 0xff, 0x10};
    char* hex = hex_text(raw, 3);
    EXPECT_STREQ(hex, "00ff10");
    release(hex);
    // UCS-2 text: a NUL only last and not alone; surrogates and control units are not text.
    const struct {
        Bytes bytes;
        bool text;
    } ucs2[] = {{{'a', 0, 'b', 0, 0, 0}, true}, {{'a', 0, 'b', 0}, true}, {{0, 0}, false},
                {{'a', 0, 0, 0, 'b', 0}, false}, {{0x00, 0xd8}, false},   {{1, 0}, false},
                {{'\t', 0, '\n', 0}, true},      {{'a', 0, 'b'}, false}};
    for (const auto& c : ucs2) EXPECT_EQ(is_ucs2_text(c.bytes.data(), c.bytes.size()), c.text);
}

TEST(Var, ListAndGetForms) {
    CommandShell sh;
    fill_boot_store(sh);
    RunResult r = sh.run("var list Boot*");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "global                                 BSRT       2  BootCurrent\n"
              "global                               NVBSRT       6  Boot0000\n"
              "global                               NVBSRT       4  BootOrder\n"
              "global                               NVBSRT       4  Boot0001\n")
        << r.out;
    r = sh.run("var list Nothing*");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "var: no variable matches Nothing*\n");
    r = sh.run("var list -g shim");
    EXPECT_EQ(r.out, "shim                                 NVBS         5  MokNew\n");
    r = sh.run("var list MokNew -data");
    EXPECT_EQ(r.out, "name=MokNew\nguid=605dab50-e046-4300-abb6-3dd810dd8b23\nguid_name=shim\n"
                     "attributes=NV+BS\nsize=5\n") << r.out;

    const struct {
        const char* line;
        const char* out;
    } gets[] = {
        {"var get BootOrder", "0001,0000\n"},
        {"var get BootOrder -n", "0001,0000\n"},
        {"var get BootOrder -x", "  0000  01 00 00 00                                      |....|\n"},
        {"var get Timeout", "5 (0x5)\n"},
        {"var get Lang", "eng\n"},
        {"var get PlatformLang", "en\n"},  // "en" and its NUL
        {"var get Two", "28261 (0x6e65)\n"},  // two ASCII bytes read as a number
        {"var get Timeout -s", "\x05\n"},
        {"var get MokNew -g shim", "  0000  de ad be ef 01                                   |.....|\n"},
        {"var get MokNew -g shim -n", "8317218270 (0x1efbeadde)\n"},
        {"var get Timeout -v", "Timeout  attributes NVBSRT (0x7), 2 bytes\n5 (0x5)\n"},
    };
    for (const auto& g : gets) {
        r = sh.run(g.line);
        EXPECT_EQ(r.code, 0) << g.line << r.errors;
        EXPECT_EQ(r.out, g.out) << g.line;
    }
    r = sh.run("var get Missing");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "var: Missing: not found\n") << r.errors;
}

TEST(Var, SetTypesAndAttributes) {
    CommandShell sh;
    const struct {
        const char* line;
        Bytes bytes;
    } sets[] = {
        {"var set T1 0x10 -t u16", {0x10, 0}},
        {"var set T2 70000 -t u16", {0x70, 0x11}},
        {"var set T3 abc", {'a', 0, 'b', 0, 'c', 0, 0, 0}},
        {"var set T4 hi -t ASCII", {'h', 'i', 0}},
        {"var set T5 -1 -t u8", {0xff}},
        {"var set T6 \"01 02:03\" -t hex", {1, 2, 3}},
        {"var set T7 0x0102030405060708 -t u64", {8, 7, 6, 5, 4, 3, 2, 1}},
    };
    for (const auto& s : sets) {
        RunResult r = sh.run(s.line);
        EXPECT_EQ(r.code, 0) << s.line << r.errors;
        EXPECT_EQ(r.out, "") << s.line;
    }
    for (int i = 0; i < 7; i++) {
        const std::string name = "T" + std::to_string(i + 1);
        EXPECT_EQ(stored(sh, name), sets[i].bytes) << name;
        EXPECT_EQ(attributes_of(sh, name), 7u) << name;
    }
    // An existing variable keeps its attributes; -a forms are equivalent.
    sh.store().put(u"Keep", kGlobal, 3, {1});
    EXPECT_EQ(sh.run("var set Keep x").code, 0);
    EXPECT_EQ(attributes_of(sh, "Keep"), 3u);
    EXPECT_EQ(sh.run("var set A1 1 -a 0x7").code, 0);
    EXPECT_EQ(sh.run("var set A2 1 -a NV,BS,RT").code, 0);
    EXPECT_EQ(sh.run("var set A3 1 -a bs").code, 0);
    EXPECT_EQ(attributes_of(sh, "A1"), 7u);
    EXPECT_EQ(attributes_of(sh, "A2"), 7u);
    EXPECT_EQ(attributes_of(sh, "A3"), 2u);

    const struct {
        const char* line;
        int code;
        const char* errors;
    } bad[] = {
        {"var set X 1 -a nv,xx", 1, "var: invalid attributes nv,xx (e.g. nv,bs,rt or 0x7)\n"},
        {"var set X 1 -a 0", 2,
         "var: invalid attributes 0 (e.g. nv,bs,rt or 0x7)\nusage: var list|get|set|del|save|load ...\n"},
        {"var set X 1 -a 0x5", 2,
         "var: invalid attributes 0x5 (e.g. nv,bs,rt or 0x7)\nusage: var list|get|set|del|save|load ...\n"},
        {"var set X z1 -t u32", 1, "var: z1 is not a number\n"},
        {"var set X 012 -t hex", 1, "var: invalid hex data\n"},
        {"var set X 1 -t float", 1, "var: unknown type float (str, ascii, u8, u16, u32, u64, hex, file)\n"},
        {"var set X nofile -t file", 1, "var: nofile: not found\n"},
        {"var get X -g 12345", 2,
         "var: invalid GUID 12345 (use xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx or a name like global)\n"},
        {"var frob", 2, "usage: var list|get|set|del|save|load ...\n"},
        {"var", 2, "usage: var list|get|set|del|save|load ...\n"},
        {"var get", 2, "usage: var list|get|set|del|save|load ...\n"},
        {"var list -q", 2, "var: unknown option -q\nusage: var list|get|set|del|save|load ...\n"},
    };
    for (const auto& b : bad) {
        RunResult r = sh.run(b.line);
        EXPECT_EQ(r.code, b.code) << b.line;
        EXPECT_EQ(r.errors, b.errors) << b.line;
    }
    EXPECT_FALSE(sh.store().find(std::string("X"), kGlobal));
    // A rewrite with other attributes is the firmware's refusal.
    RunResult r = sh.run("var set Keep 1 -a 7");
    EXPECT_EQ(r.errors, "var: cannot write Keep: invalid parameter\n") << r.errors;
    sh.store().set_max_variable_size(100);
    r = sh.run("var set Big 00112233445566778899001122334455667788990011223344556677889900112233 -t hex");
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(sh.store().find(std::string("Big"), kGlobal));
    // A file value; a -g value given last is an operand (too many for get).
    sim::add_file(sh.fw, sh.volumes[0], "\\v.bin", std::string("\x01\x02\x03", 3));
    EXPECT_EQ(sh.run("var set F v.bin -t file -g shim").code, 0);
    EXPECT_EQ(stored(sh, "F", kShim), (Bytes{1, 2, 3}));
    EXPECT_EQ(sh.run("var get F -g").code, 2);
}

TEST(Var, DeleteTouchesOnlyTheNamedVariable) {
    CommandShell sh;
    fill_boot_store(sh);
    const size_t before = sh.store().count();
    EXPECT_EQ(sh.run("var del Boot0001").code, 0);
    EXPECT_EQ(sh.store().count(), before - 1);
    EXPECT_FALSE(sh.store().find(std::string("Boot0001"), kGlobal));
    RunResult r = sh.run("var rm Boot0001");
    EXPECT_EQ(r.errors, "var: cannot delete Boot0001: not found\n") << r.errors;
    EXPECT_EQ(sh.run("var del MokNew").code, 1);  // wrong GUID: nothing goes
    EXPECT_EQ(sh.run("var del MokNew -g shim").code, 0);
    EXPECT_EQ(sh.store().count(), before - 2);
}

TEST(Var, SaveAndLoadRoundTrip) {
    CommandShell sh;
    fill_boot_store(sh);
    // Names a backup line could not hold as they are.
    sh.store().put(u"two words", kGlobal, 3, {1});
    sh.store().put(u"line\nbreak 00000007 Injected 01", kGlobal, 3, {2});
    sh.store().put(u"100%", kGlobal, 3, {3});
    const std::vector<sim::StoredVariable> original = sh.store().all();
    RunResult r = sh.run("var save all.txt");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out, "12 variables saved to fs0:\\all.txt\n");
    r = sh.run("var save shim.txt -g shim");
    EXPECT_EQ(r.out, "1 variable saved to fs0:\\shim.txt\n");
    r = sh.run("var save none.txt Nothing*");
    EXPECT_EQ(r.out, "0 variables saved to fs0:\\none.txt\n");
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[0], "\\none.txt").value_or("(none)"), kVariableBackupHeader);
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[0], "\\shim.txt").value_or("(none)"),
              std::string(kVariableBackupHeader) +
                  "605dab50-e046-4300-abb6-3dd810dd8b23 00000003 MokNew deadbeef01\n");
    const std::string saved = sim::read_file(sh.fw, sh.volumes[0], "\\all.txt").value_or("(none)");
    EXPECT_NE(saved.find(" line%0Abreak%2000000007%20Injected%2001 02\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find(" 100%25 03\n"), std::string::npos) << saved;

    // Into an empty store: the same variables, nothing more.
    for (const auto& v : original) sh.store().erase(sim::from_u16(v.name), v.guid);
    r = sh.run("var load all.txt");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_NE(r.out.find("restored two words\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("restored 100%\n"), std::string::npos) << r.out;
    for (const auto& v : original) {
        const sim::StoredVariable* got = sh.store().find(v.name, v.guid);
        ASSERT_NE(got, nullptr) << sim::from_u16(v.name);
        EXPECT_EQ(got->data, v.data);
        EXPECT_EQ(got->attributes, v.attributes);
    }
    EXPECT_EQ(sh.store().count(), original.size());
    EXPECT_FALSE(sh.store().find(std::string("Injected"), kGlobal));
}

TEST(Var, LoadReportsBadLinesAndGoesOn) {
    CommandShell sh;
    sim::add_file(sh.fw, sh.volumes[0], "\\b.txt",
                          "# header with any number of fields\n"
                          "\n"
                          "global 00000007 Good 0102\n"
                          "8be4df61-93ca-11d2-aa0d-00e098032b8c 7 Spaced 01 02-03\n"
                          "bad-guid 00000007 X 01\n"
                          "global 0000000g X 01\n"
                          "global 00000007  01\n"
                          "global 00000007 X 012\n"
                          "global 00000007 Short\n"
                          "global 00000007 %zz 01\n"
                          "global 00000007 Refused 01\n"
                          "global 00000007 Gone \n"
                          "global 00000001 Last ff");
    sh.store().put(u"Gone", kGlobal, 7, {1});
    sh.store().refuse_writes(0);
    sh.store().set_fault([](const sim::VariableCall& c) -> efi::Status {
        return c.name == u"Refused" ? efi::kWriteProtected : 0;
    });
    RunResult r = sh.run("var load b.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "restored Good\nrestored Spaced\nrestored Gone\nrestored Last\n") << r.out;
    EXPECT_EQ(r.errors,
              "var: malformed line: bad-guid 00000007 X 01\n"
              "var: malformed line: global 0000000g X 01\n"
              "var: malformed line: global 00000007  01\n"
              "var: malformed line: global 00000007 X 012\n"
              "var: malformed line: global 00000007 Short\n"
              "var: malformed line: global 00000007 %zz 01\n"
              "var: cannot write Refused: write protected\n")
        << r.errors;
    EXPECT_EQ(stored(sh, "Spaced"), (Bytes{1, 2, 3}));
    EXPECT_EQ(attributes_of(sh, "Last"), 1u);
    EXPECT_FALSE(sh.store().find(std::string("Gone"), kGlobal));  // an empty DATA deletes
    EXPECT_FALSE(sh.store().find(std::string("X"), kGlobal));
    EXPECT_EQ(sh.run("var load missing.txt").errors, "var: fs0:\\missing.txt: not found\n");
}

}  // namespace

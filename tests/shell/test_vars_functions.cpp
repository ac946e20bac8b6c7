// The BASIC functions on firmware variables over the simulated variable store.
#include <string>
#include <vector>

#include "command_test.h"
#include "uefi/guids.h"

using namespace tarn;
using namespace tarn_test;

namespace {

const efi::Guid& kGlobal = efi::kGlobalVariableGuid;
constexpr efi::Guid kShim = {0x605dab50, 0xe046, 0x4300, {0xab, 0xb6, 0x3d, 0xd8, 0x10, 0xdd, 0x8b, 0x23}};
using Bytes = std::vector<uint8_t>;

class VarFunctions : public ::testing::Test {
protected:
    CommandShell sh;

    void SetUp() override {
        sh.store().put(u"Timeout", kGlobal, 7, {5, 0});
        sh.store().put(u"Lang", kGlobal, 7, {'e', 'n', 'g'});
        sh.store().put(u"Title", kGlobal, 3, {'H', 0, 'i', 0, 0, 0});
        sh.store().put(u"Wide", kGlobal, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
        sh.store().put(u"MokNew", kShim, 3, {0xde, 0xad});
    }
    std::string out(const std::string& code) {
        RunResult r = sh.run_basic(code);
        EXPECT_EQ(r.errors, "") << code;
        return r.out;
    }
    Bytes stored(const std::string& name, const efi::Guid& guid = kGlobal) {
        const sim::StoredVariable* v = sh.store().find(name, guid);
        return v ? v->data : Bytes{0xee, 0xee, 0xee};
    }
    uint32_t attributes(const std::string& name, const efi::Guid& guid = kGlobal) {
        const sim::StoredVariable* v = sh.store().find(name, guid);
        return v ? v->attributes : 0xffffffffu;
    }
};

TEST_F(VarFunctions, Readers) {
    const struct {
        const char* code;
        const char* out;
    } cases[] = {
        {"PRINT VAREXISTS(\"Timeout\")", "-1\n"},
        {"PRINT VAREXISTS(\"Nope\")", "0\n"},
        {"PRINT VAREXISTS(\"MokNew\")", "0\n"},  // another GUID
        {"PRINT VAREXISTS(\"MokNew\", \"shim\")", "-1\n"},
        {"PRINT \"[\" + VAR$(\"Lang\") + \"]\"", "[eng]\n"},
        {"PRINT \"[\" + VAR$(\"Title\") + \"]\"", "[Hi]\n"},
        {"PRINT \"[\" + VAR$(\"Nope\") + \"]\"", "[]\n"},
        {"PRINT VARHEX$(\"Timeout\")", "0500\n"},
        {"PRINT VARHEX$(\"MokNew\", \"605DAB50-E046-4300-ABB6-3DD810DD8B23\")", "dead\n"},
        {"PRINT \"[\" + VARHEX$(\"Nope\") + \"]\"", "[]\n"},
        {"PRINT VARNUM(\"Timeout\")", "5\n"},
        {"PRINT VARNUM(\"MokNew\", \"shim\")", "44510\n"},
        {"PRINT VARNUM(\"Wide\")", "578437695752307201\n"},  // the first eight bytes
        {"PRINT VARNUM(\"Nope\")", "0\n"},
        {"PRINT FWVENDOR$()", "TARN Simulated Firmware\n"},
        {"PRINT SECUREBOOT()", "0\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(out(c.code), c.out) << c.code;
}

TEST_F(VarFunctions, WritersAndTheirStatus) {
    const struct {
        const char* code;
        const char* out;  // the result and ERR
        const char* name;
        const efi::Guid* guid;
        Bytes bytes;
        uint32_t attributes;
    } cases[] = {
        {"r = SETVAR(\"New\", \"0102\"): PRINT r; ERR", "00\n", "New", &kGlobal, {1, 2}, 7},
        {"r = SETVAR(\"Lang\", \"66 72-61\"): PRINT r; ERR", "00\n", "Lang", &kGlobal, {'f', 'r', 'a'}, 7},
        {"r = SETVAR(\"Title\", \"00\"): PRINT r", "0\n", "Title", &kGlobal, {0}, 3},  // keeps 3
        {"r = SETVAR(\"S\", \"ff\", \"shim\", 3): PRINT r", "0\n", "S", &kShim, {0xff}, 3},
        {"r = SETVARSTR(\"Str\", \"ab\"): PRINT r", "0\n", "Str", &kGlobal, {'a', 0, 'b', 0, 0, 0}, 7},
        {"r = SETVARSTR(\"E\", \"\", \"global\", 2): PRINT r", "0\n", "E", &kGlobal, {0, 0}, 2},
        // A rewrite with other attributes: the firmware's invalid parameter (2).
        {"r = SETVAR(\"Timeout\", \"01\", \"global\", 3): PRINT r; ERR", "22\n", "Timeout", &kGlobal, {5, 0}, 7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(out(c.code), c.out) << c.code;
        EXPECT_EQ(stored(c.name, *c.guid), c.bytes) << c.code;
        EXPECT_EQ(attributes(c.name, *c.guid), c.attributes) << c.code;
    }
    // delvar: only the named variable; a missing one is not found (14).
    const size_t before = sh.store().count();
    EXPECT_EQ(out("r = DELVAR(\"MokNew\"): PRINT r; ERR"), "1414\n");
    EXPECT_EQ(out("PRINT DELVAR(\"MokNew\", \"shim\"); ERR"), "00\n");
    EXPECT_EQ(sh.store().count(), before - 1);
    // A refused write reports the low eight bits of the status.
    sh.store().refuse_writes(efi::kWriteProtected);
    EXPECT_EQ(out("PRINT SETVAR(\"W\", \"01\")"), "8\n");
    EXPECT_FALSE(sh.store().find(std::string("W"), kGlobal));
}

TEST_F(VarFunctions, ScriptErrors) {
    const struct {
        const char* code;
        const char* message;
    } cases[] = {
        {"PRINT VAREXISTS(\"Timeout\", \"12345\")", "invalid GUID: 12345"},
        {"PRINT VAR$(\"Timeout\", \"nosuchname\")", "invalid GUID: nosuchname"},
        {"r = SETVAR(\"X\", \"012\")", "SETVAR: data must be hexadecimal, e.g. \"0100\""},
        {"r = SETVAR(\"X\", \"0x01\")", "SETVAR: data must be hexadecimal, e.g. \"0100\""},
        {"r = SETVAR(\"X\", \"01\", \"bad\")", "invalid GUID: bad"},
        {"r = DELVAR(\"Timeout\", \"bad\")", "invalid GUID: bad"},
    };
    for (const auto& c : cases) {
        RunResult r = sh.run_basic(c.code);
        EXPECT_EQ(r.code, 1) << c.code;
        EXPECT_EQ(error_message(r), c.message) << c.code;
    }
    EXPECT_FALSE(sh.store().find(std::string("X"), kGlobal));
    EXPECT_EQ(stored("Timeout"), (Bytes{5, 0}));
}

TEST(VarFunctionsSecureBoot, ActiveWhenTheVariableSaysSo) {
    CommandShell sh;
    sh.store().put(u"SecureBoot", kGlobal, 6, {1});
    EXPECT_EQ(sh.run_basic("PRINT SECUREBOOT()").out, "-1\n");
}

}  // namespace

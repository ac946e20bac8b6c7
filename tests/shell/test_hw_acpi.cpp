// acpiview over ACPI tables built in fake physical memory.
#include "config_tables_support.h"

using namespace tarn;

using namespace tarn_test;
using namespace hw_test;

namespace {

struct AcpiSetup {
    uint32_t fadt_length = 244;
    uint8_t rsdp_revision = 2;
    bool use_xsdt = true;
};

// DSDT and FACS reachable two ways (32-bit and 64-bit fields), APIC, MCFG, HPET, two SSDTs.
struct AcpiMachine {
    uint64_t dsdt32, dsdt64, facs32, facs64, apic, mcfg, hpet, ssdt1, ssdt2, fadt;
    AcpiMachine(CommandShell& s, const AcpiSetup& setup) {
        auto& fw = s.fw;
        dsdt32 = add_table(fw, "DSDT", std::string(40, 'a'));
        dsdt64 = add_table(fw, "DSDT", std::string(50, 'b'));
        std::string facs(64, '\0');
        std::memcpy(&facs[0], "FACS", 4);
        put(facs, 4, 64, 4);
        facs32 = sim::add_physical_blob(fw, facs, next_address());
        facs64 = sim::add_physical_blob(fw, facs, next_address());
        std::string fadt_body(setup.fadt_length - 36, '\0');
        auto f = [&](size_t at, uint64_t v, int n) {
            if (at + n <= setup.fadt_length) put(fadt_body, at - 36, v, n);
        };
        f(36, facs32, 4);
        f(40, dsdt32, 4);
        f(45, 2, 1);
        f(46, 9, 2);
        f(56, 0x600, 4);
        f(132, facs64, 8);
        f(140, dsdt64, 8);
        fadt = add_table(fw, "FACP", fadt_body, 6);
        std::string madt(8, '\0');
        put(madt, 0, 0xfee00000, 4);
        put(madt, 4, 1, 4);
        madt += std::string("\x00\x08\x00\x00\x01\x00\x00\x00", 8);          // local APIC 0, enabled
        madt += std::string("\x00\x08\x01\x01\x00\x00\x00\x00", 8);          // local APIC 1, disabled
        madt += std::string("\x01\x0c\x00\x00\x00\x00\xc0\xfe\x00\x00\x00\x00", 12);  // I/O APIC
        madt += std::string("\x02\x0a\x00\x00\x02\x00\x00\x00\x05\x00", 10);  // override 0 -> 2
        madt += std::string("\x04\x06\xff\x05\x00\x01", 6);                   // NMI LINT1
        madt += std::string("\x09\x10\x00\x00\x07\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00", 16);
        madt += std::string("\x7f\x03\x00", 3);                               // unknown type
        madt += std::string("\x00\x30\x00", 3);                               // runs past the end
        apic = add_table(fw, "APIC", madt);
        std::string mcfg(8, '\0');
        std::string alloc(16, '\0');
        put(alloc, 0, 0xb0000000, 8);
        alloc[10] = 0;
        alloc[11] = static_cast<char>(0xff);
        mcfg += alloc;
        mcfg += std::string(10, '\0');  // a partial allocation is not shown
        this->mcfg = add_table(fw, "MCFG", mcfg);
        std::string hpet(17, '\0');
        put(hpet, 8, 0xfed00000, 8);
        hpet[16] = 0;
        this->hpet = add_table(fw, "HPET", hpet);
        ssdt1 = add_table(fw, "SSDT", "first");
        ssdt2 = add_table(fw, "SSDT", "second one");
        install_root(s, setup, {fadt, apic, 0, this->mcfg, this->hpet, ssdt1, ssdt2});
    }

    static void install_root(CommandShell& s, const AcpiSetup& setup, const std::vector<uint64_t>& entries) {
        std::string xsdt_body, rsdt_body;
        for (uint64_t e : entries) {
            std::string x(8, '\0'), r(4, '\0');
            put(x, 0, e, 8);
            put(r, 0, e, 4);
            xsdt_body += x;
            rsdt_body += r;
        }
        uint64_t xsdt = add_table(s.fw, "XSDT", xsdt_body);
        uint64_t rsdt = add_table(s.fw, "RSDT", rsdt_body);
        install_rsdp(s, setup.rsdp_revision, rsdt, setup.use_xsdt ? xsdt : 0);
    }
};

std::string line_of(const std::string& out, const std::string& sig) {
    size_t at = out.find("  " + sig + "  ");
    if (at == std::string::npos) return "";
    return out.substr(at, out.find('\n', at) - at);
}

std::vector<std::string> signatures(const std::string& data) {
    std::vector<std::string> out;
    for (size_t at = data.find("signature="); at != std::string::npos; at = data.find("signature=", at + 1))
        out.push_back(data.substr(at + 10, data.find('\n', at) - at - 10));
    return out;
}

}  // namespace

TEST(HwAcpi, ListFollowsTheXsdtAndTheFadt) {
    HwShell s;
    AcpiMachine m(s, {});
    auto r = s.run("acpiview");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out.find("RSDP at 0x"), 0u) << r.out;
    EXPECT_NE(r.out.find(", revision 2, OEM TARNOE\nSig   Address           Length  Rev     OEM     Table\n"),
              std::string::npos) << r.out;
    auto d = s.run("acpiview -data");
    EXPECT_EQ(signatures(d.out), (std::vector<std::string>{"XSDT", "FACP", "DSDT", "FACS", "APIC", "MCFG", "HPET",
                                                          "SSDT", "SSDT"}));
    // The 244-byte FADT gives the 64-bit DSDT and FACS.
    char want[64];
    std::snprintf(want, sizeof want, "address=0x%llX\nlength=86\n", static_cast<unsigned long long>(m.dsdt64));
    EXPECT_NE(d.out.find(want), std::string::npos) << d.out;
    std::snprintf(want, sizeof want, "address=0x%llX\nlength=64\nchecksum=none\n",
                  static_cast<unsigned long long>(m.facs64));
    EXPECT_NE(d.out.find(want), std::string::npos) << d.out;
    EXPECT_NE(line_of(r.out, "FACS").find("      64  FACS"), std::string::npos) << r.out;
    EXPECT_NE(line_of(r.out, "APIC").find("  rev 1   TARNOE  TARNTABL  checksum ok"), std::string::npos) << r.out;
}

TEST(HwAcpi, FadtLengthsPickTheFields) {
    struct Case { uint32_t length; bool dsdt64, facs64; } cases[] = {
        {116, false, false}, {140, false, true}, {147, false, true}, {148, true, true}, {244, true, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.length);
        HwShell s;
        AcpiMachine m(s, {c.length});
        auto d = s.run("acpiview -data").out;
        char want[64];
        std::snprintf(want, sizeof want, "signature=DSDT\naddress=0x%llX\n",
                      static_cast<unsigned long long>(c.dsdt64 ? m.dsdt64 : m.dsdt32));
        EXPECT_NE(d.find(want), std::string::npos) << d;
        std::snprintf(want, sizeof want, "signature=FACS\naddress=0x%llX\n",
                      static_cast<unsigned long long>(c.facs64 ? m.facs64 : m.facs32));
        EXPECT_NE(d.find(want), std::string::npos) << d;
    }
}

TEST(HwAcpi, RsdtWhenTheXsdtIsZeroOrTheRevisionOld) {
    for (AcpiSetup setup : {AcpiSetup{244, 2, false}, AcpiSetup{244, 0, true}}) {
        HwShell s;
        AcpiMachine m(s, setup);
        auto sigs = signatures(s.run("acpiview -data").out);
        ASSERT_FALSE(sigs.empty());
        EXPECT_EQ(sigs[0], "RSDT");
        EXPECT_EQ(sigs.size(), 9u);
    }
}

TEST(HwAcpi, Summaries) {
    HwShell s;
    AcpiMachine m(s, {});
    auto r = s.run("acpiview -s apic");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("checksum ok\n"
                         "  Local APIC address 0xFEE00000, flags 1\n"
                         "  Processor local APIC: ACPI id 0, APIC id 0, enabled\n"
                         "  Processor local APIC: ACPI id 1, APIC id 1, disabled\n"
                         "  I/O APIC: id 0, address 0xFEC00000, GSI base 0\n"
                         "  Interrupt override: bus 0, source 0 -> GSI 2, flags 5\n"
                         "  Local APIC NMI: processor 255, LINT1\n"
                         "  Processor x2APIC: id 7, enabled\n"
                         "  Entry type 127, length 3\n"
                         "  0000000000000000: 41 50 49 43"),
              std::string::npos) << r.out;
    EXPECT_NE(s.run("acpiview -s MCFG").out.find(
                  "checksum ok\n  PCI Express ECAM: base 0xB0000000, segment 0, buses 00-FF\n  0000000000000000: 4D"),
              std::string::npos);
    EXPECT_NE(s.run("acpiview -s hpet").out.find("  HPET base address 0xFED00000, number 0\n"), std::string::npos);
    char want[128];
    std::snprintf(want, sizeof want, "  FACS 0x%X, DSDT 0x%X, SCI interrupt 9, PM1a event block 0x600, profile 2\n",
                  static_cast<unsigned>(m.facs32), static_cast<unsigned>(m.dsdt32));
    EXPECT_NE(s.run("acpiview -s FACP").out.find(want), std::string::npos);
    // Two matches, each with its line and dump.
    r = s.run("acpiview -s ssdt");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2 + 3 + 3);
}

TEST(HwAcpi, SavingTwoSsdts) {
    HwShell s;
    AcpiMachine m(s, {});
    auto r = s.run("acpiview -s ssdt -d");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_NE(r.out.find("  saved to SSDT.bin\n"), std::string::npos);
    EXPECT_NE(r.out.find("  saved to SSDT2.bin\n"), std::string::npos);
    EXPECT_EQ(sim::read_file(s.fw, s.volumes[0], "\\SSDT.bin"), sim::physical_blob(s.fw, m.ssdt1));
    EXPECT_EQ(sim::read_file(s.fw, s.volumes[0], "\\SSDT2.bin"), sim::physical_blob(s.fw, m.ssdt2));
    EXPECT_EQ(s.run("acpiview -s ssdt -d -data").errors, "acpiview: -d cannot be used with -data\n");
}

TEST(HwAcpi, HostileTables) {
    HwShell s;
    auto& fw = s.fw;
    uint64_t good = add_table(fw, "GOOD", "x");
    uint64_t bad_sum = add_table(fw, "BSUM", "y");
    std::string b = sim::physical_blob(fw, bad_sum);
    b[9]++;  // the checksum no longer adds up
    bad_sum = sim::add_physical_blob(fw, b, next_address());
    uint64_t huge = add_table(fw, "HUGE", "z");
    b = sim::physical_blob(fw, huge);
    put(b, 4, 0x1000001, 4);  // claims more than 16 MiB
    huge = sim::add_physical_blob(fw, b, next_address());
    uint64_t longer = add_table(fw, "LONG", "w");
    b = sim::physical_blob(fw, longer);
    put(b, 4, 0x100, 4);  // claims more than there is memory
    longer = sim::add_physical_blob(fw, b, next_address());
    // A FADT too short for any field, and a short root entry at the end.
    uint64_t fadt = add_table(fw, "FACP", "");
    std::string body;
    for (uint64_t e : {good, bad_sum, huge, longer, fadt, uint64_t(0xdead0000)}) {
        std::string x(8, '\0');
        put(x, 0, e, 8);
        body += x;
    }
    body += "abc";
    install_rsdp(s, 2, 0, add_table(fw, "XSDT", body));
    s.run("set -v pager off");
    auto r = s.run("acpiview");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(line_of(r.out, "GOOD").find("checksum ok"), std::string::npos) << r.out;
    EXPECT_NE(line_of(r.out, "BSUM").find("BAD CHECKSUM"), std::string::npos) << r.out;
    EXPECT_NE(line_of(r.out, "HUGE").find("16777217  bad length"), std::string::npos) << r.out;
    EXPECT_NE(line_of(r.out, "LONG").find("cannot be read"), std::string::npos) << r.out;
    EXPECT_NE(line_of(r.out, "????").find("cannot be read"), std::string::npos) << r.out;
    EXPECT_NE(line_of(r.out, "FACP").find("checksum ok"), std::string::npos) << r.out;
    r = s.run("acpiview -s huge -d");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.find("saved"), std::string::npos);
    EXPECT_EQ(s.run("acpiview -s facp").out.find("  FACS"), std::string::npos);
    EXPECT_EQ(s.run("acpiview -s NONE").errors, "acpiview: table NONE not found (acpiview lists them)\n");
}

TEST(HwAcpi, ShortRoot) {
    // A root shorter than its header.
    HwShell t;
    uint64_t root = add_table(t.fw, "XSDT", "");
    std::string b = sim::physical_blob(t.fw, root);
    put(b, 4, 20, 4);
    install_rsdp(t, 2, 0, sim::add_physical_blob(t.fw, b, next_address()));
    EXPECT_NE(line_of(t.run("acpiview").out, "XSDT").find("bad length"), std::string::npos);
}

TEST(HwAcpi, MissingRsdp) {
    HwShell s;
    EXPECT_EQ(s.run("acpiview").errors, "acpiview: no ACPI tables found\n");
    std::string rsdp(36, '\0');
    std::memcpy(&rsdp[0], "RSD PTX ", 8);
    uint64_t at = sim::add_physical_blob(s.fw, rsdp, next_address());
    ASSERT_EQ(s.fw.install_configuration_table(tarn::kAcpi20TableGuid, reinterpret_cast<void*>(at)), efi::kSuccess);
    auto r = s.run("acpiview -l");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "acpiview: no ACPI tables found\n");
    EXPECT_EQ(s.run("acpiview extra").code, 2);
    EXPECT_EQ(s.run("acpiview -d").code, 2);
}

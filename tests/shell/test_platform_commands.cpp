// memmap, reset and sysinfo over the simulated firmware, with its memory map and
// ResetSystem replaced by fakes the tests describe.
#include <cstring>
#include <vector>

#include "command_test.h"
#include "platform/memory_map.h"
#include "platform/reset_request.h"
#include "uefi/guids.h"
#include "runtime/firmware.h"

using namespace tarn;
using namespace tarn_test;

namespace {

// ---- a memory map with a wider descriptor stride than the structure

struct FakeRow {
    uint32_t type;
    uint64_t start;
    uint64_t pages;
    uint64_t attribute;
};

struct FakeMap {
    std::vector<FakeRow> rows;
    uint64_t stride = 48;
    bool grows = false;  // every answer asks for more room than the last
    int calls = 0;
};

FakeMap& fake_map() {
    static FakeMap m;
    return m;
}

efi::Status EFIAPI fake_get_memory_map(uint64_t* size, efi::MemoryDescriptor* map, uint64_t* key,
                                       uint64_t* stride, uint32_t* version) {
    FakeMap& f = fake_map();
    f.calls++;
    const uint64_t need = f.rows.size() * f.stride + (f.grows ? f.calls * 4096 : 0);
    *stride = f.stride;
    *version = 1;
    if (*size < need || f.grows) {
        *size = need;
        return efi::kBufferTooSmall;
    }
    auto* out = reinterpret_cast<uint8_t*>(map);
    std::memset(out, 0xa5, need);  // the bytes past each descriptor are not ours to read
    for (size_t i = 0; i < f.rows.size(); i++) {
        efi::MemoryDescriptor d{};
        d.type = f.rows[i].type;
        d.physical_start = f.rows[i].start;
        d.number_of_pages = f.rows[i].pages;
        d.attribute = f.rows[i].attribute;
        std::memcpy(out + i * f.stride, &d, sizeof d);
    }
    *size = need;
    *key = 1;
    return efi::kSuccess;
}

// Installs the fake map for the life of a test shell.
struct MemoryMapShell {
    CommandShell shell{file_commands()};
    efi::Status(EFIAPI* saved)(uint64_t*, efi::MemoryDescriptor*, uint64_t*, uint64_t*, uint32_t*);

    explicit MemoryMapShell(std::vector<FakeRow> rows) {
        fake_map() = FakeMap();
        fake_map().rows = std::move(rows);
        saved = firmware().boot->get_memory_map;
        firmware().boot->get_memory_map = fake_get_memory_map;
    }
    ~MemoryMapShell() { firmware().boot->get_memory_map = saved; }
};

const std::vector<FakeRow> kRows = {
    {efi::kConventionalMemory, 0x100000, 0x700, 0xf},       // 7 MiB
    {efi::kBootServicesData, 0x800000, 0x100, 0xf},         // 1 MiB
    {efi::kReservedMemoryType, 0x900000, 0x200, 0},         // not counted
    {20, 0xa00000, 0x100, 0x8000000000000000ull},           // Other, counted
    {efi::kMemoryMappedIo, 0xffc00000, 0x400, 1},           // not counted
    {efi::kAcpiMemoryNvs, 0xb00000, 0x80, 0xf},             // counted, not available
};

TEST(PlatformMemmap, ListsEachDescriptorAcrossAWideStride) {
    MemoryMapShell m(kRows);
    const std::string out = m.shell.output("memmap");
    EXPECT_EQ(out,
              "Type               Start            End                   Pages  Attributes\n"
              "Conventional       0000000000100000 00000000007fffff       1792  000000000000000f\n"
              "BootServicesData   0000000000800000 00000000008fffff        256  000000000000000f\n"
              "Reserved           0000000000900000 0000000000afffff        512  0000000000000000\n"
              "Other              0000000000a00000 0000000000afffff        256  8000000000000000\n"
              "MMIO               00000000ffc00000 00000000ffffffff       1024  0000000000000001\n"
              "ACPINVS            0000000000b00000 0000000000b7ffff        128  000000000000000f\n"
              "\n"
              "Type                      Pages        MiB\n"
              "Reserved                    512          2\n"
              "BootServicesData            256          1\n"
              "Conventional               1792          7\n"
              "ACPINVS                     128          0\n"
              "MMIO                       1024          4\n"
              "Other                       256          1\n"
              "Total memory: 9 MiB, available to the OS: 8 MiB\n");
}

TEST(PlatformMemmap, SummaryAndRecords) {
    MemoryMapShell m(kRows);
    struct Case {
        const char* line;
        const char* starts;   // the output starts with this
        const char* has;      // and holds this
        const char* lacks;    // but not this
    } cases[] = {
        {"memmap -s", "Type                      Pages        MiB\n",
         "Total memory: 9 MiB, available to the OS: 8 MiB\n", "Start"},
        {"memmap -s -b", "Type ", "Other                       256          1\n", "Start"},
        {"memmap -data", "type=Conventional\nstart=0x100000\nend=0x7fffff\npages=1792\nattributes=0xf\n",
         "type=Other\nstart=0xa00000\nend=0xafffff\npages=256\nattributes=0x8000000000000000\n", "Total"},
        {"memmap -s -data", "type=Reserved\npages=512\nbytes=2097152\n",
         "type=Other\npages=256\nbytes=1048576\n", "MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string out = m.shell.output(c.line);
        EXPECT_EQ(out.rfind(c.starts, 0), 0u) << out;
        EXPECT_NE(out.find(c.has), std::string::npos) << out;
        EXPECT_EQ(out.find(c.lacks), std::string::npos) << out;
    }
}

TEST(PlatformMemmap, BadArgumentsAndAMapThatKeepsGrowing) {
    MemoryMapShell m(kRows);
    m.shell.expect_failure("memmap extra", 2, "usage: ");
    m.shell.expect_failure("memmap -x", 2, "usage: ");
    fake_map().grows = true;
    fake_map().calls = 0;
    m.shell.expect_failure("memmap", 1, "memmap: cannot read the memory map");
    EXPECT_EQ(fake_map().calls, 9);  // the size question and eight attempts
}

TEST(PlatformMemmap, TotalsOfTheSimulatedMap) {
    CommandShell s(file_commands());
    MemoryMap map;
    ASSERT_TRUE(read_memory_map(&map));
    EXPECT_GE(map.stride, sizeof(efi::MemoryDescriptor));
    MemoryTotals t;
    total_memory_map(map, &t);
    uint64_t sum = 0;
    for (uint64_t p : t.pages) sum += p;
    EXPECT_EQ(sum, t.total_pages + t.pages[efi::kReservedMemoryType] + t.pages[efi::kMemoryMappedIo] +
                       t.pages[efi::kMemoryMappedIoPortSpace]);
    EXPECT_LE(t.available_pages, t.total_pages);
}

// ---- a ResetSystem that returns

struct ResetCall {
    uint32_t type;
    efi::Status status;
    std::u16string data;  // without its NUL
    uint64_t size;
};

std::vector<ResetCall>& reset_calls() {
    static std::vector<ResetCall> calls;
    return calls;
}

void EFIAPI returning_reset(uint32_t type, efi::Status status, uint64_t size, void* data) {
    std::u16string text;
    if (data && size >= 2) text.assign(static_cast<const char16_t*>(data), size / 2 - 1);
    reset_calls().push_back({type, status, text, size});
}

struct ResetShell {
    CommandShell shell{file_commands()};
    void(EFIAPI* saved)(uint32_t, efi::Status, uint64_t, void*);

    ResetShell() {
        reset_calls().clear();
        saved = firmware().runtime->reset_system;
        firmware().runtime->reset_system = returning_reset;
    }
    ~ResetShell() { firmware().runtime->reset_system = saved; }
};

constexpr const char* kNotReset = "reset: the firmware did not reset the system";

TEST(PlatformReset, WordsChooseTheModeAndTheReason) {
    struct Case {
        std::vector<const char*> words;
        bool ok;
        ResetKind kind;
        const char* reason;
    } cases[] = {
        {{}, true, ResetKind::kCold, nullptr},
        {{"-c"}, true, ResetKind::kCold, nullptr},
        {{"-W", "why"}, true, ResetKind::kWarm, "why"},
        {{"-s", "maintenance"}, true, ResetKind::kShutdown, "maintenance"},
        {{"SETUP"}, true, ResetKind::kSetup, nullptr},
        {{"-setup"}, true, ResetKind::kSetup, nullptr},
        {{"-f"}, true, ResetKind::kSetup, nullptr},
        {{"-FwUi"}, true, ResetKind::kSetup, nullptr},
        {{"-w", "-s"}, false, ResetKind::kCold, nullptr},
        {{"-s", "a", "b"}, false, ResetKind::kCold, nullptr},
        {{"-fwui", "x"}, false, ResetKind::kCold, nullptr},
        {{"setup", "-c"}, false, ResetKind::kCold, nullptr},
        {{"why"}, false, ResetKind::kCold, nullptr},
        {{"-x"}, false, ResetKind::kCold, nullptr},
        {{"-c", "-x"}, false, ResetKind::kCold, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<char*> words;
        std::string trace;
        for (const char* w : c.words) {
            words.push_back(const_cast<char*>(w));
            trace += std::string(w) + " ";
        }
        SCOPED_TRACE(trace);
        ResetRequest r;
        ASSERT_EQ(parse_reset_arguments(static_cast<int>(words.size()), words.data(), &r), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_STREQ(r.reason ? r.reason : "(none)", c.reason ? c.reason : "(none)");
    }
    EXPECT_EQ(reset_system_type(ResetKind::kCold), 0u);
    EXPECT_EQ(reset_system_type(ResetKind::kWarm), 1u);
    EXPECT_EQ(reset_system_type(ResetKind::kShutdown), 2u);
    EXPECT_EQ(reset_system_type(ResetKind::kSetup), 0u);
}

TEST(PlatformReset, CallsResetSystemAndReportsWhenItReturns) {
    ResetShell r;
    struct Case {
        const char* line;
        std::vector<std::pair<uint32_t, std::u16string>> calls;  // type, reason
    } cases[] = {
        {"reset", {{0, u""}}},
        {"reset -w", {{1, u""}}},
        {"reset -s maintenance", {{2, u"maintenance"}, {2, u""}}},
        {"reset -C \"power cycle\"", {{0, u"power cycle"}, {0, u""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        reset_calls().clear();
        r.shell.expect_failure(c.line, 1, kNotReset);
        ASSERT_EQ(reset_calls().size(), c.calls.size());
        for (size_t i = 0; i < c.calls.size(); i++) {
            EXPECT_EQ(reset_calls()[i].type, c.calls[i].first);
            EXPECT_EQ(reset_calls()[i].status, efi::kSuccess);
            EXPECT_TRUE(reset_calls()[i].data == c.calls[i].second);
            EXPECT_EQ(reset_calls()[i].size, c.calls[i].second.empty() ? 0 : 2 * c.calls[i].second.size() + 2);
        }
    }
    for (const char* line : {"reset -w -s", "reset -fwui x", "reset now", "reset -s a b"}) {
        SCOPED_TRACE(line);
        reset_calls().clear();
        r.shell.expect_failure(line, 2, "usage: reset [-w [STRING]");
        EXPECT_TRUE(reset_calls().empty());
    }
}

uint64_t os_indications(CommandShell& s) {
    const sim::StoredVariable* v = s.store().find("OsIndications", efi::kGlobalVariableGuid);
    if (!v) return ~0ull;
    EXPECT_EQ(v->attributes, 7u);
    uint64_t value = 0;
    if (v->data.size() == 8) std::memcpy(&value, v->data.data(), 8);
    return value;
}

std::vector<uint8_t> le64(uint64_t v) {
    std::vector<uint8_t> out(8);
    std::memcpy(out.data(), &v, 8);
    return out;
}

TEST(PlatformReset, SetupModeSetsBitZeroOfOsIndications) {
    struct Case {
        bool supported_present;
        uint64_t supported;
        bool old_present;
        uint64_t old_value;
        uint64_t expected;  // ~0 for "not written"
    } cases[] = {
        {true, 0x41, true, 0x40, 0x41},   // read, modify, write
        {true, 0x1, false, 0, 0x1},       // nothing to keep
        {true, 0x1, true, 0x1, 0x1},      // already set
        {true, 0x40, false, 0, ~0ull},    // the firmware cannot boot into its setup
        {false, 0, false, 0, ~0ull},      // nor can one that does not say
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.supported);
        ResetShell r;
        if (c.supported_present) r.shell.store().put(u"OsIndicationsSupported", efi::kGlobalVariableGuid, 6, le64(c.supported));
        if (c.old_present) r.shell.store().put(u"OsIndications", efi::kGlobalVariableGuid, 7, le64(c.old_value));
        if (c.expected == ~0ull) {
            r.shell.expect_failure("reset setup", 1, "reset: this firmware does not support booting into its setup");
            EXPECT_TRUE(reset_calls().empty());
            EXPECT_EQ(r.shell.store().find("OsIndications", efi::kGlobalVariableGuid) != nullptr, c.old_present);
        } else {
            r.shell.expect_failure("reset setup", 1, kNotReset);
            EXPECT_EQ(os_indications(r.shell), c.expected);
            ASSERT_FALSE(reset_calls().empty());
            EXPECT_EQ(reset_calls()[0].type, 0u);
        }
    }
}

TEST(PlatformReset, AFailedWriteIsReportedAndNoResetFollows) {
    ResetShell r;
    r.shell.store().put(u"OsIndicationsSupported", efi::kGlobalVariableGuid, 6, le64(1));
    r.shell.store().refuse_writes(efi::kWriteProtected);
    r.shell.expect_failure("reset -fwui", 1, "reset: cannot set OsIndications: ");
    EXPECT_TRUE(reset_calls().empty());
}

// ---- sysinfo

std::vector<std::string> keys_of(const std::string& record) {
    std::vector<std::string> keys;
    size_t at = 0;
    while (at < record.size()) {
        const size_t eq = record.find('=', at), nl = record.find('\n', at);
        if (eq == std::string::npos || nl == std::string::npos) break;
        if (eq < nl) keys.push_back(record.substr(at, eq - at));
        at = nl + 1;
    }
    return keys;
}

TEST(PlatformSysinfo, OneScreenInTheOrderOfItsLines) {
    CommandShell s(file_commands());
    const std::string out = s.output("sysinfo");
    const char* in_order[] = {"Firmware: ", "\nUEFI:     2.7\n", "\nSecure Boot", "\nCPU:      TARN Simulated CPU @ 1.00GHz / GenuineIntel\n",
                              "\nMemory:   ", "\nConsole:  ", "\nTables:   ", "\nStarted from: fs0: "};
    size_t at = 0;
    for (const char* piece : in_order) {
        SCOPED_TRACE(piece);
        const size_t found = out.find(piece, at);
        ASSERT_NE(found, std::string::npos) << out;
        at = found;
    }
    MemoryMap map;
    ASSERT_TRUE(read_memory_map(&map));
    MemoryTotals t;
    total_memory_map(map, &t);
    EXPECT_NE(out.find("Memory:   " + std::to_string(pages_to_mib(t.total_pages)) + " MiB\n"), std::string::npos);
    EXPECT_EQ(out.find("Graphics:"), std::string::npos);  // the simulation has no Graphics Output
}

TEST(PlatformSysinfo, OneRecordWithTheFieldsInOrder) {
    CommandShell s(file_commands());
    const std::string out = s.output("sysinfo extra words -data");
    const std::vector<std::string> expected = {
        "firmware", "firmware_revision", "uefi", "secure_boot", "cpu", "cpu_vendor", "memory",
        "console_columns", "console_rows", "config_tables", "acpi", "smbios", "boot_volume", "boot_devpath"};
    EXPECT_EQ(keys_of(out), expected) << out;
    EXPECT_NE(out.find("\ncpu_vendor=GenuineIntel\n"), std::string::npos);
    EXPECT_NE(out.find("\nboot_volume=fs0\n"), std::string::npos);
}

TEST(PlatformSysinfo, UefiRevisionsShowTheirVersion) {
    CommandShell s(file_commands());
    struct Case {
        uint32_t revision;
        const char* line;
    } cases[] = {{(2u << 16) | 80, "UEFI:     2.8\n"}, {(2u << 16) | 31, "UEFI:     2.3.1\n"},
                 {(2u << 16) | 100, "UEFI:     2.10\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        firmware().system_table->hdr.revision = c.revision;
        EXPECT_NE(s.output("sysinfo").find(c.line), std::string::npos);
    }
}

}  // namespace

// Variable access routines over the simulated store, and the store's firmware rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/firmware.h"
#include "sim.h"
#include "uefi/guids.h"
#include "uefi/tables.h"
#include "variables.h"
#include "vars/variable_access.h"

using namespace tarn;

namespace {

constexpr efi::Guid kTestGuid = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr uint32_t kNvBs = efi::kVariableNonVolatile | efi::kVariableBootserviceAccess;
constexpr uint32_t kBs = efi::kVariableBootserviceAccess;

struct Seen {
    std::vector<std::string> names;
    size_t stop_after = SIZE_MAX;
};

bool collect(void* context, const char* name, const char16_t*, const efi::Guid& guid) {
    Seen* seen = static_cast<Seen*>(context);
    if (guid == kTestGuid) seen->names.push_back(name);
    return seen->names.size() < seen->stop_after;
}

std::vector<std::string> names_in_order() {
    Seen seen;
    EXPECT_EQ(enumerate_variables(collect, &seen), efi::kSuccess);
    return seen.names;
}

TEST(ShellVariableAccess, WriteReadRoundTrip) {
    sim::SimFirmware fw;
    const char data[] = "\x01\x02\x03";
    ASSERT_EQ(write_variable("Alpha", kTestGuid, kNvBs, 3, data), efi::kSuccess);
    {
        VariableData v;
        ASSERT_EQ(read_variable("Alpha", kTestGuid, &v), efi::kSuccess);
        ASSERT_EQ(v.size, 3u);
        EXPECT_EQ(v.attributes, kNvBs);
        EXPECT_EQ(v.bytes[0], 1);
        EXPECT_EQ(v.bytes[2], 3);
        EXPECT_EQ(v.bytes[3], 0);  // the two zero bytes after the value
        EXPECT_EQ(v.bytes[4], 0);
        VariableData missing;
        EXPECT_EQ(read_variable("alpha", kTestGuid, &missing), efi::kNotFound);  // names keep case
        EXPECT_EQ(missing.bytes, nullptr);
        uint32_t attributes = 0;
        uint64_t size = 0;
        EXPECT_EQ(probe_variable(u"Alpha", kTestGuid, &attributes, &size), efi::kSuccess);
        EXPECT_EQ(size, 3u);
        EXPECT_EQ(attributes, kNvBs);
    }
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellVariableAccess, DeleteBySizeZeroAndAttributeRules) {
    sim::SimFirmware fw;
    auto& store = sim::variable_store();
    uint8_t one = 1;
    ASSERT_EQ(write_variable("V", kTestGuid, kNvBs | efi::kVariableRuntimeAccess, 1, &one),
              efi::kSuccess);
    // A rewrite or delete that names other attributes is refused, as OVMF does.
    EXPECT_EQ(write_variable("V", kTestGuid, kNvBs, 1, &one), efi::kInvalidParameter);
    EXPECT_EQ(write_variable("V", kTestGuid, kNvBs, 0, nullptr), efi::kInvalidParameter);
    EXPECT_TRUE(store.find(std::string("V"), kTestGuid));
    // Attributes 0 delete whatever was stored.
    EXPECT_EQ(delete_variable("V", kTestGuid), efi::kSuccess);
    EXPECT_FALSE(store.find(std::string("V"), kTestGuid));
    EXPECT_EQ(delete_variable("V", kTestGuid), efi::kNotFound);
    // Runtime access needs boot-service access; unknown bits are refused.
    EXPECT_EQ(write_variable("W", kTestGuid, efi::kVariableRuntimeAccess, 1, &one),
              efi::kInvalidParameter);
    EXPECT_EQ(write_variable("W", kTestGuid, 0x100 | kBs, 1, &one), efi::kInvalidParameter);
    EXPECT_EQ(write_variable("", kTestGuid, kBs, 1, &one), efi::kInvalidParameter);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellVariableAccess, EnumerationOrderFollowsTheFirmware) {
    sim::SimFirmware fw;
    uint8_t a = 1, b = 2;
    ASSERT_EQ(write_variable("n1", kTestGuid, kNvBs, 1, &a), efi::kSuccess);
    ASSERT_EQ(write_variable("v1", kTestGuid, kBs, 1, &a), efi::kSuccess);
    ASSERT_EQ(write_variable("n2", kTestGuid, kNvBs, 1, &a), efi::kSuccess);
    // Volatile variables come first; then the non-volatile ones in the order written.
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"v1", "n1", "n2"}));
    // Writing the same data changes nothing; other data moves the variable to the end.
    ASSERT_EQ(write_variable("n1", kTestGuid, kNvBs, 1, &a), efi::kSuccess);
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"v1", "n1", "n2"}));
    ASSERT_EQ(write_variable("n1", kTestGuid, kNvBs, 1, &b), efi::kSuccess);
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"v1", "n2", "n1"}));
    // A restart forgets the volatile ones.
    sim::variable_store().reboot();
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"n2", "n1"}));
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellVariableAccess, VisitorStopsTheEnumeration) {
    sim::SimFirmware fw;
    uint8_t a = 1;
    for (const char* n : {"a", "b", "c"}) ASSERT_EQ(write_variable(n, kTestGuid, kBs, 1, &a), 0u);
    Seen seen;
    seen.stop_after = 2;
    EXPECT_EQ(enumerate_variables(collect, &seen), efi::kSuccess);
    EXPECT_EQ(seen.names.size(), 2u);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellVariableAccess, LongNamesGrowTheNameBuffer) {
    sim::SimFirmware fw;
    std::string long_name(700, 'L');  // 1402 bytes in UCS-2, beyond the first 512
    uint8_t a = 7;
    ASSERT_EQ(write_variable("short", kTestGuid, kBs, 1, &a), efi::kSuccess);
    ASSERT_EQ(write_variable(long_name.c_str(), kTestGuid, kBs, 1, &a), efi::kSuccess);
    ASSERT_EQ(write_variable("after", kTestGuid, kBs, 1, &a), efi::kSuccess);
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"short", long_name, "after"}));
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellVariableAccess, BufferTooSmallReportsTheSizes) {
    sim::SimFirmware fw;
    auto& store = sim::variable_store();
    store.put(u"Big", kTestGuid, kNvBs, std::vector<uint8_t>(3000, 0xab));
    efi::RuntimeServices* rt = fw.system_table()->runtime_services;
    uint64_t size = 10;
    uint32_t attributes = 0;
    uint8_t small[10];
    EXPECT_EQ(rt->get_variable(u"Big", &kTestGuid, &attributes, &size, small), efi::kBufferTooSmall);
    EXPECT_EQ(size, 3000u);
    EXPECT_EQ(attributes, kNvBs);
    char16_t name[2] = {0, 0};
    efi::Guid guid{};
    uint64_t name_size = 2;
    EXPECT_EQ(rt->get_next_variable_name(&name_size, name, &guid), efi::kBufferTooSmall);
    EXPECT_EQ(name_size, 8u);  // "Big" and its NUL
    // A name not terminated within the given size is refused.
    char16_t unterminated[3] = {u'B', u'i', u'g'};
    name_size = 6;
    EXPECT_EQ(rt->get_next_variable_name(&name_size, unterminated, &guid), efi::kInvalidParameter);
    // A name that is not in the store is refused too.
    char16_t unknown[] = u"Nope";
    name_size = sizeof unknown;
    EXPECT_EQ(rt->get_next_variable_name(&name_size, unknown, &guid), efi::kInvalidParameter);

    VariableData v;
    ASSERT_EQ(read_variable("Big", kTestGuid, &v), efi::kSuccess);
    EXPECT_EQ(v.size, 3000u);
    EXPECT_EQ(v.bytes[2999], 0xab);
    EXPECT_EQ(v.bytes[3000], 0);
}

TEST(ShellVariableAccess, FullStoreAndSizeLimit) {
    sim::SimFirmware fw;
    auto& store = sim::variable_store();
    std::vector<uint8_t> big(sim::VariableStore::kDefaultMaxVariableSize, 1);
    EXPECT_EQ(write_variable("Huge", kTestGuid, kNvBs, big.size(), big.data()), efi::kInvalidParameter);
    store.set_capacity(store.used() + 200);
    std::vector<uint8_t> data(100, 2);
    EXPECT_EQ(write_variable("Fits", kTestGuid, kNvBs, data.size(), data.data()), efi::kSuccess);
    EXPECT_EQ(write_variable("Full", kTestGuid, kNvBs, data.size(), data.data()), efi::kOutOfResources);
    EXPECT_FALSE(store.find(std::string("Full"), kTestGuid));
    // Volatile variables do not use the non-volatile store.
    EXPECT_EQ(write_variable("Vol", kTestGuid, kBs, data.size(), data.data()), efi::kSuccess);
    uint64_t maximum = 0, remaining = 0, largest = 0;
    EXPECT_EQ(fw.system_table()->runtime_services->query_variable_info(kNvBs, &maximum, &remaining,
                                                                       &largest),
              efi::kSuccess);
    EXPECT_LT(remaining, 200u);
}

TEST(ShellVariableAccess, InjectedRefusals) {
    sim::SimFirmware fw;
    auto& store = sim::variable_store();
    uint8_t a = 1;
    store.refuse_writes(efi::kWriteProtected);
    EXPECT_EQ(write_variable("X", kTestGuid, kNvBs, 1, &a), efi::kWriteProtected);
    store.refuse_writes(0);
    ASSERT_EQ(write_variable("X", kTestGuid, kNvBs, 1, &a), efi::kSuccess);
    store.refuse_deletes(efi::kDeviceError);
    EXPECT_EQ(delete_variable("X", kTestGuid), efi::kDeviceError);
    EXPECT_TRUE(store.find(std::string("X"), kTestGuid));
    store.refuse_deletes(0);
    store.set_fault([](const sim::VariableCall& call) -> efi::Status {
        return call.op == sim::VariableOp::kGetNext ? efi::kDeviceError : 0;
    });
    Seen seen;
    EXPECT_EQ(enumerate_variables(collect, &seen), efi::kDeviceError);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellVariableAccess, NoFirmwareNoAccess) {
    sim::SimFirmware fw;
    efi::RuntimeServices* saved = firmware().runtime;
    firmware().runtime = nullptr;
    VariableData v;
    EXPECT_EQ(read_variable("X", kTestGuid, &v), efi::kUnsupported);
    EXPECT_EQ(write_variable("X", kTestGuid, kNvBs, 0, nullptr), efi::kUnsupported);
    firmware().runtime = saved;
}

}  // namespace

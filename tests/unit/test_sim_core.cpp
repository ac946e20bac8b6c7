// The simulated firmware's core: pool accounting and failure injection, pages, the
// virtual clock, CRC-32, time, the run() boundary.
#include <gtest/gtest.h>

#include <cstring>

#include "cpu/cpu.h"
#include "sim.h"
#include "uefi/guids.h"

using namespace tarn;

namespace {

efi::BootServices* bs(sim::SimFirmware& fw) { return fw.system_table()->boot_services; }
efi::RuntimeServices* rs(sim::SimFirmware& fw) { return fw.system_table()->runtime_services; }

TEST(SimPool, AllocateAndFreeBalance) {
    sim::SimFirmware fw;
    EXPECT_EQ(fw.outstanding_allocations(), 0);
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 100, &a), efi::kSuccess);
    ASSERT_EQ(bs(fw)->allocate_pool(efi::kBootServicesData, 0, &b), efi::kSuccess);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(fw.outstanding_allocations(), 2);
    EXPECT_EQ(fw.outstanding_bytes(), 100u);
    EXPECT_EQ(bs(fw)->free_pool(a), efi::kSuccess);
    EXPECT_EQ(bs(fw)->free_pool(b), efi::kSuccess);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
    EXPECT_EQ(fw.outstanding_bytes(), 0u);
}

TEST(SimPool, DoubleFreeIsRefusedAndCounted) {
    sim::SimFirmware fw;
    void* a = nullptr;
    ASSERT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 8, &a), efi::kSuccess);
    EXPECT_EQ(bs(fw)->free_pool(a), efi::kSuccess);
    EXPECT_EQ(bs(fw)->free_pool(a), efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->free_pool(nullptr), efi::kInvalidParameter);
    EXPECT_EQ(fw.invalid_frees(), 1);
}

TEST(SimPool, InvalidPoolTypeAndNullBuffer) {
    sim::SimFirmware fw;
    void* a = nullptr;
    EXPECT_EQ(bs(fw)->allocate_pool(efi::kConventionalMemory, 8, &a), efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->allocate_pool(efi::kMaxMemoryType, 8, &a), efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 8, nullptr), efi::kInvalidParameter);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(SimPool, FailureInjectionFromNthAllocation) {
    sim::SimFirmware fw;
    fw.fail_allocations_from(2);
    void* p[4] = {};
    EXPECT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 8, &p[0]), efi::kSuccess);
    EXPECT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 8, &p[1]), efi::kSuccess);
    EXPECT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 8, &p[2]), efi::kOutOfResources);
    efi::PhysicalAddress addr = 0;
    EXPECT_EQ(bs(fw)->allocate_pages(efi::kAllocateAnyPages, efi::kLoaderData, 1, &addr),
              efi::kOutOfResources);
    EXPECT_EQ(fw.allocate_pool(4), nullptr);  // sim modules see the same failure
    fw.fail_allocations_from(-1);
    EXPECT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 8, &p[3]), efi::kSuccess);
    EXPECT_EQ(fw.outstanding_allocations(), 3);
    for (void* q : {p[0], p[1], p[3]}) bs(fw)->free_pool(q);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(SimPool, FailureInjectionZeroFailsTheNextOne) {
    sim::SimFirmware fw;
    fw.fail_allocations_from(0);
    void* p = nullptr;
    EXPECT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 8, &p), efi::kOutOfResources);
    EXPECT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 8, &p), efi::kOutOfResources);
}

TEST(SimPool, PagesAreAlignedAndAccounted) {
    sim::SimFirmware fw;
    efi::PhysicalAddress addr = 0;
    ASSERT_EQ(bs(fw)->allocate_pages(efi::kAllocateAnyPages, efi::kLoaderData, 3, &addr), efi::kSuccess);
    EXPECT_EQ(addr % 4096, 0u);
    EXPECT_EQ(fw.outstanding_allocations(), 1);
    EXPECT_EQ(fw.outstanding_bytes(), 3u * 4096);
    std::memset(reinterpret_cast<void*>(addr), 0, 3 * 4096);  // all of it is usable
    EXPECT_EQ(bs(fw)->free_pages(addr, 2), efi::kNotFound);   // wrong count
    EXPECT_EQ(bs(fw)->free_pages(addr, 3), efi::kSuccess);
    EXPECT_EQ(bs(fw)->free_pages(addr, 3), efi::kNotFound);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(SimPool, LeftoverBlocksAreReleasedWithTheFirmware) {
    // The firmware frees what the program leaked so the sanitizer reports only real leaks.
    sim::SimFirmware fw;
    void* p = nullptr;
    ASSERT_EQ(bs(fw)->allocate_pool(efi::kLoaderData, 64, &p), efi::kSuccess);
    EXPECT_TRUE(fw.is_pool_block(p));
    EXPECT_EQ(fw.pool_blocks().size(), 1u);
}

TEST(SimMemoryMap, ReportsBufferTooSmallThenTheMap) {
    sim::SimFirmware fw;
    uint64_t size = 0, key = 0, dsize = 0;
    uint32_t version = 0;
    EXPECT_EQ(bs(fw)->get_memory_map(&size, nullptr, &key, &dsize, &version), efi::kBufferTooSmall);
    ASSERT_GT(size, 0u);
    EXPECT_GT(dsize, sizeof(efi::MemoryDescriptor));  // callers must step by the reported size
    std::vector<uint8_t> buf(size);
    ASSERT_EQ(bs(fw)->get_memory_map(&size, reinterpret_cast<efi::MemoryDescriptor*>(buf.data()),
                                     &key, &dsize, &version),
              efi::kSuccess);
    EXPECT_EQ(version, 1u);
    EXPECT_EQ(size % dsize, 0u);
    efi::MemoryDescriptor first;
    std::memcpy(&first, buf.data() + dsize, sizeof(first));
    EXPECT_EQ(first.type, efi::kConventionalMemory);
}

TEST(SimClock, StallAdvancesVirtualTimeAndTheCounter) {
    sim::SimFirmware fw;
    uint64_t t0 = fw.now_us();
    EXPECT_EQ(bs(fw)->stall(1500), efi::kSuccess);
    EXPECT_EQ(fw.now_us(), t0 + 1500);
    fw.advance_us(500);
    EXPECT_EQ(fw.now_us(), t0 + 2000);
}

TEST(SimCrc, MatchesTheStandardCheckValue) {
    sim::SimFirmware fw;
    uint32_t crc = 0;
    ASSERT_EQ(bs(fw)->calculate_crc32("123456789", 9, &crc), efi::kSuccess);
    EXPECT_EQ(crc, 0xcbf43926u);
    EXPECT_EQ(bs(fw)->calculate_crc32("x", 0, &crc), efi::kInvalidParameter);
    // The table headers carry a valid CRC.
    efi::SystemTable copy = *fw.system_table();
    uint32_t stored = copy.hdr.crc32;
    copy.hdr.crc32 = 0;
    ASSERT_EQ(bs(fw)->calculate_crc32(&copy, copy.hdr.header_size, &crc), efi::kSuccess);
    EXPECT_EQ(crc, stored);
}

TEST(SimMisc, MonotonicCountAndWatchdog) {
    sim::SimFirmware fw;
    uint64_t a = 0, b = 0;
    EXPECT_EQ(bs(fw)->get_next_monotonic_count(&a), efi::kSuccess);
    EXPECT_EQ(bs(fw)->get_next_monotonic_count(&b), efi::kSuccess);
    EXPECT_GT(b, a);
    EXPECT_EQ(bs(fw)->get_next_monotonic_count(nullptr), efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->set_watchdog_timer(0, 0x10000, 0, nullptr), efi::kSuccess);
    EXPECT_EQ(fw.watchdog_timeout(), 0u);
    EXPECT_EQ(fw.watchdog_calls(), 1u);
    EXPECT_EQ(bs(fw)->set_watchdog_timer(300, 0x10000, 0, nullptr), efi::kSuccess);
    EXPECT_EQ(fw.watchdog_timeout(), 300u);
}

TEST(SimTime, GetTimeFollowsTheVirtualClock) {
    sim::SimFirmware fw;
    efi::Time t{};
    t.year = 2023;
    t.month = 12;
    t.day = 31;
    t.hour = 23;
    t.minute = 59;
    t.second = 58;
    t.time_zone = 60;
    ASSERT_EQ(rs(fw)->set_time(&t), efi::kSuccess);
    fw.advance_us(3'000'000);
    efi::Time now{};
    ASSERT_EQ(rs(fw)->get_time(&now, nullptr), efi::kSuccess);
    EXPECT_EQ(now.year, 2024);
    EXPECT_EQ(now.month, 1);
    EXPECT_EQ(now.day, 1);
    EXPECT_EQ(now.hour, 0);
    EXPECT_EQ(now.minute, 0);
    EXPECT_EQ(now.second, 1);
    EXPECT_EQ(now.time_zone, 60);
}

TEST(SimTime, SetTimeValidatesFields) {
    sim::SimFirmware fw;
    efi::Time t = fw.wall_time();
    t.month = 2;
    t.day = 29;
    t.year = 2023;  // not a leap year
    EXPECT_EQ(rs(fw)->set_time(&t), efi::kInvalidParameter);
    t.year = 2024;
    EXPECT_EQ(rs(fw)->set_time(&t), efi::kSuccess);
    t.hour = 24;
    EXPECT_EQ(rs(fw)->set_time(&t), efi::kInvalidParameter);
    t.hour = 1;
    t.time_zone = 1441;
    EXPECT_EQ(rs(fw)->set_time(&t), efi::kInvalidParameter);
    fw.set_get_time_status(efi::kDeviceError);
    EXPECT_EQ(rs(fw)->get_time(&t, nullptr), efi::kDeviceError);
}

TEST(SimRun, ReturningNormallyIsNotAnExit) {
    sim::SimFirmware fw;
    bool ran = false;
    auto r = fw.run([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(r.exited);
    EXPECT_FALSE(r.reset);
    EXPECT_FALSE(fw.in_run());
}

TEST(SimRun, ExitAtTopLevelReturnsToRun) {
    sim::SimFirmware fw;
    bool after = false;
    auto r = fw.run([&] {
        bs(fw)->exit(fw.image_handle(), efi::make_error(3), 0, nullptr);
        after = true;
    });
    EXPECT_FALSE(after);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, efi::make_error(3));
    // The firmware is usable after the run.
    auto r2 = fw.run([&] { bs(fw)->exit(fw.image_handle(), 0, 0, nullptr); });
    EXPECT_TRUE(r2.exited);
    EXPECT_EQ(r2.status, 0u);
}

TEST(SimRun, ExitDataIsReturnedAndItsPoolBlockFreed) {
    sim::SimFirmware fw;
    auto r = fw.run([&] {
        void* p = nullptr;
        bs(fw)->allocate_pool(efi::kLoaderData, 8, &p);
        std::memcpy(p, u"bye", 8);
        bs(fw)->exit(fw.image_handle(), efi::kAborted, 8, static_cast<char16_t*>(p));
    });
    EXPECT_EQ(r.exit_data, u"bye");
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(SimRun, ResetSystemReturnsToRun) {
    sim::SimFirmware fw;
    auto r = fw.run([&] { rs(fw)->reset_system(efi::kResetShutdown, efi::kSuccess, 0, nullptr); });
    EXPECT_TRUE(r.reset);
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.reset_type, efi::kResetShutdown);
}

TEST(SimRun, ExitWithAForeignHandleIsRefused) {
    sim::SimFirmware fw;
    efi::Status st = 0;
    auto r = fw.run([&] {
        int dummy = 0;
        st = bs(fw)->exit(&dummy, 0, 0, nullptr);
    });
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(st, efi::kInvalidParameter);
}

TEST(SimRun, ExitOutsideRunFailsTheTestLoudly) {
    sim::SimFirmware fw;
    EXPECT_THROW(bs(fw)->exit(fw.image_handle(), 0, 0, nullptr), std::runtime_error);
}

TEST(SimTables, LoadedImagePointsAtTheSystemTable) {
    sim::SimFirmware fw;
    efi::LoadedImage* li = nullptr;
    ASSERT_EQ(bs(fw)->handle_protocol(fw.image_handle(), &efi::kLoadedImageProtocolGuid,
                                      reinterpret_cast<void**>(&li)),
              efi::kSuccess);
    EXPECT_EQ(li->system_table, fw.system_table());
    fw.set_load_options(u"tarn -c x");
    EXPECT_EQ(li->load_options_size, 20u);
    EXPECT_EQ(std::u16string(static_cast<char16_t*>(li->load_options)), u"tarn -c x");
}

TEST(SimTables, ConfigurationTables) {
    sim::SimFirmware fw;
    static const efi::Guid g = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    int table = 0;
    EXPECT_EQ(bs(fw)->install_configuration_table(&g, &table), efi::kSuccess);
    ASSERT_EQ(fw.system_table()->number_of_table_entries, 1u);
    EXPECT_EQ(fw.system_table()->configuration_table[0].vendor_table, &table);
    EXPECT_EQ(bs(fw)->install_configuration_table(&g, nullptr), efi::kSuccess);
    EXPECT_EQ(fw.system_table()->number_of_table_entries, 0u);
    EXPECT_EQ(bs(fw)->install_configuration_table(&g, nullptr), efi::kNotFound);
}

struct CounterState {
    int value = 0;
};

TEST(SimTables, ModuleStateLivesWithTheFirmware) {
    sim::SimFirmware fw;
    fw.module_state<CounterState>().value = 5;
    EXPECT_EQ(fw.module_state<CounterState>().value, 5);
}

}  // namespace

namespace {

TEST(SimRun, HaltOutsideRunThrowsAndTheFirmwareStillGoesAway) {
    {
        sim::SimFirmware fw;
        EXPECT_THROW(tarn::halt_forever(), std::runtime_error);
    }
    EXPECT_EQ(sim::SimFirmware::current(), nullptr);
    sim::SimFirmware again;
    EXPECT_EQ(sim::SimFirmware::current(), &again);
}

TEST(SimRun, HaltInsideRunEndsTheRun) {
    sim::SimFirmware fw;
    auto r = fw.run([] { tarn::halt_forever(); });
    EXPECT_TRUE(r.halted);
    EXPECT_FALSE(r.exited);
    EXPECT_NE(r.message.find("halt"), std::string::npos);
}

}  // namespace

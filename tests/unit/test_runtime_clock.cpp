// The clock owner over the simulated firmware, and the host stand-ins of the processor
// instructions with and without a machine attached.
#include <gtest/gtest.h>

#include "cpu/cpu.h"
#include "cpu_host.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/firmware.h"
#include "sim.h"

using namespace tarn;

TEST(Clock, GetTimeGivesTheWallClockOrTheFirmwareStatus) {
    sim::SimFirmware fw;
    fw.set_wall_time(efi::Time{2025, 7, 4, 23, 59, 58, 0, 0, 0, 0, 0});
    efi::Time t;
    ASSERT_EQ(clock_get_time(&t), efi::kSuccess);
    EXPECT_EQ(t.year, 2025);
    EXPECT_EQ(t.month, 7);
    EXPECT_EQ(t.day, 4);
    EXPECT_EQ(t.second, 58);
    fw.set_get_time_status(efi::kDeviceError);
    EXPECT_EQ(clock_get_time(&t), efi::kDeviceError);
    // Without runtime services: unsupported, and the result zeroed.
    firmware().runtime = nullptr;
    t.year = 1;
    EXPECT_EQ(clock_get_time(&t), efi::kUnsupported);
    EXPECT_EQ(t.year, 0);
}

TEST(Clock, StallAdvancesTheFirmwareClockAndCalibrationFollowsIt) {
    sim::SimFirmware fw;
    uint64_t start = fw.now_us();
    clock_stall(2500);
    EXPECT_EQ(fw.now_us() - start, 2500u);
    clock_calibrate();
    EXPECT_EQ(firmware().ticks_per_ms, sim::SimFirmware::kTicksPerUs * 1000);
    EXPECT_EQ(milliseconds(), 10u);  // counted from before the 10 ms measuring stall
    clock_stall(30000);
    EXPECT_EQ(milliseconds(), 40u);
    firmware().boot = nullptr;  // no boot services: returns at once
    clock_stall(1000);
}

TEST(HostCpu, WithoutAMachineTheCounterStandsAndPortsReadAllOnes) {
    EXPECT_EQ(read_timestamp_counter(), host_cpu::kIdleCounter);
    EXPECT_EQ(port_in8(0x60), 0xffu);
    EXPECT_EQ(port_in16(0x60), 0xffffu);
    EXPECT_EQ(port_in32(0xcfc), 0xffffffffu);
    port_out8(0x80, 1);  // goes nowhere
    uint32_t regs[4];
    cpuid(0, 0, regs);
    EXPECT_EQ(regs[0], 0x16u);
}

TEST(HostCpu, TheSimulatedMachineLogsPortsAndMasksInputsToTheirWidth) {
    sim::SimFirmware fw;
    fw.set_port_input(0x71, 0x12345678);
    EXPECT_EQ(port_in8(0x71), 0x78u);
    EXPECT_EQ(port_in16(0x71), 0x5678u);
    EXPECT_EQ(port_in32(0x71), 0x12345678u);
    port_out16(0x70, 0xbeef);
    ASSERT_EQ(fw.port_log().size(), 4u);
    EXPECT_EQ(fw.port_log()[0].width, 1);
    EXPECT_EQ(fw.port_log()[0].value, 0x78u);
    EXPECT_TRUE(fw.port_log()[3].write);
    EXPECT_EQ(fw.port_log()[3].value, 0xbeefu);
    uint64_t a = read_timestamp_counter();
    fw.advance_us(10);
    EXPECT_EQ(read_timestamp_counter() - a, 10 * sim::SimFirmware::kTicksPerUs);
}

// The firmware's clock services and the time-stamp counter calibration.
#include "runtime/clock.h"

#include "cpu/cpu.h"
#include "runtime/firmware.h"

namespace tarn {

efi::Status clock_get_time(efi::Time* time) {
    *time = efi::Time{};
    efi::RuntimeServices* rt = runtime_services();
    if (!rt || !rt->get_time) return efi::kUnsupported;
    return rt->get_time(time, nullptr);
}

void clock_stall(uint64_t microseconds) {
    if (efi::BootServices* bs = boot_services()) bs->stall(microseconds);
}

void clock_calibrate() {
    FirmwareContext& fw = firmware();
    uint64_t t0 = read_timestamp_counter();
    clock_stall(10000);
    uint64_t t1 = read_timestamp_counter();
    uint64_t diff = t1 - t0;
    fw.ticks_per_ms = diff < 10 ? 1 : diff / 10;
    fw.tsc_start = t0;
}

}  // namespace tarn

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

efi::Status clock_set_time(const efi::Time* time) {
    efi::RuntimeServices* rt = runtime_services();
    if (!rt || !rt->set_time) return efi::kUnsupported;
    efi::Time copy = *time;
    return rt->set_time(&copy);
}

void clock_stall(uint64_t microseconds) {
    if (efi::BootServices* bs = boot_services()) bs->stall(microseconds);
}

efi::Status clock_monotonic_count(uint64_t* count) {
    *count = 0;
    efi::BootServices* bs = boot_services();
    if (!bs || !bs->get_next_monotonic_count) return efi::kUnsupported;
    return bs->get_next_monotonic_count(count);
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

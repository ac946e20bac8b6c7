// The firmware's clock services.
#include "runtime/clock.h"

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

}  // namespace tarn

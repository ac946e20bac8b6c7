// The clock owner: the firmware's time of day (GetTime, SetTime), its busy wait (Stall),
// its monotonic counter, and the calibration of the time-stamp counter that
// milliseconds() reads. Commands and BASIC reach these services only through here.
#pragma once
#include "uefi/base.h"

namespace tarn {

// The firmware's time of day in *time (zeroed first); kUnsupported when the firmware
// has no runtime services or no GetTime, otherwise GetTime's own status.
[[nodiscard]] efi::Status clock_get_time(efi::Time* time);

// Sets the firmware's time of day; the firmware checks the fields (days of the month,
// time zone range) and answers kInvalidParameter for a time it cannot keep.
[[nodiscard]] efi::Status clock_set_time(const efi::Time* time);

// Waits about `microseconds` in the firmware's Stall; returns at once without boot
// services. Not interruptible: callers that wait long wait in slices and poll Ctrl-C.
void clock_stall(uint64_t microseconds);

// The boot services' next monotonic count.
[[nodiscard]] efi::Status clock_monotonic_count(uint64_t* count);
// Measures the time-stamp counter against a 10 ms stall and starts milliseconds() at
// zero. Called once at start-up.
void clock_calibrate();

}  // namespace tarn

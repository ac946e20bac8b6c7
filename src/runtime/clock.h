// The clock owner: the firmware's time of day (GetTime) and its busy wait (Stall), and
// the calibration of the time-stamp counter that milliseconds() reads. Commands and
// BASIC reach the firmware's clock services only through these calls.
#pragma once
#include "uefi/base.h"

namespace tarn {

// The firmware's time of day in *time (zeroed first); kUnsupported when the firmware
// has no runtime services or no GetTime, otherwise GetTime's own status.
[[nodiscard]] efi::Status clock_get_time(efi::Time* time);

// Waits about `microseconds` in the firmware's Stall; returns at once without boot
// services. Not interruptible: callers that wait long wait in slices and poll Ctrl-C.
void clock_stall(uint64_t microseconds);

// Measures the time-stamp counter against a 10 ms stall and starts milliseconds() at
// zero. Called once at start-up.
void clock_calibrate();

}  // namespace tarn

// The Secure Boot state, read once from the firmware and kept for the whole run.
#pragma once
#include "uefi/base.h"

namespace tarn {

bool secure_boot_active();
// Whether a LoadImage status means the image was refused by Secure Boot.
bool refused_by_secure_boot(efi::Status status);
// Whether a command may write to hardware: while Secure Boot is active it prints
// "COMMAND: writing to hardware is disabled while Secure Boot is active" and says no.
bool hardware_write_allowed(const char* command);
// Host tests: read the variable again at the next question.
void reset_secure_boot_state();

}  // namespace tarn

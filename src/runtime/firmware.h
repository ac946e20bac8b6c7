// What the firmware handed us at the entry point, and what start-up saved.
#pragma once
#include "uefi/console.h"
#include "uefi/protocols.h"
#include "uefi/tables.h"

namespace tarn {

struct FirmwareContext {
    efi::Handle image = nullptr;
    efi::SystemTable* system_table = nullptr;
    efi::BootServices* boot = nullptr;
    efi::RuntimeServices* runtime = nullptr;
    efi::LoadedImage* loaded_image = nullptr;
    efi::SimpleTextInputEx* con_in_ex = nullptr;
    // The real console output while started images see a hooked ConOut in the system table.
    efi::SimpleTextOutput* console_out = nullptr;
    int32_t saved_attribute = 7;  // console attribute at start-up
    int64_t saved_mode = -1;      // text mode to restore at exit, -1 for none
    uint64_t ticks_per_ms = 1;
    uint64_t tsc_start = 0;
};

FirmwareContext& firmware();
// Keeps the image handle and system table; the first step of the entry point.
void attach_firmware(efi::Handle image, efi::SystemTable* system_table);
// Host tests: forget everything.
void reset_firmware();

inline efi::BootServices* boot_services() { return firmware().boot; }
inline efi::RuntimeServices* runtime_services() { return firmware().runtime; }

}  // namespace tarn

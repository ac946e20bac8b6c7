// The simulated firmware's Decompress protocol: GetInfo and Decompress as OVMF's driver
// answers them, decoding with the shell's own EFI 1.1 decoder, with controls for tests.
#pragma once
#include <cstdint>

#include "sim.h"
#include "uefi/decompress.h"

namespace sim {

struct DecompressControl {
    // Statuses to fail GetInfo or Decompress with (0: answer normally).
    efi::Status get_info_status = 0;
    efi::Status decompress_status = 0;
    // When set, the original size GetInfo reports instead of the header's.
    bool override_size = false;
    uint32_t reported_size = 0;
    // Calls made.
    int get_info_calls = 0;
    int decompress_calls = 0;
};

// The scratch size GetInfo asks for.
constexpr uint32_t kDecompressScratchSize = 0x4000;

// Installs the protocol on a new handle (once per firmware) and returns its controls.
DecompressControl& install_decompress_protocol(SimFirmware& fw);

}  // namespace sim

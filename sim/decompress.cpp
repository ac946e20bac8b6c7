#include "decompress.h"

#include "compress/efi_codec.h"
#include "handles.h"

namespace sim {

namespace {

struct DecompressState {
    efi::DecompressProtocol protocol{};
    DecompressControl control;
    bool installed = false;
};

DecompressState& state() { return SimFirmware::current()->module_state<DecompressState>(); }

uint32_t header_original_size(const uint8_t* p) {
    return static_cast<uint32_t>(p[4]) | static_cast<uint32_t>(p[5]) << 8 |
           static_cast<uint32_t>(p[6]) << 16 | static_cast<uint32_t>(p[7]) << 24;
}

EFIAPI efi::Status get_info(efi::DecompressProtocol*, void* source, uint32_t source_size,
                            uint32_t* destination_size, uint32_t* scratch_size) {
    DecompressControl& c = state().control;
    c.get_info_calls++;
    if (!source || !destination_size || !scratch_size) return efi::kInvalidParameter;
    if (c.get_info_status) return c.get_info_status;
    // Like the firmware, only the header is looked at here.
    if (source_size < 8) return efi::kInvalidParameter;
    *destination_size = c.override_size ? c.reported_size
                                        : header_original_size(static_cast<const uint8_t*>(source));
    *scratch_size = kDecompressScratchSize;
    return efi::kSuccess;
}

EFIAPI efi::Status decompress(efi::DecompressProtocol*, void* source, uint32_t source_size,
                              void* destination, uint32_t destination_size, void* scratch,
                              uint32_t scratch_size) {
    DecompressControl& c = state().control;
    c.decompress_calls++;
    if (!source || !destination || !scratch) return efi::kInvalidParameter;
    if (c.decompress_status) return c.decompress_status;
    if (scratch_size < kDecompressScratchSize || source_size < 8) return efi::kInvalidParameter;
    const auto* image = static_cast<const uint8_t*>(source);
    if (destination_size < header_original_size(image)) return efi::kInvalidParameter;
    if (tarn::efi_decompress_into(image, source_size, static_cast<uint8_t*>(destination),
                                  destination_size) != 0)
        return efi::kInvalidParameter;
    return efi::kSuccess;
}

}  // namespace

DecompressControl& install_decompress_protocol(SimFirmware& fw) {
    DecompressState& s = fw.module_state<DecompressState>();
    if (!s.installed) {
        s.protocol.get_info = get_info;
        s.protocol.decompress = decompress;
        fw.handles().install_new(efi::kDecompressProtocolGuid, &s.protocol);
        s.installed = true;
    }
    return s.control;
}

}  // namespace sim

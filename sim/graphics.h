// A fake Graphics Output protocol for host tests: a list of modes, the current one, a
// frame buffer that follows the resolution, and modes whose query fails or whose
// SetMode is refused. Every SetMode is recorded with the console's text mode at the time.
#pragma once
#include <stdint.h>

#include <memory>
#include <vector>

#include "uefi/graphics.h"

namespace sim {

class SimFirmware;

struct GraphicsModeLayout {
    uint32_t width;
    uint32_t height;
    uint32_t pixel_format = tarn::efi::kPixelBlueGreenRedReserved8BitPerColor;
    bool query_fails = false;                    // QueryMode reports kDeviceError
    tarn::efi::Status set_status = 0;            // nonzero: SetMode refuses with it
};

struct GraphicsLayout {
    std::vector<GraphicsModeLayout> modes;
    uint32_t current = 0;
    bool on_console = true;  // on the console output handle; false: on a handle of its own
    uint64_t frame_buffer_base = 0x80000000ull;
};

struct GraphicsSetCall {
    uint32_t mode;
    int32_t text_mode;  // the console's text mode when SetMode was called
};

class FakeGraphics {
public:
    tarn::efi::GraphicsOutput* protocol();
    tarn::efi::Handle handle() const;
    uint32_t current() const;
    std::vector<GraphicsSetCall>& calls();

    struct Impl;
    std::unique_ptr<Impl> impl;
    FakeGraphics();
    ~FakeGraphics();
};

// Installs a graphics output; the firmware owns it.
FakeGraphics& add_graphics(SimFirmware& fw, const GraphicsLayout& layout);

}  // namespace sim

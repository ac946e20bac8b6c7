#include "hw/phys_memory.h"

namespace tarn {

uint64_t load_le(const uint8_t* bytes, uint64_t size, uint64_t offset, int width) {
    if (width <= 0 || width > 8 || offset > size || size - offset < static_cast<uint64_t>(width))
        return 0;
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; i--) v = (v << 8) | bytes[offset + i];
    return v;
}

}  // namespace tarn

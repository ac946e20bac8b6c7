// The PE debug-name reader on arbitrary images. The input is copied into a buffer of its
// exact size, so the sanitizers catch any read past the image; the name found must be
// terminated inside the output and free of path separators.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "drivers/pe_debug_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);
    char out[40];
    std::memset(out, 0x55, sizeof out);
    const bool found = tarn::pe_debug_name(image.data(), image.size(), out, sizeof out);
    const void* nul = std::memchr(out, 0, sizeof out);
    if (!nul) abort();
    if (found != (out[0] != 0)) abort();
    if (std::strchr(out, '\\') || std::strchr(out, '/')) abort();
    return 0;
}

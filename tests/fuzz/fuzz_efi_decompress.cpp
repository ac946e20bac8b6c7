// The EFI 1.1 decoder on untrusted images: it never reads or writes outside its buffers,
// frees what it took, and gives back exactly what the encoder was given. The input is
// first decoded as an image as it is (so that seed images are read whole); then byte 0
// chooses: the rest as an image, its header now and then made consistent; the rest
// compressed and decoded again; the rest compressed, one bit of the image changed, then
// decoded.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compress/efi_codec.h"
#include "fuzz_pool.h"
#include "runtime/memory.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

// Decodes; on success the output has the header's original size.
bool decode(const uint8_t* image, size_t size, std::vector<uint8_t>* out) {
    uint8_t* data = nullptr;
    uint64_t n = 0;
    const int r = tarn::efi_decompress(image, size, &data, &n);
    if (r != 0) {
        check(data == nullptr && n == 0);
        return false;
    }
    uint32_t compressed = 0, original = 0;
    check(tarn::efi_image_sizes(image, size, &compressed, &original));
    check(n == original);
    out->assign(data, data + n);
    tarn::release(data);
    return true;
}

// Short inputs stretched into longer, repetitive data so that matches and several
// blocks occur: each input byte is repeated as its low bits say.
std::vector<uint8_t> stretched(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < size; i++) {
        const size_t repeat = (data[i] & 0x0f) == 0x0f ? 300 : 1 + (data[i] & 3);
        for (size_t k = 0; k < repeat; k++) out.push_back(data[i] >> 4 ? data[i] : data[(i * 7) % size]);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        fuzz::install_pool();
        ready = true;
    }
    const long before = fuzz::outstanding();
    std::vector<uint8_t> out;
    if (size == 0) {
        check(!decode(data, 0, &out));
        return 0;
    }
    decode(data, size, &out);
    const uint8_t mode = data[0] % 3;
    const uint8_t* rest = data + 1;
    const size_t rest_size = size - 1;
    // An image made from the rest of the bytes, with its header fixed up now and then so
    // that the stream itself is read.
    if (mode == 0) {
        std::vector<uint8_t> image(rest, rest + rest_size);
        if (image.size() >= 8 && (data[0] & 0x80)) {
            const uint32_t stream = static_cast<uint32_t>(image.size() - 8);
            const uint32_t original = (image[4] | image[5] << 8) + 1u;
            for (int i = 0; i < 4; i++) image[i] = static_cast<uint8_t>(stream >> (8 * i));
            image[4] = static_cast<uint8_t>(original);
            image[5] = static_cast<uint8_t>(original >> 8);
            image[6] = static_cast<uint8_t>(original >> 16);
            image[7] = 0;
        }
        decode(image.data(), image.size(), &out);
    } else {
        std::vector<uint8_t> input = stretched(rest, rest_size);
        uint8_t* image = nullptr;
        uint64_t n = 0;
        check(tarn::efi_compress(input.data(), input.size(), &image, &n));
        std::vector<uint8_t> copy(image, image + n);
        tarn::release(image);
        if (mode == 1) {
            check(decode(copy.data(), copy.size(), &out));
            check(out == input);
        } else if (copy.size() > 8) {
            const size_t at = 8 + (static_cast<size_t>(data[0]) * 131 + rest_size) % (copy.size() - 8);
            copy[at] ^= static_cast<uint8_t>(1u << (data[0] % 8));
            decode(copy.data(), copy.size(), &out);
        }
    }
    check(fuzz::outstanding() == before);
    return 0;
}

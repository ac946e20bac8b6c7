// The EFI 1.1 compression format: LZ77 over an 8 KiB window followed by static Huffman
// codes in blocks, as the firmware's Decompress protocol reads it. Whole buffers only.
//
// Image: 4 bytes compressed size (the bytes after the 8-byte header), 4 bytes original
// size (both little-endian), then the bit stream, most significant bit of a byte first.
#pragma once
#include "runtime/util.h"

namespace tarn {

constexpr uint64_t kEfiImageHeaderSize = 8;
// The largest original size either direction handles (1 GiB).
constexpr uint64_t kEfiMaxOriginalSize = 0x40000000;

// Compresses length bytes into a new image (freed with release). False, with nothing
// made, only when length exceeds kEfiMaxOriginalSize; memory exhaustion is fatal.
[[nodiscard]] bool efi_compress(const uint8_t* input, uint64_t length, uint8_t** image,
                                uint64_t* image_length);

// Code lengths of at most 16 bits for the frequencies of n symbols (n <= 510), from a
// Huffman tree whose frequencies are halved until no length exceeds 16. Fewer than two
// used symbols give all lengths 0. (The encoder's length builder.)
void efi_code_lengths(const uint32_t* frequencies, int n, uint8_t* lengths);

// The sizes in an image's header. False when the image is shorter than the header, claims
// more compressed bytes than follow it, or an original size above kEfiMaxOriginalSize.
[[nodiscard]] bool efi_image_sizes(const uint8_t* image, uint64_t length, uint32_t* compressed,
                                   uint32_t* original);

// Decodes an image into output, which must hold the header's original size
// (capacity is checked). Returns 0, or -1 for an image that is damaged or not in the
// format; output may then hold part of the data.
[[nodiscard]] int efi_decompress_into(const uint8_t* image, uint64_t length, uint8_t* output,
                                      uint64_t capacity);

// Decodes an image into a new buffer (freed with release; a block is returned even for
// empty output). Returns 0, or -1 for a damaged image or when memory for the output
// could not be had (it is taken with the non-fatal allocator). Nothing is left on -1.
[[nodiscard]] int efi_decompress(const uint8_t* image, uint64_t length, uint8_t** output,
                                 uint64_t* output_length);

}  // namespace tarn

// eficompress and efidecompress: files in the EFI 1.1 compression format.
#pragma once
#include "shell/registry.h"

namespace tarn {

int eficompress(int count, char** vector);
int efidecompress(int count, char** vector);

extern const CommandDescriptor kEficompressCommand;
extern const CommandDescriptor kEfidecompressCommand;

// Registers both commands.
void register_compress_commands();

// What the two commands share: the canonical path of OUTFILE, or null after
// "%s: invalid path"; reading INFILE whole (reported under the command's name: the
// path and the error text); writing the result and printing "%s: %zu -> %zu bytes".
char* resolve_output_argument(const char* command, const char* typed);
[[nodiscard]] bool read_input_file(const char* command, const char* typed, uint8_t** data,
                                   uint64_t* length);
int write_output_file(const char* command, const char* path, const uint8_t* data,
                      uint64_t length, uint64_t input_length);

// Decodes an image in the EFI 1.1 format into a new buffer (freed with release): with the
// firmware's Decompress protocol when it has one, else with the built-in decoder, as
// efidecompress does. 0, or -1 (nothing left) when the image is damaged or memory is short.
[[nodiscard]] int decompress_efi_image(uint8_t* image, uint64_t length, uint8_t** output,
                                       uint64_t* output_length);

}  // namespace tarn

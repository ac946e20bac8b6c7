// eficompress: a file into the EFI 1.1 compression format, with the built-in encoder.
#include "compress/compress_commands.h"
#include "compress/efi_codec.h"
#include "runtime/memory.h"
#include "runtime/output.h"

namespace tarn {

extern const CommandDescriptor kEficompressCommand = {
    "eficompress", eficompress, "eficompress INFILE OUTFILE",
    "Compress a file in the UEFI compression format",
    "  Writes OUTFILE (replacing it) in the EFI 1.1 compression format that the firmware's\n"
    "  Decompress protocol and efidecompress read. INFILE may be at most 1 GiB.\n",
    0};

int eficompress(int count, char** vector) {
    const char* name = "eficompress";
    if (count != 3) return report_usage(name);
    uint8_t* raw = nullptr;
    uint64_t length = 0;
    if (!read_input_file(name, vector[1], &raw, &length)) return kExitFailure;
    Owned<uint8_t> input(raw);
    Owned<char> out_path(resolve_output_argument(name, vector[2]));
    if (!out_path) return kExitFailure;
    uint8_t* image = nullptr;
    uint64_t image_length = 0;
    if (!efi_compress(input.get(), length, &image, &image_length)) {
        report_error(name, "%s: too large to compress (the limit is 1 GiB)", vector[1]);
        return kExitFailure;
    }
    Owned<uint8_t> owned(image);
    input.reset();
    return write_output_file(name, out_path.get(), image, image_length, length);
}

}  // namespace tarn

// efidecompress: a file in the EFI 1.1 compression format back to its original, with the
// firmware's Decompress protocol when it has one, or the built-in decoder.
#include "compress/compress_commands.h"
#include "compress/efi_codec.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/options.h"
#include "uefi/decompress.h"

namespace tarn {

extern const CommandDescriptor kEfidecompressCommand = {
    "efidecompress", efidecompress, "efidecompress [-n] INFILE OUTFILE",
    "Decompress a file in the UEFI compression format",
    "  Uses the firmware's Decompress protocol, or the built-in decoder when the firmware\n"
    "  has none; -n always uses the built-in decoder. Nothing is written when INFILE is\n"
    "  damaged. Original sizes above 1 GiB are refused.\n",
    0};

namespace {

efi::DecompressProtocol* firmware_decompress() {
    efi::BootServices* bs = boot_services();
    void* iface = nullptr;
    if (!bs || efi::is_error(bs->locate_protocol(&efi::kDecompressProtocolGuid, nullptr, &iface)))
        return nullptr;
    return static_cast<efi::DecompressProtocol*>(iface);
}

// The firmware's decoding into a new buffer: GetInfo for the sizes (the original size is
// held to the same 1 GiB as the built-in decoder's), then Decompress. -1 on any failure.
int firmware_decode(efi::DecompressProtocol* dp, uint8_t* image, uint64_t length, uint8_t** output,
                    uint64_t* output_length) {
    *output = nullptr;
    *output_length = 0;
    if (length > 0xffffffffu) return -1;
    const uint32_t source_size = static_cast<uint32_t>(length);
    uint32_t destination_size = 0, scratch_size = 0;
    if (efi::is_error(dp->get_info(dp, image, source_size, &destination_size, &scratch_size)))
        return -1;
    if (destination_size > kEfiMaxOriginalSize) return -1;
    Owned<uint8_t> destination(static_cast<uint8_t*>(allocate(destination_size)));
    Owned<uint8_t> scratch(static_cast<uint8_t*>(allocate(scratch_size)));
    if (!destination || !scratch) return -1;
    if (efi::is_error(dp->decompress(dp, image, source_size, destination.get(), destination_size,
                                     scratch.get(), scratch_size)))
        return -1;
    *output = destination.take();
    *output_length = destination_size;
    return 0;
}

}  // namespace

int decompress_efi_image(uint8_t* image, uint64_t length, uint8_t** output, uint64_t* output_length) {
    efi::DecompressProtocol* dp = firmware_decompress();
    return dp ? firmware_decode(dp, image, length, output, output_length)
              : efi_decompress(image, length, output, output_length);
}

int efidecompress(int count, char** vector) {
    const char* name = "efidecompress";
    uint8_t flags[2];
    const int first = parse_options(count, vector, "nN", flags);
    if (first < 0) return kExitUsage;
    if (count - first != 2) return report_usage(name);
    const bool built_in = flags[0] || flags[1];
    const char* in_typed = vector[first];
    uint8_t* raw = nullptr;
    uint64_t length = 0;
    if (!read_input_file(name, in_typed, &raw, &length)) return kExitFailure;
    Owned<uint8_t> input(raw);
    Owned<char> out_path(resolve_output_argument(name, vector[first + 1]));
    if (!out_path) return kExitFailure;

    // A failure of the firmware's decoder is the answer: there is no second try.
    efi::DecompressProtocol* dp = built_in ? nullptr : firmware_decompress();
    uint8_t* decoded = nullptr;
    uint64_t decoded_length = 0;
    const int result = dp ? firmware_decode(dp, input.get(), length, &decoded, &decoded_length)
                          : efi_decompress(input.get(), length, &decoded, &decoded_length);
    if (result != 0) {
        report_error(name, "%s is not in the UEFI compressed format or is damaged", in_typed);
        return kExitFailure;
    }
    Owned<uint8_t> output(decoded);
    input.reset();
    return write_output_file(name, out_path.get(), decoded, decoded_length, length);
}

}  // namespace tarn

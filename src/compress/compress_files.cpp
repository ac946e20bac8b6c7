// The file side of eficompress and efidecompress, and their registration.
#include "compress/compress_commands.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/memory.h"
#include "runtime/output.h"

namespace tarn {

void register_compress_commands() {
    register_commands(&kEficompressCommand, 1);
    register_commands(&kEfidecompressCommand, 1);
}

char* resolve_output_argument(const char* command, const char* typed) {
    char* path = resolve_path(typed);
    if (!path) report_error(command, "%s: invalid path", typed);
    return path;
}

bool read_input_file(const char* command, const char* typed, uint8_t** data, uint64_t* length) {
    *data = nullptr;
    *length = 0;
    Owned<char> path(resolve_path(typed));
    if (!path) {
        report_failure(command, typed, kErrNotFound);
        return false;
    }
    char* bytes = nullptr;
    ShellError err = read_whole_file(path.get(), &bytes, length);
    if (err != kOk) {
        report_failure(command, path.get(), err);
        return false;
    }
    *data = reinterpret_cast<uint8_t*>(bytes);
    return true;
}

int write_output_file(const char* command, const char* path, const uint8_t* data, uint64_t length,
                      uint64_t input_length) {
    ShellError err = write_whole_file(path, data, length);
    if (err != kOk) {
        report_failure(command, path, err);
        return kExitFailure;
    }
    out_printf("%s: %llu -> %llu bytes\n", base_name(path),
               static_cast<unsigned long long>(input_length), static_cast<unsigned long long>(length));
    return kExitSuccess;
}

}  // namespace tarn

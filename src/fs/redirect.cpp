// Output redirection to files: the output channel opens, writes and closes its files
// through these operations.
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/memory.h"
#include "runtime/output.h"

namespace tarn {

namespace {

ShellError redirect_open(const char* path, bool append, void** handle) {
    *handle = nullptr;
    char* resolved = resolve_path(path);
    if (!resolved) return kErrNotFound;
    // "> q\" names a directory, which output cannot go to; without one there, no file "q".
    ShellError err = check_output_file_target(path, resolved);
    if (err != kOk) {
        release(resolved);
        return err;
    }
    File* file = nullptr;
    err = file_open(resolved, kOpenWrite | kOpenCreate | (append ? kOpenAppend : kOpenTruncate), &file);
    release(resolved);
    if (err != kOk) return err;
    *handle = file;
    return kOk;
}

ShellError redirect_write(void* handle, const void* bytes, uint64_t n) {
    return file_write_all(static_cast<File*>(handle), bytes, n);
}

ShellError redirect_close(void* handle) { return file_close(static_cast<File*>(handle)); }

constexpr RedirectFileOps kFileRedirectOps = {redirect_open, redirect_write, redirect_close};

}  // namespace

void fs_install_hooks() { set_redirect_file_ops(&kFileRedirectOps); }

}  // namespace tarn

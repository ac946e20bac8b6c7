#include "net/download.h"

#include "runtime/memory.h"

namespace tarn {

DownloadFile::~DownloadFile() { discard(); }

ShellError DownloadFile::open(const char* path) {
    discard();
    ShellError e = file_open(path, kOpenWrite | kOpenCreate | kOpenTruncate, &file_);
    if (e != kOk) {
        file_ = nullptr;
        return e;
    }
    path_ = xstrdup(path);
    return kOk;
}

ShellError DownloadFile::write(const void* bytes, uint64_t n) {
    if (!file_) return kErrInvalidParameter;
    return n ? file_write_all(file_, bytes, n) : kOk;
}

ShellError DownloadFile::keep() {
    if (!file_) return kErrInvalidParameter;
    File* f = file_;
    file_ = nullptr;
    ShellError e = file_close(f);
    if (e != kOk) (void)remove_path(path_);
    release(path_);
    path_ = nullptr;
    return e;
}

void DownloadFile::discard() {
    if (file_) {
        file_close(file_);
        file_ = nullptr;
        (void)remove_path(path_);
    }
    release(path_);
    path_ = nullptr;
}

}  // namespace tarn

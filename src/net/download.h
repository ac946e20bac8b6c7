// The file a download is written to: created (or truncated) when opened, removed again
// unless the download is kept, so that no partial file stays behind on any path.
#pragma once
#include "fs/files.h"

namespace tarn {

class DownloadFile {
public:
    DownloadFile() = default;
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;
    ~DownloadFile();
    // path is canonical; it is copied.
    [[nodiscard]] ShellError open(const char* path);
    [[nodiscard]] ShellError write(const void* bytes, uint64_t n);
    // Closes the file and keeps it; the close's own result (a volume that filled on the
    // last write-back) is returned, and a failed close removes the file as well.
    [[nodiscard]] ShellError keep();

private:
    void discard();
    File* file_ = nullptr;
    char* path_ = nullptr;
};

}  // namespace tarn

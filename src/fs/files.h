// File access: plain calls over the firmware file protocol that take canonical paths and
// return ShellError codes. All text here is UTF-8.
#pragma once
#include "runtime/errors.h"
#include "uefi/protocols.h"

namespace tarn {

// file_open flags; reading is always allowed.
constexpr uint32_t kOpenWrite = 0x02;
constexpr uint32_t kOpenCreate = 0x04;
constexpr uint32_t kOpenTruncate = 0x08;
constexpr uint32_t kOpenAppend = 0x10;

struct FileTime {
    int year, month, day, hour, minute, second;
};

struct FileStat {
    // Directory entries only: the entry's name, valid until the next next_entry or
    // close_directory on the same directory. Null from file_stat.
    const char* name;
    uint64_t size;
    uint64_t attributes;  // 0x01 read-only, 0x02 hidden, 0x04 system, 0x10 directory, 0x20 archive
    bool is_directory;
    FileTime modified;
};

// An open file is the firmware's file handle.
using File = efi::FileProtocol;

[[nodiscard]] ShellError file_open(const char* path, uint32_t flags, File** out);
// Bytes read go to *read (0 at the end of the file).
[[nodiscard]] ShellError file_read(File* file, void* buffer, uint64_t size, uint64_t* read);
[[nodiscard]] ShellError file_write_all(File* file, const void* buffer, uint64_t size);
[[nodiscard]] ShellError file_seek(File* file, uint64_t position);
ShellError file_close(File* file);
// The stat of an open file.
[[nodiscard]] ShellError file_handle_stat(File* file, FileStat* st);

// Closes a file when it goes out of scope.
class FileCloser {
public:
    explicit FileCloser(File* file = nullptr) : file_(file) {}
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;
    ~FileCloser() {
        if (file_) file_close(file_);
    }
    File* get() const { return file_; }
    // Closes now and returns the close result (0 when nothing was open).
    ShellError close() {
        File* f = file_;
        file_ = nullptr;
        return f ? file_close(f) : kOk;
    }

private:
    File* file_;
};

// The whole content in a new buffer (freed with release) with a NUL after it.
// Memory for it is taken with the raw allocator: a file larger than memory gives -11.
[[nodiscard]] ShellError read_whole_file(const char* path, char** data, uint64_t* length);
// Creates or truncates, writes everything, closes; the first error wins.
[[nodiscard]] ShellError write_whole_file(const char* path, const void* data, uint64_t length);
// read_whole_file decoded to UTF-8 (UCS-2 little-endian with FF FE converted, EF BB BF
// skipped, every carriage return dropped), NUL-terminated.
[[nodiscard]] ShellError read_text_file(const char* path, char** text, uint64_t* length);
// The decoding step alone; null when memory ran out.
char* decode_text(const uint8_t* bytes, uint64_t n, uint64_t* length);

[[nodiscard]] ShellError file_stat(const char* path, FileStat* st);

struct Directory;
// -4 when the path is not a directory.
[[nodiscard]] ShellError open_directory(const char* path, Directory** out);
// 1 with the next entry ("." and ".." are skipped), 0 at the end, or an error code.
int next_entry(Directory* directory, FileStat* st);
void close_directory(Directory* directory);

// -3 when anything exists at the path.
[[nodiscard]] ShellError make_directory(const char* path);
// -10 for a directory that still has entries; the firmware's refusal to delete gives -2.
[[nodiscard]] ShellError remove_path(const char* path);
// -9 when the two paths are on different volumes.
[[nodiscard]] ShellError rename_path(const char* old_path, const char* new_path);
// Keeps the directory bit and replaces the others with bits & 0x27.
[[nodiscard]] ShellError set_attributes(const char* path, uint64_t bits);
// -5 for a directory.
[[nodiscard]] ShellError set_size(const char* path, uint64_t size);
// Sets the modification time (and the last access time to the same).
[[nodiscard]] ShellError set_time(const char* path, const FileTime& time);

// The volume's device path followed by a file path node with the part after the colon
// and an end node, newly allocated (freed with release).
[[nodiscard]] ShellError file_device_path(const char* path, efi::DevicePath** out);

// The -data record of one file for listings: name, path, type, size, modified time and
// attributes.
void file_record(const char* path, const efi::FileInfo* info);
// The same record from the file's stat.
void file_stat_record(const char* path, const FileStat& st);

// Installs the file layer's hooks in the output channel (redirection to files).
void fs_install_hooks();

}  // namespace tarn

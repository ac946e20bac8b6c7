#include "fs/files.h"

#include "fs/fs_internal.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/guids.h"

namespace tarn {

using namespace fs_detail;

namespace {

constexpr uint64_t kReadPiece = 4096;
constexpr uint64_t kFileInfoFirstSize = 592;
// No sane file name needs more; a firmware asking for more is not believed.
constexpr uint64_t kMaxInfoSize = 64 * 1024;
constexpr uint64_t kMinFileInfoSize = efi::kFileInfoNameOffset + 2;

// The part after the volume's colon ("\efi\boot"), or null without a colon.
const char* path_after_volume(const char* path) {
    const char* colon = strchr(path, ':');
    return colon ? colon + 1 : nullptr;
}

bool is_root_part(const char* rest) {
    for (const char* p = rest; *p; p++)
        if (*p != '\\') return false;
    return true;
}

ShellError read_file_info(efi::FileProtocol* file, efi::FileInfo** info, uint64_t* size) {
    uint8_t* buffer = nullptr;
    ShellError err = read_info(file, efi::kFileInfoGuid, kFileInfoFirstSize, kMinFileInfoSize,
                               &buffer, size);
    if (err != kOk) return err;
    *info = reinterpret_cast<efi::FileInfo*>(buffer);
    return kOk;
}

void stat_from_info(const efi::FileInfo* info, FileStat* st) {
    st->name = nullptr;
    st->size = info->file_size;
    st->attributes = info->attribute;
    st->is_directory = (info->attribute & efi::kFileDirectory) != 0;
    const efi::Time& t = info->modification_time;
    st->modified = FileTime{t.year, t.month, t.day, t.hour, t.minute, t.second};
}

// Opens read-write, falling back to read-only (read-only files refuse write opens but may
// still have their information changed).
ShellError open_for_update(const char* path, efi::FileProtocol** out) {
    ShellError err = open_path(path, efi::kFileModeRead | efi::kFileModeWrite, 0, out);
    if (err == kOk) return kOk;
    return open_path(path, efi::kFileModeRead, 0, out);
}

// Opens a path, reads its file information, lets `change` edit it (it may replace the
// buffer and its size, or refuse with an error), and writes it back.
template <class Change> ShellError update_info(const char* path, Change change) {
    efi::FileProtocol* file = nullptr;
    ShellError err = open_for_update(path, &file);
    if (err != kOk) return err;
    efi::FileInfo* info = nullptr;
    uint64_t size = 0;
    err = read_file_info(file, &info, &size);
    if (err == kOk) err = change(&info, &size);
    if (err == kOk) {
        efi::Status st = file->set_info(file, &efi::kFileInfoGuid, size, info);
        if (efi::is_error(st)) err = status_to_error(st);
    }
    release(info);
    file->close(file);
    return err;
}

}  // namespace

// ---- helpers shared by the file layer ----

namespace fs_detail {

ShellError open_root(efi::Handle handle, efi::FileProtocol** out) {
    efi::BootServices* bs = boot_services();
    if (!bs || !handle) return kErrNotFound;
    void* iface = nullptr;
    efi::Status st = bs->handle_protocol(handle, &efi::kSimpleFileSystemProtocolGuid, &iface);
    if (efi::is_error(st)) return status_to_error(st);
    if (!iface) return kErrIo;
    auto* sfs = static_cast<efi::SimpleFileSystem*>(iface);
    efi::FileProtocol* root = nullptr;
    st = sfs->open_volume(sfs, &root);
    if (efi::is_error(st)) return status_to_error(st);
    if (!root) return kErrIo;
    *out = root;
    return kOk;
}

ShellError open_path(const char* path, uint64_t mode, uint64_t attributes,
                     efi::FileProtocol** out) {
    *out = nullptr;
    if (!path) return kErrInvalidParameter;
    const char* rest = path_after_volume(path);
    if (!rest) return kErrNotFound;
    int volume = volume_of_path(path);
    if (volume < 0) return kErrNotFound;
    efi::FileProtocol* root = nullptr;
    ShellError err = open_root(volume_handle(volume), &root);
    if (err != kOk) return err;
    if (is_root_part(rest)) {
        *out = root;
        return kOk;
    }
    char16_t* name = utf8_to_ucs2(rest);
    efi::FileProtocol* file = nullptr;
    efi::Status st = root->open(root, &file, name, mode, attributes);
    release(name);
    root->close(root);
    if (efi::is_error(st)) return status_to_error(st);
    if (!file) return kErrIo;
    *out = file;
    return kOk;
}

ShellError read_info(efi::FileProtocol* file, const efi::Guid& type, uint64_t initial,
                     uint64_t minimum, uint8_t** out, uint64_t* size) {
    *out = nullptr;
    uint64_t capacity = initial;
    for (int attempt = 0; attempt < 2; attempt++) {
        auto* buffer = static_cast<uint8_t*>(allocate(capacity));
        if (!buffer) return kErrOutOfMemory;
        uint64_t n = capacity;
        efi::Status st = file->get_info(file, &type, &n, buffer);
        if (st == efi::kBufferTooSmall && attempt == 0 && n > capacity && n <= kMaxInfoSize) {
            release(buffer);
            capacity = n;
            continue;
        }
        if (efi::is_error(st) || n < minimum || n > capacity) {
            release(buffer);
            return efi::is_error(st) ? status_to_error(st) : kErrIo;
        }
        *out = buffer;
        *size = n;
        return kOk;
    }
    return kErrIo;
}

char* bounded_ucs2_to_utf8(const char16_t* units, uint64_t max_units) {
    uint64_t n = 0;
    while (n < max_units && units[n]) n++;
    return ucs2_to_utf8(units, n);
}

void* device_path_text_service() {
    efi::BootServices* bs = boot_services();
    void* iface = nullptr;
    if (!bs || efi::is_error(bs->locate_protocol(&efi::kDevicePathToTextProtocolGuid, nullptr,
                                                 &iface)))
        return nullptr;
    return iface;
}

char* handle_device_path_text(efi::Handle handle, void* text_service) {
    efi::BootServices* bs = boot_services();
    void* iface = nullptr;
    if (!text_service || !bs ||
        efi::is_error(bs->handle_protocol(handle, &efi::kDevicePathProtocolGuid, &iface)) ||
        !iface || device_path_length(static_cast<efi::DevicePath*>(iface)) == 0)
        return xstrdup("");
    auto* service = static_cast<efi::DevicePathToText*>(text_service);
    char16_t* text =
        service->convert_device_path_to_text(static_cast<efi::DevicePath*>(iface), 0, 1);
    if (!text) return xstrdup("");
    char* utf8 = ucs2_to_utf8(text);
    bs->free_pool(text);
    return utf8;
}

uint64_t device_path_length(const efi::DevicePath* path) {
    if (!path) return 0;
    constexpr int kMaxNodes = 1024;
    uint64_t total = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(path);
    for (int i = 0; i < kMaxNodes; i++) {
        uint64_t length = static_cast<uint64_t>(p[2]) | (static_cast<uint64_t>(p[3]) << 8);
        if (length < 4) return 0;
        if (p[0] == efi::kEndDevicePath && p[1] == efi::kEndEntireSubType) return total;
        total += length;
        p += length;
    }
    return 0;
}

}  // namespace fs_detail

// ---- open files ----

ShellError file_open(const char* path, uint32_t flags, File** out) {
    *out = nullptr;
    bool writing = (flags & (kOpenWrite | kOpenAppend | kOpenCreate)) != 0;
    uint64_t mode = efi::kFileModeRead;
    if (writing) mode |= efi::kFileModeWrite;
    if (flags & kOpenCreate) mode |= efi::kFileModeCreate;
    efi::FileProtocol* file = nullptr;
    ShellError err = open_path(path, mode, 0, &file);
    if (err != kOk) return err;
    if (!(flags & (kOpenWrite | kOpenAppend | kOpenTruncate | kOpenCreate))) {
        *out = file;
        return kOk;
    }
    efi::FileInfo* info = nullptr;
    uint64_t size = 0;
    err = read_file_info(file, &info, &size);
    if (err == kOk && (info->attribute & efi::kFileDirectory) && writing) err = kErrIsDirectory;
    if (err == kOk && (flags & kOpenTruncate) && info->file_size != 0) {
        info->file_size = 0;
        efi::Status st = file->set_info(file, &efi::kFileInfoGuid, size, info);
        if (efi::is_error(st)) err = status_to_error(st);
    }
    if (err == kOk && (flags & kOpenAppend)) {
        efi::Status st = file->set_position(file, info->file_size);
        if (efi::is_error(st)) err = status_to_error(st);
    }
    release(info);
    if (err != kOk) {
        file->close(file);
        return err;
    }
    *out = file;
    return kOk;
}

ShellError file_read(File* file, void* buffer, uint64_t size, uint64_t* read) {
    *read = 0;
    if (!file) return kErrInvalidParameter;
    uint64_t n = size;
    efi::Status st = file->read(file, &n, buffer);
    if (efi::is_error(st)) return status_to_error(st);
    if (n > size) return kErrIo;
    *read = n;
    return kOk;
}

ShellError file_write_all(File* file, const void* buffer, uint64_t size) {
    if (!file) return kErrInvalidParameter;
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
        uint64_t n = size;
        efi::Status st = file->write(file, &n, p);
        if (efi::is_error(st)) return status_to_error(st);
        if (n == 0 || n > size) return kErrIo;
        p += n;
        size -= n;
    }
    return kOk;
}

ShellError file_seek(File* file, uint64_t position) {
    if (!file) return kErrInvalidParameter;
    efi::Status st = file->set_position(file, position);
    return efi::is_error(st) ? status_to_error(st) : kOk;
}

ShellError file_close(File* file) {
    if (!file) return kErrInvalidParameter;
    efi::Status st = file->close(file);
    return efi::is_error(st) ? status_to_error(st) : kOk;
}

ShellError file_handle_stat(File* file, FileStat* st) {
    if (!file) return kErrInvalidParameter;
    efi::FileInfo* info = nullptr;
    uint64_t size = 0;
    ShellError err = read_file_info(file, &info, &size);
    if (err != kOk) return err;
    stat_from_info(info, st);
    release(info);
    return kOk;
}

// ---- whole files ----

ShellError read_whole_file(const char* path, char** data, uint64_t* length) {
    *data = nullptr;
    *length = 0;
    File* file = nullptr;
    ShellError err = file_open(path, 0, &file);
    if (err != kOk) return err;
    FileCloser closer(file);
    FileStat st{};
    err = file_handle_stat(file, &st);
    if (err != kOk) return err;
    if (st.is_directory) return kErrIsDirectory;

    // The size from the file information sizes the buffer; the reads decide the length.
    uint64_t capacity;
    if (add_overflows(st.size, 1, &capacity)) return kErrOutOfMemory;
    auto* buffer = static_cast<char*>(allocate(capacity));
    if (!buffer) return kErrOutOfMemory;
    uint64_t used = 0;
    for (;;) {
        uint64_t room = capacity - 1 - used;
        uint64_t n = 0;
        if (room > 0) {
            err = file_read(file, buffer + used, min_of(room, kReadPiece), &n);
            if (err != kOk) break;
            if (n == 0) break;
            used += n;
            continue;
        }
        // The buffer is full: a file that grew (or whose size was misreported) goes on.
        uint8_t piece[kReadPiece];
        err = file_read(file, piece, kReadPiece, &n);
        if (err != kOk || n == 0) break;
        uint64_t grown;
        if (mul_overflows(capacity, 2, &grown)) grown = 0;
        uint64_t needed;
        if (add_overflows(used, n + 1, &needed)) {
            err = kErrOutOfMemory;
            break;
        }
        if (grown < needed) grown = needed;
        char* bigger = static_cast<char*>(resize(buffer, grown));
        if (!bigger) {
            err = kErrOutOfMemory;
            break;
        }
        buffer = bigger;
        capacity = grown;
        memcpy(buffer + used, piece, n);
        used += n;
    }
    if (err != kOk) {
        release(buffer);
        return err;
    }
    buffer[used] = 0;
    *data = buffer;
    *length = used;
    return kOk;
}

ShellError write_whole_file(const char* path, const void* data, uint64_t length) {
    File* file = nullptr;
    ShellError err = file_open(path, kOpenWrite | kOpenCreate | kOpenTruncate, &file);
    if (err != kOk) return err;
    err = file_write_all(file, data, length);
    ShellError closed = file_close(file);
    return err != kOk ? err : closed;
}

char* decode_text(const uint8_t* bytes, uint64_t n, uint64_t* length) {
    if (n >= 2 && bytes[0] == 0xff && bytes[1] == 0xfe) {
        uint64_t units = (n - 2) / 2;
        // Each unit needs at most 3 bytes of UTF-8.
        uint64_t capacity;
        if (mul_overflows(units, 3, &capacity) || add_overflows(capacity, 1, &capacity))
            return nullptr;
        auto* out = static_cast<char*>(allocate(capacity));
        if (!out) return nullptr;
        uint64_t used = 0;
        for (uint64_t i = 0; i < units; i++) {
            uint32_t unit = static_cast<uint32_t>(bytes[2 + 2 * i]) |
                            (static_cast<uint32_t>(bytes[3 + 2 * i]) << 8);
            if (unit == 0x0d) continue;
            // Units are taken one by one; a lone surrogate is encoded as its own value.
            if (unit < 0x80) {
                out[used++] = static_cast<char>(unit);
            } else if (unit < 0x800) {
                out[used++] = static_cast<char>(0xc0 | (unit >> 6));
                out[used++] = static_cast<char>(0x80 | (unit & 0x3f));
            } else {
                out[used++] = static_cast<char>(0xe0 | (unit >> 12));
                out[used++] = static_cast<char>(0x80 | ((unit >> 6) & 0x3f));
                out[used++] = static_cast<char>(0x80 | (unit & 0x3f));
            }
        }
        out[used] = 0;
        *length = used;
        return out;
    }
    uint64_t start = (n >= 3 && bytes[0] == 0xef && bytes[1] == 0xbb && bytes[2] == 0xbf) ? 3 : 0;
    uint64_t capacity;
    if (add_overflows(n - start, 1, &capacity)) return nullptr;
    auto* out = static_cast<char*>(allocate(capacity));
    if (!out) return nullptr;
    uint64_t used = 0;
    for (uint64_t i = start; i < n; i++)
        if (bytes[i] != 0x0d) out[used++] = static_cast<char>(bytes[i]);
    out[used] = 0;
    *length = used;
    return out;
}

ShellError read_text_file(const char* path, char** text, uint64_t* length) {
    *text = nullptr;
    *length = 0;
    char* raw = nullptr;
    uint64_t n = 0;
    ShellError err = read_whole_file(path, &raw, &n);
    if (err != kOk) return err;
    char* decoded = decode_text(reinterpret_cast<const uint8_t*>(raw), n, length);
    release(raw);
    if (!decoded) return kErrOutOfMemory;
    *text = decoded;
    return kOk;
}

// ---- information ----

ShellError file_stat(const char* path, FileStat* st) {
    *st = FileStat{};
    efi::FileProtocol* file = nullptr;
    ShellError err = open_path(path, efi::kFileModeRead, 0, &file);
    if (err != kOk) return err;
    err = file_handle_stat(file, st);
    file->close(file);
    return err;
}

// ---- directories ----

struct Directory {
    efi::FileProtocol* file;
    uint8_t* buffer;
    uint64_t capacity;
    char* name;  // the last entry's name
};

ShellError open_directory(const char* path, Directory** out) {
    *out = nullptr;
    efi::FileProtocol* file = nullptr;
    ShellError err = open_path(path, efi::kFileModeRead, 0, &file);
    if (err != kOk) return err;
    FileStat st{};
    err = file_handle_stat(file, &st);
    if (err == kOk && !st.is_directory) err = kErrNotDirectory;
    auto* buffer = err == kOk ? static_cast<uint8_t*>(allocate(kFileInfoFirstSize)) : nullptr;
    if (err == kOk && !buffer) err = kErrOutOfMemory;
    if (err != kOk) {
        file->close(file);
        return err;
    }
    auto* d = xallocate_array<Directory>(1);
    d->file = file;
    d->buffer = buffer;
    d->capacity = kFileInfoFirstSize;
    d->name = nullptr;
    *out = d;
    return kOk;
}

int next_entry(Directory* d, FileStat* st) {
    *st = FileStat{};
    if (!d) return kErrInvalidParameter;
    for (;;) {
        uint64_t n = d->capacity;
        efi::Status status = d->file->read(d->file, &n, d->buffer);
        if (status == efi::kBufferTooSmall) {
            if (n <= d->capacity || n > kMaxInfoSize) return kErrIo;
            auto* bigger = static_cast<uint8_t*>(allocate(n));
            if (!bigger) return kErrOutOfMemory;
            release(d->buffer);
            d->buffer = bigger;
            d->capacity = n;
            continue;
        }
        if (efi::is_error(status)) return status_to_error(status);
        if (n == 0) return 0;
        if (n < kMinFileInfoSize || n > d->capacity) return kErrIo;
        auto* info = reinterpret_cast<efi::FileInfo*>(d->buffer);
        char* name = bounded_ucs2_to_utf8(info->file_name, (n - efi::kFileInfoNameOffset) / 2);
        if (equal(name, ".") || equal(name, "..")) {
            release(name);
            continue;
        }
        release(d->name);
        d->name = name;
        stat_from_info(info, st);
        st->name = name;
        return 1;
    }
}

void close_directory(Directory* d) {
    if (!d) return;
    d->file->close(d->file);
    release(d->buffer);
    release(d->name);
    release(d);
}

// ---- changes ----

ShellError make_directory(const char* path) {
    FileStat st{};
    ShellError err = file_stat(path, &st);
    if (err == kOk) return kErrAlreadyExists;
    if (err != kErrNotFound) return err;
    efi::FileProtocol* dir = nullptr;
    err = open_path(path, efi::kFileModeRead | efi::kFileModeWrite | efi::kFileModeCreate,
                    efi::kFileDirectory, &dir);
    if (err != kOk) return err;
    efi::Status status = dir->close(dir);
    return efi::is_error(status) ? status_to_error(status) : kOk;
}

ShellError remove_path(const char* path) {
    FileStat st{};
    ShellError err = file_stat(path, &st);
    if (err != kOk) return err;
    if (st.is_directory) {
        Directory* d = nullptr;
        err = open_directory(path, &d);
        if (err != kOk) return err;
        FileStat entry{};
        int r = next_entry(d, &entry);
        close_directory(d);
        if (r == 1) return kErrDirectoryNotEmpty;
        if (r < 0) return r;
    }
    efi::FileProtocol* file = nullptr;
    err = open_path(path, efi::kFileModeRead | efi::kFileModeWrite, 0, &file);
    if (err != kOk) return err;
    // Delete closes the handle whatever it reports.
    efi::Status status = file->delete_file(file);
    if (status == kWarnDeleteFailure) return kErrAccessDenied;
    return efi::is_error(status) ? status_to_error(status) : kOk;
}

namespace {

// Rewrites the file information of old_path with the name new_rest (a path from the root).
ShellError rename_once(const char* old_path, const char* new_rest) {
    uint64_t units = 0;
    char16_t* name = utf8_to_ucs2(new_rest, &units);
    uint64_t new_size = efi::kFileInfoNameOffset + (units + 1) * 2;
    ShellError err = update_info(old_path, [&](efi::FileInfo** info, uint64_t* size) -> ShellError {
        auto* renamed = static_cast<efi::FileInfo*>(allocate(new_size));
        if (!renamed) return kErrOutOfMemory;
        memcpy(renamed, *info, efi::kFileInfoNameOffset);
        memcpy(renamed->file_name, name, (units + 1) * 2);
        renamed->size = new_size;
        release(*info);
        *info = renamed;
        *size = new_size;
        return kOk;
    });
    release(name);
    return err;
}

constexpr int kTemporaryNameTries = 100;

}  // namespace

ShellError rename_path(const char* old_path, const char* new_path) {
    if (!old_path || !new_path) return kErrInvalidParameter;
    const char* old_rest = path_after_volume(old_path);
    const char* new_rest = path_after_volume(new_path);
    if (!old_rest || !new_rest) return kErrInvalidParameter;
    int old_volume = volume_of_path(old_path);
    if (old_volume < 0) return kErrNotFound;
    if (volume_of_path(new_path) != old_volume) return kErrNotSupported;
    if (is_root_part(new_rest)) return kErrInvalidParameter;
    if (!equal_nocase(old_rest, new_rest) || equal(old_rest, new_rest))
        return rename_once(old_path, new_rest);

    // Only the letter case changes. FAT drivers (OVMF's among them) report success for
    // such a rename and keep the old spelling, so the name goes through a free temporary
    // name beside it.
    FileStat st{};
    ShellError err = file_stat(old_path, &st);
    if (err != kOk) return err;
    char* temporary = nullptr;
    for (int k = 0; k < kTemporaryNameTries && !temporary; k++) {
        char* candidate = format_string("%s.tn%d", old_path, k);
        if (file_stat(candidate, &st) == kErrNotFound) temporary = candidate;
        else release(candidate);
    }
    if (!temporary) return kErrAlreadyExists;
    err = rename_once(old_path, path_after_volume(temporary));
    if (err == kOk) {
        err = rename_once(temporary, new_rest);
        if (err != kOk) rename_once(temporary, old_rest);
    }
    release(temporary);
    return err;
}

ShellError set_attributes(const char* path, uint64_t bits) {
    return update_info(path, [&](efi::FileInfo** info, uint64_t*) -> ShellError {
        (*info)->attribute = ((*info)->attribute & efi::kFileDirectory) | (bits & 0x27);
        return kOk;
    });
}

ShellError set_size(const char* path, uint64_t new_size) {
    return update_info(path, [&](efi::FileInfo** info, uint64_t*) -> ShellError {
        if ((*info)->attribute & efi::kFileDirectory) return kErrIsDirectory;
        (*info)->file_size = new_size;
        return kOk;
    });
}

ShellError set_time(const char* path, const FileTime& time) {
    return update_info(path, [&](efi::FileInfo** info, uint64_t*) -> ShellError {
        efi::Time& t = (*info)->modification_time;
        t.year = static_cast<uint16_t>(time.year);
        t.month = static_cast<uint8_t>(time.month);
        t.day = static_cast<uint8_t>(time.day);
        t.hour = static_cast<uint8_t>(time.hour);
        t.minute = static_cast<uint8_t>(time.minute);
        t.second = static_cast<uint8_t>(time.second);
        t.nanosecond = 0;
        (*info)->last_access_time = t;
        return kOk;
    });
}

ShellError file_device_path(const char* path, efi::DevicePath** out) {
    *out = nullptr;
    const char* rest = path ? path_after_volume(path) : nullptr;
    if (!rest) return kErrInvalidParameter;
    int volume = volume_of_path(path);
    if (volume < 0) return kErrNotFound;
    efi::BootServices* bs = boot_services();
    void* iface = nullptr;
    efi::Status st =
        bs->handle_protocol(volume_handle(volume), &efi::kDevicePathProtocolGuid, &iface);
    if (efi::is_error(st)) return status_to_error(st);
    uint64_t head = device_path_length(static_cast<efi::DevicePath*>(iface));
    if (!iface || head == 0) return kErrIo;
    uint64_t units = 0;
    char16_t* name = utf8_to_ucs2(rest, &units);
    uint64_t node = 4 + (units + 1) * 2;
    if (node > 0xffff) {
        release(name);
        return kErrInvalidParameter;
    }
    uint64_t total = head + node + 4;
    auto* bytes = static_cast<uint8_t*>(allocate(total));
    if (!bytes) {
        release(name);
        return kErrOutOfMemory;
    }
    memcpy(bytes, iface, head);
    uint8_t* p = bytes + head;
    p[0] = efi::kMediaDevicePath;
    p[1] = efi::kMediaFilePathSubType;
    p[2] = static_cast<uint8_t>(node & 0xff);
    p[3] = static_cast<uint8_t>(node >> 8);
    memcpy(p + 4, name, (units + 1) * 2);
    p += node;
    p[0] = efi::kEndDevicePath;
    p[1] = efi::kEndEntireSubType;
    p[2] = 4;
    p[3] = 0;
    release(name);
    *out = reinterpret_cast<efi::DevicePath*>(bytes);
    return kOk;
}

void file_record(const char* path, const efi::FileInfo* info) {
    const char* name = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    uint64_t attr = info->attribute;
    const efi::Time& t = info->modification_time;
    record_begin();
    record_field("name", "%s", name);
    record_field("path", "%s", path);
    record_field("type", "%s", (attr & efi::kFileDirectory) ? "dir" : "file");
    record_field("size", "%llu", static_cast<unsigned long long>(info->file_size));
    record_field("modified", "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                 t.second);
    record_field("readonly", "%s", (attr & efi::kFileReadOnly) ? "yes" : "no");
    record_field("hidden", "%s", (attr & efi::kFileHidden) ? "yes" : "no");
    record_field("system", "%s", (attr & efi::kFileSystem) ? "yes" : "no");
    record_field("archive", "%s", (attr & efi::kFileArchive) ? "yes" : "no");
}

void file_stat_record(const char* path, const FileStat& st) {
    efi::FileInfo info{};
    info.size = sizeof info;
    info.file_size = st.size;
    info.attribute = st.attributes | (st.is_directory ? efi::kFileDirectory : 0);
    efi::Time& t = info.modification_time;
    t.year = static_cast<uint16_t>(st.modified.year);
    t.month = static_cast<uint8_t>(st.modified.month);
    t.day = static_cast<uint8_t>(st.modified.day);
    t.hour = static_cast<uint8_t>(st.modified.hour);
    t.minute = static_cast<uint8_t>(st.modified.minute);
    t.second = static_cast<uint8_t>(st.modified.second);
    file_record(path, &info);
}

}  // namespace tarn

#include "commands/files/file_tree.h"

#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"

namespace tarn {

namespace {

// Files are copied in pieces of this size, so a file of any size needs no more memory.
constexpr uint64_t kCopyPiece = 262144;

constexpr int kDirectoryColour = 9;  // light blue
constexpr int kProgramColour = 10;   // light green

bool ends_with_nocase(const char* text, uint64_t length, const char* suffix) {
    uint64_t n = strlen(suffix);
    return length >= n && equal_nocase(text + length - n, suffix);
}

// A name shown in green: longer than 4 characters and ending in .efi or .tsb.
bool is_program_name(const char* name) {
    uint64_t n = strlen(name);
    return n > 4 && (ends_with_nocase(name, n, ".efi") || ends_with_nocase(name, n, ".tsb"));
}

// Prints text in a foreground colour on the current background, then puts back the
// attribute that was there before (nothing changes while output is redirected).
void show_in_colour(const char* text, int foreground) {
    if (is_redirected()) {
        out_text(text);
        return;
    }
    int32_t saved = console_attribute();
    set_colour(foreground, (saved >> 4) & 7);
    out_text(text);
    console_set_raw_attribute(saved);
}

ShellError copy_file(const char* command, const char* source, const char* target) {
    if (equal_nocase(source, target)) {
        report_error(command, "%s: source and destination are the same file", source);
        return kErrInvalidParameter;
    }
    Owned<uint8_t> buffer(static_cast<uint8_t*>(allocate(kCopyPiece)));
    if (!buffer) {
        report_failure(command, source, kErrOutOfMemory);
        return kErrOutOfMemory;
    }
    File* in = nullptr;
    ShellError err = file_open(source, 0, &in);
    if (err != kOk) {
        report_failure(command, source, err);
        return err;
    }
    FileCloser in_closer(in);

    FileStat before{};
    const bool existed = file_stat(target, &before) == kOk;
    File* out = nullptr;
    err = file_open(target, kOpenWrite | kOpenCreate | kOpenTruncate, &out);
    if (err != kOk) {
        // An open that created the file and then failed must not leave it behind.
        FileStat now{};
        if (!existed && file_stat(target, &now) == kOk && !now.is_directory)
            (void)remove_path(target);
        report_failure(command, target, err);
        return err;
    }

    const char* failed = nullptr;
    for (;;) {
        if (poll_break()) {
            err = kErrAborted;
            failed = source;
            break;
        }
        uint64_t n = 0;
        err = file_read(in, buffer.get(), kCopyPiece, &n);
        if (err != kOk) {
            failed = source;
            break;
        }
        if (n == 0) break;
        err = file_write_all(out, buffer.get(), n);
        if (err != kOk) {
            failed = target;
            break;
        }
    }
    // The close writes what the firmware still holds: its failure is a failed copy too.
    ShellError closed = file_close(out);
    if (err == kOk && closed != kOk) {
        err = closed;
        failed = target;
    }
    in_closer.close();
    if (err != kOk) {
        (void)remove_path(target);
        report_failure(command, failed, err);
    }
    return err;
}

ShellError copy_directory(const char* command, const char* source, const char* target) {
    ShellError err = make_directory(target);
    if (err == kErrAlreadyExists) {
        FileStat st{};
        err = file_stat(target, &st);
        if (err == kOk && !st.is_directory) err = kErrNotDirectory;
    }
    if (err != kOk) {
        report_failure(command, target, err);
        return err;
    }
    PathList entries;
    err = list_entry_paths(source, entries);
    if (err != kOk) {
        report_failure(command, source, err);
        return err;
    }
    ShellError first = kOk;
    for (uint64_t i = 0; i < entries.count; i++) {
        if (poll_break()) return kErrAborted;
        Owned<char> child(join_path(target, base_name(entries[i])));
        ShellError e = copy_tree(command, entries[i], child.get(), true);
        if (e != kOk && first == kOk) first = e;
    }
    return first;
}

}  // namespace

bool is_volume_root(const char* path) {
    const char* colon = strchr(path, ':');
    return colon && colon[1] == '\\' && colon[2] == '\0';
}

bool is_same_or_inside(const char* source, const char* target) {
    uint64_t n = strlen(source);
    if (compare_nocase_n(source, target, n) != 0 || strlen(target) < n) return false;
    return target[n] == '\0' || target[n] == '\\' || (n > 0 && source[n - 1] == '\\');
}

ShellError list_entry_paths(const char* directory, PathList& out) {
    Directory* d = nullptr;
    ShellError err = open_directory(directory, &d);
    if (err != kOk) return err;
    FileStat st{};
    int r;
    while ((r = next_entry(d, &st)) == 1) out.add(join_path(directory, st.name));
    close_directory(d);
    return r < 0 ? r : kOk;
}

char* target_in_directory(const char* destination, const char* source) {
    const char* name = base_name(source);
    if (!*name) return xstrdup(destination);
    return join_path(destination, name);
}

ShellError copy_tree(const char* command, const char* source, const char* target,
                     bool recursive) {
    FileStat st{};
    ShellError err = file_stat(source, &st);
    if (err != kOk) {
        report_failure(command, source, err);
        return err;
    }
    if (!st.is_directory) return copy_file(command, source, target);
    if (!recursive) {
        report_error(command, "%s is a directory (use -r)", source);
        return kErrIsDirectory;
    }
    if (is_same_or_inside(source, target)) {
        report_error(command, "cannot copy %s into itself", source);
        return kErrInvalidParameter;
    }
    return copy_directory(command, source, target);
}

ShellError delete_tree(const char* command, const char* path, bool recursive, bool force) {
    if (is_volume_root(path)) {
        report_error(command, "%s: cannot remove the root directory", path);
        return kErrAccessDenied;
    }
    FileStat st{};
    ShellError err = file_stat(path, &st);
    if (err != kOk) {
        if (err == kErrNotFound && force) return kOk;
        report_failure(command, path, err);
        return err;
    }
    if (st.is_directory) {
        if (!recursive) {
            report_error(command, "%s is a directory (use -r)", path);
            return kErrIsDirectory;
        }
        PathList entries;
        err = list_entry_paths(path, entries);
        if (err != kOk) {
            report_failure(command, path, err);
            return err;
        }
        ShellError first = kOk;
        for (uint64_t i = 0; i < entries.count; i++) {
            if (poll_break()) return kErrAborted;
            ShellError e = delete_tree(command, entries[i], true, force);
            if (e != kOk && first == kOk) first = e;
        }
        // What could not be deleted was reported; the directory keeps it.
        if (first != kOk) return first;
    }
    err = remove_path(path);
    if (err != kOk) report_failure(command, path, err);
    return err;
}

void show_entry_name(const char* name, bool is_directory) {
    if (is_directory) {
        show_in_colour(name, kDirectoryColour);
        out_text("\\");
    } else if (is_program_name(name)) {
        show_in_colour(name, kProgramColour);
    } else {
        out_text(name);
    }
}

uint64_t shown_name_width(const char* name, bool is_directory) {
    return utf8_count(name, strlen(name)) + (is_directory ? 1 : 0);
}

void size_text(uint64_t bytes, char* out, uint64_t size) {
    if (bytes <= 1023) {
        format_into(out, size, "%lluB", static_cast<unsigned long long>(bytes));
        return;
    }
    static constexpr char kUnits[] = "BKMGTP";
    uint64_t quotient = bytes;
    uint64_t remainder = 0;
    int unit = 0;
    while (quotient > 1023 && unit < 5) {
        remainder = quotient % 1024;
        quotient /= 1024;
        unit++;
    }
    format_into(out, size, "%llu.%llu%c", static_cast<unsigned long long>(quotient),
                static_cast<unsigned long long>(remainder * 10 / 1024), kUnits[unit]);
}

}  // namespace tarn

// The firmware test launcher.
//
// Booted as \EFI\BOOT\BOOTX64.EFI on a test disk, it starts another image from the same
// volume with a command line, reports how that image ended and powers the machine off, so
// that a test run always ends here and never falls through to the firmware's other boot
// options.
//
// \launch.txt (ASCII or UTF-8, an optional byte order mark; only the first line is read):
//
//     IMAGE-PATH [COMMAND-LINE]
//
// IMAGE-PATH is the path of the image on the launcher's own volume, `\` separated (a
// missing leading `\` is added; `/` is taken as `\`). Everything after the blanks that
// follow it, up to the end of the line, is the command line: it is handed over verbatim
// as the image's load options in UCS-2 with its terminating NUL (LoadOptionsSize counts
// the NUL). By convention its first word is the program name, as a shell would pass it:
//
//     \tarn.efi tarn.efi -c "print 1"
//
// Without a command line the image gets no load options at all, as when it is booted
// directly.
//
// Afterwards the launcher prints
//
//     launcher: exit status 0x%016llx
//
// (and "launcher: exit data: TEXT" when the image left exit data), writes \result.txt
// with the status as "0x%016llx" on its first line (and "data: TEXT" on a second line
// when there was exit data), and shuts the machine down. Any failure before that prints
// "launcher: error: ..." (also written to \result.txt as "error: ..." when possible)
// and shuts down as well.
//
// This program uses only the UEFI definitions in src/uefi, not the shell's runtime.
#include "uefi/guids.h"
#include "uefi/protocols.h"
#include "uefi/tables.h"
#include "efi_test_memory.h"

using namespace tarn::efi;


namespace {

constexpr size_t kMaxLaunchFile = 4096;      // bytes of \launch.txt read
constexpr size_t kMaxLine = 1024;            // UCS-2 units of the first line
constexpr size_t kMaxMessage = 512;          // UCS-2 units of one message
constexpr size_t kMaxDevicePath = 64 * 1024;  // bytes of the volume's device path

struct Launcher {
    Handle image;
    SystemTable* st;
    BootServices* bs;
    FileProtocol* root;  // the launcher's own volume, once opened
};

// ---- text ----

// A small UCS-2 message builder with a fixed capacity; text beyond it is dropped.
struct Message {
    Char16 text[kMaxMessage];
    size_t length;

    void add(Char16 c) {
        if (length + 1 < kMaxMessage) text[length++] = c;
        text[length] = 0;
    }
    void add(const char* ascii) {
        while (*ascii) add(static_cast<Char16>(static_cast<uint8_t>(*ascii++)));
    }
    void add(const Char16* wide) {
        while (*wide) add(*wide++);
    }
    void add_hex(uint64_t value) {
        add("0x");
        for (int shift = 60; shift >= 0; shift -= 4) add("0123456789abcdef"[(value >> shift) & 0xf]);
    }
};

void console_write(const Launcher& l, const Message& m) {
    if (l.st->con_out) l.st->con_out->output_string(l.st->con_out, m.text);
}

[[noreturn]] void shut_down(const Launcher& l) {
    l.st->runtime_services->reset_system(kResetShutdown, kSuccess, 0, nullptr);
    // ResetSystem does not return; should it, stay here rather than return to the boot
    // manager, which would start the next boot option.
    for (;;) l.bs->stall(1000000);
}

// Decodes UTF-8 into UCS-2; sequences that are malformed or outside the Basic
// Multilingual Plane become U+FFFD. Returns the number of units written (no NUL).
size_t utf8_to_ucs2(const uint8_t* in, size_t in_length, Char16* out, size_t out_capacity) {
    size_t i = 0;
    size_t n = 0;
    while (i < in_length && n < out_capacity) {
        uint8_t b = in[i];
        uint32_t cp = 0xfffd;
        size_t extra = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xe0) == 0xc0) {
            extra = 1;
            cp = b & 0x1f;
        } else if ((b & 0xf0) == 0xe0) {
            extra = 2;
            cp = b & 0x0f;
        } else if ((b & 0xf8) == 0xf0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            out[n++] = 0xfffd;
            i++;
            continue;
        }
        if (extra > in_length - i - 1) {
            out[n++] = 0xfffd;
            break;
        }
        bool ok = true;
        for (size_t k = 1; k <= extra; k++) {
            uint8_t c = in[i + k];
            if ((c & 0xc0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3f);
        }
        if (!ok) {
            out[n++] = 0xfffd;
            i++;
            continue;
        }
        i += extra + 1;
        bool overlong = (extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3);
        if (overlong || (cp >= 0xd800 && cp <= 0xdfff)) cp = 0xfffd;
        out[n++] = static_cast<Char16>(cp);
    }
    return n;
}

// ---- files on the launcher's volume ----

// Reports a failure on the console and, when the volume is open, in \result.txt.
void report_error(Launcher& l, const char* what, const Char16* detail, Status status);

Status open_volume(Launcher& l, LoadedImage** loaded) {
    Status s = l.bs->handle_protocol(l.image, &kLoadedImageProtocolGuid,
                                     reinterpret_cast<void**>(loaded));
    if (is_error(s)) return s;
    SimpleFileSystem* fs = nullptr;
    s = l.bs->handle_protocol((*loaded)->device_handle, &kSimpleFileSystemProtocolGuid,
                              reinterpret_cast<void**>(&fs));
    if (is_error(s)) return s;
    FileProtocol* root = nullptr;
    s = fs->open_volume(fs, &root);
    if (is_error(s)) return s;
    l.root = root;
    return kSuccess;
}

// Reads up to `capacity` bytes of a file; a longer file is an error.
Status read_small_file(Launcher& l, const Char16* name, uint8_t* buffer, size_t capacity,
                       size_t* length) {
    FileProtocol* file = nullptr;
    Status s = l.root->open(l.root, &file, name, kFileModeRead, 0);
    if (is_error(s)) return s;
    size_t total = 0;
    for (;;) {
        if (total == capacity) {
            // One more byte tells a file that fits exactly from one that does not.
            uint8_t probe = 0;
            uint64_t size = 1;
            s = file->read(file, &size, &probe);
            if (!is_error(s) && size != 0) s = kBufferTooSmall;
            break;
        }
        uint64_t size = capacity - total;
        s = file->read(file, &size, buffer + total);
        if (is_error(s) || size == 0) break;
        if (size > capacity - total) {
            s = kBadBufferSize;  // the driver claims more than it was given room for
            break;
        }
        total += size;
    }
    file->close(file);
    *length = total;
    return s;
}

// Replaces a file with the given ASCII text.
Status write_text_file(Launcher& l, const Char16* name, const char* text, size_t length) {
    FileProtocol* file = nullptr;
    Status s = l.root->open(l.root, &file, name, kFileModeRead | kFileModeWrite, 0);
    if (!is_error(s)) {
        file->delete_file(file);  // always closes the handle
        file = nullptr;
    }
    s = l.root->open(l.root, &file, name, kFileModeRead | kFileModeWrite | kFileModeCreate, 0);
    if (is_error(s)) return s;
    uint64_t size = length;
    s = file->write(file, &size, text);
    if (!is_error(s) && size != length) s = kVolumeFull;
    Status flushed = file->flush(file);
    if (!is_error(s)) s = flushed;
    Status closed = file->close(file);
    if (!is_error(s)) s = closed;
    return s;
}

// An ASCII line builder for \result.txt.
struct ResultText {
    char text[kMaxMessage * 2];
    size_t length;

    void add(char c) {
        if (length + 1 < sizeof(text)) text[length++] = c;
    }
    void add(const char* s) {
        while (*s) add(*s++);
    }
    void add(const Char16* s) {
        while (*s) {
            Char16 c = *s++;
            add(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
        }
    }
    void add_hex(uint64_t value) {
        add("0x");
        for (int shift = 60; shift >= 0; shift -= 4) add("0123456789abcdef"[(value >> shift) & 0xf]);
    }
};

constexpr const Char16* kResultFile = u"\\result.txt";

void report_error(Launcher& l, const char* what, const Char16* detail, Status status) {
    Message m{};
    m.add("launcher: error: ");
    m.add(what);
    if (detail) {
        m.add(" ");
        m.add(detail);
    }
    m.add(" (status ");
    m.add_hex(status);
    m.add(")\r\n");
    console_write(l, m);
    if (!l.root) {
        LoadedImage* self = nullptr;
        open_volume(l, &self);
    }
    if (l.root) {
        ResultText r{};
        r.add("error: ");
        r.add(what);
        if (detail) {
            r.add(" ");
            r.add(detail);
        }
        r.add(" (status ");
        r.add_hex(status);
        r.add(")\r\n");
        write_text_file(l, kResultFile, r.text, r.length);
    }
}

// ---- the launch line ----

struct LaunchLine {
    Char16 path[kMaxLine + 2];     // with a leading '\'
    Char16 options[kMaxLine + 1];  // the command line, NUL terminated
    size_t options_length;         // in units, without the NUL
};

bool is_blank(Char16 c) { return c == u' ' || c == u'\t'; }

// Splits the first line of \launch.txt into the image path and the command line.
bool parse_launch_line(const Char16* line, size_t length, LaunchLine* out) {
    size_t i = 0;
    while (i < length && is_blank(line[i])) i++;
    while (length > i && is_blank(line[length - 1])) length--;
    size_t n = 0;
    if (i < length && line[i] != u'\\' && line[i] != u'/') out->path[n++] = u'\\';
    while (i < length && !is_blank(line[i])) {
        Char16 c = line[i++];
        out->path[n++] = c == u'/' ? u'\\' : c;
    }
    out->path[n] = 0;
    if (n == 0 || (n == 1 && out->path[0] == u'\\')) return false;
    while (i < length && is_blank(line[i])) i++;
    size_t k = 0;
    while (i < length) out->options[k++] = line[i++];
    out->options[k] = 0;
    out->options_length = k;
    return true;
}

// ---- device paths ----

uint16_t node_length(const DevicePath* node) {
    return static_cast<uint16_t>(node->length[0] | (node->length[1] << 8));
}

// The size in bytes of a device path without its end node, or 0 when it is malformed.
size_t device_path_size(const DevicePath* path) {
    size_t size = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(path);
    for (;;) {
        const auto* node = reinterpret_cast<const DevicePath*>(p + size);
        uint16_t len = node_length(node);
        if (len < sizeof(DevicePath) || len > kMaxDevicePath - size) return 0;
        if (node->type == kEndDevicePath && node->sub_type == kEndEntireSubType) return size;
        size += len;
        if (size >= kMaxDevicePath - sizeof(DevicePath)) return 0;
    }
}

// Builds the device path of `file` on the volume at `device`, in pool memory.
Status file_device_path(Launcher& l, Handle device, const Char16* file, DevicePath** out) {
    DevicePath* volume = nullptr;
    Status s = l.bs->handle_protocol(device, &kDevicePathProtocolGuid,
                                     reinterpret_cast<void**>(&volume));
    if (is_error(s)) return s;
    size_t volume_size = device_path_size(volume);
    if (volume_size == 0) return kVolumeCorrupted;
    size_t name_units = 0;
    while (file[name_units]) name_units++;
    size_t file_node = sizeof(DevicePath) + (name_units + 1) * sizeof(Char16);
    if (file_node > 0xffff) return kInvalidParameter;
    size_t total = volume_size + file_node + sizeof(DevicePath);
    uint8_t* buffer = nullptr;
    s = l.bs->allocate_pool(kLoaderData, total, reinterpret_cast<void**>(&buffer));
    if (is_error(s)) return s;
    memcpy(buffer, volume, volume_size);
    auto* node = reinterpret_cast<DevicePath*>(buffer + volume_size);
    node->type = kMediaDevicePath;
    node->sub_type = kMediaFilePathSubType;
    node->length[0] = static_cast<uint8_t>(file_node & 0xff);
    node->length[1] = static_cast<uint8_t>(file_node >> 8);
    memcpy(buffer + volume_size + sizeof(DevicePath), file, (name_units + 1) * sizeof(Char16));
    auto* end = reinterpret_cast<DevicePath*>(buffer + volume_size + file_node);
    end->type = kEndDevicePath;
    end->sub_type = kEndEntireSubType;
    end->length[0] = sizeof(DevicePath);
    end->length[1] = 0;
    *out = reinterpret_cast<DevicePath*>(buffer);
    return kSuccess;
}

// ---- the run ----

void run(Launcher& l) {
    LoadedImage* self = nullptr;
    Status s = open_volume(l, &self);
    if (is_error(s)) return report_error(l, "cannot open the boot volume", nullptr, s);

    static uint8_t raw[kMaxLaunchFile];
    size_t raw_length = 0;
    s = read_small_file(l, u"\\launch.txt", raw, sizeof(raw), &raw_length);
    if (is_error(s)) return report_error(l, "cannot read", u"\\launch.txt", s);

    size_t start = 0;
    if (raw_length >= 3 && raw[0] == 0xef && raw[1] == 0xbb && raw[2] == 0xbf) start = 3;
    size_t end = start;
    while (end < raw_length && raw[end] != '\r' && raw[end] != '\n') end++;
    static Char16 line[kMaxLine];
    size_t line_length = utf8_to_ucs2(raw + start, end - start, line, kMaxLine);
    if (line_length == kMaxLine)
        return report_error(l, "first line too long in", u"\\launch.txt", kBadBufferSize);

    static LaunchLine launch;
    if (!parse_launch_line(line, line_length, &launch))
        return report_error(l, "no image path in", u"\\launch.txt", kInvalidParameter);

    // The image may disconnect and reconnect drivers; hold no file open while it runs.
    l.root->close(l.root);
    l.root = nullptr;

    DevicePath* path = nullptr;
    s = file_device_path(l, self->device_handle, launch.path, &path);
    if (is_error(s)) return report_error(l, "cannot make the device path of", launch.path, s);

    Message m{};
    m.add("launcher: starting ");
    m.add(launch.path);
    m.add("\r\n");
    console_write(l, m);

    Handle child = nullptr;
    s = l.bs->load_image(0, l.image, path, nullptr, 0, &child);
    l.bs->free_pool(path);
    if (is_error(s)) {
        // A security violation still loads the image, which then has to be unloaded.
        if (s == kSecurityViolation && child) l.bs->unload_image(child);
        return report_error(l, "cannot load", launch.path, s);
    }

    if (launch.options_length > 0) {
        LoadedImage* loaded = nullptr;
        s = l.bs->handle_protocol(child, &kLoadedImageProtocolGuid,
                                  reinterpret_cast<void**>(&loaded));
        if (is_error(s)) {
            l.bs->unload_image(child);
            return report_error(l, "no loaded image protocol on", launch.path, s);
        }
        loaded->load_options = launch.options;
        loaded->load_options_size =
            static_cast<uint32_t>((launch.options_length + 1) * sizeof(Char16));
    }

    uint64_t exit_data_size = 0;
    Char16* exit_data = nullptr;
    Status status = l.bs->start_image(child, &exit_data_size, &exit_data);

    // Exit data is a NUL-terminated string, optionally followed by binary data; copy no
    // more than its size says.
    static Char16 data[kMaxMessage];
    bool have_data = exit_data != nullptr && exit_data_size >= sizeof(Char16);
    if (have_data) {
        size_t units = exit_data_size / sizeof(Char16);
        size_t n = 0;
        while (n < units && n + 1 < kMaxMessage && exit_data[n]) {
            data[n] = exit_data[n];
            n++;
        }
        data[n] = 0;
    }
    if (exit_data) l.bs->free_pool(exit_data);

    Message done{};
    done.add("launcher: exit status ");
    done.add_hex(status);
    done.add("\r\n");
    if (have_data) {
        done.add("launcher: exit data: ");
        done.add(data);
        done.add("\r\n");
    }
    console_write(l, done);

    s = open_volume(l, &self);
    if (is_error(s)) return report_error(l, "cannot reopen the boot volume", nullptr, s);
    ResultText r{};
    r.add_hex(status);
    r.add("\r\n");
    if (have_data) {
        r.add("data: ");
        r.add(data);
        r.add("\r\n");
    }
    s = write_text_file(l, kResultFile, r.text, r.length);
    if (is_error(s)) return report_error(l, "cannot write", kResultFile, s);
}

}  // namespace

extern "C" Status EFIAPI launcher_main(Handle image, SystemTable* st) {
    Launcher l{image, st, st->boot_services, nullptr};
    run(l);
    if (l.root) l.root->close(l.root);
    shut_down(l);
}

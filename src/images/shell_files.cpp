// Shell file handles: the standard streams, NUL and wrapped firmware files.
#include "images/shell_files.h"

#include "fs/paths.h"
#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/string_buffer.h"
#include "runtime/text.h"
#include "shell/line_editor.h"

namespace tarn {
namespace {

struct ShellFilesState {
    ShellFile* standard[3];  // input, output, error
};
constinit ShellFilesState g_files = {};

constexpr efi::Status kWarnDeleteFailure = 2;  // a warning: no error bit

ShellFile* self_of(efi::FileProtocol* self) { return shell_file_of(self); }

// UCS-2 text (n bytes) to UTF-8 without carriage returns, byte-order marks and NULs.
void append_stream_text(StringBuffer& out, const void* bytes, uint64_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    for (uint64_t i = 0; i + 1 < n; i += 2) {
        char16_t unit = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
        if (unit == u'\r' || unit == 0xfeff || unit == 0) continue;
        append_codepoint(out, unit);
    }
}

void free_file(ShellFile* file) {
    file->signature = 0;
    release(file->path);
    release(file->line);
    release(file);
}

efi::Status EFIAPI sf_open(efi::FileProtocol* self, efi::FileProtocol** new_handle, const efi::Char16* name,
                           uint64_t mode, uint64_t attributes) {
    ShellFile* f = self_of(self);
    if (!f || !new_handle || !name) return efi::kInvalidParameter;
    if (f->kind != ShellFileKind::kReal) return efi::kUnsupported;
    efi::FileProtocol* opened = nullptr;
    efi::Status s = f->wrapped->open(f->wrapped, &opened, name, mode, attributes);
    if (efi::is_error(s)) return s;
    Owned<char> utf8(ucs2_to_utf8(name));
    Owned<char> path;
    if (utf8.get()[0] == '\\') {
        const char* colon = strchr(f->path, ':');
        uint64_t volume = colon ? static_cast<uint64_t>(colon - f->path) + 1 : 0;
        path = Owned<char>(format_string("%.*s%s", static_cast<int>(volume), f->path, utf8.get()));
    } else {
        path = Owned<char>(join_path(f->path, utf8.get()));
    }
    *new_handle = wrap_real_file(opened, path.get());
    return s;
}

efi::Status EFIAPI sf_close(efi::FileProtocol* self) {
    ShellFile* f = self_of(self);
    if (!f) return efi::kInvalidParameter;
    switch (f->kind) {
        case ShellFileKind::kReal: {
            efi::Status s = f->wrapped->close(f->wrapped);
            free_file(f);
            return s;
        }
        case ShellFileKind::kNull:
            free_file(f);
            return efi::kSuccess;
        case ShellFileKind::kStdIn:
        case ShellFileKind::kStdOut:
        case ShellFileKind::kStdErr:
            return efi::kSuccess;  // the standard handles are kept
    }
    return efi::kSuccess;
}

efi::Status EFIAPI sf_delete(efi::FileProtocol* self) {
    ShellFile* f = self_of(self);
    if (!f) return efi::kInvalidParameter;
    if (f->kind != ShellFileKind::kReal) {
        if (f->kind == ShellFileKind::kNull) free_file(f);
        return kWarnDeleteFailure;
    }
    efi::Status s = f->wrapped->delete_file(f->wrapped);
    free_file(f);  // delete always closes
    return s;
}

// Standard input: the rest of the current line, then a new line from the line editor.
efi::Status read_standard_input(ShellFile* f, uint64_t* size, void* buffer) {
    if (f->line_position >= f->line_units) {
        release(f->line);
        f->line = nullptr;
        f->line_units = f->line_position = 0;
        Owned<char> text(read_line("", false));
        if (!text) {
            *size = 0;  // end of input
            return efi::kSuccess;
        }
        Owned<char> with_break(format_string("%s\n", text.get()));
        f->line = utf8_to_ucs2(with_break.get(), &f->line_units);
    }
    uint64_t units = min_of<uint64_t>(*size / 2, f->line_units - f->line_position);
    memcpy(buffer, f->line + f->line_position, units * 2);
    f->line_position += units;
    *size = units * 2;
    return efi::kSuccess;
}

efi::Status EFIAPI sf_read(efi::FileProtocol* self, uint64_t* size, void* buffer) {
    ShellFile* f = self_of(self);
    if (!f || !size || (*size && !buffer)) return efi::kInvalidParameter;
    switch (f->kind) {
        case ShellFileKind::kReal: return f->wrapped->read(f->wrapped, size, buffer);
        case ShellFileKind::kStdIn: return read_standard_input(f, size, buffer);
        case ShellFileKind::kNull: *size = 0; return efi::kSuccess;
        case ShellFileKind::kStdOut:
        case ShellFileKind::kStdErr: return efi::kUnsupported;
    }
    return efi::kUnsupported;
}

efi::Status EFIAPI sf_write(efi::FileProtocol* self, uint64_t* size, const void* buffer) {
    ShellFile* f = self_of(self);
    if (!f || !size || (*size && !buffer)) return efi::kInvalidParameter;
    switch (f->kind) {
        case ShellFileKind::kReal: return f->wrapped->write(f->wrapped, size, buffer);
        case ShellFileKind::kStdIn: return efi::kUnsupported;
        case ShellFileKind::kNull: return efi::kSuccess;
        case ShellFileKind::kStdOut:
        case ShellFileKind::kStdErr: {
            StringBuffer text;
            append_stream_text(text, buffer, *size);
            if (f->kind == ShellFileKind::kStdOut) out_write(text.c_str(), text.length);
            else console_write(text.c_str(), text.length);
            return efi::kSuccess;
        }
    }
    return efi::kUnsupported;
}

efi::Status EFIAPI sf_get_position(efi::FileProtocol* self, uint64_t* position) {
    ShellFile* f = self_of(self);
    if (!f || !position) return efi::kInvalidParameter;
    if (f->kind != ShellFileKind::kReal) return efi::kUnsupported;
    return f->wrapped->get_position(f->wrapped, position);
}

efi::Status EFIAPI sf_set_position(efi::FileProtocol* self, uint64_t position) {
    ShellFile* f = self_of(self);
    if (!f) return efi::kInvalidParameter;
    if (f->kind != ShellFileKind::kReal) return efi::kUnsupported;
    return f->wrapped->set_position(f->wrapped, position);
}

efi::Status EFIAPI sf_get_info(efi::FileProtocol* self, const efi::Guid* type, uint64_t* size, void* buffer) {
    ShellFile* f = self_of(self);
    if (!f) return efi::kInvalidParameter;
    if (f->kind != ShellFileKind::kReal) return efi::kUnsupported;
    return f->wrapped->get_info(f->wrapped, type, size, buffer);
}

efi::Status EFIAPI sf_set_info(efi::FileProtocol* self, const efi::Guid* type, uint64_t size, void* buffer) {
    ShellFile* f = self_of(self);
    if (!f) return efi::kInvalidParameter;
    if (f->kind != ShellFileKind::kReal) return efi::kUnsupported;
    return f->wrapped->set_info(f->wrapped, type, size, buffer);
}

efi::Status EFIAPI sf_flush(efi::FileProtocol* self) {
    ShellFile* f = self_of(self);
    if (!f) return efi::kInvalidParameter;
    if (f->kind != ShellFileKind::kReal) return efi::kSuccess;
    return f->wrapped->flush(f->wrapped);
}

ShellFile* new_file(ShellFileKind kind) {
    ShellFile* f = xallocate_array<ShellFile>(1);
    f->protocol.revision = 0x10000;
    f->protocol.open = sf_open;
    f->protocol.close = sf_close;
    f->protocol.delete_file = sf_delete;
    f->protocol.read = sf_read;
    f->protocol.write = sf_write;
    f->protocol.get_position = sf_get_position;
    f->protocol.set_position = sf_set_position;
    f->protocol.get_info = sf_get_info;
    f->protocol.set_info = sf_set_info;
    f->protocol.flush = sf_flush;
    f->signature = kShellFileSignature;
    f->kind = kind;
    return f;
}

efi::FileProtocol* standard(int index, ShellFileKind kind) {
    if (!g_files.standard[index]) g_files.standard[index] = new_file(kind);
    return &g_files.standard[index]->protocol;
}

}  // namespace

ShellFile* shell_file_of(const void* handle) {
    if (!handle) return nullptr;
    auto* f = static_cast<ShellFile*>(const_cast<void*>(handle));
    if (f->signature != kShellFileSignature) return nullptr;
    return f;
}

efi::FileProtocol* standard_input() { return standard(0, ShellFileKind::kStdIn); }
efi::FileProtocol* standard_output() { return standard(1, ShellFileKind::kStdOut); }
efi::FileProtocol* standard_error() { return standard(2, ShellFileKind::kStdErr); }

efi::FileProtocol* open_null_file() { return &new_file(ShellFileKind::kNull)->protocol; }

efi::FileProtocol* wrap_real_file(efi::FileProtocol* firmware_file, const char* path) {
    ShellFile* f = new_file(ShellFileKind::kReal);
    f->wrapped = firmware_file;
    f->path = xstrdup(path ? path : "");
    return &f->protocol;
}

void reset_shell_files() {
    for (ShellFile*& f : g_files.standard) {
        if (f) free_file(f);
        f = nullptr;
    }
}

}  // namespace tarn

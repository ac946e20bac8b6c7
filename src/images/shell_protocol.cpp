// The Shell protocol's slots. Strings the caller must not free live in a cache, one per
// key, replaced when the same key is asked again (unless the text is unchanged).
#include "images/shell_protocol.h"

#include "fs/files.h"
#include "fs/fs_internal.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "drivers/handle_info.h"
#include "drivers/protocol_names.h"
#include "images/shell_files.h"
#include "runtime/exit.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/environment.h"
#include "shell/executor.h"
#include "shell/registry.h"
#include "uefi/guids.h"
#include "vars/variable_text.h"

namespace tarn {
namespace {

constexpr int kKeyNotifications = 3;
// GetDeviceName flags.
constexpr uint32_t kDeviceNameComponent = 1;   // from the component-name protocols
constexpr uint32_t kDeviceNameDevicePath = 2;  // from the device path text

struct CacheEntry {
    char* key;
    char16_t* value;
    uint64_t units;  // without the final NUL (lists hold NULs inside)
};

struct ShellProtocolState {
    bool installed;
    efi::Handle handle;             // where the protocol is
    efi::ShellProtocol* replaced;   // the interface it replaced, or null
    void* notifications[kKeyNotifications];
    CacheEntry* cache;  // grows by doubling
    uint64_t cache_count;
    uint64_t cache_capacity;
    bool page_break;
};
constinit ShellProtocolState g_shell = {};

// ---- the string cache

const char16_t* cache_units(const char* key, const char16_t* units, uint64_t count) {
    for (uint64_t i = 0; i < g_shell.cache_count; i++) {
        CacheEntry& e = g_shell.cache[i];
        if (!equal_nocase(e.key, key)) continue;  // names compare ignoring case
        if (e.units == count && memcmp(e.value, units, count * 2) == 0)
            return e.value;  // unchanged: the caller may still hold it
        release(e.value);
        e.value = xallocate_array<char16_t>(count + 1);
        e.units = count;
        memcpy(e.value, units, count * 2);
        return e.value;
    }
    CacheEntry e = {xstrdup(key), xallocate_array<char16_t>(count + 1), count};
    memcpy(e.value, units, count * 2);
    if (g_shell.cache_count == g_shell.cache_capacity) {
        uint64_t capacity = g_shell.cache_capacity ? g_shell.cache_capacity * 2 : 8;
        g_shell.cache = static_cast<CacheEntry*>(xresize(g_shell.cache, capacity * sizeof(CacheEntry)));
        g_shell.cache_capacity = capacity;
    }
    g_shell.cache[g_shell.cache_count++] = e;
    return e.value;
}

const char16_t* cache_text(const char* key, const char* text) {
    uint64_t units = 0;
    Owned<char16_t> converted(utf8_to_ucs2(text, &units));
    return cache_units(key, converted.get(), units);
}

// A list of names as NUL-terminated strings ended by an extra NUL.
const char16_t* cache_list(const char* key, const NameList& names) {
    Vector<char16_t> units;
    // Name by name: each conversion stops at its NUL.
    for (uint64_t i = 0; i < names.count; i++) {
        uint64_t n = 0;
        Owned<char16_t> one(utf8_to_ucs2(names[i], &n));
        for (uint64_t j = 0; j < n; j++) units.push(one.get()[j]);
        units.push(0);
    }
    units.push(0);
    // The cache keeps count units and adds one NUL of its own.
    return cache_units(key, &units[0], units.size() - 1);
}

char* narrow(const efi::Char16* text) { return text ? ucs2_to_utf8(text) : nullptr; }

// A copy in firmware pool memory, which the caller frees with FreePool.
template <class T> T* pool_copy(const void* bytes, uint64_t size) {
    void* block = nullptr;
    if (boot_services()->allocate_pool(efi::kLoaderData, size, &block) != efi::kSuccess) return nullptr;
    memcpy(block, bytes, size);
    return static_cast<T*>(block);
}

efi::FileProtocol* file_of(efi::ShellFileHandle handle) {
    ShellFile* f = shell_file_of(handle);
    return f ? &f->protocol : nullptr;
}

// ---- command execution and the environment

efi::Status EFIAPI sp_execute(efi::Handle*, efi::Char16* command_line, efi::Char16** environment,
                              efi::Status* status_code) {
    if (!command_line) return efi::kUnsupported;
    uint64_t overrides = 0;
    for (efi::Char16** e = environment; e && *e; e++) {
        Owned<char> entry(narrow(*e));
        char* equals = strchr(entry.get(), '=');
        if (!equals || equals == entry.get()) continue;
        *equals = '\0';
        push_override(entry.get(), equals + 1);
        overrides++;
    }
    Owned<char> line(narrow(command_line));
    int code = run_command_line(line.get());
    pop_overrides(overrides);
    if (status_code)
        *status_code = code == 0 ? efi::kSuccess : (efi::kErrorBit | static_cast<uint32_t>(code));
    return efi::kSuccess;
}

const efi::Char16* EFIAPI sp_get_env(const efi::Char16* name) {
    if (!name) return cache_list("env-list", variable_names());
    Owned<char> key(narrow(name));
    Owned<char> value(get_variable(key.get()));
    if (!value) return nullptr;
    Owned<char> cache_key(format_string("env:%s", key.get()));
    return cache_text(cache_key.get(), value.get());
}

efi::Status EFIAPI sp_set_env(const efi::Char16* name, const efi::Char16* value, efi::Boolean volatile_) {
    if (!name || !value) return efi::kInvalidParameter;
    Owned<char> key(narrow(name));
    Owned<char> text(narrow(value));
    if (is_read_only_variable(key.get())) return efi::kAccessDenied;
    const char* error = set_variable(key.get(), text.get()[0] ? text.get() : nullptr, !volatile_);
    return error ? efi::kOutOfResources : efi::kSuccess;
}

const efi::Char16* EFIAPI sp_get_env_ex(const efi::Char16* name, uint32_t* attributes) {
    const efi::Char16* value = sp_get_env(name);
    if (value && name && attributes) {
        Owned<char> key(narrow(name));
        *attributes = efi::kVariableBootserviceAccess |
                      (variable_is_permanent(key.get()) ? efi::kVariableNonVolatile : 0);
    }
    return value;
}

const efi::Char16* EFIAPI sp_get_alias(const efi::Char16* alias, efi::Boolean* volatile_) {
    if (!alias) return cache_list("alias-list", alias_names());
    Owned<char> name(narrow(alias));
    bool permanent = false;
    const char* value = find_alias(name.get(), &permanent);
    if (!value) return nullptr;
    if (volatile_) *volatile_ = permanent ? 0 : 1;
    Owned<char> key(format_string("alias:%s", name.get()));
    return cache_text(key.get(), value);
}

efi::Status EFIAPI sp_set_alias(const efi::Char16* command, const efi::Char16* alias, efi::Boolean replace,
                                efi::Boolean volatile_) {
    if (!command) return efi::kInvalidParameter;
    Owned<char> what(narrow(command));
    if (!alias) return set_alias(what.get(), nullptr, false, true) ? efi::kAccessDenied : efi::kSuccess;
    Owned<char> name(narrow(alias));
    bool permanent = false;
    if (find_alias(name.get(), &permanent) && !replace) return efi::kAccessDenied;
    return set_alias(name.get(), what.get(), !volatile_, true) ? efi::kAccessDenied : efi::kSuccess;
}

efi::Status EFIAPI sp_get_help_text(const efi::Char16* command, const efi::Char16*, efi::Char16** help_text) {
    if (!command || !help_text) return efi::kInvalidParameter;
    Owned<char> name(narrow(command));
    const CommandDescriptor* cmd = find_command(name.get());
    if (!cmd) return efi::kNotFound;
    Owned<char> text(format_string("%s\n\n%s\n%s%s", cmd->usage ? cmd->usage : cmd->name,
                                   cmd->summary ? cmd->summary : "", cmd->help ? cmd->help : "",
                                   cmd->help ? "\n" : ""));
    uint64_t units = 0;
    Owned<char16_t> converted(utf8_to_ucs2(text.get(), &units));
    *help_text = pool_copy<efi::Char16>(converted.get(), (units + 1) * 2);
    return *help_text ? efi::kSuccess : efi::kOutOfResources;
}

// ---- maps and the current directory

efi::DevicePath* EFIAPI sp_get_device_path_from_file_path(const efi::Char16* path) {
    if (!path) return nullptr;
    Owned<char> text(narrow(path));
    Owned<char> resolved(resolve_path(text.get()));
    efi::DevicePath* dp = nullptr;
    if (!resolved || file_device_path(resolved.get(), &dp) != kOk) return nullptr;
    Owned<efi::DevicePath> owned(dp);
    uint64_t length = fs_detail::device_path_length(dp);
    return length ? pool_copy<efi::DevicePath>(dp, length + sizeof(efi::DevicePath)) : nullptr;
}

efi::DevicePath* volume_device_path(int index) {
    void* p = nullptr;
    efi::Handle h = volume_handle(index);
    if (!h || boot_services()->handle_protocol(h, &efi::kDevicePathProtocolGuid, &p) != efi::kSuccess) return nullptr;
    return static_cast<efi::DevicePath*>(p);
}

// The volume whose device path (without its end node) begins path; its length in *prefix.
int volume_of_device_path(const efi::DevicePath* path, uint64_t* prefix) {
    uint64_t total = fs_detail::device_path_length(path);
    if (!path || (total == 0 && path->type != efi::kEndDevicePath)) return -1;
    for (int i = 0; i < volume_count(); i++) {
        efi::DevicePath* own = volume_device_path(i);
        uint64_t n = fs_detail::device_path_length(own);
        if (own && n && n <= total && memcmp(own, path, n) == 0) {
            *prefix = n;
            return i;
        }
    }
    return -1;
}

const efi::DevicePath* EFIAPI sp_get_device_path_from_map(const efi::Char16* mapping) {
    if (!mapping) return nullptr;
    Owned<char> name(narrow(mapping));
    uint64_t n = strlen(name.get());
    if (n && name.get()[n - 1] == ':') n--;
    int index = volume_index(name.get(), n);
    return index < 0 ? nullptr : volume_device_path(index);
}

const efi::Char16* EFIAPI sp_get_map_from_device_path(efi::DevicePath** device_path) {
    if (!device_path || !*device_path) return nullptr;
    uint64_t prefix = 0;
    int index = volume_of_device_path(*device_path, &prefix);
    if (index < 0) return nullptr;
    const char* name = volume_at(index)->name;
    StringBuffer others;
    extra_names_of(name, others);
    Owned<char> text(format_string("%s:%s%s", name, others.length ? ";" : "", others.c_str()));
    Owned<char> key(format_string("map:%s", name));
    *device_path = reinterpret_cast<efi::DevicePath*>(reinterpret_cast<uint8_t*>(*device_path) + prefix);
    return cache_text(key.get(), text.get());
}

efi::Char16* EFIAPI sp_get_file_path_from_device_path(const efi::DevicePath* path) {
    uint64_t prefix = 0;
    int index = volume_of_device_path(path, &prefix);
    if (index < 0) return nullptr;
    StringBuffer text;
    append_format(text, "%s:", volume_at(index)->name);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(path) + prefix;
    const uint8_t* end = reinterpret_cast<const uint8_t*>(path) + fs_detail::device_path_length(path);
    bool any = false;
    while (p + 4 <= end) {
        uint64_t length = static_cast<uint64_t>(p[2]) | (static_cast<uint64_t>(p[3]) << 8);
        if (length < 4 || length > static_cast<uint64_t>(end - p)) return nullptr;
        if (p[0] == efi::kMediaDevicePath && p[1] == efi::kMediaFilePathSubType) {
            Owned<char> part(fs_detail::bounded_ucs2_to_utf8(reinterpret_cast<const char16_t*>(p + 4), (length - 4) / 2));
            const char* piece = part.get();
            bool joined_slash = text.length && text.data[text.length - 1] == '\\';
            if (any && !joined_slash && piece[0] != '\\') append_char(text, '\\');
            if (joined_slash && piece[0] == '\\') piece++;
            append_text(text, piece);
            any = true;
        }
        p += length;
    }
    uint64_t units = 0;
    Owned<char16_t> converted(utf8_to_ucs2(text.c_str(), &units));
    return pool_copy<efi::Char16>(converted.get(), (units + 1) * 2);
}

efi::Status EFIAPI sp_set_map(const efi::DevicePath* device_path, const efi::Char16* mapping) {
    if (!mapping) return efi::kInvalidParameter;
    Owned<char> name(narrow(mapping));
    uint64_t n = strlen(name.get());
    if (n && name.get()[n - 1] == ':') name.get()[--n] = '\0';
    if (!device_path) return set_extra_name(name.get(), nullptr) == kOk ? efi::kSuccess : efi::kAccessDenied;
    efi::Handle device = nullptr;
    efi::DevicePath* rest = const_cast<efi::DevicePath*>(device_path);
    if (boot_services()->locate_device_path(&efi::kSimpleFileSystemProtocolGuid, &rest, &device) != efi::kSuccess)
        return efi::kUnsupported;
    int index = volume_of_handle(device);
    if (index < 0) return efi::kUnsupported;
    return set_extra_name(name.get(), volume_at(index)->name) == kOk ? efi::kSuccess : efi::kAccessDenied;
}

efi::Status EFIAPI sp_open_root_by_handle(efi::Handle device, efi::ShellFileHandle* file) {
    if (!device || !file) return efi::kInvalidParameter;
    efi::FileProtocol* root = nullptr;
    if (fs_detail::open_root(device, &root) != kOk) return efi::kNotFound;
    int index = volume_of_handle(device);
    Owned<char> path(index >= 0 ? format_string("%s:\\", volume_at(index)->name) : xstrdup(""));
    *file = wrap_real_file(root, path.get());
    return efi::kSuccess;
}

efi::Status EFIAPI sp_open_root(efi::DevicePath* device_path, efi::ShellFileHandle* file) {
    if (!device_path || !file) return efi::kInvalidParameter;
    efi::Handle device = nullptr;
    efi::DevicePath* rest = device_path;
    if (boot_services()->locate_device_path(&efi::kSimpleFileSystemProtocolGuid, &rest, &device) != efi::kSuccess)
        return efi::kNotFound;
    return sp_open_root_by_handle(device, file);
}

const efi::Char16* EFIAPI sp_get_cur_dir(const efi::Char16* mapping) {
    const char* cwd = current_directory();
    if (!mapping) return cwd ? cache_text("cwd", cwd) : nullptr;
    Owned<char> name(narrow(mapping));
    uint64_t n = strlen(name.get());
    if (n && name.get()[n - 1] == ':') name.get()[--n] = '\0';
    Owned<char> key(format_string("cwd:%s", name.get()));
    if (cwd && compare_nocase_n(cwd, name.get(), n) == 0 && cwd[n] == ':') return cache_text(key.get(), cwd);
    Owned<char> root(format_string("%s:\\", name.get()));
    return cache_text(key.get(), root.get());
}

efi::Status EFIAPI sp_set_cur_dir(const efi::Char16* file_system, const efi::Char16* dir) {
    if (!file_system && !dir) return efi::kInvalidParameter;
    Owned<char> fs(narrow(file_system));
    Owned<char> d(narrow(dir));
    Owned<char> target;
    if (fs) {
        uint64_t n = strlen(fs.get());
        bool colon = n && fs.get()[n - 1] == ':';
        target = Owned<char>(format_string("%s%s%s", fs.get(), colon ? "" : ":", d ? d.get() : "\\"));
    } else {
        target = Owned<char>(xstrdup(d.get()));
    }
    return change_directory(target.get()) == kOk ? efi::kSuccess : efi::kNotFound;
}

// ---- state flags

efi::Boolean EFIAPI sp_batch_is_active() { return script_depth() > 0 ? 1 : 0; }
efi::Boolean EFIAPI sp_is_root_shell() { return g_shell.replaced ? 0 : 1; }
void EFIAPI sp_enable_page_break() { g_shell.page_break = true; }
void EFIAPI sp_disable_page_break() { g_shell.page_break = false; }
efi::Boolean EFIAPI sp_get_page_break() { return g_shell.page_break ? 1 : 0; }

// ---- files

efi::FileInfo* EFIAPI sp_get_file_info(efi::ShellFileHandle handle) {
    efi::FileProtocol* f = file_of(handle);
    if (!f) return nullptr;
    uint64_t size = 256;
    for (int attempt = 0; attempt < 4; attempt++) {
        void* block = nullptr;
        if (boot_services()->allocate_pool(efi::kLoaderData, size, &block) != efi::kSuccess) return nullptr;
        uint64_t asked = size;
        efi::Status s = f->get_info(f, &efi::kFileInfoGuid, &asked, block);
        if (s == efi::kSuccess) return static_cast<efi::FileInfo*>(block);
        (void)boot_services()->free_pool(block);
        if (s != efi::kBufferTooSmall || asked <= size) return nullptr;
        size = asked;
    }
    return nullptr;
}

efi::Status EFIAPI sp_set_file_info(efi::ShellFileHandle handle, const efi::FileInfo* info) {
    efi::FileProtocol* f = file_of(handle);
    if (!f || !info) return efi::kInvalidParameter;
    return f->set_info(f, &efi::kFileInfoGuid, info->size, const_cast<efi::FileInfo*>(info));
}

efi::Status open_by_name(const efi::Char16* file_name, efi::ShellFileHandle* handle, uint64_t mode,
                         uint64_t attributes) {
    if (!file_name || !handle) return efi::kInvalidParameter;
    Owned<char> name(narrow(file_name));
    if (equal_nocase(name.get(), "NUL")) {
        *handle = open_null_file();
        return efi::kSuccess;
    }
    Owned<char> path(resolve_path(name.get()));
    if (!path) return efi::kNotFound;
    efi::FileProtocol* opened = nullptr;
    ShellError e = fs_detail::open_path(path.get(), mode, attributes, &opened);
    if (e != kOk) {
        switch (e) {
            case kErrNotFound: return efi::kNotFound;
            case kErrAccessDenied: return efi::kAccessDenied;
            case kErrWriteProtected: return efi::kWriteProtected;
            case kErrVolumeFull: return efi::kVolumeFull;
            default: return efi::kDeviceError;
        }
    }
    *handle = wrap_real_file(opened, path.get());
    return efi::kSuccess;
}

efi::Status EFIAPI sp_open_file_by_name(const efi::Char16* file_name, efi::ShellFileHandle* handle, uint64_t mode) {
    return open_by_name(file_name, handle, mode, 0);
}

efi::Status EFIAPI sp_create_file(const efi::Char16* file_name, uint64_t attributes, efi::ShellFileHandle* handle) {
    return open_by_name(file_name, handle, efi::kFileModeRead | efi::kFileModeWrite | efi::kFileModeCreate,
                        attributes);
}

efi::Status EFIAPI sp_close_file(efi::ShellFileHandle handle) {
    efi::FileProtocol* f = file_of(handle);
    return f ? f->close(f) : efi::kInvalidParameter;
}

efi::Status EFIAPI sp_read_file(efi::ShellFileHandle handle, uint64_t* size, void* buffer) {
    efi::FileProtocol* f = file_of(handle);
    return f ? f->read(f, size, buffer) : efi::kInvalidParameter;
}

efi::Status EFIAPI sp_write_file(efi::ShellFileHandle handle, uint64_t* size, void* buffer) {
    efi::FileProtocol* f = file_of(handle);
    return f ? f->write(f, size, buffer) : efi::kInvalidParameter;
}

efi::Status EFIAPI sp_delete_file(efi::ShellFileHandle handle) {
    efi::FileProtocol* f = file_of(handle);
    return f ? f->delete_file(f) : efi::kInvalidParameter;
}

efi::Status EFIAPI sp_delete_file_by_name(const efi::Char16* file_name) {
    efi::ShellFileHandle handle = nullptr;
    efi::Status s = open_by_name(file_name, &handle, efi::kFileModeRead | efi::kFileModeWrite, 0);
    if (efi::is_error(s)) return s;
    return sp_delete_file(handle);
}

efi::Status EFIAPI sp_get_file_position(efi::ShellFileHandle handle, uint64_t* position) {
    efi::FileProtocol* f = file_of(handle);
    return f ? f->get_position(f, position) : efi::kInvalidParameter;
}

efi::Status EFIAPI sp_set_file_position(efi::ShellFileHandle handle, uint64_t position) {
    efi::FileProtocol* f = file_of(handle);
    return f ? f->set_position(f, position) : efi::kInvalidParameter;
}

efi::Status EFIAPI sp_flush_file(efi::ShellFileHandle handle) {
    efi::FileProtocol* f = file_of(handle);
    return f ? f->flush(f) : efi::kInvalidParameter;
}

efi::Status EFIAPI sp_get_file_size(efi::ShellFileHandle handle, uint64_t* size) {
    if (!size) return efi::kInvalidParameter;
    if (!file_of(handle)) return efi::kInvalidParameter;
    efi::FileInfo* info = sp_get_file_info(handle);
    if (!info) return efi::kDeviceError;
    *size = info->file_size;
    (void)boot_services()->free_pool(info);
    return efi::kSuccess;
}

// ---- file lists: circular lists of EFI_SHELL_FILE_INFO in pool memory

void* pool_zeroed(uint64_t size) {
    void* block = nullptr;
    if (boot_services()->allocate_pool(efi::kLoaderData, size, &block) != efi::kSuccess) return nullptr;
    memset(block, 0, size);
    return block;
}

efi::Char16* pool_text(const char* utf8) {
    uint64_t units = 0;
    Owned<char16_t> converted(utf8_to_ucs2(utf8, &units));
    return pool_copy<efi::Char16>(converted.get(), (units + 1) * 2);
}

efi::ShellFileInfo* new_list() {
    auto* head = static_cast<efi::ShellFileInfo*>(pool_zeroed(sizeof(efi::ShellFileInfo)));
    if (head) head->link.forward = head->link.back = &head->link;
    return head;
}

efi::ShellFileInfo* entry_of(efi::ListEntry* link) { return reinterpret_cast<efi::ShellFileInfo*>(link); }

void free_entry(efi::ShellFileInfo* e) {
    e->link.back->forward = e->link.forward;
    e->link.forward->back = e->link.back;
    if (e->handle) (void)sp_close_file(e->handle);
    auto* bs = boot_services();
    if (e->full_name) (void)bs->free_pool(const_cast<efi::Char16*>(e->full_name));
    if (e->file_name) (void)bs->free_pool(const_cast<efi::Char16*>(e->file_name));
    if (e->info) (void)bs->free_pool(e->info);
    (void)bs->free_pool(e);
}

// Appends an entry; its names are copies, its handle and info are taken over.
bool append_entry(efi::ShellFileInfo* head, const char* full_name, efi::Status status,
                  efi::ShellFileHandle handle, efi::FileInfo* info) {
    auto* e = static_cast<efi::ShellFileInfo*>(pool_zeroed(sizeof(efi::ShellFileInfo)));
    if (!e) return false;
    e->status = status;
    e->full_name = pool_text(full_name);
    e->file_name = pool_text(base_name(full_name));
    e->handle = handle;
    e->info = info;
    e->link.back = head->link.back;
    e->link.forward = &head->link;
    head->link.back->forward = &e->link;
    head->link.back = &e->link;
    return e->full_name && e->file_name;
}

efi::Status EFIAPI sp_open_file_list(efi::Char16* path, uint64_t open_mode, efi::ShellFileInfo** list) {
    if (!path || !list) return efi::kInvalidParameter;
    Owned<char> text(narrow(path));
    Owned<char> resolved(resolve_path(text.get()));
    if (!resolved) return efi::kNotFound;
    PathList matches;
    if (expand_pattern(resolved.get(), matches) != 0) return efi::kOutOfResources;
    if (matches.count == 0) return efi::kNotFound;
    if (!*list && !(*list = new_list())) return efi::kOutOfResources;
    for (uint64_t i = 0; i < matches.count; i++) {
        efi::ShellFileHandle handle = nullptr;
        uint64_t units = 0;
        Owned<char16_t> name(utf8_to_ucs2(matches.items[i], &units));
        efi::Status s = sp_open_file_by_name(name.get(), &handle, open_mode);
        efi::FileInfo* info = efi::is_error(s) ? nullptr : sp_get_file_info(handle);
        if (!append_entry(*list, matches.items[i], s, efi::is_error(s) ? nullptr : handle, info))
            return efi::kOutOfResources;
    }
    return efi::kSuccess;
}

efi::Status EFIAPI sp_free_file_list(efi::ShellFileInfo** list) {
    if (!list || !*list) return efi::kInvalidParameter;
    efi::ShellFileInfo* head = *list;
    while (head->link.forward != &head->link) free_entry(entry_of(head->link.forward));
    (void)boot_services()->free_pool(head);
    *list = nullptr;
    return efi::kSuccess;
}

efi::Status EFIAPI sp_remove_dup(efi::ShellFileInfo** list) {
    if (!list || !*list) return efi::kInvalidParameter;
    efi::ListEntry* head = &(*list)->link;
    for (efi::ListEntry* a = head->forward; a != head; a = a->forward) {
        Owned<char> name_a(narrow(entry_of(a)->full_name));
        for (efi::ListEntry* b = a->forward; b != head;) {
            efi::ListEntry* next = b->forward;
            Owned<char> name_b(narrow(entry_of(b)->full_name));
            if (equal_nocase(name_a.get(), name_b.get())) free_entry(entry_of(b));
            b = next;
        }
    }
    return efi::kSuccess;
}

efi::Status EFIAPI sp_find_files(const efi::Char16* pattern, efi::ShellFileInfo** list) {
    if (!pattern || !list) return efi::kInvalidParameter;
    *list = nullptr;
    uint64_t n = ucs2_length(pattern);
    Owned<char16_t> copy(xallocate_array<char16_t>(n + 1));
    memcpy(copy.get(), pattern, n * 2);
    return sp_open_file_list(copy.get(), efi::kFileModeRead, list);
}

efi::Status EFIAPI sp_find_files_in_dir(efi::ShellFileHandle dir, efi::ShellFileInfo** list) {
    ShellFile* f = shell_file_of(dir);
    if (!f || !list || f->kind != ShellFileKind::kReal) return efi::kInvalidParameter;
    efi::ShellFileInfo* head = new_list();
    if (!head) return efi::kOutOfResources;
    (void)f->wrapped->set_position(f->wrapped, 0);
    uint64_t capacity = 592;
    Owned<uint8_t> buffer(static_cast<uint8_t*>(xallocate(capacity)));
    for (;;) {
        uint64_t size = capacity;
        efi::Status s = f->wrapped->read(f->wrapped, &size, buffer.get());
        if (s == efi::kBufferTooSmall && size > capacity) {
            capacity = size;
            buffer = Owned<uint8_t>(static_cast<uint8_t*>(xallocate(capacity)));
            continue;
        }
        if (efi::is_error(s)) {
            sp_free_file_list(&head);
            return s;
        }
        if (size == 0) break;
        if (size < efi::kFileInfoNameOffset + 2) continue;
        auto* info = reinterpret_cast<efi::FileInfo*>(buffer.get());
        Owned<char> name(fs_detail::bounded_ucs2_to_utf8(info->file_name, (size - efi::kFileInfoNameOffset) / 2));
        Owned<char> full(join_path(f->path, name.get()));
        efi::FileInfo* copy = pool_copy<efi::FileInfo>(info, size);
        if (!append_entry(head, full.get(), efi::kSuccess, nullptr, copy)) {
            sp_free_file_list(&head);
            return efi::kOutOfResources;
        }
    }
    *list = head;
    return efi::kSuccess;
}

// ---- GUID names: the protocol-name registry (names registered here searched first),
// then the variable GUID names

efi::Status EFIAPI sp_get_guid_name(const efi::Guid* guid, const efi::Char16** name) {
    if (!guid || !name) return efi::kInvalidParameter;
    const char* found = protocol_name(*guid);
    if (!found) found = guid_name(*guid);
    if (!found) return efi::kNotFound;
    char text[kGuidTextSize];
    format_guid(*guid, text);
    Owned<char> key(format_string("guid:%s", text));
    *name = cache_text(key.get(), found);
    return *name ? efi::kSuccess : efi::kOutOfResources;
}

efi::Status EFIAPI sp_get_guid_from_name(const efi::Char16* name, efi::Guid* guid) {
    if (!name || !guid) return efi::kInvalidParameter;
    Owned<char> text(narrow(name));
    if (protocol_guid(text.get(), guid)) return efi::kSuccess;
    return parse_guid(text.get(), guid) ? efi::kSuccess : efi::kNotFound;
}

efi::Status EFIAPI sp_register_guid_name(const efi::Guid* guid, const efi::Char16* name) {
    if (!guid || !name) return efi::kInvalidParameter;
    Owned<char> text(narrow(name));
    return register_protocol_name(*guid, text.get()) ? efi::kSuccess : efi::kAccessDenied;
}

// The device name the handle commands show: component names in the language asked for
// (English when none is given), else the device path text.
efi::Status EFIAPI sp_get_device_name(efi::Handle device, uint32_t flags, char* language,
                                      efi::Char16** best) {
    if (!device || !best || (flags & (kDeviceNameComponent | kDeviceNameDevicePath)) == 0)
        return efi::kInvalidParameter;
    *best = nullptr;
    Owned<char> name;
    if (flags & kDeviceNameComponent) {
        HandleSnapshot snapshot;
        if (snapshot.take()) name.reset(device_name(snapshot, device, language && *language ? language : "en"));
        // device_name falls back to the path text itself; that is only wanted when asked for.
        Owned<char> path(device_path_text(device));
        if (name && !(flags & kDeviceNameDevicePath) && equal(name.get(), path.get())) name.reset(nullptr);
    }
    if ((!name || !name.get()[0]) && (flags & kDeviceNameDevicePath)) name.reset(device_path_text(device));
    if (!name || !name.get()[0]) return efi::kNotFound;
    *best = pool_text(name.get());
    return *best ? efi::kSuccess : efi::kOutOfResources;
}

constinit efi::ShellProtocol g_protocol = {
    sp_execute, sp_get_env, sp_set_env, sp_get_alias, sp_set_alias, sp_get_help_text,
    sp_get_device_path_from_map, sp_get_map_from_device_path, sp_get_device_path_from_file_path,
    sp_get_file_path_from_device_path, sp_set_map, sp_get_cur_dir, sp_set_cur_dir, sp_open_file_list,
    sp_free_file_list, sp_remove_dup, sp_batch_is_active, sp_is_root_shell, sp_enable_page_break,
    sp_disable_page_break, sp_get_page_break, sp_get_device_name, sp_get_file_info, sp_set_file_info,
    sp_open_file_by_name, sp_close_file, sp_create_file, sp_read_file, sp_write_file, sp_delete_file,
    sp_delete_file_by_name, sp_get_file_position, sp_set_file_position, sp_flush_file, sp_find_files,
    sp_find_files_in_dir, sp_get_file_size, sp_open_root, sp_open_root_by_handle,
    nullptr, 2, 2,
    sp_register_guid_name, sp_get_guid_name, sp_get_guid_from_name, sp_get_env_ex,
};

// Firmware may call the Ctrl+'c' notification for a plain 'c' (OVMF's serial console
// does): only the character 3, or a 'c' that really comes with Control, is a break.
efi::Status EFIAPI signal_break(efi::KeyData* key) {
    if (!key) return efi::kSuccess;
    const uint32_t shift = key->key_state.key_shift_state;
    const bool control = (shift & efi::kShiftStateValid) &&
                         (shift & (efi::kLeftControlPressed | efi::kRightControlPressed));
    const char16_t c = key->key.unicode_char;
    if ((c == 3 || (control && (c == u'c' || c == u'C'))) && g_protocol.execution_break)
        boot_services()->signal_event(g_protocol.execution_break);
    return efi::kSuccess;
}

efi::SimpleTextInputEx* extended_input() {
    if (firmware().con_in_ex) return firmware().con_in_ex;
    efi::SystemTable* st = firmware().system_table;
    void* p = nullptr;
    if (!st || boot_services()->handle_protocol(st->console_in_handle, &efi::kSimpleTextInputExProtocolGuid, &p) !=
                   efi::kSuccess)
        return nullptr;
    return static_cast<efi::SimpleTextInputEx*>(p);
}

void register_break_keys() {
    efi::SimpleTextInputEx* ex = extended_input();
    if (!ex) return;
    const uint32_t shifts[kKeyNotifications] = {0, efi::kShiftStateValid | efi::kLeftControlPressed,
                                                efi::kShiftStateValid | efi::kRightControlPressed};
    for (int i = 0; i < kKeyNotifications; i++) {
        efi::KeyData key = {};
        key.key.unicode_char = i == 0 ? 3 : u'c';
        key.key_state.key_shift_state = shifts[i];
        if (ex->register_key_notify(ex, &key, signal_break, &g_shell.notifications[i]) != efi::kSuccess)
            g_shell.notifications[i] = nullptr;
    }
}

void exit_hook() { uninstall_shell_protocol(); }

}  // namespace

void install_shell_protocol() {
    auto* bs = boot_services();
    if (g_shell.installed || !bs) return;
    efi::Event event = nullptr;
    if (bs->create_event(0, efi::kTplCallback, nullptr, nullptr, &event) == efi::kSuccess) {
        g_protocol.execution_break = event;
        set_break_event(event);
    }
    register_break_keys();
    uint64_t count = 0;
    efi::Handle* handles = nullptr;
    void* old = nullptr;
    if (bs->locate_handle_buffer(efi::kByProtocol, &efi::kShellProtocolGuid, nullptr, &count, &handles) ==
            efi::kSuccess && count > 0 &&
        bs->handle_protocol(handles[0], &efi::kShellProtocolGuid, &old) == efi::kSuccess &&
        bs->reinstall_protocol_interface(handles[0], &efi::kShellProtocolGuid, old, &g_protocol) == efi::kSuccess) {
        g_shell.handle = handles[0];
        g_shell.replaced = static_cast<efi::ShellProtocol*>(old);
    } else {
        efi::Handle h = firmware().image;
        if (bs->install_protocol_interface(&h, &efi::kShellProtocolGuid, efi::kNativeInterface, &g_protocol) ==
            efi::kSuccess)
            g_shell.handle = h;
    }
    if (handles) (void)bs->free_pool(handles);
    g_shell.installed = true;
    set_exit_hook(exit_hook);
}

void uninstall_shell_protocol() {
    auto* bs = boot_services();
    if (!g_shell.installed || !bs) return;
    if (efi::SimpleTextInputEx* ex = extended_input())
        for (void*& n : g_shell.notifications)
            if (n) (void)ex->unregister_key_notify(ex, n);
    if (g_shell.handle) {
        if (g_shell.replaced)
            (void)bs->reinstall_protocol_interface(g_shell.handle, &efi::kShellProtocolGuid, &g_protocol,
                                                   g_shell.replaced);
        else
            (void)bs->uninstall_protocol_interface(g_shell.handle, &efi::kShellProtocolGuid, &g_protocol);
    }
    if (g_protocol.execution_break) {
        set_break_event(nullptr);
        (void)bs->close_event(g_protocol.execution_break);
        g_protocol.execution_break = nullptr;
    }
    for (uint64_t i = 0; i < g_shell.cache_count; i++) {
        release(g_shell.cache[i].key);
        release(g_shell.cache[i].value);
    }
    release(g_shell.cache);
    g_shell.cache = nullptr;
    g_shell.cache_count = g_shell.cache_capacity = 0;
    g_shell.installed = false;
    g_shell.handle = nullptr;
    g_shell.replaced = nullptr;
    g_shell.page_break = false;
    for (void*& n : g_shell.notifications) n = nullptr;
}

efi::ShellProtocol* shell_protocol() { return &g_protocol; }

}  // namespace tarn

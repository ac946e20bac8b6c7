#include "fs/volumes.h"

#include "fs/blocks.h"
#include "fs/files.h"
#include "fs/fs_internal.h"
#include "fs/paths.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/sort.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/guids.h"

namespace tarn {

using namespace fs_detail;

namespace {

constinit FsState g_fs{nullptr, 0, -1, nullptr, 0, nullptr, 0, 0, nullptr};

constexpr uint64_t kFsInfoFirstSize = 512;

void free_volume_table() {
    for (int i = 0; i < g_fs.volume_count; i++) {
        release(g_fs.volumes[i].label);
        release(g_fs.volumes[i].device_path_text);
    }
    release(g_fs.volumes);
    g_fs.volumes = nullptr;
    g_fs.volume_count = 0;
    g_fs.boot_index = -1;
}

// Label, sizes and read-only flag from the file system information.
void read_volume_information(Volume& v) {
    efi::FileProtocol* root = nullptr;
    if (open_root(v.handle, &root) != kOk) return;
    uint8_t* buffer = nullptr;
    uint64_t size = 0;
    ShellError err = read_info(root, efi::kFileSystemInfoGuid, kFsInfoFirstSize,
                               efi::kFileSystemInfoLabelOffset, &buffer, &size);
    root->close(root);
    if (err != kOk) return;
    auto* info = reinterpret_cast<efi::FileSystemInfo*>(buffer);
    char* label = bounded_ucs2_to_utf8(info->volume_label,
                                       (size - efi::kFileSystemInfoLabelOffset) / 2);
    release(v.label);
    v.label = label;
    v.size = info->volume_size;
    v.free = info->free_space;
    v.read_only = info->read_only != 0;
    release(buffer);
}

bool media_removable(efi::Handle handle) {
    void* iface = nullptr;
    efi::BootServices* bs = boot_services();
    if (efi::is_error(bs->handle_protocol(handle, &efi::kBlockIoProtocolGuid, &iface)) || !iface)
        return false;
    auto* io = static_cast<efi::BlockIo*>(iface);
    return io->media && io->media->removable_media;
}

efi::Handle boot_device_handle() {
    FirmwareContext& fw = firmware();
    if (fw.loaded_image) return fw.loaded_image->device_handle;
    if (!fw.boot || !fw.image) return nullptr;
    void* iface = nullptr;
    if (efi::is_error(fw.boot->handle_protocol(fw.image, &efi::kLoadedImageProtocolGuid, &iface)) ||
        !iface)
        return nullptr;
    return static_cast<efi::LoadedImage*>(iface)->device_handle;
}

void set_current(char* canonical) {
    release(g_fs.current_directory);
    g_fs.current_directory = canonical;
}

// The root of the boot volume, else of fs0, else no current directory.
void change_to_start_directory() {
    int index = g_fs.boot_index >= 0 ? g_fs.boot_index : (g_fs.volume_count > 0 ? 0 : -1);
    if (index < 0) {
        set_current(nullptr);
        return;
    }
    set_current(format_string("%s:\\", g_fs.volumes[index].name));
}

int find_extra_name(const char* name) {
    for (int i = 0; i < g_fs.extra_count; i++)
        if (equal_nocase(g_fs.extra_names[i].name, name)) return i;
    return -1;
}

void remove_extra_name_at(int i) {
    release(g_fs.extra_names[i].name);
    release(g_fs.extra_names[i].target);
    g_fs.extra_names[i] = g_fs.extra_names[g_fs.extra_count - 1];
    g_fs.extra_count--;
}

}  // namespace

FsState& fs_state() { return g_fs; }

void reset_fs_state() {
    free_volume_table();
    for (int i = 0; i < g_fs.block_count; i++) release(g_fs.blocks[i].device_path_text);
    release(g_fs.blocks);
    for (int i = 0; i < g_fs.extra_count; i++) {
        release(g_fs.extra_names[i].name);
        release(g_fs.extra_names[i].target);
    }
    release(g_fs.extra_names);
    release(g_fs.current_directory);
    g_fs = FsState{nullptr, 0, -1, nullptr, 0, nullptr, 0, 0, nullptr};
}

void initialize_volumes() {
    rescan_volumes();
    change_to_start_directory();
}

void rescan_volumes() {
    free_volume_table();
    efi::BootServices* bs = boot_services();
    if (!bs) return;
    uint64_t n = 0;
    efi::Handle* handles = nullptr;
    efi::Status st = bs->locate_handle_buffer(efi::kByProtocol, &efi::kSimpleFileSystemProtocolGuid,
                                              nullptr, &n, &handles);
    if (efi::is_error(st) || !handles || n == 0) {
        if (handles) bs->free_pool(handles);
        return;
    }
    // A table of more than a few thousand volumes would be a firmware fault; the names
    // must also fit "fs%d" in 15 characters, which any int does.
    if (n > 0x7fffffff) n = 0x7fffffff;
    Volume* table = xallocate_array<Volume>(n);
    void* text_service = device_path_text_service();
    for (uint64_t i = 0; i < n; i++) {
        table[i].handle = handles[i];
        table[i].label = xstrdup("");
        table[i].device_path_text = handle_device_path_text(handles[i], text_service);
    }
    bs->free_pool(handles);

    stable_sort(table, n, [](const Volume& a, const Volume& b) {
        return strcmp(a.device_path_text, b.device_path_text) < 0;
    });

    efi::Handle boot = boot_device_handle();
    g_fs.volumes = table;
    g_fs.volume_count = static_cast<int>(n);
    for (int i = 0; i < g_fs.volume_count; i++) {
        Volume& v = table[i];
        format_into(v.name, sizeof v.name, "fs%d", i);
        read_volume_information(v);
        v.removable = media_removable(v.handle);
        if (boot && v.handle == boot && g_fs.boot_index < 0) g_fs.boot_index = i;
    }
}

void rescan_volumes_keep_directory() {
    char* kept = g_fs.current_directory ? xstrdup(g_fs.current_directory) : nullptr;
    rescan_volumes();
    if (!kept || change_directory(kept) != kOk) change_to_start_directory();
    release(kept);
}

int volume_count() { return g_fs.volume_count; }

const Volume* volume_at(int index) {
    if (index < 0 || index >= g_fs.volume_count) return nullptr;
    return &g_fs.volumes[index];
}

efi::Handle volume_handle(int index) {
    const Volume* v = volume_at(index);
    return v ? v->handle : nullptr;
}

int boot_volume_index() { return g_fs.boot_index; }

int volume_index(const char* name, uint64_t length) {
    if (!name) return -1;
    for (int i = 0; i < g_fs.volume_count; i++) {
        const char* vn = g_fs.volumes[i].name;
        if (strlen(vn) == length && compare_nocase_n(vn, name, length) == 0) return i;
    }
    for (int i = 0; i < g_fs.extra_count; i++) {
        const ExtraName& e = g_fs.extra_names[i];
        if (strlen(e.name) != length || compare_nocase_n(e.name, name, length) != 0) continue;
        for (int k = 0; k < g_fs.volume_count; k++)
            if (equal_nocase(g_fs.volumes[k].name, e.target)) return k;
        return -1;
    }
    return -1;
}

int volume_of_handle(efi::Handle handle) {
    if (!handle) return -1;
    for (int i = 0; i < g_fs.volume_count; i++)
        if (g_fs.volumes[i].handle == handle) return i;
    return -1;
}

int volume_of_path(const char* path) {
    if (!path) return -1;
    const char* colon = strchr(path, ':');
    if (!colon) return -1;
    return volume_index(path, static_cast<uint64_t>(colon - path));
}

ShellError set_volume_label(int index, const char* label) {
    Volume* v = const_cast<Volume*>(volume_at(index));
    if (!v || !label) return kErrInvalidParameter;
    efi::FileProtocol* root = nullptr;
    ShellError err = open_root(v->handle, &root);
    if (err != kOk) return err;
    uint8_t* old_info = nullptr;
    uint64_t old_size = 0;
    err = read_info(root, efi::kFileSystemInfoGuid, kFsInfoFirstSize,
                    efi::kFileSystemInfoLabelOffset, &old_info, &old_size);
    if (err != kOk) {
        root->close(root);
        return err;
    }
    uint64_t units = 0;
    char16_t* ucs2 = utf8_to_ucs2(label, &units);
    uint64_t new_size = efi::kFileSystemInfoLabelOffset + (units + 1) * 2;
    auto* info = static_cast<efi::FileSystemInfo*>(allocate(new_size));
    if (!info) {
        release(ucs2);
        release(old_info);
        root->close(root);
        return kErrOutOfMemory;
    }
    memcpy(info, old_info, efi::kFileSystemInfoLabelOffset);
    memcpy(info->volume_label, ucs2, (units + 1) * 2);
    info->size = new_size;
    efi::Status st = root->set_info(root, &efi::kFileSystemInfoGuid, new_size, info);
    root->close(root);
    release(info);
    release(ucs2);
    release(old_info);
    if (efi::is_error(st)) return status_to_error(st);
    release(v->label);
    v->label = xstrdup(label);
    return kOk;
}

ShellError set_extra_name(const char* name, const char* target) {
    if (!name || !*name || strpbrk(name, ":\\/")) return kErrInvalidParameter;
    int existing = find_extra_name(name);
    if (existing >= 0) remove_extra_name_at(existing);
    if (!target) return kOk;
    if (volume_index(name, strlen(name)) >= 0) return kErrAlreadyExists;
    if (g_fs.extra_count == g_fs.extra_capacity) {
        int cap = g_fs.extra_capacity ? g_fs.extra_capacity * 2 : 8;
        g_fs.extra_names = static_cast<ExtraName*>(
            xresize(g_fs.extra_names, static_cast<uint64_t>(cap) * sizeof(ExtraName)));
        g_fs.extra_capacity = cap;
    }
    g_fs.extra_names[g_fs.extra_count++] = ExtraName{xstrdup(name), xstrdup(target)};
    return kOk;
}

void extra_names_of(const char* volume_name, StringBuffer& out) {
    bool first = true;
    for (int i = 0; i < g_fs.extra_count; i++) {
        if (!equal_nocase(g_fs.extra_names[i].target, volume_name)) continue;
        if (!first) append_char(out, ';');
        append_format(out, "%s:", g_fs.extra_names[i].name);
        first = false;
    }
}

int extra_name_count() { return g_fs.extra_count; }

const ExtraName* extra_name_at(int index) {
    if (index < 0 || index >= g_fs.extra_count) return nullptr;
    return &g_fs.extra_names[index];
}

const char* current_directory() { return g_fs.current_directory ? g_fs.current_directory : ""; }

ShellError change_directory(const char* path) {
    char* resolved = resolve_path(path);
    if (!resolved) return kErrNotFound;
    FileStat st{};
    ShellError err = file_stat(resolved, &st);
    if (err == kOk && !st.is_directory) err = kErrNotDirectory;
    if (err != kOk) {
        release(resolved);
        return err;
    }
    set_current(resolved);
    return kOk;
}

}  // namespace tarn

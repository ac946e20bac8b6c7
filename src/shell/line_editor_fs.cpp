// The line editor's and the history's view of the file layer: volume names and
// directory entries for completion, and the history file.
#include "fs/files.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "runtime/memory.h"
#include "shell/history.h"
#include "shell/line_editor.h"

namespace tarn {

namespace {

// Volumes first, then the extra names given to them.
uint64_t name_count() {
    int volumes = volume_count();
    int extras = extra_name_count();
    return static_cast<uint64_t>(volumes > 0 ? volumes : 0) + static_cast<uint64_t>(extras > 0 ? extras : 0);
}

const char* name_at(uint64_t index) {
    int volumes = volume_count();
    if (volumes < 0) volumes = 0;
    if (index < static_cast<uint64_t>(volumes)) {
        const Volume* v = volume_at(static_cast<int>(index));
        return v ? v->name : nullptr;
    }
    uint64_t extra = index - static_cast<uint64_t>(volumes);
    if (extra >= static_cast<uint64_t>(extra_name_count() > 0 ? extra_name_count() : 0)) return nullptr;
    const ExtraName* e = extra_name_at(static_cast<int>(extra));
    return e ? e->name : nullptr;
}

bool list_typed_directory(const char* directory, DirectoryVisitor visit, void* context) {
    char* path = resolve_path(directory ? directory : "");
    if (!path) return false;
    Directory* d = nullptr;
    ShellError err = open_directory(path, &d);
    release(path);
    if (err != kOk) return false;
    FileStat st{};
    while (next_entry(d, &st) == 1) visit(context, st.name, st.is_directory);
    close_directory(d);
    return true;
}

const char* boot_volume_name() {
    const Volume* v = volume_at(boot_volume_index());
    return v ? v->name : nullptr;
}

ShellError read_history(const char* path, char** data, uint64_t* length) {
    return read_whole_file(path, data, length);
}

ShellError append_history(const char* path, const char* bytes, uint64_t n) {
    File* file = nullptr;
    ShellError err = file_open(path, kOpenWrite | kOpenCreate | kOpenAppend, &file);
    if (err != kOk) return err;
    FileCloser closer(file);
    err = file_write_all(file, bytes, n);
    ShellError closed = closer.close();
    return err != kOk ? err : closed;
}

ShellError truncate_history(const char* path) {
    File* file = nullptr;
    ShellError err = file_open(path, kOpenWrite | kOpenCreate | kOpenTruncate, &file);
    if (err != kOk) return err;
    return file_close(file);
}

constexpr CompletionSources kFileSources = {name_count, name_at, list_typed_directory};
constexpr HistoryFileOps kHistoryFile = {boot_volume_name, read_history, append_history,
                                         truncate_history};

}  // namespace

void install_line_editor_file_sources() {
    set_completion_sources(&kFileSources);
    set_history_file_ops(&kHistoryFile);
}

}  // namespace tarn

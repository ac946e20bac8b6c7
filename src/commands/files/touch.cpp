// touch: set modification times to now, creating missing files.
#include "commands/files/file_commands.h"
#include "commands/files/file_tree.h"
#include "runtime/clock.h"
#include "runtime/output.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int touch_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"touch", touch_command, "touch [-r] FILE...",
     "Set the modification time to now (creates missing files; -r recursive)", nullptr, 0},
};


constexpr const char* kName = "touch";

bool touch_one(const char* path, bool recursive, const FileTime& now) {
    FileStat st{};
    ShellError err = file_stat(path, &st);
    if (err == kErrNotFound) {
        File* file = nullptr;
        err = file_open(path, kOpenWrite | kOpenCreate, &file);
        if (err == kOk) err = file_close(file);
        if (err != kOk) report_failure(kName, path, err);
        return err == kOk;
    }
    if (err == kOk) err = set_time(path, now);
    if (err != kOk) {
        report_failure(kName, path, err);
        return false;
    }
    if (!recursive || !st.is_directory) return true;
    PathList entries;
    err = list_entry_paths(path, entries);
    if (err != kOk) {
        report_failure(kName, path, err);
        return false;
    }
    bool ok = true;
    for (uint64_t i = 0; i < entries.count; i++) {
        if (poll_break()) return false;
        if (!touch_one(entries[i], true, now)) ok = false;
    }
    return ok;
}

}  // namespace

int touch_command(int count, char** vector) {
    uint8_t flags[1];  // -r
    int first = parse_options(count, vector, "r", flags);
    if (first < 0) return kExitUsage;
    if (first >= count) return report_usage(kName);

    efi::Time t;
    efi::Status status = clock_get_time(&t);
    if (efi::is_error(status))
        return report_error(kName, "cannot read the clock: %s", status_message(status));
    const FileTime now{t.year, t.month, t.day, t.hour, t.minute, t.second};

    int result = 0;
    for (int i = first; i < count; i++) {
        if (poll_break()) break;
        Owned<char> path(resolve_path(vector[i]));
        if (!path) {
            result = report_error(kName, "%s: invalid path", vector[i]);
            continue;
        }
        PathList paths;
        if (has_wildcard(path.get())) {
            ShellError err = expand_pattern(path.get(), paths);
            if (err != kOk) {
                result = report_failure(kName, vector[i], err);
                continue;
            }
        } else {
            paths.add(path.take());
        }
        for (uint64_t k = 0; k < paths.count; k++) {
            if (poll_break()) break;
            if (!touch_one(paths[k], flags[0] != 0, now)) result = kExitFailure;
        }
    }
    return result;
}

void register_touch_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

// rm (del), mkdir (md) and rmdir.
#include "commands/files/file_commands.h"
#include "commands/files/file_tree.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int rm_command(int count, char** vector);
int mkdir_command(int count, char** vector);
int rmdir_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"rm", rm_command, "rm [-r] [-f] [-q] PATH...",
     "Delete files (-r or -q: directories too, -f ignore missing)", nullptr, 0},
    {"del", rm_command, "del [-r] [-f] [-q] PATH...", "Delete files (same as rm)", nullptr, 0},
    {"mkdir", mkdir_command, "mkdir [-p] DIR...", "Create directories (-p also the parents)", nullptr, 0},
    {"md", mkdir_command, "md [-p] DIR...", "Create directories (same as mkdir)", nullptr, 0},
    {"rmdir", rmdir_command, "rmdir DIR...", "Remove empty directories", nullptr, 0},
};


// Creates every directory of a canonical path from the root down; existing directories
// are accepted, a file on the way is "not a directory". Returns false when it failed.
bool make_directories(const char* name, const char* path) {
    const char* colon = strchr(path, ':');
    if (!colon) return false;
    Owned<char> prefix(xstrdup(path));
    // Each backslash after the root's ends a prefix; the whole path comes last.
    for (char* p = prefix.get() + (colon - path) + 2;; p++) {
        const bool end = *p == '\0';
        if (!end && *p != '\\') continue;
        const char saved = *p;
        *p = '\0';
        ShellError err = make_directory(prefix.get());
        if (err == kErrAlreadyExists) {
            FileStat st{};
            err = file_stat(prefix.get(), &st);
            if (err == kOk && !st.is_directory) err = kErrNotDirectory;
        }
        if (err != kOk) {
            report_failure(name, prefix.get(), err);
            return false;
        }
        *p = saved;
        if (end) return true;
    }
}

}  // namespace

int rm_command(int count, char** vector) {
    const char* name = vector[0];
    uint8_t flags[3];  // -r, -f, -q
    int first = parse_options(count, vector, "rfq", flags);
    if (first < 0) return kExitUsage;
    if (first >= count) return report_usage(name);
    const bool recursive = flags[0] || flags[2];
    const bool force = flags[1] != 0;
    int result = 0;
    for (int i = first; i < count; i++) {
        if (poll_break()) break;
        PathList paths;
        if (!expand_arguments(name, i + 1, vector, i, !force, paths)) {
            result = kExitFailure;
            continue;
        }
        for (uint64_t k = 0; k < paths.count; k++) {
            if (poll_break()) break;
            if (delete_tree(name, paths[k], recursive, force) != kOk) result = kExitFailure;
        }
    }
    return result;
}

int mkdir_command(int count, char** vector) {
    const char* name = vector[0];
    uint8_t flags[1];  // -p
    int first = parse_options(count, vector, "p", flags);
    if (first < 0) return kExitUsage;
    if (first >= count) return report_usage(name);
    int result = 0;
    for (int i = first; i < count; i++) {
        Owned<char> path(resolve_path(vector[i]));
        if (!path) {
            report_error(name, "%s: invalid path or volume", vector[i]);
            result = kExitFailure;
            continue;
        }
        if (flags[0]) {
            if (!make_directories(name, path.get())) result = kExitFailure;
            continue;
        }
        ShellError err = make_directory(path.get());
        if (err != kOk) result = report_failure(name, path.get(), err);
    }
    return result;
}

int rmdir_command(int count, char** vector) {
    const char* name = "rmdir";
    int first = parse_options(count, vector, "", nullptr);
    if (first < 0) return kExitUsage;
    if (first >= count) return report_usage(name);
    int result = 0;
    for (int i = first; i < count; i++) {
        Owned<char> path(resolve_path(vector[i]));
        if (!path) {
            result = report_failure(name, vector[i], kErrNotFound);
            continue;
        }
        if (is_volume_root(path.get())) {
            result = report_error(name, "%s: cannot remove the root directory", path.get());
            continue;
        }
        FileStat st{};
        ShellError err = file_stat(path.get(), &st);
        if (err == kOk && !st.is_directory) err = kErrNotDirectory;
        if (err == kOk) err = remove_path(path.get());
        if (err != kOk) result = report_failure(name, path.get(), err);
    }
    return result;
}

void register_remove_make_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

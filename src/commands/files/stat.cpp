// stat (file details) and setsize (truncate or extend files).
#include "commands/files/file_commands.h"
#include "commands/files/file_tree.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"

namespace tarn {

int setsize_command(int count, char** vector);
int stat_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"setsize", setsize_command, "setsize SIZE FILE...",
     "Set the size of files (truncate or extend with zeros)",
     "  SIZE is decimal, or 0x.. hexadecimal; missing files are created.\n", 0},
    {"stat", stat_command, "stat PATH...", "Show file details", nullptr,
     kCommandStructuredOutput},
};

}  // namespace

int stat_command(int count, char** vector) {
    const char* name = "stat";
    if (count < 2) return report_usage(name);
    int result = 0;
    for (int i = 1; i < count; i++) {
        if (poll_break()) break;
        Owned<char> path(resolve_path(vector[i]));
        if (!path) {
            result = report_failure(name, vector[i], kErrNotFound);
            continue;
        }
        FileStat st{};
        ShellError err = file_stat(path.get(), &st);
        if (err != kOk) {
            result = report_failure(name, path.get(), err);
            continue;
        }
        if (data_mode()) {
            file_stat_record(path.get(), st);
            continue;
        }
        out_printf("path:     %s\n", path.get());
        out_printf("type:     %s\n", st.is_directory ? "directory" : "file");
        if (!st.is_directory)
            out_printf("size:     %llu\n", static_cast<unsigned long long>(st.size));
        const FileTime& t = st.modified;
        out_printf("modified: %04d-%02d-%02d %02d:%02d:%02d\n", t.year, t.month, t.day, t.hour,
                   t.minute, t.second);
        out_printf("attrs:   %s%s%s%s\n", (st.attributes & efi::kFileReadOnly) ? " readonly" : "",
                   (st.attributes & efi::kFileHidden) ? " hidden" : "",
                   (st.attributes & efi::kFileSystem) ? " system" : "",
                   (st.attributes & efi::kFileArchive) ? " archive" : "");
    }
    return result;
}

int setsize_command(int count, char** vector) {
    const char* name = vector[0];
    if (count < 3) return report_usage(name);
    int64_t size = 0;
    if (!parse_integer(vector[1], &size) || size < 0) return report_usage(name);
    int result = 0;
    for (int i = 2; i < count; i++) {
        if (poll_break()) break;
        Owned<char> path(resolve_path(vector[i]));
        if (!path) {
            result = report_failure(name, vector[i], kErrNotFound);
            continue;
        }
        FileStat st{};
        ShellError err = file_stat(path.get(), &st);
        bool created = false;
        if (err == kErrNotFound) {
            File* file = nullptr;
            err = file_open(path.get(), kOpenWrite | kOpenCreate, &file);
            if (err == kOk) {
                created = true;
                err = file_close(file);
            }
        }
        if (err == kOk) err = set_size(path.get(), static_cast<uint64_t>(size));
        if (err != kOk) {
            // A file made only to be sized does not stay behind when the size failed.
            if (created) (void)remove_path(path.get());
            result = report_failure(name, path.get(), err);
        }
    }
    return result;
}

void register_stat_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

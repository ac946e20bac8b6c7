// cp and mv.
#include "commands/files/file_commands.h"
#include "commands/files/file_tree.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int cp_command(int count, char** vector);
int mv_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"cp", cp_command, "cp [-r] [-q] SRC... DST", "Copy files (-r directories too)",
     "  Into DST when it is a directory, else to DST itself (one source only). Existing\n"
     "  files are overwritten; directories copied with -r are merged into existing ones.\n",
     0},
    {"mv", mv_command, "mv SRC... DST", "Move or rename files and directories",
     "  Into DST when it is a directory. A file at the target is replaced only when the\n"
     "  move succeeded. Between volumes the source is copied, then deleted.\n",
     0},
};


// Backup names tried for a file in the way: "%s.mv0" to "%s.mv999".
constexpr int kBackupNames = 1000;

// Sources and destination of cp or mv: every source expanded strictly (each failing
// argument reported, the others kept) and the destination resolved.
struct Transfer {
    PathList sources;
    Owned<char> destination;
    bool into_directory = false;
    int result = 0;
};

// Returns false when nothing can be done (the failure was reported; result says how).
bool prepare_transfer(const char* name, int first, int count, char** vector, Transfer& t) {
    const char* typed = vector[count - 1];
    t.destination.reset(resolve_path(typed));
    if (!t.destination) {
        report_error(name, "%s: invalid path or volume", typed);
        t.result = kExitFailure;
        return false;
    }
    // "nodir\" names a directory: without one there, nothing is created under that name.
    if (check_directory_destination(typed, t.destination.get()) != kOk) {
        report_error(name, "%s: not a directory", t.destination.get());
        t.result = kExitFailure;
        return false;
    }
    for (int i = first; i < count - 1; i++) {
        PathList one;
        if (!expand_arguments(name, i + 1, vector, i, true, one)) {
            t.result = kExitFailure;
            continue;
        }
        for (uint64_t k = 0; k < one.count; k++) {
            t.sources.add(one.items[k]);
            one.items[k] = nullptr;
        }
    }
    // One source named again in other letter case is renamed, even a directory: the
    // destination found is the source itself, not a directory to move it into.
    const bool case_rename = t.sources.count == 1 && !equal(t.sources[0], t.destination.get()) &&
                             equal_nocase(t.sources[0], t.destination.get());
    FileStat st{};
    t.into_directory =
        !case_rename && file_stat(t.destination.get(), &st) == kOk && st.is_directory;
    if (!t.into_directory && t.sources.count > 1) {
        report_error(name, "%s: not a directory", t.destination.get());
        t.result = kExitFailure;
        return false;
    }
    return true;
}

char* target_for(const Transfer& t, const char* source) {
    return t.into_directory ? target_in_directory(t.destination.get(), source)
                            : xstrdup(t.destination.get());
}

// Moves one source to target; every failure is reported. Returns false when it failed.
bool move_one(const char* name, const char* source, const char* target) {
    if (is_volume_root(source)) {
        report_error(name, "%s: cannot move the root directory", source);
        return false;
    }
    if (equal(source, target)) {
        report_error(name, "%s: source and destination are the same file", source);
        return false;
    }
    const bool case_change = equal_nocase(source, target);
    if (!case_change && is_same_or_inside(source, target)) {
        report_error(name, "cannot move %s into itself", source);
        return false;
    }

    // A file already at the target is renamed out of the way, and only deleted once the
    // move has succeeded.
    Owned<char> backup;
    FileStat st{};
    if (!case_change && file_stat(target, &st) == kOk) {
        if (st.is_directory) {
            report_error(name, "%s already exists", target);
            return false;
        }
        for (int n = 0; n < kBackupNames && !backup; n++) {
            Owned<char> candidate(format_string("%s.mv%d", target, n));
            FileStat taken{};
            if (file_stat(candidate.get(), &taken) != kOk) backup = move(candidate);
        }
        if (!backup) {
            report_failure(name, target, kErrAlreadyExists);
            return false;
        }
        ShellError err = rename_path(target, backup.get());
        if (err != kOk) {
            report_failure(name, target, err);
            return false;
        }
    }

    bool moved = false;
    bool ok = false;
    ShellError err = rename_path(source, target);
    if (err == kOk) {
        moved = ok = true;
    } else if (err == kErrNotSupported) {
        // Another volume: copy, then delete the source only after a complete copy.
        if (copy_tree(name, source, target, true) == kOk) {
            moved = true;
            ok = delete_tree(name, source, true, false) == kOk;
        } else {
            (void)delete_tree(name, target, true, true);
        }
    } else {
        report_failure(name, source, err);
    }

    if (backup) {
        if (moved) {
            ShellError e = remove_path(backup.get());
            if (e != kOk) {
                report_failure(name, backup.get(), e);
                ok = false;
            }
        } else {
            FileStat now{};
            if (file_stat(target, &now) == kOk || rename_path(backup.get(), target) != kOk)
                report_error(name, "the old %s is kept as %s", target, backup.get());
        }
    }
    return ok;
}

}  // namespace

int cp_command(int count, char** vector) {
    const char* name = "cp";
    uint8_t flags[2];  // -r, -q (accepted, does nothing)
    int first = parse_options(count, vector, "rq", flags);
    if (first < 0) return kExitUsage;
    if (count - first < 2) return report_usage(name);
    Transfer t;
    if (!prepare_transfer(name, first, count, vector, t)) return t.result;
    for (uint64_t i = 0; i < t.sources.count; i++) {
        if (poll_break()) break;
        Owned<char> target(target_for(t, t.sources[i]));
        if (copy_tree(name, t.sources[i], target.get(), flags[0] != 0) != kOk)
            t.result = kExitFailure;
    }
    return t.result;
}

int mv_command(int count, char** vector) {
    const char* name = "mv";
    int first = parse_options(count, vector, "", nullptr);
    if (first < 0) return kExitUsage;
    if (count - first < 2) return report_usage(name);
    Transfer t;
    if (!prepare_transfer(name, first, count, vector, t)) return t.result;
    for (uint64_t i = 0; i < t.sources.count; i++) {
        if (poll_break()) break;
        Owned<char> target(target_for(t, t.sources[i]));
        if (!move_one(name, t.sources[i], target.get())) t.result = kExitFailure;
    }
    return t.result;
}

void register_copy_move_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

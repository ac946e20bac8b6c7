// attrib: show or change the archive, system, hidden and read-only attributes.
#include "commands/files/file_commands.h"
#include "commands/files/file_tree.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int attrib_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"attrib", attrib_command, "attrib [+a|-a] [+s|-s] [+h|-h] [+r|-r] [FILE | DIR | PATTERN...]",
     "Show or change file attributes (archive, system, hidden, read-only)",
     "  Without a change, a directory lists the attributes of its entries; without a path,\n"
     "  the entries of the current directory.\n",
     0},
};


constexpr const char* kName = "attrib";
constexpr uint64_t kChangeable = efi::kFileArchive | efi::kFileSystem | efi::kFileHidden |
                                 efi::kFileReadOnly;

uint64_t attribute_bit(char letter) {
    switch (to_lower(static_cast<unsigned char>(letter))) {
        case 'a': return efi::kFileArchive;
        case 's': return efi::kFileSystem;
        case 'h': return efi::kFileHidden;
        case 'r': return efi::kFileReadOnly;
        default: return 0;
    }
}

struct Change {
    uint64_t set;
    uint64_t clear;
    bool any() const { return (set | clear) != 0; }
};

// Shows (after changing, when asked) one entry. Returns false when it failed.
bool attrib_one(const char* path, const Change& change) {
    FileStat st{};
    if (file_stat(path, &st) != kOk) {
        report_error(kName, "%s: not found", path);
        return false;
    }
    uint64_t bits = st.attributes;
    if (change.any()) {
        bits = ((bits & ~change.clear) | change.set) & (kChangeable | efi::kFileDirectory);
        ShellError err = set_attributes(path, bits & kChangeable);
        if (err != kOk) {
            report_failure(kName, path, err);
            return false;
        }
    }
    char text[6] = {
        st.is_directory ? 'D' : ' ',
        (bits & efi::kFileArchive) ? 'A' : ' ',
        (bits & efi::kFileSystem) ? 'S' : ' ',
        (bits & efi::kFileHidden) ? 'H' : ' ',
        (bits & efi::kFileReadOnly) ? 'R' : ' ',
        0,
    };
    out_printf("%s  %s\n", text, path);
    return true;
}

// The entries one argument stands for: a pattern's matches, a directory's entries when
// nothing changes, else the path itself. Returns false when it failed (reported).
bool expand_one(const char* typed, const char* path, const Change& change, bool reported_empty,
                PathList& out) {
    if (has_wildcard(path)) {
        ShellError err = expand_pattern(path, out);
        if (err != kOk) {
            report_failure(kName, typed, err);
            return false;
        }
        if (out.count == 0 && reported_empty) {
            report_error(kName, "%s: no match", typed);
            return false;
        }
        return true;
    }
    FileStat st{};
    if (!change.any() && file_stat(path, &st) == kOk && st.is_directory) {
        Owned<char> all(join_path(path, "*"));
        ShellError err = expand_pattern(all.get(), out);
        if (err != kOk) {
            report_failure(kName, typed, err);
            return false;
        }
        return true;
    }
    out.add(xstrdup(path));
    return true;
}

// -a, -s, -h and -r clear an attribute; +a, +s, +h and +r (operands to the parser) set it.
struct ClearSwitches {
    bool archive = false, system = false, hidden = false, read_only = false;
};

constexpr Option<ClearSwitches> kAttribOptions[] = {
    switch_option("a", &ClearSwitches::archive, kOptionAnyCase),
    switch_option("s", &ClearSwitches::system, kOptionAnyCase),
    switch_option("h", &ClearSwitches::hidden, kOptionAnyCase),
    switch_option("r", &ClearSwitches::read_only, kOptionAnyCase),
};

}  // namespace

int attrib_command(int count, char** vector) {
    ClearSwitches clear;
    const int first = parse_options(count, vector, kAttribOptions, kOptionsNameWord, &clear);
    if (first < 0) return kExitUsage;
    Change change{0, 0};
    if (clear.archive) change.clear |= efi::kFileArchive;
    if (clear.system) change.clear |= efi::kFileSystem;
    if (clear.hidden) change.clear |= efi::kFileHidden;
    if (clear.read_only) change.clear |= efi::kFileReadOnly;
    Vector<const char*> paths;
    for (int i = first; i < count; i++) {
        const char* arg = vector[i];
        if (arg[0] == '+' && arg[1] && !arg[2] && attribute_bit(arg[1])) change.set |= attribute_bit(arg[1]);
        else paths.push(arg);
    }
    // With no path, everything in the current directory; an empty directory is no error.
    const bool default_pattern = paths.empty();
    if (default_pattern) paths.push("*");

    int result = 0;
    for (const char* typed : paths) {
        if (poll_break()) break;
        Owned<char> path(resolve_path(typed));
        if (!path) {
            result = report_error(kName, "%s: invalid path", typed);
            continue;
        }
        PathList entries;
        if (!expand_one(typed, path.get(), change, !default_pattern, entries)) {
            result = kExitFailure;
            continue;
        }
        for (uint64_t k = 0; k < entries.count; k++) {
            if (poll_break()) break;
            if (!attrib_one(entries[k], change)) result = kExitFailure;
        }
    }
    return result;
}

void register_attrib_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

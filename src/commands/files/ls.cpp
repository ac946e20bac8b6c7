// ls and dir: directory listings, short (columns), long (dir) or as -data records.
#include "commands/files/file_commands.h"
#include "commands/files/file_tree.h"
#include "runtime/console.h"
#include "runtime/output.h"
#include "runtime/sort.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int ls_command(int count, char** vector);
int dir_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"ls", ls_command, "ls [-l] [-r] [-a[ashrd]] [PATH | PATTERN...]", "List files and directories",
     "  -l         long form: date, attributes, size and name, then a total\n"
     "  -r         every subdirectory too\n"
     "  -a         hidden and system entries too\n"
     "  -aLETTERS  only entries with all of these attributes: a archive, s system,\n"
     "             h hidden, r read-only, d directory (for example -ahs)\n"
     "  A pattern (* and ? in the last part) lists the matching entries.\n",
     kCommandStructuredOutput},
    {"dir", dir_command, "dir [-r] [-a[ashrd]] [PATH | PATTERN...]",
     "List files with details (same as ls -l)", nullptr, kCommandStructuredOutput},
};


// Path and listing errors always carry this name, whichever of ls or dir was typed.
constexpr const char* kName = "ls";

struct ListOptions {
    bool long_form;
    bool recurse;
    bool show_all;        // -a alone, or a pattern: hidden and system entries too
    bool has_selection;   // -a with letters: only entries with all of them
    uint64_t select_bits;
    bool select_directory;
};

struct ListEntry {
    char* name;
    uint64_t size;
    uint64_t attributes;
    bool is_directory;
    FileTime modified;
};

// Entries of one directory; frees their names.
struct EntryList {
    Vector<ListEntry> rows;
    EntryList() = default;
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;
    ~EntryList() {
        for (ListEntry& e : rows) release(e.name);
    }
};

// What the listing of all arguments shares.
struct ListState {
    bool headings;      // several arguments or -r: "%s:" before each directory
    bool printed;       // something was printed (the next heading gets a blank line)
    int result;
};

FileStat stat_of(const ListEntry& e) {
    FileStat st{};
    st.name = e.name;
    st.size = e.size;
    st.attributes = e.attributes;
    st.is_directory = e.is_directory;
    st.modified = e.modified;
    return st;
}

bool keep_entry(const FileStat& st, const char* pattern, const ListOptions& o) {
    if (pattern) {
        if (!wildcard_match(pattern, st.name, true)) return false;
        // "*" shows names starting with "."; other patterns only when they start with one.
        if (st.name[0] == '.' && pattern[0] != '.' && !equal(pattern, "*")) return false;
    }
    if (o.has_selection) {
        if ((st.attributes & o.select_bits) != o.select_bits) return false;
        if (o.select_directory && !st.is_directory) return false;
        return true;
    }
    if (!o.show_all && (st.attributes & (efi::kFileHidden | efi::kFileSystem))) return false;
    return true;
}

void attribute_text(const FileStat& st, char out[6]) {
    out[0] = st.is_directory ? 'd' : '-';
    out[1] = (st.attributes & efi::kFileReadOnly) ? 'r' : '-';
    out[2] = (st.attributes & efi::kFileHidden) ? 'h' : '-';
    out[3] = (st.attributes & efi::kFileSystem) ? 's' : '-';
    out[4] = (st.attributes & efi::kFileArchive) ? 'a' : '-';
    out[5] = 0;
}

void long_line(const FileStat& st, const char* name) {
    char attrs[6];
    attribute_text(st, attrs);
    const FileTime& t = st.modified;
    out_printf("%04d-%02d-%02d %02d:%02d  %s  ", t.year, t.month, t.day, t.hour, t.minute, attrs);
    if (st.is_directory)
        out_printf("%12s  ", "<DIR>");
    else
        out_printf("%12llu  ", static_cast<unsigned long long>(st.size));
    show_entry_name(name, st.is_directory);
    out_text("\n");
}

void print_long(const EntryList& list) {
    int files = 0, dirs = 0;
    uint64_t bytes = 0;
    for (const ListEntry& e : list.rows) {
        if (poll_break()) break;
        long_line(stat_of(e), e.name);
        if (e.is_directory) {
            dirs++;
        } else {
            files++;
            if (add_overflows(bytes, e.size, &bytes)) bytes = UINT64_MAX;
        }
    }
    out_printf("%d file%s, %d dir%s, %llu bytes\n", files, files == 1 ? "" : "s", dirs,
               dirs == 1 ? "" : "s", static_cast<unsigned long long>(bytes));
}

void print_short(const EntryList& list) {
    const uint64_t n = list.rows.size();
    if (n == 0) return;
    if (is_redirected()) {
        for (const ListEntry& e : list.rows) {
            if (poll_break()) return;
            show_entry_name(e.name, e.is_directory);
            out_text("\n");
        }
        return;
    }
    uint64_t width = 1;
    for (const ListEntry& e : list.rows)
        width = max_of(width, shown_name_width(e.name, e.is_directory) + 2);
    uint64_t screen_columns = 80, screen_rows = 25;
    console_size(&screen_columns, &screen_rows);
    uint64_t columns = screen_columns > 1 ? (screen_columns - 1) / width : 0;
    if (columns < 1) columns = 1;
    uint64_t rows = (n + columns - 1) / columns;
    for (uint64_t r = 0; r < rows; r++) {
        if (poll_break()) return;
        for (uint64_t c = 0; c < columns; c++) {
            uint64_t i = c * rows + r;
            if (i >= n) break;
            const ListEntry& e = list.rows[i];
            show_entry_name(e.name, e.is_directory);
            if (c + 1 < columns && (c + 1) * rows + r < n) {
                for (uint64_t w = shown_name_width(e.name, e.is_directory); w < width; w++)
                    out_text(" ");
            }
        }
        out_text("\n");
    }
}

void print_records(const char* directory, const EntryList& list) {
    for (const ListEntry& e : list.rows) {
        if (poll_break()) return;
        Owned<char> path(join_path(directory, e.name));
        file_stat_record(path.get(), stat_of(e));
    }
}

void heading(const char* directory, ListState& state) {
    if (data_mode() || !state.headings) return;
    if (state.printed) out_text("\n");
    out_printf("%s:\n", directory);
}

// Lists one directory; its subdirectories (all of them, whatever the filter) go to
// `subdirectories` when recursing.
void list_directory(const char* directory, const char* pattern, const ListOptions& o,
                    ListState& state, PathList& subdirectories) {
    Directory* d = nullptr;
    ShellError err = open_directory(directory, &d);
    if (err != kOk) {
        report_failure(kName, directory, err);
        state.result = kExitFailure;
        return;
    }
    EntryList list;
    FileStat st{};
    int r;
    while ((r = next_entry(d, &st)) == 1) {
        if (poll_break()) break;
        if (o.recurse && st.is_directory) subdirectories.add(join_path(directory, st.name));
        if (!keep_entry(st, pattern, o)) continue;
        list.rows.push(ListEntry{xstrdup(st.name), st.size, st.attributes, st.is_directory,
                                 st.modified});
    }
    close_directory(d);
    if (r < 0) {
        report_failure(kName, directory, r);
        state.result = kExitFailure;
    }
    stable_sort(list.rows.data(), list.rows.size(), [](const ListEntry& a, const ListEntry& b) {
        if (a.is_directory != b.is_directory) return a.is_directory;
        return compare_nocase(a.name, b.name) < 0;
    });
    sort_paths(subdirectories.items, subdirectories.count);

    heading(directory, state);
    if (data_mode())
        print_records(directory, list);
    else if (o.long_form)
        print_long(list);
    else
        print_short(list);
    if (!data_mode() && (o.long_form || list.rows.size() > 0 || state.headings)) state.printed = true;
}

// A directory and, with -r, every directory below it, each after its parent, in order.
void list_tree(const char* directory, const char* pattern, const ListOptions& o,
               ListState& state) {
    // Pending directories, the next one last.
    PathList pending;
    pending.add(xstrdup(directory));
    while (pending.count > 0) {
        if (poll_break()) return;
        Owned<char> current(pending.items[--pending.count]);
        PathList subdirectories;
        list_directory(current.get(), pattern, o, state, subdirectories);
        for (uint64_t i = subdirectories.count; i > 0; i--) {
            pending.add(subdirectories.items[i - 1]);
            subdirectories.items[i - 1] = nullptr;
        }
    }
}

void list_argument(const char* typed, const ListOptions& o, ListState& state) {
    Owned<char> path(resolve_path(typed));
    if (!path) {
        report_error(kName, "%s: invalid path or volume", typed);
        state.result = kExitFailure;
        return;
    }
    if (has_wildcard(path.get())) {
        Owned<char> directory(directory_part(path.get()));
        ListOptions with_pattern = o;
        with_pattern.show_all = true;
        list_tree(directory.get(), base_name(path.get()), with_pattern, state);
        return;
    }
    FileStat st{};
    ShellError err = file_stat(path.get(), &st);
    if (err != kOk) {
        report_failure(kName, path.get(), err);
        state.result = kExitFailure;
        return;
    }
    if (st.is_directory) {
        list_tree(path.get(), nullptr, o, state);
        return;
    }
    if (data_mode()) {
        file_stat_record(path.get(), st);
    } else if (o.long_form) {
        long_line(st, base_name(path.get()));
    } else {
        show_entry_name(base_name(path.get()), false);
        out_text("\n");
    }
    state.printed = true;
}

// What the command line asks for, before -a's letters are read.
struct ListSwitches {
    bool long_form = false;
    bool recurse = false;
    const char* attributes = nullptr;  // "" for -a alone, else the letters after it
};

constexpr Option<ListSwitches> kListOptions[] = {
    switch_option("l", &ListSwitches::long_form),
    switch_option("r", &ListSwitches::recurse),
    ignored_option<ListSwitches>("b"),  // paging belongs to the output channel
    value_option("a", &ListSwitches::attributes, kOptionAnyCase | kOptionAttachedValue),
};

// Reads the options; returns 0, or the exit code of a usage error. The operands stay in
// vector[*first..count).
int parse_list_options(int count, char** vector, ListOptions& o, int* first) {
    const char* name = vector[0];
    ListSwitches s;
    *first = parse_options(count, vector, kListOptions, kOptionsClusters | kOptionsNameWord, &s);
    if (*first < 0) return kExitUsage;
    o.long_form = o.long_form || s.long_form;
    o.recurse = s.recurse;
    if (!s.attributes) return 0;
    if (!*s.attributes) {
        o.show_all = true;
        return 0;
    }
    for (const char* q = s.attributes; *q; q++) {
        switch (to_lower(static_cast<unsigned char>(*q))) {
            case 'r': o.select_bits |= efi::kFileReadOnly; break;
            case 'h': o.select_bits |= efi::kFileHidden; break;
            case 's': o.select_bits |= efi::kFileSystem; break;
            case 'a': o.select_bits |= efi::kFileArchive; break;
            case 'd': o.select_directory = true; break;
            default:
                report_error(name, "unknown attribute '%c' in -a%s (a, s, h, r, d)", *q, s.attributes);
                return kExitUsage;
        }
    }
    o.has_selection = true;
    return 0;
}

int list_command(int count, char** vector, bool long_form) {
    ListOptions o{};
    o.long_form = long_form;
    int first = 0;
    int code = parse_list_options(count, vector, o, &first);
    if (code != 0) return code;
    ListState state{};
    state.headings = count - first > 1 || o.recurse;
    if (first == count) {
        list_argument(".", o, state);
    } else {
        for (int i = first; i < count; i++) {
            if (poll_break()) break;
            list_argument(vector[i], o, state);
        }
    }
    return state.result;
}

}  // namespace

int ls_command(int count, char** vector) { return list_command(count, vector, false); }

int dir_command(int count, char** vector) { return list_command(count, vector, true); }

void register_ls_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

#include "fs/paths.h"

#include "fs/files.h"
#include "fs/fs_internal.h"
#include "fs/volumes.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/sort.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

inline bool is_separator(char c) { return c == '\\' || c == '/'; }

struct Span {
    const char* start;
    uint64_t length;
};

// Splits text on runs of separators into the component stack: "." is dropped, ".."
// drops the last kept component (nothing at the root), anything else is kept as typed.
void push_components(const char* text, Vector<Span>& stack) {
    const char* p = text;
    while (*p) {
        while (is_separator(*p)) p++;
        if (!*p) break;
        const char* start = p;
        while (*p && !is_separator(*p)) p++;
        uint64_t length = static_cast<uint64_t>(p - start);
        if (length == 1 && start[0] == '.') continue;
        if (length == 2 && start[0] == '.' && start[1] == '.') {
            if (!stack.empty()) stack.pop();
            continue;
        }
        stack.push(Span{start, length});
    }
}

}  // namespace

void PathList::add(char* path) {
    if (count == capacity) {
        uint64_t cap = capacity ? capacity * 2 : 16;
        items = static_cast<char**>(xresize(items, cap * sizeof(char*)));
        capacity = cap;
    }
    items[count++] = path;
}

void PathList::clear() {
    for (uint64_t i = 0; i < count; i++) release(items[i]);
    release(items);
    items = nullptr;
    count = capacity = 0;
}

char* resolve_path(const char* text) {
    if (!text) return nullptr;
    const char* colon = strchr(text, ':');
    uint64_t first_separator = strcspn(text, "\\/");
    int volume;
    const char* prefix = nullptr;  // components taken before the text's own
    const char* rest;
    if (colon && static_cast<uint64_t>(colon - text) < first_separator) {
        volume = volume_index(text, static_cast<uint64_t>(colon - text));
        if (volume < 0) return nullptr;
        rest = colon + 1;
    } else {
        const char* cwd = current_directory();
        const char* cwd_colon = strchr(cwd, ':');
        if (!*cwd || !cwd_colon) return nullptr;
        volume = volume_index(cwd, static_cast<uint64_t>(cwd_colon - cwd));
        if (volume < 0) return nullptr;
        if (!is_separator(text[0])) prefix = cwd_colon + 1;
        rest = text;
    }
    Vector<Span> stack;
    if (prefix) push_components(prefix, stack);
    push_components(rest, stack);

    StringBuffer out;
    append_text(out, volume_at(volume)->name);
    append_char(out, ':');
    if (stack.empty()) append_char(out, '\\');
    for (const Span& s : stack) {
        append_char(out, '\\');
        append_bytes(out, s.start, s.length);
    }
    return take(out);
}

const char* base_name(const char* path) {
    const char* after = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == ':') after = p + 1;
    return after;
}

char* directory_part(const char* path) {
    const char* last = strrchr(path, '\\');
    if (!last) return xstrdup(path);
    uint64_t length = static_cast<uint64_t>(last - path);
    if (last > path && last[-1] == ':') length++;
    return xstrndup(path, length);
}

char* join_path(const char* dir, const char* name) {
    uint64_t n = strlen(dir);
    if (n > 0 && dir[n - 1] == '\\') return format_string("%s%s", dir, name);
    return format_string("%s\\%s", dir, name);
}

bool has_wildcard(const char* text) { return text && strpbrk(text, "*?") != nullptr; }

bool names_directory(const char* typed) {
    uint64_t n = typed ? strlen(typed) : 0;
    if (n < 2 || (typed[n - 1] != '\\' && typed[n - 1] != '/')) return false;
    return typed[n - 2] != ':';  // "fs0:\" is the root, a directory whatever happens
}

ShellError check_directory_destination(const char* typed, const char* canonical) {
    if (!names_directory(typed)) return kOk;
    FileStat st{};
    if (file_stat(canonical, &st) == kOk && st.is_directory) return kOk;
    return kErrNotDirectory;
}

ShellError check_output_file_target(const char* typed, const char* canonical) {
    if (!names_directory(typed)) return kOk;
    return check_directory_destination(typed, canonical) == kOk ? kErrIsDirectory : kErrNotDirectory;
}

void sort_paths(char** paths, uint64_t count) {
    stable_sort(paths, count, [](const char* a, const char* b) { return compare_nocase(a, b) < 0; });
}

int expand_pattern(const char* path, PathList& out) {
    char* dir = directory_part(path);
    const char* pattern = base_name(path);
    Directory* d = nullptr;
    if (open_directory(dir, &d) != kOk) {
        release(dir);
        return kOk;
    }
    bool star = equal(pattern, "*");
    bool dotted_pattern = pattern[0] == '.';
    FileStat st{};
    int r;
    while ((r = next_entry(d, &st)) == 1) {
        if (!wildcard_match(pattern, st.name, true)) continue;
        if (st.name[0] == '.' && !dotted_pattern && !star) continue;
        out.add(join_path(dir, st.name));
    }
    close_directory(d);
    release(dir);
    sort_paths(out.items, out.count);
    return r == kErrOutOfMemory ? kErrOutOfMemory : kOk;
}

bool expand_arguments(const char* command, int count, char** args, int first, bool strict,
                      PathList& out) {
    out.clear();
    for (int i = first < 0 ? 0 : first; i < count; i++) {
        const char* arg = args[i];
        char* resolved = resolve_path(arg);
        if (!resolved) {
            report_error(command, "%s: invalid path or volume", arg);
            out.clear();
            return false;
        }
        if (has_wildcard(resolved)) {
            PathList matches;
            int err = expand_pattern(resolved, matches);
            release(resolved);
            if (err != kOk) {
                report_failure(command, arg, err);
                out.clear();
                return false;
            }
            if (matches.count == 0) {
                if (!strict) continue;
                report_error(command, "%s: no match", arg);
                out.clear();
                return false;
            }
            for (uint64_t k = 0; k < matches.count; k++) {
                out.add(matches.items[k]);
                matches.items[k] = nullptr;
            }
            continue;
        }
        if (strict) {
            FileStat st{};
            if (file_stat(resolved, &st) != kOk) {
                release(resolved);
                report_error(command, "%s: not found", arg);
                out.clear();
                return false;
            }
        }
        out.add(resolved);
    }
    return true;
}

}  // namespace tarn

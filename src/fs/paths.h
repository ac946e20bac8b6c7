// Canonical paths ("fs0:\efi\boot"; a root is "fs0:\"), resolution of typed paths,
// and wildcard expansion.
#pragma once
#include "runtime/errors.h"
#include "runtime/util.h"

namespace tarn {

// A list of newly allocated paths that frees them all when it goes out of scope.
struct PathList {
    char** items = nullptr;
    uint64_t count = 0;
    uint64_t capacity = 0;

    PathList() = default;
    PathList(const PathList&) = delete;
    PathList& operator=(const PathList&) = delete;
    PathList(PathList&& o) : items(o.items), count(o.count), capacity(o.capacity) {
        o.items = nullptr;
        o.count = o.capacity = 0;
    }
    ~PathList() { clear(); }
    // Takes ownership of `path` (from xallocate and friends).
    void add(char* path);
    void clear();
    const char* operator[](uint64_t i) const { return items[i]; }
};

// The canonical form of what the user typed, newly allocated; null when the volume
// reference names nothing, or a relative path has no (existing) current directory.
char* resolve_path(const char* text);

// The text after the last backslash or colon, whichever is later (a pointer into path);
// the whole text when neither occurs.
const char* base_name(const char* path);
// Newly allocated: the text before the last backslash, keeping that backslash when it
// directly follows the volume's colon; the whole text when it holds no backslash.
char* directory_part(const char* path);
// Newly allocated: "%s%s" when dir ends with a backslash, else "%s\%s".
char* join_path(const char* dir, const char* name);
bool has_wildcard(const char* text);
// Whether typed text ends in a separator ('\' or '/') after something other than a volume
// name, so that it can only mean a directory ("nodir\", "fs0:\a\", not "fs0:\").
bool names_directory(const char* typed);
// For a destination typed as a directory: kOk when the canonical path is an existing
// directory or was not typed as one; kErrNotDirectory otherwise.
[[nodiscard]] ShellError check_directory_destination(const char* typed, const char* canonical);
// For an output file typed as a directory: kErrIsDirectory when it exists,
// kErrNotDirectory when it does not; kOk when it was not typed as a directory.
[[nodiscard]] ShellError check_output_file_target(const char* typed, const char* canonical);

// Sorts paths ASCII case-insensitively (stable).
void sort_paths(char** paths, uint64_t count);

// Every entry of the path's directory whose name matches its last component, as sorted
// canonical paths. "*" includes names starting with "."; other patterns include them
// only when the pattern itself starts with ".". A directory that cannot be opened
// gives an empty list. Returns 0, or -11 when memory ran out while listing.
int expand_pattern(const char* path, PathList& out);

// Resolves and expands args[first..count-1] for a command (see the file layer's rules):
// "%s: invalid path or volume", "%s: no match" (strict) and "%s: not found" (strict) are
// reported under the command's name. Returns false on failure, with `out` emptied.
bool expand_arguments(const char* command, int count, char** args, int first, bool strict,
                      PathList& out);

}  // namespace tarn

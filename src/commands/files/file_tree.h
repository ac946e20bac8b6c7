// Helpers shared by the file management commands: whole-tree copy and delete, the
// "inside itself" rule, volume roots, the listing colours and size texts.
#pragma once
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/memory.h"

namespace tarn {

// Whether a canonical path is the root of its volume ("fs0:\").
bool is_volume_root(const char* path);
// Whether target equals source or lies inside it: target begins with the source text,
// ignoring case, followed by the end of the text or a backslash (or the source itself
// ends with a backslash, as a root does).
bool is_same_or_inside(const char* source, const char* target);
// The full path of every entry of a directory, all read before the caller changes any.
[[nodiscard]] ShellError list_entry_paths(const char* directory, PathList& out);
// Where a source goes when the destination is an existing directory: DST\base name,
// or DST itself for a volume root (its contents are merged). Newly allocated.
char* target_in_directory(const char* destination, const char* source);

// Copies one file, or with `recursive` one directory tree, to target (directories are
// merged into an existing one). Every failure is reported under the command's name; a
// failed file copy leaves no partial target. Returns 0, the first error, or -15 (aborted)
// after Ctrl-C.
[[nodiscard]] ShellError copy_tree(const char* command, const char* source, const char* target,
                                   bool recursive);

// Deletes one path; with `recursive` a directory with its contents (a directory whose
// contents could not all be deleted stays). A volume root is refused before anything
// else. With `force` a missing path is not an error. Failures are reported under the
// command's name; returns 0 or the first error.
[[nodiscard]] ShellError delete_tree(const char* command, const char* path, bool recursive,
                                     bool force);

// Prints an entry's name in the listing colours: a directory light blue followed by a
// backslash in the normal colours, a .efi or .tsb program light green.
void show_entry_name(const char* name, bool is_directory);
// Columns the shown name takes (code points, plus the directory's backslash).
uint64_t shown_name_width(const char* name, bool is_directory);

// A byte count as "%lluB" up to 1023, else with one decimal and K, M, G, T or P.
void size_text(uint64_t bytes, char* out, uint64_t size);

}  // namespace tarn

// The line editor: reads one line from the console with in-place editing, history
// browsing, reverse search and Tab completion; and the menu widget behind BASIC's MENU.
#pragma once
#include "runtime/util.h"

namespace tarn {

// Reads one line after writing `prompt`. Returns a newly allocated UTF-8 line without
// the line break (freed with release), or null when the user pressed Ctrl-C. With
// use_history false, Up, Down and Ctrl-R do nothing and the line is not recorded.
char* read_line(const char* prompt, bool use_history);

// Shows a menu and returns the chosen item (1-based), 0 when cancelled (or when chosen
// with nothing selected), -1 for Ctrl-C. With a timeout above 0 the current selection
// is chosen after that many seconds without a key.
int menu(const char* title, const char* const* items, int count, int timeout_seconds,
         int default_choice);

// Where completion finds volume names and directory entries. The file layer installs
// these at start-up; without them only command names complete.
using DirectoryVisitor = void (*)(void* context, const char* name, bool is_directory);
struct CompletionSources {
    // Volume names without the colon (extra names may be included).
    uint64_t (*volume_count)();
    const char* (*volume_name)(uint64_t index);
    // Visits each entry of the directory `directory`, given as typed ("" for the current
    // directory; otherwise a text ending in '\', '/' or ':'). Returns false when it
    // cannot be read.
    bool (*list_directory)(const char* directory, DirectoryVisitor visit, void* context);
};
void set_completion_sources(const CompletionSources* sources);

// The candidates Tab offers for the word that ends at `cursor` in `line` (UTF-8; cursor
// is a byte offset): newly allocated strings, unsorted, without duplicates. Exposed for
// tests; the editor uses it for Tab.
struct CompletionList {
    char** items = nullptr;
    uint64_t count = 0;
    uint64_t capacity = 0;
    uint64_t word_start = 0;  // byte offset where the completed word starts

    CompletionList() = default;
    CompletionList(const CompletionList&) = delete;
    CompletionList& operator=(const CompletionList&) = delete;
    ~CompletionList();
};
void collect_completions(const char* line, uint64_t cursor, CompletionList& out);

}  // namespace tarn

namespace tarn {

// Installs the file layer as the source of volume names and directory entries for
// completion, and of the history file (on the boot volume). Called at start-up.
void install_line_editor_file_sources();

}  // namespace tarn

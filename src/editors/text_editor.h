// The text editor behind `edit`: the document, the cursor and view, the cut buffer, the
// last search and the status message, driven one key at a time.
#pragma once
#include "editors/document.h"
#include "editors/screen.h"
#include "runtime/errors.h"

namespace tarn {

constexpr uint64_t kEditorMessageSize = 160;

struct TextEditor {
    Document doc;
    EditorScreen screen;
    uint64_t row = 0, column = 0;  // cursor: line index, code point index
    uint64_t top = 0, left = 0;    // first line and first display column shown
    char* path = nullptr;          // canonical path of the file
    bool modified = false;
    Vector<Line> cut;
    bool last_was_cut = false;
    char* search = nullptr;  // last search text (UTF-8), null before the first
    char message[kEditorMessageSize] = {};
    bool done = false;

    TextEditor() = default;
    TextEditor(const TextEditor&) = delete;
    TextEditor& operator=(const TextEditor&) = delete;
    ~TextEditor();
};

// Loads path (taking a copy of it) into the editor; "not found" gives a new document.
// Other errors are returned and leave one empty line.
[[nodiscard]] ShellError text_editor_load(TextEditor& ed, const char* path);
// Writes the document to its file; the message tells how it went.
[[nodiscard]] ShellError text_editor_save(TextEditor& ed);
// Clamps the cursor to the document, moves the view to it and draws what changed.
void text_editor_draw(TextEditor& ed);
// Handles one key (questions and prompts read their own keys); ed.done after exit.
void text_editor_key(TextEditor& ed, const KeyEvent& key);
void text_editor_set_message(TextEditor& ed, const char* format, ...) TARN_PRINTF(2, 3);

}  // namespace tarn

// The full-screen editors' shared parts: the screen size rules, rows drawn through a
// per-row cache (a row goes to the console only when its text or colours changed), the
// prompt line, the yes/no question, the command keys and the console restore on exit.
#pragma once
#include "runtime/console.h"
#include "runtime/string_buffer.h"

namespace tarn {

// Colours of the editors' rows.
constexpr int kBarForeground = 15, kBarBackground = 1;      // title and key hints
constexpr int kTextForeground = 7, kTextBackground = 0;     // text rows and prompts
constexpr int kStatusForeground = 0, kStatusBackground = 7;  // status row

struct RowCache {
    char* text = nullptr;  // UTF-8 as last sent, null when the row is unknown
    uint8_t attribute = 0;
};

struct EditorScreen {
    uint64_t width = 80;
    uint64_t height = 25;
    RowCache* rows = nullptr;
    uint64_t rows_sent = 0;  // rows written to the console since the screen was opened

    EditorScreen() = default;
    EditorScreen(const EditorScreen&) = delete;
    EditorScreen& operator=(const EditorScreen&) = delete;
    ~EditorScreen();

    uint64_t text_rows() const { return height - 3; }
    uint64_t status_row() const { return height - 2; }
};

// Takes the size from the console mode (a width below 20 becomes 80, a height below 6
// becomes 25), empties the caches and clears the screen.
void screen_open(EditorScreen& screen);
// Back to the shell's console: its colours, a cleared screen, the cursor shown.
void screen_close(EditorScreen& screen);
// Forgets what every row shows (the next draw sends them all) and clears the screen.
void screen_invalidate(EditorScreen& screen);
// Draws one row: the UTF-8 text cut or padded with spaces to the width (one column less
// on the last row, so the console never scrolls). True when it was sent.
bool screen_draw_row(EditorScreen& screen, uint64_t row, const char* text, int foreground, int background);

// Reads a line on the status row: "PROMPT[DEFAULT] INPUT" (or "PROMPT INPUT" without a
// default). Enter gives the input, or the default when the input is empty; Esc, Ctrl-C
// and Ctrl-Q cancel (false).
bool screen_prompt(EditorScreen& screen, const char* prompt, const char* default_text, StringBuffer& answer);

enum class Answer : uint8_t { kYes, kNo, kCancel };
// Shows the question on the status row and reads keys until one decides: "y" or "s" in
// any case is yes, "n" no; Esc, "c" and Ctrl-C cancel; other keys are ignored.
Answer screen_ask(EditorScreen& screen, const char* question);

// Writes a file so that a refused write leaves the old content: an existing file is
// written beside itself under a temporary name first, and replaced only when that worked.
[[nodiscard]] int editor_save_file(const char* path, const void* data, uint64_t length);

// The commands of the function and control keys.
enum class EditorCommand : uint8_t {
    kNone, kGoTo, kSave, kExit, kFind, kReplace, kCut, kPaste, kOpen, kEncoding, kFindNext, kHelp,
};
EditorCommand editor_command_of(const KeyEvent& key);

// The control character of a key typed with Ctrl held (Ctrl+'g' is 7); the character
// otherwise.
uint32_t control_character(const KeyEvent& key);

}  // namespace tarn

// The editors' screen, prompt and question.
#include "editors/screen.h"

#include "fs/files.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/console.h"

namespace tarn {

namespace {

constexpr uint64_t kMinWidth = 20, kMinHeight = 6;

void free_rows(EditorScreen& s) {
    if (!s.rows) return;
    for (uint64_t r = 0; r < s.height; r++) release(s.rows[r].text);
    release(s.rows);
    s.rows = nullptr;
}

void forget_rows(EditorScreen& s) {
    for (uint64_t r = 0; r < s.height; r++) {
        release(s.rows[r].text);
        s.rows[r].text = nullptr;
    }
}

uint8_t attribute_of(int foreground, int background) {
    return static_cast<uint8_t>(((background & 7) << 4) | (foreground & 15));
}

bool is_backspace(const KeyEvent& k) { return k.scan_code == 0 && (k.character == 8 || k.character == 0x7f); }

}  // namespace

EditorScreen::~EditorScreen() { free_rows(*this); }

void screen_open(EditorScreen& s) {
    free_rows(s);
    uint64_t w = 0, h = 0;
    console_size(&w, &h);
    s.width = w < kMinWidth ? 80 : w;
    s.height = h < kMinHeight ? 25 : h;
    s.rows = xallocate_array<RowCache>(s.height);
    s.rows_sent = 0;
    console_show_cursor(false);
    console_set_attribute(kTextForeground, kTextBackground);
    console_clear();
}

void screen_close(EditorScreen& s) {
    free_rows(s);
    console_restore_attribute();
    console_clear();
    console_show_cursor(true);
}

void screen_invalidate(EditorScreen& s) {
    if (s.rows) forget_rows(s);
    console_set_attribute(kTextForeground, kTextBackground);
    console_clear();
}

bool screen_draw_row(EditorScreen& s, uint64_t row, const char* text, int foreground, int background) {
    if (!s.rows || row >= s.height) return false;
    const uint64_t columns = row + 1 == s.height ? s.width - 1 : s.width;
    StringBuffer line;
    const uint64_t n = strlen(text);
    const uint64_t cut = utf8_offset(text, n, columns);
    append_bytes(line, text, cut);
    for (uint64_t c = utf8_count(text, cut); c < columns; c++) append_char(line, ' ');
    RowCache& cache = s.rows[row];
    const uint8_t attribute = attribute_of(foreground, background);
    if (cache.text && cache.attribute == attribute && equal(cache.text, line.c_str())) return false;
    console_set_cursor(0, row);
    console_set_attribute(foreground, background);
    console_write(line.c_str(), line.length);
    release(cache.text);
    cache.text = take(line);
    cache.attribute = attribute;
    s.rows_sent++;
    return true;
}

bool screen_prompt(EditorScreen& s, const char* prompt, const char* default_text, StringBuffer& answer) {
    clear(answer);
    for (;;) {
        StringBuffer row;
        if (default_text && *default_text)
            append_format(row, "%s[%s] %s", prompt, default_text, answer.c_str());
        else
            append_format(row, "%s%s", prompt, answer.c_str());
        screen_draw_row(s, s.status_row(), row.c_str(), kTextForeground, kTextBackground);
        const uint64_t column = min_of(utf8_count(row.c_str(), row.length), s.width - 1);
        console_set_cursor(column, s.status_row());
        console_show_cursor(true);
        KeyEvent key;
        const bool got = read_key(-1, &key);
        console_show_cursor(false);
        if (!got || is_escape(key)) return false;
        const uint32_t c = control_character(key);
        if (key.scan_code == 0 && (c == kCharCtrlC || c == 0x11)) return false;
        if (key.scan_code == 0 && (c == '\r' || c == '\n')) {
            if (answer.length == 0 && default_text) append_text(answer, default_text);
            return true;
        }
        if (is_backspace(key)) {
            uint64_t count = utf8_count(answer.data, answer.length);
            if (count) {
                answer.length = utf8_offset(answer.data, answer.length, count - 1);
                answer.data[answer.length] = 0;
            }
            continue;
        }
        if (key.scan_code == 0 && c >= 0x20 && !(key.modifiers & kModAlt)) append_codepoint(answer, c);
    }
}

Answer screen_ask(EditorScreen& s, const char* question) {
    screen_draw_row(s, s.status_row(), question, kStatusForeground, kStatusBackground);
    console_set_cursor(min_of(utf8_count(question, strlen(question)), s.width - 1), s.status_row());
    for (;;) {
        KeyEvent key;
        if (!read_key(-1, &key)) return Answer::kCancel;
        if (is_escape(key)) return Answer::kCancel;
        if (key.scan_code != 0) continue;
        const uint32_t c = control_character(key);
        if (c == 'y' || c == 'Y' || c == 's' || c == 'S') return Answer::kYes;
        if (c == 'n' || c == 'N') return Answer::kNo;
        if (c == 'c' || c == 'C' || c == kCharCtrlC) return Answer::kCancel;
    }
}

int editor_save_file(const char* path, const void* data, uint64_t length) {
    FileStat st{};
    if (file_stat(path, &st) == kErrNotFound) return write_whole_file(path, data, length);
    StringBuffer temporary;
    append_format(temporary, "%s.tarn-save", path);
    ShellError e = write_whole_file(temporary.c_str(), data, length);
    if (e == kOk) e = remove_path(path);
    if (e == kOk) return rename_path(temporary.c_str(), path);
    (void)remove_path(temporary.c_str());
    return e;
}

uint32_t control_character(const KeyEvent& key) {
    uint32_t c = key.character;
    if ((key.modifiers & kModControl) && is_alpha(static_cast<int>(c))) return static_cast<uint32_t>(to_lower(c) - 'a' + 1);
    return c;
}

EditorCommand editor_command_of(const KeyEvent& key) {
    switch (key.scan_code) {
    case efi::kScanF1: return EditorCommand::kGoTo;
    case efi::kScanF1 + 1: return EditorCommand::kSave;
    case efi::kScanF1 + 2: return EditorCommand::kExit;
    case efi::kScanF1 + 3: return EditorCommand::kFind;
    case efi::kScanF1 + 4: return EditorCommand::kReplace;
    case efi::kScanF1 + 5: return EditorCommand::kCut;
    case efi::kScanF1 + 6: return EditorCommand::kPaste;
    case efi::kScanF1 + 7: return EditorCommand::kOpen;
    case efi::kScanF1 + 8: return EditorCommand::kEncoding;
    case efi::kScanF10: return EditorCommand::kFindNext;
    case efi::kScanEsc: return EditorCommand::kExit;
    default: break;
    }
    if (key.scan_code != 0) return EditorCommand::kNone;
    switch (control_character(key)) {
    case 0x07: return EditorCommand::kGoTo;      // Ctrl-G
    case 0x13: return EditorCommand::kSave;      // Ctrl-S
    case 0x11: return EditorCommand::kExit;      // Ctrl-Q
    case 27: return EditorCommand::kExit;        // Esc as a character
    case 0x06: return EditorCommand::kFind;      // Ctrl-F
    case 0x12: return EditorCommand::kReplace;   // Ctrl-R
    case 0x0b: return EditorCommand::kCut;       // Ctrl-K
    case 0x15: return EditorCommand::kPaste;     // Ctrl-U
    case 0x0f: return EditorCommand::kOpen;      // Ctrl-O
    case 0x14: return EditorCommand::kEncoding;  // Ctrl-T
    case 0x0e: return EditorCommand::kFindNext;  // Ctrl-N
    case 0x05: return EditorCommand::kHelp;      // Ctrl-E
    default: return EditorCommand::kNone;
    }
}

}  // namespace tarn

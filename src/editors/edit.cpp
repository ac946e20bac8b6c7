// edit: the full-screen text editor.
#include <stdarg.h>

#include "editors/editors.h"
#include "editors/text_editor.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/registry.h"
#include "uefi/console.h"

namespace tarn {
namespace {

int edit_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"edit", edit_command, "edit FILE", "Edit a text file on the screen",
     "  Opens FILE (a new file when it does not exist) in a full-screen editor. The file's\n"
     "  encoding (UTF-8 with or without mark, UCS-2) and line ends (LF, CR LF) are kept.\n"
     "  F1 Ctrl-G go to line   F2 Ctrl-S save       F3 Ctrl-Q Esc exit\n"
     "  F4 Ctrl-F find         F5 Ctrl-R replace    F6 Ctrl-K cut line   F7 Ctrl-U paste\n"
     "  F8 Ctrl-O open         F9 Ctrl-T UTF-8/UCS-2  F10 Ctrl-N find next  Ctrl-E help\n",
     0},
};

constexpr uint64_t kTabWidth = 4;

const char* const kHelpLines[] = {
    "TARN edit - keys",
    "",
    "  F1  Ctrl-G   go to line             F6  Ctrl-K   cut the current line",
    "  F2  Ctrl-S   save                   F7  Ctrl-U   paste the cut lines",
    "  F3  Ctrl-Q   exit                   F8  Ctrl-O   open another file",
    "  F4  Ctrl-F   find                   F9  Ctrl-T   switch UTF-8 / UCS-2",
    "  F5  Ctrl-R   find and replace       F10 Ctrl-N   find next",
    "",
    "  Arrows, Home, End, PgUp, PgDn move; Tab inserts 4 spaces.",
    "  Tab characters already in the file are kept.",
    "",
    "  Press any key to go back to the text.",
};

Line& current(TextEditor& ed) { return ed.doc.lines[ed.row]; }
uint64_t line_count(const TextEditor& ed) { return ed.doc.lines.size(); }

void changed(TextEditor& ed) { ed.modified = true; }

void clamp_cursor(TextEditor& ed) {
    if (ed.row >= line_count(ed)) ed.row = line_count(ed) - 1;
    if (ed.column > current(ed).length) ed.column = current(ed).length;
}

// The display column of code point index `column` of a line.
uint64_t display_column(const Line& line, uint64_t column) {
    uint64_t c = 0;
    for (uint64_t i = 0; i < column && i < line.length; i++)
        c = line.points[i] == '\t' ? (c / kTabWidth + 1) * kTabWidth : c + 1;
    return c;
}

void append_cell(StringBuffer& out, uint32_t cp) {
    if (cp < 0x20 || is_raw_byte(cp))
        append_char(out, '.');
    else
        append_codepoint(out, cp);
}

// The visible part of a line: display columns left .. left + width.
void layout_line(const Line& line, uint64_t left, uint64_t width, StringBuffer& out) {
    uint64_t c = 0;
    const uint64_t end = left + width;
    for (uint64_t i = 0; i < line.length && c < end; i++) {
        const uint32_t cp = line.points[i];
        const uint64_t next = cp == '\t' ? (c / kTabWidth + 1) * kTabWidth : c + 1;
        for (uint64_t k = c; k < next && k < end; k++) {
            if (k < left) continue;
            if (cp == '\t')
                append_char(out, ' ');
            else
                append_cell(out, cp);
        }
        c = next;
    }
}

void follow_cursor(TextEditor& ed) {
    const uint64_t rows = ed.screen.text_rows();
    if (ed.row < ed.top) ed.top = ed.row;
    if (ed.row >= ed.top + rows) ed.top = ed.row - rows + 1;
    const uint64_t c = display_column(current(ed), ed.column);
    const uint64_t w = ed.screen.width;
    if (c < ed.left) ed.left = c;
    if (c >= ed.left + w - 1) ed.left = c - w + 2;
}

void draw_title(TextEditor& ed) {
    StringBuffer title;
    append_format(title, "  TARN edit   %s%s   %s%s", ed.path ? ed.path : "", ed.modified ? "  [modified]" : "",
                  ed.doc.ucs2 ? "UCS-2" : "UTF-8", ed.doc.crlf ? " CRLF" : "");
    screen_draw_row(ed.screen, 0, title.c_str(), kBarForeground, kBarBackground);
}

void draw_status(TextEditor& ed, const char* text) {
    StringBuffer status;
    append_format(status, "  Line %llu/%llu  Col %llu   %s", static_cast<unsigned long long>(ed.row + 1),
                  static_cast<unsigned long long>(line_count(ed)), static_cast<unsigned long long>(ed.column + 1),
                  text);
    screen_draw_row(ed.screen, ed.screen.status_row(), status.c_str(), kStatusForeground, kStatusBackground);
}

// The code points of a UTF-8 text.
void to_points(const char* text, Line& out) {
    const uint64_t n = strlen(text);
    for (uint64_t i = 0; i < n;) {
        uint32_t cp = 0;
        i += utf8_decode(text + i, n - i, &cp);
        line_insert(out, out.length, &cp, 1);
    }
}

bool matches_at(const Line& line, uint64_t at, const Line& needle) {
    if (needle.length > line.length || at > line.length - needle.length) return false;
    return memcmp(line.points + at, needle.points, needle.length * sizeof(uint32_t)) == 0;
}

// The first match in line at or after from whose start is before limit.
bool find_in_line(const Line& line, const Line& needle, uint64_t from, uint64_t limit, uint64_t* at) {
    for (uint64_t p = from; p < limit && p <= line.length; p++) {
        if (matches_at(line, p, needle)) {
            *at = p;
            return true;
        }
    }
    return false;
}

void remember_search(TextEditor& ed, const char* text) {
    if (ed.search == text) return;
    release(ed.search);
    ed.search = xstrdup(text);
}

// A prompt on the status row, the view redrawn around it.
bool ask_text(TextEditor& ed, const char* prompt, const char* default_text, StringBuffer& answer) {
    text_editor_draw(ed);
    return screen_prompt(ed.screen, prompt, default_text, answer);
}

Answer ask(TextEditor& ed, const char* question) {
    text_editor_draw(ed);
    return screen_ask(ed.screen, question);
}

void go_to_line(TextEditor& ed) {
    StringBuffer answer;
    if (!ask_text(ed, "  Go to line: ", nullptr, answer)) return;
    int64_t n = 0;
    if (!parse_integer(answer.c_str(), &n) || n <= 0) return;
    const uint64_t line = static_cast<uint64_t>(n);
    ed.row = (line > line_count(ed) ? line_count(ed) : line) - 1;
    ed.column = 0;
}

void find_text(TextEditor& ed, const char* text) {
    Line needle;
    to_points(text, needle);
    const uint64_t lines = line_count(ed);
    bool found = false;
    uint64_t at = 0;
    // The cursor line after the cursor, every other line in turn, then the cursor line
    // again from its start.
    for (uint64_t k = 0; k <= lines && !found; k++) {
        const uint64_t r = (ed.row + k) % lines;
        const Line& line = ed.doc.lines[r];
        const uint64_t from = k == 0 ? ed.column + 1 : 0;
        if (find_in_line(line, needle, from, line.length + 1, &at)) {
            found = true;
            ed.row = r;
            ed.column = at;
        }
    }
    if (!found) text_editor_set_message(ed, "Not found: %s", text);
    line_free(needle);
}

void find_command(TextEditor& ed, bool next) {
    StringBuffer answer;
    if (!next || !ed.search) {
        if (!ask_text(ed, "  Find: ", ed.search, answer) || answer.length == 0) return;
        remember_search(ed, answer.c_str());
    }
    find_text(ed, ed.search);
}

void replace_at(TextEditor& ed, uint64_t r, uint64_t at, const Line& needle, const Line& with) {
    Line& line = ed.doc.lines[r];
    line_erase(line, at, needle.length);
    line_insert(line, at, with.points, with.length);
    changed(ed);
}

void replace_command(TextEditor& ed) {
    StringBuffer search, replacement;
    if (!ask_text(ed, "  Replace: ", ed.search, search) || search.length == 0) return;
    remember_search(ed, search.c_str());
    if (!ask_text(ed, "  With: ", nullptr, replacement)) return;
    Line needle, with;
    to_points(search.c_str(), needle);
    to_points(replacement.c_str(), with);
    const uint64_t lines = line_count(ed);
    const uint64_t start_row = ed.row;
    uint64_t limit_column = ed.column;  // the final pass stops at the starting column
    bool all = false, stop = false;
    uint64_t count = 0;
    for (uint64_t k = 0; k <= lines && !stop; k++) {
        const uint64_t r = (start_row + k) % lines;
        const bool last_pass = k == lines;
        uint64_t from = k == 0 ? limit_column : 0;
        for (;;) {
            const Line& line = ed.doc.lines[r];
            const uint64_t limit = last_pass ? limit_column : line.length + 1;
            uint64_t at = 0;
            if (!find_in_line(line, needle, from, limit, &at)) break;
            ed.row = r;
            ed.column = at;
            bool replace = all;
            if (!all) {
                const Answer a = [&] {
                    text_editor_draw(ed);
                    screen_draw_row(ed.screen, ed.screen.status_row(),
                                    "  Replace? y = yes, n = no, a = all, ESC = stop", kStatusForeground,
                                    kStatusBackground);
                    KeyEvent key;
                    if (!read_key(-1, &key) || key.scan_code != 0) return Answer::kCancel;
                    const uint32_t c = key.character;
                    if (c == 'y' || c == 'Y') return Answer::kYes;
                    if (c == 'n' || c == 'N') return Answer::kNo;
                    if (c == 'a' || c == 'A') {
                        all = true;
                        return Answer::kYes;
                    }
                    return Answer::kCancel;
                }();
                if (a == Answer::kCancel) {
                    stop = true;
                    break;
                }
                replace = a == Answer::kYes;
            }
            if (!replace) {
                from = at + (needle.length ? needle.length : 1);
                continue;
            }
            replace_at(ed, r, at, needle, with);
            count++;
            from = at + with.length;
            if (r == start_row && at < limit_column) {
                // Text before the starting column moved: so does the end of the final pass.
                const uint64_t grown = limit_column + with.length;
                limit_column = grown > at + needle.length + with.length ? grown - needle.length : from;
            }
            ed.column = from;
        }
    }
    line_free(needle);
    line_free(with);
    text_editor_set_message(ed, "%llu replaced", static_cast<unsigned long long>(count));
}

void cut_line(TextEditor& ed, bool was_cut) {
    if (!was_cut) {
        for (Line& l : ed.cut) line_free(l);
        ed.cut.clear();
    }
    Line& line = current(ed);
    ed.cut.push(line_slice(line, 0, line.length));
    document_remove_line(ed.doc, ed.row);
    if (ed.doc.lines.empty()) ed.doc.lines.push(Line());
    if (ed.row >= line_count(ed)) ed.row = line_count(ed) - 1;
    ed.column = 0;
    ed.last_was_cut = true;
    changed(ed);
}

void paste_lines(TextEditor& ed) {
    for (uint64_t i = 0; i < ed.cut.size(); i++) {
        const Line& l = ed.cut[i];
        document_insert_line(ed.doc, ed.row + i, line_slice(l, 0, l.length));
    }
    if (!ed.cut.empty()) changed(ed);
}

void show_help(TextEditor& ed) {
    for (uint64_t r = 1; r <= ed.screen.text_rows(); r++) {
        const char* text = r <= array_size(kHelpLines) ? kHelpLines[r - 1] : "";
        screen_draw_row(ed.screen, r, text, kBarForeground, kTextBackground);
    }
    KeyEvent key;
    (void)read_key(-1, &key);
}

// Asks to save a modified document; true when the caller may go on.
bool settle_changes(TextEditor& ed) {
    if (!ed.modified) return true;
    switch (ask(ed, "  File modified. Save it? (y = yes, n = no, ESC = cancel)")) {
    case Answer::kYes: return text_editor_save(ed) == kOk;
    case Answer::kNo: return true;
    case Answer::kCancel: return false;
    }
    return false;
}

void open_command(TextEditor& ed) {
    if (!settle_changes(ed)) return;
    StringBuffer answer;
    if (!ask_text(ed, "  Open file: ", nullptr, answer) || answer.length == 0) return;
    Owned<char> path(resolve_path(answer.c_str()));
    if (!path) return;
    const ShellError e = text_editor_load(ed, path.get());
    if (e != kOk) text_editor_set_message(ed, "%s: %s", path.get(), error_message(e));
    ed.row = ed.column = ed.top = ed.left = 0;
    screen_invalidate(ed.screen);
}

void run_command(TextEditor& ed, EditorCommand command, bool was_cut) {
    switch (command) {
    case EditorCommand::kNone: break;
    case EditorCommand::kGoTo: go_to_line(ed); break;
    case EditorCommand::kSave: (void)text_editor_save(ed); break;
    case EditorCommand::kExit: ed.done = settle_changes(ed); break;
    case EditorCommand::kFind: find_command(ed, false); break;
    case EditorCommand::kFindNext: find_command(ed, true); break;
    case EditorCommand::kReplace: replace_command(ed); break;
    case EditorCommand::kCut: cut_line(ed, was_cut); break;
    case EditorCommand::kPaste: paste_lines(ed); break;
    case EditorCommand::kOpen: open_command(ed); break;
    case EditorCommand::kEncoding:
        ed.doc.ucs2 = !ed.doc.ucs2;
        changed(ed);
        break;
    case EditorCommand::kHelp: show_help(ed); break;
    }
}

void insert_points(TextEditor& ed, const uint32_t* points, uint64_t n) {
    line_insert(current(ed), ed.column, points, n);
    ed.column += n;
    changed(ed);
}

void split_line(TextEditor& ed) {
    Line& line = current(ed);
    Line rest = line_slice(line, ed.column, line.length - ed.column);
    line.length = ed.column;
    document_insert_line(ed.doc, ed.row + 1, rest);
    ed.row++;
    ed.column = 0;
    changed(ed);
}

// Appends line r + 1 to line r and removes it.
void join_lines(TextEditor& ed, uint64_t r) {
    Line& next = ed.doc.lines[r + 1];
    line_insert(ed.doc.lines[r], ed.doc.lines[r].length, next.points, next.length);
    document_remove_line(ed.doc, r + 1);
    changed(ed);
}

void backspace(TextEditor& ed) {
    if (ed.column > 0) {
        line_erase(current(ed), ed.column - 1, 1);
        ed.column--;
        changed(ed);
    } else if (ed.row > 0) {
        const uint64_t join = ed.doc.lines[ed.row - 1].length;
        join_lines(ed, ed.row - 1);
        ed.row--;
        ed.column = join;
    }
}

void delete_forward(TextEditor& ed) {
    if (ed.column < current(ed).length) {
        line_erase(current(ed), ed.column, 1);
        changed(ed);
    } else if (ed.row + 1 < line_count(ed)) {
        join_lines(ed, ed.row);
    }
}

// Movement and editing keys that carry a scan code.
void scan_key(TextEditor& ed, uint16_t scan) {
    const uint64_t page = ed.screen.text_rows();
    const uint64_t last = line_count(ed) - 1;
    switch (scan) {
    case efi::kScanUp: if (ed.row > 0) ed.row--; break;
    case efi::kScanDown: if (ed.row < last) ed.row++; break;
    case efi::kScanLeft:
        if (ed.column > 0) {
            ed.column--;
        } else if (ed.row > 0) {
            ed.row--;
            ed.column = current(ed).length;
        }
        break;
    case efi::kScanRight:
        if (ed.column < current(ed).length) {
            ed.column++;
        } else if (ed.row < last) {
            ed.row++;
            ed.column = 0;
        }
        break;
    case efi::kScanHome: ed.column = 0; break;
    case efi::kScanEnd: ed.column = current(ed).length; break;
    case efi::kScanPageUp: ed.row = ed.row > page ? ed.row - page : 0; break;
    case efi::kScanPageDown: ed.row = ed.row + page < last ? ed.row + page : last; break;
    case efi::kScanDelete: delete_forward(ed); break;
    default: break;  // Insert and the rest do nothing
    }
}

}  // namespace

TextEditor::~TextEditor() {
    for (Line& l : cut) line_free(l);
    release(path);
    release(search);
}

void text_editor_set_message(TextEditor& ed, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vformat_into(ed.message, sizeof ed.message, format, args);
    va_end(args);
}

ShellError text_editor_load(TextEditor& ed, const char* path) {
    if (ed.path != path) {
        release(ed.path);
        ed.path = xstrdup(path);
    }
    ed.modified = false;
    char* data = nullptr;
    uint64_t length = 0;
    const ShellError e = read_whole_file(path, &data, &length);
    if (e == kErrNotFound) {
        document_reset(ed.doc);
        text_editor_set_message(ed, "New file");
        return kOk;
    }
    if (e != kOk) {
        document_reset(ed.doc);
        return e;
    }
    document_load(ed.doc, reinterpret_cast<const uint8_t*>(data), length);
    release(data);
    text_editor_set_message(ed, "%llu lines read", static_cast<unsigned long long>(line_count(ed)));
    return kOk;
}

ShellError text_editor_save(TextEditor& ed) {
    StringBuffer bytes;
    document_encode(ed.doc, bytes);
    const ShellError e = editor_save_file(ed.path, bytes.c_str(), bytes.length);
    if (e != kOk) {
        text_editor_set_message(ed, "Save failed: %s", error_message(e));
        return e;
    }
    ed.modified = false;
    text_editor_set_message(ed, "%llu lines written", static_cast<unsigned long long>(line_count(ed)));
    return kOk;
}

void text_editor_draw(TextEditor& ed) {
    clamp_cursor(ed);
    follow_cursor(ed);
    console_show_cursor(false);
    draw_title(ed);
    for (uint64_t r = 0; r < ed.screen.text_rows(); r++) {
        StringBuffer text;
        if (ed.top + r < line_count(ed)) layout_line(ed.doc.lines[ed.top + r], ed.left, ed.screen.width, text);
        screen_draw_row(ed.screen, r + 1, text.c_str(), kTextForeground, kTextBackground);
    }
    draw_status(ed, ed.message);
    screen_draw_row(ed.screen, ed.screen.height - 1,
                    "F1 GoTo F2 Save F3 Exit F4 Find F5 Replace F6 Cut F7 Paste F9 Type  (Ctrl-E help)",
                    kBarForeground, kBarBackground);
    const uint64_t c = display_column(current(ed), ed.column);
    console_set_cursor(c - ed.left, ed.row - ed.top + 1);
    console_show_cursor(true);
}

void text_editor_key(TextEditor& ed, const KeyEvent& key) {
    clamp_cursor(ed);
    ed.message[0] = 0;
    const bool was_cut = ed.last_was_cut;
    ed.last_was_cut = false;
    const EditorCommand command = editor_command_of(key);
    if (command != EditorCommand::kNone) {
        run_command(ed, command, was_cut);
        return;
    }
    if (key.scan_code != 0) {
        scan_key(ed, key.scan_code);
        return;
    }
    const uint32_t c = control_character(key);
    if (c == '\r' || c == '\n') {
        split_line(ed);
    } else if (c == 8 || c == 0x7f) {
        backspace(ed);
    } else if (c == '\t') {
        const uint32_t spaces[kTabWidth] = {' ', ' ', ' ', ' '};
        insert_points(ed, spaces, kTabWidth);
    } else if (c >= 0x20 && !(key.modifiers & kModAlt)) {
        insert_points(ed, &c, 1);
    }
}

namespace {

int edit_command(int count, char** vector) {
    if (count != 2) return report_usage("edit");
    if (!console_is_interactive()) return report_error("edit", "needs an interactive console");
    Owned<char> path(resolve_path(vector[1]));
    if (!path) return report_error("edit", "%s: invalid path", vector[1]);
    TextEditor ed;
    const ShellError e = text_editor_load(ed, path.get());
    if (e != kOk) return report_error("edit", "%s: %s", path.get(), error_message(e));
    screen_open(ed.screen);
    while (!ed.done) {
        text_editor_draw(ed);
        KeyEvent key;
        if (!read_key(-1, &key)) break;
        text_editor_key(ed, key);
    }
    screen_close(ed.screen);
    return kExitSuccess;
}

}  // namespace

void register_edit_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

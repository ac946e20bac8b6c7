// The line editor and the menu widget. Both draw straight on the console with cursor
// positioning; the line is kept as code points, each taking one screen cell. On a serial
// terminal whose size is known the editor moves the cursor relative to where it is
// (terminal.h), since the firmware's rows are not the terminal's.
#include "shell/line_editor.h"

#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/sort.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "runtime/terminal.h"
#include "runtime/text.h"
#include "shell/history.h"
#include "shell/registry.h"

namespace tarn {

namespace {

constexpr uint64_t kInitialCapacity = 64;
// How long the first prompt waits for a serial terminal to begin its answer.
constexpr int64_t kTerminalAnswerMs = 400;

// Scan codes of the UEFI simple text input protocol.
constexpr uint16_t kScanUp = 1;
constexpr uint16_t kScanDown = 2;
constexpr uint16_t kScanRight = 3;
constexpr uint16_t kScanLeft = 4;
constexpr uint16_t kScanHome = 5;
constexpr uint16_t kScanEnd = 6;
constexpr uint16_t kScanDelete = 8;

constinit const CompletionSources* g_sources = nullptr;

// ---------------------------------------------------------------------------------------
// Code point arrays

struct CodePoints {
    uint32_t* data = nullptr;
    uint64_t length = 0;
    uint64_t capacity = 0;

    CodePoints() = default;
    CodePoints(const CodePoints&) = delete;
    CodePoints& operator=(const CodePoints&) = delete;
    ~CodePoints() { release(data); }
};

void reserve_points(CodePoints& cp, uint64_t needed) {
    if (needed <= cp.capacity) return;
    uint64_t cap = cp.capacity ? cp.capacity : kInitialCapacity;
    while (cap < needed) {
        uint64_t doubled = 0;
        if (mul_overflows(cap, 2, &doubled)) {
            cap = needed;
            break;
        }
        cap = doubled;
    }
    uint64_t bytes = 0;
    if (mul_overflows(cap, sizeof(uint32_t), &bytes)) bytes = ~0ull;  // refused: fatal stop
    cp.data = static_cast<uint32_t*>(xresize(cp.data, bytes));
    cp.capacity = cap;
}

void assign_points(CodePoints& cp, const uint32_t* points, uint64_t n) {
    reserve_points(cp, n);
    for (uint64_t i = 0; i < n; i++) cp.data[i] = points[i];
    cp.length = n;
}

// Decodes UTF-8 into code points. Text for the line (history, file names) has control
// characters and surrogates replaced, since overlong UTF-8 forms can encode them; a
// prompt keeps them and shows them as blanks.
void assign_utf8(CodePoints& cp, const char* text, uint64_t n, bool for_line = true) {
    cp.length = 0;
    reserve_points(cp, n);  // never more code points than bytes
    uint64_t i = 0;
    while (i < n) {
        uint32_t c = 0;
        uint64_t used = utf8_decode(text + i, n - i, &c);
        if (used == 0) break;
        i += used;
        bool control = c < 0x20 || c == 0x7f || (c >= 0xd800 && c <= 0xdfff);
        if (for_line && control) c = kReplacementCharacter;
        cp.data[cp.length++] = c;
    }
}

bool insert_points(CodePoints& cp, uint64_t at, const uint32_t* points, uint64_t n) {
    uint64_t needed = 0;
    if (add_overflows(cp.length, n, &needed)) return false;
    reserve_points(cp, needed);
    for (uint64_t i = cp.length; i > at; i--) cp.data[i - 1 + n] = cp.data[i - 1];
    for (uint64_t i = 0; i < n; i++) cp.data[at + i] = points[i];
    cp.length = needed;
    return true;
}

void erase_points(CodePoints& cp, uint64_t from, uint64_t to) {
    if (to > cp.length) to = cp.length;
    if (from >= to) return;
    uint64_t n = to - from;
    for (uint64_t i = to; i < cp.length; i++) cp.data[i - n] = cp.data[i];
    cp.length -= n;
}

void append_points_utf8(StringBuffer& out, const uint32_t* points, uint64_t n) {
    for (uint64_t i = 0; i < n; i++) append_codepoint(out, points[i]);
}

// What a code point looks like on screen: control characters would move the console's
// cursor, so they are shown as blanks.
uint32_t cell_of(uint32_t c) { return c < 0x20 || c == 0x7f ? ' ' : c; }

// Collects screen cells as UTF-8 and hands them to the console in runs.
class CellWriter {
public:
    ~CellWriter() { flush(); }
    void put(uint32_t c) {
        if (used_ + 4 > sizeof(buffer_)) flush();
        used_ += utf8_encode(cell_of(c), buffer_ + used_);
    }
    void flush() {
        if (used_) console_write(buffer_, used_);
        used_ = 0;
    }

private:
    char buffer_[256];
    uint64_t used_ = 0;
};

void screen_size(uint64_t* columns, uint64_t* rows) {
    uint64_t c = 0, r = 0;
    console_size(&c, &r);
    if (c < 10) c = 80;
    if (r < 2) r = 25;
    // Keep the cell arithmetic far from overflow whatever the console claims.
    if (c > 4096) c = 4096;
    if (r > 4096) r = 4096;
    *columns = c;
    *rows = r;
}

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) q--;
    return q;
}

// ---------------------------------------------------------------------------------------
// The editor

struct Editor {
    CodePoints text;
    uint64_t cursor = 0;
    CodePoints prompt;           // the prompt's last line, as drawn
    int64_t origin_row = 0;      // where the prompt starts (may be above the screen)
    uint64_t origin_column = 0;
    uint64_t shown_length = 0;   // code points drawn after the prompt
    uint64_t columns = 80;
    uint64_t rows = 25;
    bool use_history = false;
    uint64_t history_index = 0;
    CodePoints saved_line;
    bool relative = false;  // a serial terminal: cursor moves relative to `at`
    int64_t at = 0;         // relative mode: the cell the terminal's cursor is on
};

int64_t columns_of(const Editor& e) { return static_cast<int64_t>(e.columns); }
int64_t origin_linear(const Editor& e) {
    return e.origin_row * columns_of(e) + static_cast<int64_t>(e.origin_column);
}
int64_t screen_cells(const Editor& e) { return static_cast<int64_t>(e.rows) * columns_of(e); }

// Cell 0 is the first cell of the prompt; the text starts at cell prompt.length.
int64_t cell_linear(const Editor& e, uint64_t cell) {
    return origin_linear(e) + static_cast<int64_t>(cell);
}

void set_origin_linear(Editor& e, int64_t linear) {
    e.origin_row = floor_div(linear, columns_of(e));
    e.origin_column = static_cast<uint64_t>(linear - e.origin_row * columns_of(e));
}

int64_t cursor_linear(const Editor& e) {
    uint64_t c = 0, r = 0;
    console_cursor(&c, &r);
    if (c >= e.columns) c = e.columns - 1;
    if (r >= e.rows) r = e.rows - 1;
    return static_cast<int64_t>(r) * columns_of(e) + static_cast<int64_t>(c);
}

uint32_t cell_content(const Editor& e, uint64_t cell) {
    uint64_t pw = e.prompt.length;
    if (cell < pw) return e.prompt.data[cell];
    if (cell - pw < e.text.length) return e.text.data[cell - pw];
    return ' ';
}

// ---- relative drawing, on a serial terminal ----
// Cells are counted from the prompt's first cell, which lies origin_column cells into its
// row; only differences of rows are ever sent, so scrolling changes nothing.

void relative_move(Editor& e, int64_t cell) {
    const int64_t cols = columns_of(e);
    const int64_t from = static_cast<int64_t>(e.origin_column) + e.at;
    const int64_t to = static_cast<int64_t>(e.origin_column) + cell;
    const int64_t from_row = floor_div(from, cols), to_row = floor_div(to, cols);
    terminal_move_cursor(to_row - from_row, (to - to_row * cols) - (from - from_row * cols));
    e.at = cell;
}

// Writes cells [from, to). A terminal that has just written the last cell of a row wraps
// only with the next character; writing that next cell too and stepping back leaves the
// cursor at the start of the next row on every kind of terminal.
void relative_paint(Editor& e, uint64_t from, uint64_t to) {
    if (from >= to) return;
    relative_move(e, static_cast<int64_t>(from));
    {
        CellWriter writer;
        for (uint64_t c = from; c < to; c++) writer.put(cell_content(e, c));
    }
    e.at = static_cast<int64_t>(to);
    if ((e.origin_column + to) % e.columns == 0) {
        {
            CellWriter writer;
            writer.put(cell_content(e, to));
        }
        terminal_move_cursor(0, -1);
    }
}

// The prompt has just been written: the origin follows from the column the terminal is in.
void relative_start(Editor& e) {
    uint64_t column = terminal_column();
    if (column >= e.columns) {  // the wrap is pending: settle it as relative_paint does
        {
            CellWriter writer;
            writer.put(' ');
        }
        terminal_move_cursor(0, -1);
        column = 0;
    }
    int64_t cols = columns_of(e);
    int64_t origin = static_cast<int64_t>(column) - static_cast<int64_t>(e.prompt.length);
    e.origin_column = static_cast<uint64_t>(origin - floor_div(origin, cols) * cols);
    e.at = static_cast<int64_t>(e.prompt.length);
}

// Writes cells [from, to) where they are on the screen. Unclipped, the console may
// scroll while the cells are written (the line grows at the bottom); the scroll is
// measured and the origin follows it. Clipped, nothing is written at or past the
// bottom-right cell, so the screen never scrolls.
void paint(Editor& e, uint64_t from, uint64_t to, bool clip) {
    int64_t base = origin_linear(e);
    int64_t start = base + static_cast<int64_t>(from);
    int64_t stop = base + static_cast<int64_t>(to);
    if (start < 0) start = 0;
    int64_t bottom = screen_cells(e) - 1;
    if (start > bottom) return;  // entirely below the screen: drawn when scrolled into view
    if (clip && stop > bottom) stop = bottom;
    if (start >= stop) return;
    console_set_cursor(static_cast<uint64_t>(start % columns_of(e)),
                       static_cast<uint64_t>(start / columns_of(e)));
    {
        CellWriter writer;
        for (int64_t l = start; l < stop; l++)
            writer.put(cell_content(e, static_cast<uint64_t>(l - base)));
    }
    if (clip) return;
    int64_t actual = cursor_linear(e);
    if (stop > actual) {
        int64_t scrolled = (stop - actual) / columns_of(e);
        e.origin_row -= scrolled;
    }
}

// Clears the screen and draws the line so that the cursor's cell lands on target_row
// (used when the cursor would be above or far below the screen: lines longer than it).
void repaint_around_cursor(Editor& e, int64_t target_row) {
    int64_t cell = cell_linear(e, e.prompt.length + e.cursor);
    int64_t row = floor_div(cell, columns_of(e));
    e.origin_row += target_row - row;
    console_clear();
    paint(e, 0, e.prompt.length + e.text.length, true);
    e.shown_length = e.text.length;
    cell = cell_linear(e, e.prompt.length + e.cursor);
    console_set_cursor(static_cast<uint64_t>(cell - floor_div(cell, columns_of(e)) * columns_of(e)),
                       static_cast<uint64_t>(target_row));
}

// Puts the console's cursor on the cell of e.cursor, bringing it onto the screen.
void place_cursor(Editor& e) {
    if (e.relative) {
        relative_move(e, static_cast<int64_t>(e.prompt.length + e.cursor));
        return;
    }
    int64_t cell = cell_linear(e, e.prompt.length + e.cursor);
    int64_t row = floor_div(cell, columns_of(e));
    int64_t column = cell - row * columns_of(e);
    int64_t rows = static_cast<int64_t>(e.rows);
    if (row < 0) {
        repaint_around_cursor(e, 0);
        return;
    }
    if (row >= rows) {
        int64_t lift = row - (rows - 1);
        if (lift >= rows) {
            repaint_around_cursor(e, rows - 1);
            return;
        }
        // Scroll the screen up with line breaks on the bottom row, then draw what of
        // the line comes into view there.
        console_set_cursor(0, static_cast<uint64_t>(rows - 1));
        for (int64_t i = 0; i < lift; i++) console_write("\n", 1);
        e.origin_row -= lift;
        int64_t first_new = (rows - lift) * columns_of(e) - origin_linear(e);
        if (first_new < 0) first_new = 0;
        paint(e, static_cast<uint64_t>(first_new), e.prompt.length + e.text.length, true);
        row = rows - 1;
    }
    console_set_cursor(static_cast<uint64_t>(column), static_cast<uint64_t>(row));
}

// Redraws the line from text index `from` (everything before it is unchanged on the
// screen), blanks what is left of a longer earlier line, and places the cursor.
void redraw_from_cell(Editor& e, uint64_t from_cell) {
    console_show_cursor(false);
    uint64_t pw = e.prompt.length;
    uint64_t end = pw + max_of(e.text.length, e.shown_length);
    // When the rest of the line after the cursor is taller than the screen, writing it
    // all would scroll the cursor away: draw only what fits.
    int64_t cursor_row = floor_div(cell_linear(e, pw + e.cursor), columns_of(e));
    int64_t end_row = floor_div(cell_linear(e, end), columns_of(e));
    if (cursor_row < 0) cursor_row = 0;
    bool clip = end_row - cursor_row >= static_cast<int64_t>(e.rows);
    if (e.relative)
        relative_paint(e, from_cell, end);
    else
        paint(e, from_cell, end, clip);
    e.shown_length = e.text.length;
    place_cursor(e);
    console_show_cursor(true);
}

void redraw(Editor& e, uint64_t from = 0) { redraw_from_cell(e, e.prompt.length + from); }

// Writes the prompt at the console's cursor and takes the origin from where it ended.
void start_line(Editor& e) {
    {
        CellWriter writer;
        for (uint64_t i = 0; i < e.prompt.length; i++) writer.put(e.prompt.data[i]);
    }
    e.shown_length = 0;
    if (e.relative) {
        relative_start(e);
        return;
    }
    set_origin_linear(e, cursor_linear(e) - static_cast<int64_t>(e.prompt.length));
}

void set_prompt_text(Editor& e, const char* prompt) {
    assign_utf8(e.prompt, prompt, strlen(prompt), false);
}

void move_cursor(Editor& e, uint64_t position) {
    if (position > e.text.length) position = e.text.length;
    e.cursor = position;
    place_cursor(e);
}

void replace_text(Editor& e, const uint32_t* points, uint64_t n) {
    assign_points(e.text, points, n);
    e.cursor = n;
    redraw(e, 0);
}

void insert_character(Editor& e, uint32_t c) {
    if (c >= 0xd800 && c <= 0xdfff) c = kReplacementCharacter;
    uint64_t at = e.cursor;
    if (!insert_points(e.text, at, &c, 1)) return;
    e.cursor = at + 1;
    if (e.relative && at + 1 == e.text.length && e.shown_length == at) {
        relative_paint(e, e.prompt.length + at, e.prompt.length + at + 1);
        e.shown_length = e.text.length;
        return;
    }
    if (at + 1 == e.text.length && e.shown_length == at) {
        int64_t cell = cell_linear(e, e.prompt.length + at);
        int64_t row = floor_div(cell, columns_of(e));
        int64_t column = cell - row * columns_of(e);
        if (row >= 0 && row < static_cast<int64_t>(e.rows) && column != columns_of(e) - 1) {
            CellWriter writer;
            writer.put(c);
            writer.flush();
            e.shown_length = e.text.length;
            return;
        }
    }
    redraw(e, at);
}

void delete_range(Editor& e, uint64_t from, uint64_t to) {
    if (to > e.text.length) to = e.text.length;
    if (from >= to) return;
    erase_points(e.text, from, to);
    if (e.cursor >= to)
        e.cursor -= to - from;
    else if (e.cursor > from)
        e.cursor = from;
    redraw(e, from);
}

bool is_word_separator(uint32_t c) { return c == ' ' || c == '"' || c == '/' || c == '\\'; }

uint64_t word_left(const Editor& e) {
    uint64_t i = e.cursor;
    while (i > 0 && is_word_separator(e.text.data[i - 1])) i--;
    while (i > 0 && !is_word_separator(e.text.data[i - 1])) i--;
    return i;
}

uint64_t word_right(const Editor& e) {
    uint64_t i = e.cursor;
    while (i < e.text.length && is_word_separator(e.text.data[i])) i++;
    while (i < e.text.length && !is_word_separator(e.text.data[i])) i++;
    return i;
}

void delete_word_before(Editor& e) {
    uint64_t i = e.cursor;
    while (i > 0 && e.text.data[i - 1] == ' ') i--;
    while (i > 0 && e.text.data[i - 1] != ' ') i--;
    delete_range(e, i, e.cursor);
}

void clear_screen_and_redraw(Editor& e) {
    console_clear();
    console_set_cursor(0, 0);
    start_line(e);
    redraw(e, 0);
}

// ---------------------------------------------------------------------------------------
// History browsing and reverse search

void show_history_entry(Editor& e, const char* entry) {
    CodePoints points;
    assign_utf8(points, entry, strlen(entry));
    replace_text(e, points.data, points.length);
}

void history_step(Editor& e, bool older) {
    uint64_t count = history_count();
    if (count == 0) return;
    if (e.history_index > count) e.history_index = count;
    if (e.history_index == count) assign_points(e.saved_line, e.text.data, e.text.length);
    if (older) {
        if (e.history_index == 0) return;
        e.history_index--;
        show_history_entry(e, history_entry(e.history_index));
        return;
    }
    if (e.history_index >= count) return;
    e.history_index++;
    if (e.history_index < count)
        show_history_entry(e, history_entry(e.history_index));
    else
        replace_text(e, e.saved_line.data, e.saved_line.length);
}

// The newest entry at or below `from` that contains the query; -1 when none (or the
// query is empty).
int64_t search_history(const char* query, int64_t from) {
    if (!*query) return -1;
    for (int64_t i = from; i >= 0; i--) {
        const char* entry = history_entry(static_cast<uint64_t>(i));
        if (entry && strstr(entry, query)) return i;
    }
    return -1;
}

void show_search(Editor& e, const StringBuffer& query, int64_t match) {
    char* prompt = format_string("(search '%s'): ", query.c_str());
    CodePoints points;
    assign_utf8(points, prompt, strlen(prompt));
    release(prompt);
    uint64_t drawn = e.prompt.length + e.shown_length;
    assign_points(e.prompt, points.data, points.length);
    e.shown_length = drawn > e.prompt.length ? drawn - e.prompt.length : 0;
    const char* entry = match >= 0 ? history_entry(static_cast<uint64_t>(match)) : nullptr;
    if (entry)
        assign_utf8(e.text, entry, strlen(entry));
    else
        e.text.length = 0;
    e.cursor = e.text.length;
    redraw_from_cell(e, 0);
}

void remove_last_utf8(StringBuffer& query) {
    if (query.length == 0) return;
    uint64_t n = query.length - 1;
    while (n > 0 && (static_cast<unsigned char>(query.data[n]) & 0xc0) == 0x80) n--;
    query.length = n;
    query.data[n] = 0;
}

bool is_printable(const KeyEvent& k) {
    return k.scan_code == 0 && k.character >= 0x20 && k.character != 0x7f;
}

bool is_alt_letter(const KeyEvent& k) {
    return (k.modifiers & kModAlt) && k.character < 0x80 && is_alpha(static_cast<int>(k.character));
}

// Ends the search under the original prompt: with the match as the line to edit, or
// with an empty line when the search was cancelled.
void end_search(Editor& e, const CodePoints& original, bool keep_match) {
    e.history_index = history_count();
    uint64_t drawn = e.prompt.length + e.shown_length;
    assign_points(e.prompt, original.data, original.length);
    e.shown_length = drawn > e.prompt.length ? drawn - e.prompt.length : 0;
    if (!keep_match) e.text.length = 0;
    e.cursor = e.text.length;
    redraw_from_cell(e, 0);
}

void reverse_search(Editor& e) {
    CodePoints original;
    assign_points(original, e.prompt.data, e.prompt.length);
    StringBuffer query;
    init(query);
    int64_t match = -1;
    show_search(e, query, match);
    for (;;) {
        KeyEvent k;
        if (!read_key(-1, &k)) break;
        int64_t newest = static_cast<int64_t>(history_count()) - 1;
        if (is_escape(k) || k.character == kCharCtrlC || k.character == 7) break;
        if (is_printable(k) && !is_alt_letter(k)) {
            append_codepoint(query, k.character);
            match = search_history(query.c_str(), newest);
            show_search(e, query, match);
            continue;
        }
        if (k.scan_code == 0 && (k.character == 8 || k.character == 0x7f)) {
            remove_last_utf8(query);
            match = search_history(query.c_str(), newest);
            show_search(e, query, match);
            continue;
        }
        if (k.scan_code == 0 && k.character == 18) {
            if (match > 0) {
                int64_t older = search_history(query.c_str(), match - 1);
                if (older >= 0) match = older;
            }
            show_search(e, query, match);
            continue;
        }
        // Any other key (Enter included) ends the search and leaves the match to edit.
        end_search(e, original, true);
        return;
    }
    end_search(e, original, false);
}

// ---------------------------------------------------------------------------------------
// Completion

bool is_path_separator(char c) { return c == '\\' || c == '/' || c == ':'; }

bool starts_with_nocase(const char* text, const char* prefix, uint64_t prefix_length) {
    return strnlen(text, prefix_length) == prefix_length &&
           compare_nocase_n(text, prefix, prefix_length) == 0;
}

void add_candidate(CompletionList& list, char* candidate) {
    for (uint64_t i = 0; i < list.count; i++) {
        if (equal_nocase(list.items[i], candidate)) {
            release(candidate);
            return;
        }
    }
    if (list.count == list.capacity) {
        uint64_t cap = list.capacity ? list.capacity * 2 : 16;
        list.items = static_cast<char**>(xresize(list.items, cap * sizeof(char*)));
        list.capacity = cap;
    }
    list.items[list.count++] = candidate;
}

bool has_runnable_extension(const char* name) {
    uint64_t n = strlen(name);
    if (n <= 4) return false;
    return equal_nocase(name + n - 4, ".tsb") || equal_nocase(name + n - 4, ".efi");
}

struct DirectoryScan {
    CompletionList* list;
    const char* directory;   // as typed, up to and including its last separator
    uint64_t directory_length;
    const char* rest;        // what must start the entry's name
    uint64_t rest_length;
    bool command_word;
};

void visit_entry(void* context, const char* name, bool is_directory) {
    auto* scan = static_cast<DirectoryScan*>(context);
    if (!name || !*name) return;
    if (!starts_with_nocase(name, scan->rest, scan->rest_length)) return;
    if (scan->command_word && !is_directory && !has_runnable_extension(name)) return;
    StringBuffer candidate;
    init(candidate);
    append_bytes(candidate, scan->directory, scan->directory_length);
    append_text(candidate, name);
    if (is_directory) append_char(candidate, '\\');
    add_candidate(*scan->list, take(candidate));
}

// The name a candidate is listed under: its last path component, a trailing separator
// belonging to that component ("efi\" for "fs0:\efi\"; "fs0:" stays whole).
const char* listed_name(const char* candidate) {
    uint64_t n = strlen(candidate);
    uint64_t end = n;
    if (end > 0 && is_path_separator(candidate[end - 1])) end--;
    uint64_t start = end;
    while (start > 0 && !is_path_separator(candidate[start - 1])) start--;
    if (start == end) return candidate;
    return candidate + start;
}

// Byte length of the longest common prefix of all items, ignoring ASCII case, cut back
// to a whole UTF-8 sequence.
uint64_t common_prefix_length(char** items, uint64_t count) {
    uint64_t n = strlen(items[0]);
    for (uint64_t i = 1; i < count; i++) {
        uint64_t k = 0;
        while (k < n && items[i][k] && to_lower(static_cast<unsigned char>(items[i][k])) ==
                                           to_lower(static_cast<unsigned char>(items[0][k])))
            k++;
        n = k;
    }
    while (n > 0 && (static_cast<unsigned char>(items[0][n]) & 0xc0) == 0x80) n--;
    return n;
}

void write_padded(CellWriter& writer, const char* text, uint64_t width) {
    uint64_t n = strlen(text);
    uint64_t cells = 0;
    uint64_t i = 0;
    while (i < n) {
        uint32_t c = 0;
        uint64_t used = utf8_decode(text + i, n - i, &c);
        if (used == 0) break;
        i += used;
        writer.put(c);
        cells++;
    }
    for (; cells < width; cells++) writer.put(' ');
}

void list_candidates(Editor& e, CompletionList& list) {
    e.cursor = e.text.length;
    place_cursor(e);
    console_write("\n", 1);
    uint64_t longest = 0;
    for (uint64_t i = 0; i < list.count; i++) {
        const char* name = listed_name(list.items[i]);
        longest = max_of(longest, utf8_count(name, strlen(name)));
    }
    uint64_t width = longest + 2;
    uint64_t per_row = (e.columns - 1) / width;
    if (per_row == 0) per_row = 1;
    {
        CellWriter writer;
        for (uint64_t i = 0; i < list.count; i++) {
            bool last_in_row = (i + 1) % per_row == 0 || i + 1 == list.count;
            write_padded(writer, listed_name(list.items[i]), last_in_row ? 0 : width);
            if (last_in_row) {
                writer.flush();
                console_write("\n", 1);
            }
        }
    }
    start_line(e);
    redraw(e, 0);
}

void replace_word(Editor& e, uint64_t word_start, const char* replacement, bool add_space) {
    CodePoints points;
    assign_utf8(points, replacement, strlen(replacement));
    if (add_space) {
        uint32_t space = ' ';
        insert_points(points, points.length, &space, 1);
    }
    erase_points(e.text, word_start, e.cursor);
    insert_points(e.text, word_start, points.data, points.length);
    e.cursor = word_start + points.length;
    if (e.cursor > e.text.length) e.cursor = e.text.length;
    redraw(e, word_start);
}

// Start of the word that ends at `cursor` (code points): after the last double quote
// when the cursor is inside a quoted part, else after the last space.
uint64_t word_start_points(const Editor& e) {
    uint64_t quotes = 0;
    for (uint64_t i = 0; i < e.cursor; i++)
        if (e.text.data[i] == '"') quotes++;
    uint32_t stop = (quotes % 2) ? '"' : ' ';
    uint64_t i = e.cursor;
    while (i > 0 && e.text.data[i - 1] != stop) i--;
    return i;
}

bool inside_quotes(const Editor& e) {
    uint64_t quotes = 0;
    for (uint64_t i = 0; i < e.cursor; i++)
        if (e.text.data[i] == '"') quotes++;
    return quotes % 2 != 0;
}

// A name with a blank would be split into two words: the completed word gets an opening
// double quote (unless it is already inside one), and the quote is closed when the name
// is complete (not a directory or volume to go on into).
void replace_word_quoted(Editor& e, uint64_t word_start, const char* replacement, bool complete_name) {
    const bool quoted = inside_quotes(e);
    const bool needs_quote = !quoted && strchr(replacement, ' ') != nullptr;
    if (!quoted && !needs_quote) {
        replace_word(e, word_start, replacement, complete_name);
        return;
    }
    StringBuffer text;
    init(text);
    if (needs_quote) append_char(text, '"');
    append_text(text, replacement);
    if (complete_name) append_char(text, '"');
    replace_word(e, word_start, text.c_str(), complete_name);
}

void complete(Editor& e) {
    StringBuffer line;
    init(line);
    append_points_utf8(line, e.text.data, e.cursor);
    CompletionList list;
    collect_completions(line.c_str(), line.length, list);
    if (list.count == 0) return;
    uint64_t word_start = word_start_points(e);
    if (list.count == 1) {
        const char* only = list.items[0];
        uint64_t n = strlen(only);
        bool complete_name = !(n > 0 && (only[n - 1] == '\\' || only[n - 1] == ':'));
        replace_word_quoted(e, word_start, only, complete_name);
        return;
    }
    stable_sort(list.items, list.count, [](const char* a, const char* b) { return compare_nocase(a, b) < 0; });
    uint64_t prefix = common_prefix_length(list.items, list.count);
    uint64_t word_points = e.cursor - word_start;
    if (utf8_count(list.items[0], prefix) > word_points && prefix > 0) {
        char* common = xstrndup(list.items[0], prefix);
        replace_word_quoted(e, word_start, common, false);
        release(common);
        return;
    }
    list_candidates(e, list);
}

// ---------------------------------------------------------------------------------------

char* finish_line(Editor& e) {
    StringBuffer out;
    init(out);
    append_points_utf8(out, e.text.data, e.text.length);
    return take(out);
}

bool only_spaces(const Editor& e) {
    for (uint64_t i = 0; i < e.text.length; i++)
        if (e.text.data[i] != ' ') return false;
    return true;
}

}  // namespace

CompletionList::~CompletionList() {
    for (uint64_t i = 0; i < count; i++) release(items[i]);
    release(items);
}

void set_completion_sources(const CompletionSources* sources) { g_sources = sources; }

void collect_completions(const char* line, uint64_t cursor, CompletionList& out) {
    if (!line) return;
    uint64_t quotes = 0;
    for (uint64_t i = 0; i < cursor; i++)
        if (line[i] == '"') quotes++;
    char stop = (quotes % 2) ? '"' : ' ';
    uint64_t start = cursor;
    while (start > 0 && line[start - 1] != stop) start--;
    out.word_start = start;
    bool command_word = true;
    for (uint64_t i = 0; i < start; i++)
        if (line[i] != ' ' && line[i] != '"') command_word = false;
    const char* word = line + start;
    uint64_t word_length = cursor - start;
    uint64_t last_separator = word_length;  // none
    for (uint64_t i = 0; i < word_length; i++)
        if (is_path_separator(word[i])) last_separator = i;
    bool has_separator = last_separator != word_length;

    if (command_word && !has_separator) {
        uint64_t n = command_count();
        for (uint64_t i = 0; i < n; i++) {
            const CommandDescriptor* d = command_at(i);
            if (d && d->name && starts_with_nocase(d->name, word, word_length))
                add_candidate(out, xstrdup(d->name));
        }
    }
    const CompletionSources* sources = g_sources;
    if (!has_separator && word_length > 0 && sources && sources->volume_count && sources->volume_name) {
        uint64_t n = sources->volume_count();
        for (uint64_t i = 0; i < n; i++) {
            const char* name = sources->volume_name(i);
            if (!name || !*name) continue;
            char* candidate = format_string("%s:", name);
            if (starts_with_nocase(candidate, word, word_length))
                add_candidate(out, candidate);
            else
                release(candidate);
        }
    }
    if (sources && sources->list_directory) {
        uint64_t directory_length = has_separator ? last_separator + 1 : 0;
        char* directory = xstrndup(word, directory_length);
        DirectoryScan scan{&out, directory, directory_length, word + directory_length,
                           word_length - directory_length, command_word};
        sources->list_directory(directory, visit_entry, &scan);
        release(directory);
    }
}

char* read_line(const char* prompt, bool use_history) {
    if (!prompt) prompt = "";
    if (use_history) (void)history_count();  // loads the history on first use

    // A prompt spanning several lines: everything up to its last line break is plain
    // output; the editor works with the last line.
    const char* last_break = strrchr(prompt, '\n');
    if (last_break) {
        console_write(prompt, static_cast<uint64_t>(last_break - prompt) + 1);
        prompt = last_break + 1;
    }

    // The first prompt asks the serial terminal (if one answers) for its real size.
    terminal_ask_size_once(kTerminalAnswerMs);
    Editor e;
    screen_size(&e.columns, &e.rows);
    e.relative = terminal_active();
    e.use_history = use_history;
    reserve_points(e.text, kInitialCapacity);
    set_prompt_text(e, prompt);
    start_line(e);
    e.history_index = use_history ? history_count() : 0;
    console_show_cursor(true);

    for (;;) {
        KeyEvent k;
        if (!read_key(-1, &k)) return nullptr;  // no console input at all
        uint32_t ch = k.character;
        uint16_t scan = k.scan_code;
        if (is_escape(k)) {
            if (e.text.length) {
                e.text.length = 0;
                e.cursor = 0;
                redraw(e, 0);
            }
            continue;
        }
        if (scan != 0) {
            bool ctrl = (k.modifiers & kModControl) != 0;
            switch (scan) {
            case kScanLeft: move_cursor(e, ctrl ? word_left(e) : (e.cursor ? e.cursor - 1 : 0)); break;
            case kScanRight: move_cursor(e, ctrl ? word_right(e) : e.cursor + 1); break;
            case kScanHome: move_cursor(e, 0); break;
            case kScanEnd: move_cursor(e, e.text.length); break;
            case kScanDelete: delete_range(e, e.cursor, e.cursor + 1); break;
            case kScanUp:
                if (use_history) history_step(e, true);
                break;
            case kScanDown:
                if (use_history) history_step(e, false);
                break;
            default: break;  // Insert, Page Up/Down, function keys
            }
            continue;
        }
        if (is_alt_letter(k)) {
            if (to_lower(static_cast<int>(ch)) == 'b') move_cursor(e, word_left(e));
            if (to_lower(static_cast<int>(ch)) == 'f') move_cursor(e, word_right(e));
            continue;
        }
        switch (ch) {
        case '\r':
        case '\n': {
            e.cursor = e.text.length;
            place_cursor(e);
            console_write("\n", 1);
            char* line = finish_line(e);
            if (use_history && !only_spaces(e)) history_add(line);
            return line;
        }
        case kCharCtrlC:
            e.cursor = e.text.length;
            place_cursor(e);
            console_write_text("^C\n");
            return nullptr;
        case 8:
        case 0x7f:
            if (e.cursor) delete_range(e, e.cursor - 1, e.cursor);
            break;
        case 4: delete_range(e, e.cursor, e.cursor + 1); break;
        case 2: move_cursor(e, e.cursor ? e.cursor - 1 : 0); break;
        case 6: move_cursor(e, e.cursor + 1); break;
        case 1: move_cursor(e, 0); break;
        case 5: move_cursor(e, e.text.length); break;
        case 11: delete_range(e, e.cursor, e.text.length); break;
        case 21: delete_range(e, 0, e.cursor); break;
        case 23: delete_word_before(e); break;
        case 12: clear_screen_and_redraw(e); break;
        case 18:
            if (use_history) reverse_search(e);
            break;
        case 9: complete(e); break;
        default:
            if (ch >= 0x20) insert_character(e, ch);
            break;  // other control characters
        }
    }
}

// ---------------------------------------------------------------------------------------
// Menu

namespace {

constexpr const char* kMenuHint = "Up/Down + Enter to choose, ESC to cancel.";
constexpr const char* kMenuCountdown = "Up/Down + Enter to choose, ESC to cancel. Default in %d s   ";

struct Menu {
    const char* title;
    const char* const* items;
    int count;
    int selection;       // 1-based; 0 for none
    int first;           // index of the first item shown
    int visible;         // items shown at once
    int remaining;       // seconds left; 0 when no countdown runs
    uint64_t columns;
    uint64_t item_width;
    uint64_t line_limit;  // no line may reach the last column (it would wrap)
    int64_t title_row;    // -1 until drawn once
    int32_t attribute;
};

// Writes at most `limit` cells of text, then blanks up to `pad` cells (both capped).
void write_cells(const char* text, uint64_t limit, uint64_t pad) {
    if (!text) text = "";
    CellWriter writer;
    uint64_t n = strlen(text);
    uint64_t cells = 0;
    uint64_t i = 0;
    while (i < n && cells < limit) {
        uint32_t c = 0;
        uint64_t used = utf8_decode(text + i, n - i, &c);
        if (used == 0) break;
        i += used;
        writer.put(c);
        cells++;
    }
    if (pad > limit) pad = limit;
    for (; cells < pad; cells++) writer.put(' ');
}

void draw_menu(Menu& m) {
    int background = (m.attribute >> 4) & 7;
    if (m.title_row >= 0) {
        if (terminal_active()) {  // back up over the items and the title, wherever they are
            console_write("\r", 1);
            terminal_move_cursor(-(m.visible + 1), 0);
        } else {
            console_set_cursor(0, static_cast<uint64_t>(m.title_row));
        }
    }
    console_set_attribute(15, background);
    write_cells(m.title, m.line_limit, 0);
    console_set_raw_attribute(m.attribute);
    console_write("\n", 1);
    for (int i = m.first; i < m.first + m.visible; i++) {
        char* line = format_string(" %2d. %s", i + 1, m.items[i] ? m.items[i] : "");
        if (i + 1 == m.selection) console_set_attribute(0, 7);
        write_cells(line, m.line_limit, m.item_width);
        release(line);
        console_set_raw_attribute(m.attribute);
        console_write("\n", 1);
    }
    console_set_attribute(8, background);
    char hint[96];
    format_into(hint, sizeof hint, kMenuCountdown, m.remaining);
    uint64_t hint_width = strlen(hint);
    if (m.remaining > 0)
        write_cells(hint, m.line_limit, hint_width);
    else
        write_cells(kMenuHint, m.line_limit, max_of(hint_width, m.item_width));
    console_set_raw_attribute(m.attribute);
    if (m.title_row < 0) {
        uint64_t column = 0, row = 0;
        console_cursor(&column, &row);
        int64_t top = static_cast<int64_t>(row) - m.visible - 1;
        m.title_row = top < 0 ? 0 : top;
    }
}

void keep_selection_visible(Menu& m) {
    if (m.selection <= 0) return;
    int index = m.selection - 1;
    if (index < m.first) m.first = index;
    if (index >= m.first + m.visible) m.first = index - m.visible + 1;
}

}  // namespace

int menu(const char* title, const char* const* items, int count, int timeout_seconds,
         int default_choice) {
    if (count <= 0 || !items) return 0;
    if (!console_is_interactive()) return default_choice;

    uint64_t columns = 0, rows = 0;
    screen_size(&columns, &rows);
    Menu m{};
    m.title = title ? title : "";
    m.items = items;
    m.count = count;
    m.selection = default_choice >= 1 && default_choice <= count ? default_choice : 0;
    int room = rows >= 4 ? static_cast<int>(rows) - 3 : 1;
    m.visible = count < room ? count : room;
    m.first = 0;
    m.remaining = timeout_seconds > 0 ? timeout_seconds : 0;
    m.columns = columns;
    m.line_limit = columns - 1;
    m.item_width = min_of<uint64_t>(columns - 2, 60);
    m.title_row = -1;
    m.attribute = console_attribute();
    keep_selection_visible(m);

    console_show_cursor(false);
    uint64_t column = 0, row = 0;
    console_cursor(&column, &row);
    if (terminal_active()) column = terminal_column();
    if (column != 0) console_write("\n", 1);
    draw_menu(m);

    int result = 0;
    for (;;) {
        KeyEvent k;
        if (m.remaining > 0) {
            if (!read_key(1000, &k)) {
                m.remaining--;
                if (m.remaining == 0) {
                    result = m.selection;
                    break;
                }
                draw_menu(m);
                continue;
            }
            m.remaining = 0;  // any key stops the countdown
            draw_menu(m);
        } else if (!read_key(-1, &k)) {
            result = 0;
            break;
        }
        if (k.character == kCharCtrlC) {
            result = -1;
            break;
        }
        if (is_escape(k)) {
            result = 0;
            break;
        }
        if (k.scan_code == 0 && (k.character == '\r' || k.character == '\n')) {
            result = m.selection;
            break;
        }
        if (k.scan_code == 0 && k.character >= '1' && k.character <= '9' &&
            static_cast<int>(k.character - '0') <= count) {
            result = static_cast<int>(k.character - '0');
            m.selection = result;
            break;
        }
        int before = m.selection;
        switch (k.scan_code) {
        case kScanUp: m.selection = m.selection > 1 ? m.selection - 1 : 1; break;
        case kScanDown: m.selection = m.selection < count ? m.selection + 1 : count; break;
        case kScanHome: m.selection = 1; break;
        case kScanEnd: m.selection = count; break;
        default: break;
        }
        if (m.selection != before) {
            keep_selection_visible(m);
            draw_menu(m);
        }
    }
    console_set_raw_attribute(m.attribute);
    console_write("\n", 1);
    console_show_cursor(true);
    return result;
}

}  // namespace tarn

// The terminal on the serial line behind the firmware console. The firmware assumes its
// text mode is the terminal's size; where the terminal answers a cursor position query,
// the shell uses the real size instead and moves the cursor relative to where it is, so
// that a taller or smaller terminal shows every line where it was written.
#pragma once
#include "runtime/util.h"

namespace tarn {

// Asks the terminal for its size through the Serial I/O protocol (raw bytes: save the
// cursor, move to a far corner, report the position, restore), waiting at most wait_ms
// for the answer to begin. Keys that arrive instead are kept for read_key; an answer that
// comes later is taken by read_key when it decodes it.
void terminal_ask_size(int64_t wait_ms);
// terminal_ask_size the first time only (the line editor's first prompt).
void terminal_ask_size_once(int64_t wait_ms);
// The size the terminal reported (1-based row and column of the far corner).
void terminal_note_size(uint64_t rows, uint64_t columns);
// Whether a terminal answered: console_size then reports its size and the line editor
// moves the cursor relatively.
bool terminal_active();
void terminal_size(uint64_t* columns, uint64_t* rows);

// Raw bytes to the serial line (false when there is no Serial I/O protocol).
bool terminal_write_raw(const char* bytes, uint64_t n);
// Moves the cursor by rows (negative: up) and columns (negative: left) with escape
// sequences; the screen never scrolls.
void terminal_move_cursor(int64_t rows, int64_t columns);

// The column the terminal's cursor is in, followed through everything the console layer
// writes: 0 .. columns, where columns means the last cell of the row was just written and
// the terminal wraps before the next character.
uint64_t terminal_column();
void terminal_track(char16_t unit);
void terminal_track_column(uint64_t column);

// Host tests: back to the start-up state (no terminal known).
void reset_terminal_state();

}  // namespace tarn

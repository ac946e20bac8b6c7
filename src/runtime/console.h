// Console operations: the layer between the shell and the firmware console protocols.
#pragma once
#include "runtime/util.h"

namespace tarn {

struct KeyEvent {
    uint32_t character = 0;   // Unicode; 0 for keys without one
    uint16_t scan_code = 0;   // UEFI scan code; 0x17 is ESC
    uint8_t modifiers = 0;    // kModControl, kModAlt
};
constexpr uint8_t kModControl = 1;
constexpr uint8_t kModAlt = 2;
constexpr uint16_t kScanEscape = 0x17;
constexpr uint32_t kCharCtrlC = 3;

inline bool is_escape(const KeyEvent& k) { return k.scan_code == kScanEscape || k.character == 27; }

// Writes UTF-8 text to the console (LF becomes CR LF; code points above U+FFFF become U+FFFD).
void console_write(const char* bytes, uint64_t n);
void console_write_text(const char* text);
// Reads a key: timeout_ms < 0 waits forever, 0 polls once. Returns false when no key came.
bool console_read_key(int64_t timeout_ms, KeyEvent* key);
// Attribute: background * 16 + foreground.
void console_set_attribute(int foreground, int background);
void console_set_raw_attribute(int32_t attribute);
int32_t console_attribute();
void console_restore_attribute();
void console_clear();
// Columns and rows of the current mode (80 by 25 when the query fails).
void console_size(uint64_t* columns, uint64_t* rows);
// The console's text modes: how many there are (0 without a console), the current one
// (-1 without), one mode's size (false when the firmware cannot report it), and SetMode
// (the firmware status; the screen is cleared).
int32_t console_mode_count();
int32_t console_current_mode();
bool console_query_mode(uint64_t mode, uint64_t* columns, uint64_t* rows);
uint64_t console_set_mode(uint64_t mode);
void console_set_cursor(uint64_t column, uint64_t row);
void console_cursor(uint64_t* column, uint64_t* row);
void console_show_cursor(bool visible);
bool console_is_interactive();
// Milliseconds since start-up, from the processor's time-stamp counter.
uint64_t milliseconds();

}  // namespace tarn

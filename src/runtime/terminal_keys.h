// Keys as terminals send them: the firmware's serial terminal decodes a few escape
// sequences itself and hands the others on as an Escape key followed by plain characters.
#pragma once
#include "runtime/console.h"

namespace tarn {

// How long the characters of one sequence may trail the Escape key.
constexpr int64_t kSequenceFollowMs = 100;

// The next raw key (false when none came within timeout_ms).
using RawKeyReader = bool (*)(void* context, int64_t timeout_ms, KeyEvent* key);

enum class TerminalInput : uint8_t {
    kKey,      // *key holds the decoded key (a lone Escape stays an Escape)
    kReport,   // a cursor position report: *row and *column, 1-based
    kNothing,  // a sequence that means no key here; read on
};

// Decodes what follows an Escape key (scan code 0x17) read from `next`: CSI sequences
// (ESC [ params final: arrows, Home, End, Insert, Delete, Page Up/Down, F1-F12, with
// their modifier parameter), SS3 sequences (ESC O letter) and Alt+character. When the key
// after the Escape belongs to no sequence, it is handed back in *leftover (and
// *has_leftover is set) for the caller to read next.
TerminalInput decode_after_escape(RawKeyReader next, void* context, KeyEvent* key,
                                  uint64_t* row, uint64_t* column, KeyEvent* leftover,
                                  bool* has_leftover);

}  // namespace tarn

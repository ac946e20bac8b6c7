// Decoding of the escape sequences a terminal sends for editing keys.
#include "runtime/terminal_keys.h"

namespace tarn {

namespace {

// UEFI scan codes.
constexpr uint16_t kScanUp = 1, kScanDown = 2, kScanRight = 3, kScanLeft = 4, kScanHome = 5,
                   kScanEnd = 6, kScanInsert = 7, kScanDelete = 8, kScanPageUp = 9,
                   kScanPageDown = 10, kScanF1 = 0x0b, kScanF11 = 0x15, kScanF12 = 0x16;

constexpr int kMaxParameters = 4;
constexpr uint64_t kMaxParameterValue = 100000;

struct Parameters {
    uint64_t value[kMaxParameters] = {};
    int count = 0;
};

// The scan code of "ESC [ n ~" (VT220 editing and function keys).
uint16_t tilde_scan(uint64_t n) {
    switch (n) {
    case 1: case 7: return kScanHome;
    case 2: return kScanInsert;
    case 3: return kScanDelete;
    case 4: case 8: return kScanEnd;
    case 5: return kScanPageUp;
    case 6: return kScanPageDown;
    case 11: case 12: case 13: case 14: case 15: return static_cast<uint16_t>(kScanF1 + (n - 11));
    case 17: case 18: case 19: case 20: case 21: return static_cast<uint16_t>(kScanF1 + 5 + (n - 17));
    case 23: return kScanF11;
    case 24: return kScanF12;
    default: return 0;
    }
}

// The scan code of a final letter of "ESC [ ... X" or "ESC O X".
uint16_t letter_scan(uint32_t c) {
    switch (c) {
    case 'A': return kScanUp;
    case 'B': return kScanDown;
    case 'C': return kScanRight;
    case 'D': return kScanLeft;
    case 'H': return kScanHome;
    case 'F': return kScanEnd;
    case 'P': case 'Q': case 'R': case 'S': return static_cast<uint16_t>(kScanF1 + (c - 'P'));
    default: return 0;
    }
}

// xterm's modifier parameter: 1 + (1 shift, 2 alt, 4 control).
uint8_t modifiers_of(uint64_t parameter) {
    if (parameter < 2 || parameter > 16) return 0;
    uint64_t bits = parameter - 1;
    uint8_t m = 0;
    if (bits & 4) m |= kModControl;
    if (bits & 2) m |= kModAlt;
    return m;
}

bool plain(const KeyEvent& k) { return k.scan_code == 0 && k.character != 0; }

TerminalInput decode_csi(RawKeyReader next, void* context, KeyEvent* key, uint64_t* row,
                         uint64_t* column) {
    Parameters p;
    bool digits = false;
    for (int length = 0; length < 32; length++) {
        KeyEvent k;
        if (!next(context, kSequenceFollowMs, &k) || !plain(k)) return TerminalInput::kNothing;
        uint32_t c = k.character;
        if (c >= '0' && c <= '9') {
            if (p.count == 0) p.count = 1;
            uint64_t& v = p.value[p.count - 1];
            if (v < kMaxParameterValue) v = v * 10 + (c - '0');
            digits = true;
            continue;
        }
        if (c == ';') {
            if (p.count == 0) p.count = 1;
            if (p.count == kMaxParameters) return TerminalInput::kNothing;
            p.count++;
            continue;
        }
        if (c < 0x40 || c > 0x7e) return TerminalInput::kNothing;
        // The final character.
        *key = KeyEvent{};
        if (c == 'R' && p.count == 2 && digits) {
            *row = p.value[0];
            *column = p.value[1];
            return TerminalInput::kReport;
        }
        if (c == '~') {
            key->scan_code = tilde_scan(p.value[0]);
        } else {
            key->scan_code = letter_scan(c);
        }
        if (p.count >= 2) key->modifiers = modifiers_of(p.value[1]);
        return key->scan_code ? TerminalInput::kKey : TerminalInput::kNothing;
    }
    return TerminalInput::kNothing;
}

}  // namespace

TerminalInput decode_after_escape(RawKeyReader next, void* context, KeyEvent* key,
                                  uint64_t* row, uint64_t* column, KeyEvent* leftover,
                                  bool* has_leftover) {
    *has_leftover = false;
    KeyEvent escape{};
    escape.scan_code = kScanEscape;
    KeyEvent k;
    if (!next(context, kSequenceFollowMs, &k)) {
        *key = escape;
        return TerminalInput::kKey;
    }
    if (!plain(k) || k.character < 0x20 || k.character > 0x7e) {
        // Another Escape, a key the firmware decoded, a control character: not ours.
        *leftover = k;
        *has_leftover = true;
        *key = escape;
        return TerminalInput::kKey;
    }
    if (k.character == '[') return decode_csi(next, context, key, row, column);
    if (k.character == 'O') {
        KeyEvent f;
        if (!next(context, kSequenceFollowMs, &f)) {
            *key = KeyEvent{'O', 0, kModAlt};
            return TerminalInput::kKey;
        }
        *key = KeyEvent{};
        key->scan_code = plain(f) ? letter_scan(f.character) : 0;
        return key->scan_code ? TerminalInput::kKey : TerminalInput::kNothing;
    }
    // Alt+character.
    *key = KeyEvent{k.character, 0, kModAlt};
    return TerminalInput::kKey;
}

}  // namespace tarn

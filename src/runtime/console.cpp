// Console operations over Simple Text Output and Simple Text Input (Ex).
#include "runtime/console.h"

#include "cpu/cpu.h"
#include "runtime/clock.h"
#include "runtime/firmware.h"
#include "runtime/strings.h"
#include "runtime/terminal.h"
#include "runtime/text.h"

namespace tarn {

namespace {

constexpr uint64_t kFlushUnits = 252;

efi::SimpleTextOutput* con_out() {
    if (firmware().console_out) return firmware().console_out;
    auto* st = firmware().system_table;
    return st ? st->con_out : nullptr;
}

efi::SimpleTextInput* con_in() {
    auto* st = firmware().system_table;
    return st ? st->con_in : nullptr;
}

// One raw read without waiting. Returns true when a key with a character or a scan
// code was read.
bool read_one(KeyEvent* key) {
    KeyEvent k;
    if (auto* ex = firmware().con_in_ex) {
        efi::KeyData data{};
        if (ex->read_key_stroke_ex(ex, &data) != efi::kSuccess) return false;
        k.character = data.key.unicode_char;
        k.scan_code = data.key.scan_code;
        uint32_t shift = data.key_state.key_shift_state;
        if (shift & efi::kShiftStateValid) {
            if (shift & (efi::kLeftControlPressed | efi::kRightControlPressed)) k.modifiers |= kModControl;
            if (shift & (efi::kLeftAltPressed | efi::kRightAltPressed)) k.modifiers |= kModAlt;
        }
    } else {
        auto* in = con_in();
        if (!in) return false;
        efi::InputKey raw{};
        if (in->read_key_stroke(in, &raw) != efi::kSuccess) return false;
        k.character = raw.unicode_char;
        k.scan_code = raw.scan_code;
    }
    if ((k.modifiers & kModControl) && is_alpha(static_cast<int>(k.character)))
        k.character = static_cast<uint32_t>(to_lower(static_cast<int>(k.character)) - 'a' + 1);
    if (k.character == 0 && k.scan_code == 0) return false;
    *key = k;
    return true;
}

efi::Event key_event() {
    if (auto* ex = firmware().con_in_ex) return ex->wait_for_key_ex;
    auto* in = con_in();
    return in ? in->wait_for_key : nullptr;
}

}  // namespace

void console_write(const char* bytes, uint64_t n) {
    auto* out = con_out();
    if (!out || !bytes) return;
    char16_t units[kFlushUnits + 4];
    uint64_t count = 0;
    uint64_t i = 0;
    while (i < n) {
        uint32_t cp = 0;
        uint64_t used = utf8_decode(bytes + i, n - i, &cp);
        i += used;
        if (cp == '\n') units[count++] = u'\r';
        // The firmware's string ends at a zero unit: a NUL in the text would cut off the
        // rest of the chunk, so it is shown as the replacement character.
        if (cp > 0xffff || cp == 0) cp = kReplacementCharacter;
        units[count++] = static_cast<char16_t>(cp);
        terminal_track(static_cast<char16_t>(cp));
        if (count > kFlushUnits) {
            units[count] = 0;
            out->output_string(out, units);
            count = 0;
        }
    }
    if (count) {
        units[count] = 0;
        out->output_string(out, units);
    }
}

void console_write_text(const char* text) {
    if (text) console_write(text, strlen(text));
}

bool console_read_key(int64_t timeout_ms, KeyEvent* key) {
    if (read_one(key)) return true;
    if (timeout_ms == 0) return false;
    auto* bs = boot_services();
    efi::Event wait_key = key_event();
    if (!bs || !wait_key) return false;

    efi::Event timer = nullptr;
    if (timeout_ms > 0) {
        if (bs->create_event(efi::kEvtTimer, 0, nullptr, nullptr, &timer) != efi::kSuccess) timer = nullptr;
        else bs->set_timer(timer, efi::kTimerRelative, static_cast<uint64_t>(timeout_ms) * 10000);
    }
    uint64_t deadline = timeout_ms > 0 ? milliseconds() + static_cast<uint64_t>(timeout_ms) : 0;
    bool got = false;
    for (;;) {
        efi::Event events[2] = {wait_key, timer};
        uint64_t index = 0;
        efi::Status s = bs->wait_for_event(timer ? 2 : 1, events, &index);
        if (s != efi::kSuccess) {
            clock_stall(1000);
        } else if (index == 1) {
            got = read_one(key);
            break;
        }
        if (read_one(key)) {
            got = true;
            break;
        }
        if (timeout_ms > 0 && milliseconds() >= deadline) break;
    }
    if (timer) bs->close_event(timer);
    return got;
}

void console_set_raw_attribute(int32_t attribute) {
    if (auto* out = con_out()) out->set_attribute(out, static_cast<uint64_t>(attribute));
}

void console_set_attribute(int foreground, int background) {
    console_set_raw_attribute(((background & 7) << 4) | (foreground & 15));
}

int32_t console_attribute() {
    auto* out = con_out();
    if (!out || !out->mode) return 7;
    return out->mode->attribute;
}

void console_restore_attribute() { console_set_raw_attribute(firmware().saved_attribute); }

void console_clear() {
    if (auto* out = con_out()) out->clear_screen(out);
    terminal_track_column(0);
}

void console_size(uint64_t* columns, uint64_t* rows) {
    if (terminal_active()) {
        terminal_size(columns, rows);
        return;
    }
    uint64_t c = 80, r = 25;
    auto* out = con_out();
    if (out && out->mode) {
        uint64_t qc = 0, qr = 0;
        if (out->query_mode(out, static_cast<uint64_t>(out->mode->mode), &qc, &qr) == efi::kSuccess) {
            c = qc;
            r = qr;
        }
    }
    if (columns) *columns = c;
    if (rows) *rows = r;
}

int32_t console_mode_count() {
    auto* out = con_out();
    return out && out->mode && out->mode->max_mode > 0 ? out->mode->max_mode : 0;
}

int32_t console_current_mode() {
    auto* out = con_out();
    return out && out->mode ? out->mode->mode : -1;
}

bool console_query_mode(uint64_t mode, uint64_t* columns, uint64_t* rows) {
    auto* out = con_out();
    uint64_t c = 0, r = 0;
    if (!out || out->query_mode(out, mode, &c, &r) != efi::kSuccess) return false;
    *columns = c;
    *rows = r;
    return true;
}

uint64_t console_set_mode(uint64_t mode) {
    auto* out = con_out();
    if (!out) return efi::kUnsupported;
    const efi::Status st = out->set_mode(out, mode);
    if (st == efi::kSuccess) terminal_track_column(0);
    return st;
}

void console_set_cursor(uint64_t column, uint64_t row) {
    if (auto* out = con_out()) out->set_cursor_position(out, column, row);
    terminal_track_column(column);
}

void console_cursor(uint64_t* column, uint64_t* row) {
    auto* out = con_out();
    int32_t c = 0, r = 0;
    if (out && out->mode) {
        c = out->mode->cursor_column;
        r = out->mode->cursor_row;
    }
    if (column) *column = c < 0 ? 0 : static_cast<uint64_t>(c);
    if (row) *row = r < 0 ? 0 : static_cast<uint64_t>(r);
}

void console_show_cursor(bool visible) {
    if (auto* out = con_out()) out->enable_cursor(out, visible ? 1 : 0);
}

bool console_is_interactive() { return true; }

uint64_t milliseconds() {
    const FirmwareContext& fw = firmware();
    uint64_t ticks = fw.ticks_per_ms ? fw.ticks_per_ms : 1;
    return (read_timestamp_counter() - fw.tsc_start) / ticks;
}

}  // namespace tarn

// The serial terminal: its size, relative cursor moves, and the column it is in.
#include "runtime/terminal.h"

#include "runtime/console.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/terminal_keys.h"
#include "uefi/guids.h"

namespace tarn {

namespace {

// Terminals larger than this are taken as this; smaller than the minimum are no answer.
constexpr uint64_t kMaxCells = 4096;
constexpr uint64_t kMinColumns = 10;
constexpr uint64_t kMinRows = 2;

struct TerminalState {
    efi::SerialIo* serial;
    bool looked_up;
    bool asked;
    bool active;
    uint64_t columns;
    uint64_t rows;
    uint64_t column;
};

constinit TerminalState g_terminal{};

efi::SerialIo* serial() {
    if (!g_terminal.looked_up) {
        g_terminal.looked_up = true;
        auto* bs = boot_services();
        void* interface = nullptr;
        if (bs && bs->locate_protocol(&efi::kSerialIoProtocolGuid, nullptr, &interface) == efi::kSuccess)
            g_terminal.serial = static_cast<efi::SerialIo*>(interface);
    }
    return g_terminal.serial;
}

bool read_console(void*, int64_t timeout_ms, KeyEvent* key) { return console_read_key(timeout_ms, key); }

}  // namespace

void reset_terminal_state() { g_terminal = TerminalState{}; }

bool terminal_write_raw(const char* bytes, uint64_t n) {
    efi::SerialIo* io = serial();
    if (!io || !io->write) return false;
    uint64_t size = n;
    return io->write(io, &size, bytes) == efi::kSuccess;
}

void terminal_ask_size(int64_t wait_ms) {
    // Two reports: where the cursor is now (its column), then the far corner (the size).
    static constexpr char kQuery[] = "\x1b[6n" "\x1b" "7" "\x1b[999;999H" "\x1b[6n" "\x1b" "8";
    if (!terminal_write_raw(kQuery, sizeof kQuery - 1)) return;
    uint64_t reports[2][2] = {};
    int got = 0;
    while (got < 2) {
        KeyEvent k;
        if (!console_read_key(got == 0 ? wait_ms : kSequenceFollowMs, &k)) break;
        if (k.scan_code != kScanEscape) {
            unread_key(k);
            break;
        }
        KeyEvent decoded, leftover;
        bool has_leftover = false;
        TerminalInput what = decode_after_escape(read_console, nullptr, &decoded, &reports[got][0],
                                                 &reports[got][1], &leftover, &has_leftover);
        if (what == TerminalInput::kKey) unread_key(decoded);
        if (has_leftover) unread_key(leftover);
        if (what != TerminalInput::kReport) break;
        got++;
    }
    if (got == 2) {
        terminal_note_size(reports[1][0], reports[1][1]);
        terminal_track_column(reports[0][1] ? reports[0][1] - 1 : 0);
    }
}

void terminal_ask_size_once(int64_t wait_ms) {
    if (g_terminal.asked) return;
    g_terminal.asked = true;
    terminal_ask_size(wait_ms);
}

void terminal_note_size(uint64_t rows, uint64_t columns) {
    if (rows < kMinRows || columns < kMinColumns) return;
    g_terminal.rows = min_of(rows, kMaxCells);
    g_terminal.columns = min_of(columns, kMaxCells);
    g_terminal.active = true;
    if (g_terminal.column > g_terminal.columns) g_terminal.column = g_terminal.columns;
}

bool terminal_active() { return g_terminal.active; }

void terminal_size(uint64_t* columns, uint64_t* rows) {
    if (columns) *columns = g_terminal.columns;
    if (rows) *rows = g_terminal.rows;
}

void terminal_move_cursor(int64_t rows, int64_t columns) {
    char buffer[48];
    uint64_t n = 0;
    auto add = [&](int64_t count, char up, char down) {
        if (count == 0) return;
        n += format_into(buffer + n, sizeof buffer - n, "\x1b[%lld%c",
                         static_cast<long long>(count < 0 ? -count : count), count < 0 ? up : down);
    };
    add(rows, 'A', 'B');
    add(columns, 'D', 'C');
    if (n) terminal_write_raw(buffer, n);
    if (g_terminal.active) {
        int64_t c = static_cast<int64_t>(g_terminal.column >= g_terminal.columns && g_terminal.columns
                                             ? g_terminal.columns - 1
                                             : g_terminal.column) + columns;
        if (c < 0) c = 0;
        if (c >= static_cast<int64_t>(g_terminal.columns)) c = static_cast<int64_t>(g_terminal.columns) - 1;
        g_terminal.column = static_cast<uint64_t>(c);
    }
}

uint64_t terminal_column() { return g_terminal.column; }

void terminal_track(char16_t unit) {
    if (!g_terminal.active) return;
    switch (unit) {
    case u'\r':
    case u'\n':  // the console layer writes every line feed after a carriage return
        g_terminal.column = 0;
        return;
    case u'\b':
        if (g_terminal.column >= g_terminal.columns) g_terminal.column = g_terminal.columns - 1;
        if (g_terminal.column > 0) g_terminal.column--;
        return;
    default:
        break;
    }
    if (unit < 0x20) return;
    if (g_terminal.column >= g_terminal.columns) g_terminal.column = 0;  // the deferred wrap
    g_terminal.column++;
}

void terminal_track_column(uint64_t column) {
    if (g_terminal.active) g_terminal.column = min_of(column, g_terminal.columns);
}

}  // namespace tarn

// The output channel: every byte of normal output passes through out_write.
#include "runtime/output.h"

#include "runtime/clock.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/strings.h"
#include "runtime/terminal_keys.h"

namespace tarn {

namespace {

enum class RedirectKind : uint8_t { kCapture, kFile };

struct Redirection {
    RedirectKind kind;
    StringBuffer* capture;
    void* file;
    ShellError write_error;
};

struct OutputState {
    Redirection stack[kMaxRedirections];
    int depth;
    // pager
    bool paging;
    bool stopped;
    uint64_t columns;
    uint64_t rows;
    uint64_t column;
    uint64_t lines_left;
    // records
    bool data_mode;
    bool first_record;
    // keyboard
    bool break_flag;
    uint64_t last_poll;
    bool polled;
    KeyEvent ring[kKeyRingSize];
    int ring_head;
    int ring_count;
    // hooks
    const RedirectFileOps* file_ops;
    UsageLookup usage_lookup;
    void* break_event;
};

constinit OutputState g_out{};

constexpr const char kMorePrompt[] = "-- More -- (Enter: one line, Space: one page, q: stop) ";
constexpr uint64_t kMorePromptLength = sizeof(kMorePrompt) - 1;
static_assert(kMorePromptLength == 55);

// Formats into a 512-byte scratch area, or into an exact allocation when that is too small,
// and hands the result to sink.
template <class Sink> void format_then(Sink sink, const char* format, va_list args) {
    char scratch[512];
    va_list copy;
    va_copy(copy, args);
    uint64_t n = vformat_into(scratch, sizeof scratch, format, args);
    if (n < sizeof scratch) {
        sink(scratch, n);
    } else {
        Owned<char> big(static_cast<char*>(xallocate(n + 1)));
        vformat_into(big.get(), n + 1, format, copy);
        sink(big.get(), n);
    }
    va_end(copy);
}

bool is_stop_key(const KeyEvent& k) {
    return k.character == 'q' || k.character == 'Q' || is_escape(k) || k.character == kCharCtrlC;
}

void page_out(const char* bytes, uint64_t n) {
    uint64_t start = 0;
    for (uint64_t i = 0; i < n; i++) {
        uint8_t b = static_cast<uint8_t>(bytes[i]);
        bool line_end = false;
        if (b == '\n') {
            line_end = true;
        } else if ((b & 0xc0) != 0x80) {
            g_out.column++;
            if (g_out.column >= g_out.columns) line_end = true;
        }
        if (!line_end) continue;
        console_write(bytes + start, i + 1 - start);
        start = i + 1;
        g_out.column = 0;
        if (g_out.lines_left > 0) g_out.lines_left--;
        if (g_out.lines_left > 0) continue;

        console_write(kMorePrompt, kMorePromptLength);
        KeyEvent key;
        bool got = read_key(-1, &key);
        char erase[kMorePromptLength + 3];
        erase[0] = '\r';
        memset(erase + 1, ' ', kMorePromptLength);
        erase[kMorePromptLength + 1] = '\r';
        console_write(erase, kMorePromptLength + 2);
        if (!got || is_stop_key(key)) {
            g_out.stopped = true;
            g_out.break_flag = true;
            return;
        }
        if (key.character == '\r' || key.character == '\n')
            g_out.lines_left = 1;
        else
            g_out.lines_left = g_out.rows - 1;
    }
    if (start < n) console_write(bytes + start, n - start);
}

void ring_push(const KeyEvent& k) {
    if (g_out.ring_count >= kKeyRingSize) return;
    g_out.ring[(g_out.ring_head + g_out.ring_count) % kKeyRingSize] = k;
    g_out.ring_count++;
}

}  // namespace

void reset_output_state() { g_out = OutputState{}; }

// ---- writing ----

void out_write(const char* bytes, uint64_t n) {
    if (n == 0) return;
    if (g_out.depth > 0) {
        Redirection& top = g_out.stack[g_out.depth - 1];
        if (top.kind == RedirectKind::kCapture) {
            append_bytes(*top.capture, bytes, n);
        } else if (top.write_error == 0 && g_out.file_ops) {
            ShellError e = g_out.file_ops->write(top.file, bytes, n);
            if (e != 0) top.write_error = e;
        }
        return;
    }
    if (g_out.stopped) return;
    if (g_out.paging && console_is_interactive()) {
        page_out(bytes, n);
        return;
    }
    console_write(bytes, n);
}

bool out_write_interruptible(const char* bytes, uint64_t n) {
    // A run of four lines (at most 512 bytes) takes about 45 ms at 115200 baud, which keeps
    // the poll near its 50 ms rhythm on the slowest console.
    constexpr uint64_t kRunLines = 4;
    constexpr uint64_t kRunBytes = 512;
    uint64_t start = 0;
    while (start < n) {
        if (poll_break()) return false;
        uint64_t end = start;
        uint64_t lines = 0;
        while (end < n && end - start < kRunBytes && lines < kRunLines)
            if (bytes[end++] == '\n') lines++;
        out_write(bytes + start, end - start);
        start = end;
    }
    return !poll_break();
}

void out_text(const char* text) {
    if (text) out_write(text, strlen(text));
}

void out_vprintf(const char* format, va_list args) {
    format_then([](const char* s, uint64_t n) { out_write(s, n); }, format, args);
}

void out_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    out_vprintf(format, args);
    va_end(args);
}

// ---- error lines ----

namespace {
void error_vprintf(const char* format, va_list args) {
    int32_t saved = console_attribute();
    console_set_raw_attribute((saved & 0x70) | kErrorColour);
    format_then([](const char* s, uint64_t n) { console_write(s, n); }, format, args);
    console_set_raw_attribute(saved);
}
}  // namespace

void print_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    error_vprintf(format, args);
    va_end(args);
}

int report_error(const char* command, const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* message = vformat_string(format, args);
    va_end(args);
    print_error("%s: %s\n", command, message);
    release(message);
    return 1;
}

int report_failure(const char* command, const char* subject, ShellError code) {
    return report_error(command, "%s: %s", subject, error_message(code));
}

void set_usage_lookup(UsageLookup lookup) { g_out.usage_lookup = lookup; }

int report_usage(const char* command) {
    const char* usage = g_out.usage_lookup ? g_out.usage_lookup(command) : nullptr;
    print_error("usage: %s\n", usage ? usage : command);
    return 2;
}

// ---- redirection ----

void set_redirect_file_ops(const RedirectFileOps* ops) { g_out.file_ops = ops; }

ShellError push_capture(StringBuffer* buffer) {
    if (g_out.depth >= kMaxRedirections) return kErrOutOfMemory;
    g_out.stack[g_out.depth++] = Redirection{RedirectKind::kCapture, buffer, nullptr, 0};
    return kOk;
}

ShellError push_file(const char* path, bool append) {
    if (g_out.depth >= kMaxRedirections) return kErrOutOfMemory;
    if (!g_out.file_ops) return kErrNotSupported;
    void* handle = nullptr;
    ShellError e = g_out.file_ops->open(path, append, &handle);
    if (e != 0) return e;
    g_out.stack[g_out.depth++] = Redirection{RedirectKind::kFile, nullptr, handle, 0};
    return kOk;
}

ShellError pop_redirection() {
    if (g_out.depth == 0) return kOk;
    Redirection top = g_out.stack[--g_out.depth];
    if (top.kind == RedirectKind::kCapture) return kOk;
    ShellError closed = g_out.file_ops ? g_out.file_ops->close(top.file) : kOk;
    return top.write_error != 0 ? top.write_error : closed;
}

bool is_redirected() { return g_out.depth > 0; }
int redirection_depth() { return g_out.depth; }

// ---- colours ----

void set_colour(int foreground, int background) {
    if (!is_redirected()) console_set_attribute(foreground, background);
}

void reset_colour() {
    if (!is_redirected()) console_restore_attribute();
}

// ---- pager ----

void pager_begin(bool enabled) {
    g_out.paging = enabled;
    g_out.stopped = false;
    g_out.column = 0;
    uint64_t columns = 80, rows = 25;
    console_size(&columns, &rows);
    if (columns < 8) columns = 80;
    if (rows < 4) rows = 25;
    g_out.columns = columns;
    g_out.rows = rows;
    g_out.lines_left = rows - 1;
}

bool pager_stopped() { return g_out.stopped; }

// ---- records ----

void set_data_mode(bool on) {
    g_out.data_mode = on;
    g_out.first_record = true;
}

bool data_mode() { return g_out.data_mode; }

void record_begin() {
    if (g_out.first_record) {
        g_out.first_record = false;
        return;
    }
    out_write("\n", 1);
}

namespace {
void record_vfield(const char* key, const char* format, va_list args) {
    out_text(key);
    out_write("=", 1);
    format_then(
        [](const char* s, uint64_t n) {
            // Values stay on one line: CR and LF become spaces.
            uint64_t start = 0;
            for (uint64_t i = 0; i < n; i++) {
                if (s[i] != '\r' && s[i] != '\n') continue;
                out_write(s + start, i - start);
                out_write(" ", 1);
                start = i + 1;
            }
            out_write(s + start, n - start);
        },
        format, args);
    out_write("\n", 1);
}
}  // namespace

void record_field(const char* key, const char* format, ...) {
    va_list args;
    va_start(args, format);
    record_vfield(key, format, args);
    va_end(args);
}

void normalize_key(const char* label, char* key, uint64_t key_size) {
    if (!key || key_size == 0) return;
    uint64_t limit = min_of<uint64_t>(key_size - 1, 63);
    uint64_t n = 0;
    bool pending_underscore = false;
    for (const char* p = label; p && *p; p++) {
        int c = static_cast<unsigned char>(*p);
        if (is_alnum(c)) {
            if (pending_underscore && n > 0 && n < limit) key[n++] = '_';
            pending_underscore = false;
            if (n < limit) key[n++] = static_cast<char>(to_lower(c));
        } else {
            pending_underscore = true;
        }
    }
    while (n > 0 && key[n - 1] == '_') n--;
    key[n] = 0;
}

void labeled_value(int indent, int width, const char* label, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (g_out.data_mode) {
        char key[64];
        normalize_key(label, key, sizeof key);
        record_vfield(key, format, args);
    } else {
        char* value = vformat_string(format, args);
        char* with_colon = format_string("%s:", label);
        out_printf("%*s%-*s %s\n", indent, "", width, with_colon, value);
        release(with_colon);
        release(value);
    }
    va_end(args);
}

// ---- keyboard ----

void set_break_event(void* event) { g_out.break_event = event; }

bool poll_break() {
    auto* bs = boot_services();
    if (g_out.break_event && bs && bs->check_event(g_out.break_event) == efi::kSuccess)
        g_out.break_flag = true;
    uint64_t now = milliseconds();
    if (g_out.polled && now - g_out.last_poll < 50) return g_out.break_flag;
    g_out.polled = true;
    g_out.last_poll = now;
    KeyEvent key;
    while (console_read_key(0, &key)) {
        if (key.character == kCharCtrlC) {
            g_out.break_flag = true;
            g_out.ring_count = 0;
            g_out.ring_head = 0;
        } else {
            ring_push(key);
        }
    }
    return g_out.break_flag;
}

void clear_break() { g_out.break_flag = false; }

bool sleep_interruptible(uint64_t ms) {
    uint64_t start = milliseconds();
    uint64_t end = start + ms;
    if (end < start) end = ~0ull;
    for (;;) {
        uint64_t now = milliseconds();
        if (now >= end) return true;
        uint64_t slice = min_of<uint64_t>(end - now, 20);
        clock_stall(slice * 1000);
        if (poll_break()) return false;
    }
}

void set_break() { g_out.break_flag = true; }

namespace {

bool ring_pop(KeyEvent* key) {
    if (g_out.ring_count == 0) return false;
    *key = g_out.ring[g_out.ring_head];
    g_out.ring_head = (g_out.ring_head + 1) % kKeyRingSize;
    g_out.ring_count--;
    return true;
}

void ring_push_front(const KeyEvent& k) {
    if (g_out.ring_count >= kKeyRingSize) return;
    g_out.ring_head = (g_out.ring_head + kKeyRingSize - 1) % kKeyRingSize;
    g_out.ring[g_out.ring_head] = k;
    g_out.ring_count++;
}

// The oldest key typed during a command, else one from the console.
bool read_raw_key(void*, int64_t timeout_ms, KeyEvent* key) {
    return ring_pop(key) || console_read_key(timeout_ms, key);
}

}  // namespace

void unread_key(const KeyEvent& key) { ring_push(key); }

bool read_key(int64_t timeout_ms, KeyEvent* key) {
    for (;;) {
        if (!read_raw_key(nullptr, timeout_ms, key)) return false;
        if (key->scan_code != kScanEscape) return true;
        KeyEvent decoded, leftover;
        bool has_leftover = false;
        uint64_t row = 0, column = 0;
        TerminalInput what =
            decode_after_escape(read_raw_key, nullptr, &decoded, &row, &column, &leftover, &has_leftover);
        if (has_leftover) ring_push_front(leftover);
        if (what == TerminalInput::kKey) {
            *key = decoded;
            return true;
        }
        // A late answer to the size query (which of its two reports cannot be told), or
        // a sequence that is no key: read on.
    }
}

bool press_any_key(const char* prompt) {
    console_write_text(prompt ? prompt : "Press any key to continue...");
    KeyEvent key;
    bool got = read_key(-1, &key);
    console_write("\n", 1);
    if (!got) return false;
    if (key.character == kCharCtrlC) {
        g_out.break_flag = true;
        return false;
    }
    return !is_escape(key);
}

}  // namespace tarn

// The output channel: routing to console, redirection files or captures,
// paging, error lines, -data records and the Ctrl-C poll.
#pragma once
#include <stdarg.h>
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/string_buffer.h"

namespace tarn {

constexpr int kMaxRedirections = 16;
constexpr int kKeyRingSize = 32;
constexpr int kErrorColour = 12;

// Writing.
void out_write(const char* bytes, uint64_t n);
void out_text(const char* text);
void out_printf(const char* format, ...) TARN_PRINTF(1, 2);
void out_vprintf(const char* format, va_list args);
// out_write in runs of a few lines, with the Ctrl-C poll between runs, so that one long
// text can be stopped while it prints. False when Ctrl-C stopped it (the rest is dropped).
bool out_write_interruptible(const char* bytes, uint64_t n);

// Error lines: straight to the console in light red, never redirected.
void print_error(const char* format, ...) TARN_PRINTF(1, 2);
int report_error(const char* command, const char* format, ...) TARN_PRINTF(2, 3);
int report_failure(const char* command, const char* subject, ShellError code);
int report_usage(const char* command);
// How report_usage finds a command's usage line; installed by the command registry.
using UsageLookup = const char* (*)(const char* name);
void set_usage_lookup(UsageLookup lookup);

// Redirection.
[[nodiscard]] ShellError push_capture(StringBuffer* buffer);
[[nodiscard]] ShellError push_file(const char* path, bool append);
ShellError pop_redirection();
bool is_redirected();
int redirection_depth();

// How push_file opens a file and how file entries write and close; installed by the
// file layer (until it is, push_file answers "not supported").
struct RedirectFileOps {
    // Opens path for writing (creating it; truncating unless append; positioned at the end
    // when append). Returns 0 and a handle, or a ShellError.
    ShellError (*open)(const char* path, bool append, void** handle);
    ShellError (*write)(void* handle, const void* bytes, uint64_t n);
    ShellError (*close)(void* handle);
};
void set_redirect_file_ops(const RedirectFileOps* ops);

// Colours (ignored while output is redirected).
void set_colour(int foreground, int background);
void reset_colour();

// Pager.
void pager_begin(bool enabled);
bool pager_stopped();

// Data records.
void set_data_mode(bool on);
bool data_mode();
void record_begin();
void record_field(const char* key, const char* format, ...) TARN_PRINTF(2, 3);
void labeled_value(int indent, int width, const char* label, const char* format, ...)
    TARN_PRINTF(4, 5);
// Label to record key: lower case, runs of other characters to one '_', trimmed, at most 63 bytes.
void normalize_key(const char* label, char* key, uint64_t key_size);

// Keyboard while a command runs.
bool poll_break();
void clear_break();
void set_break();
// Keys come decoded: escape sequences that the firmware's serial terminal hands on as an
// Escape key and characters become the keys they stand for (terminal_keys.h).
bool read_key(int64_t timeout_ms, KeyEvent* key);
// Keeps a key that arrived while something else was awaited, for the next read_key.
void unread_key(const KeyEvent& key);
bool press_any_key(const char* prompt = nullptr);
// Waits ms milliseconds in slices of at most 20, testing for Ctrl-C after each slice;
// false when the break came first. A wait of 0 returns at once without testing.
[[nodiscard]] bool sleep_interruptible(uint64_t ms);
// The execution-break event of the Shell protocol support, tested by poll_break.
void set_break_event(void* event);

// Host tests: back to the start-up state.
void reset_output_state();

}  // namespace tarn

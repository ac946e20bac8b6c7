// The simulated firmware: real UEFI tables backed by host code, with controls for tests.
// One SimFirmware exists at a time; constructing it attaches the shell's runtime to it.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "uefi/console.h"
#include "uefi/protocols.h"
#include "uefi/tables.h"

namespace sim {

using namespace tarn;

// One character cell of the screen model.
struct Cell {
    char16_t ch = u' ';
    uint8_t attribute = 0x07;
};

// A text mode the console offers.
struct TextMode {
    uint64_t columns;
    uint64_t rows;
};

class Screen {
public:
    // Rows of the visible grid as UTF-8 text, trailing blanks removed.
    std::string row_text(uint64_t row) const;
    // The whole visible grid, rows joined by '\n', trailing blank rows removed.
    std::string text() const;
    const Cell& cell(uint64_t column, uint64_t row) const;
    uint64_t columns() const { return columns_; }
    uint64_t rows() const { return rows_; }
    uint64_t cursor_column() const;
    uint64_t cursor_row() const;
    // Everything ever written with OutputString, as UTF-8, CR LF kept as written.
    const std::string& transcript() const { return transcript_; }
    // The transcript with CR removed.
    std::string transcript_lines() const;
    void clear_transcript() { transcript_.clear(); }
    // Attribute of every character written, parallel to transcript_ in UTF-16 units.
    // Text written with a given foreground colour (for error-line checks).
    std::string text_in_foreground(int foreground) const;

    // The attribute OutputString currently writes with, and whether the cursor is shown.
    uint8_t attribute() const { return attribute_; }
    bool cursor_visible() const { return cursor_visible_; }

    // Operations behind the Simple Text Output protocol (also usable by tests).
    void resize(uint64_t columns, uint64_t rows);  // clears the grid and homes the cursor
    void clear();                                  // blanks with the current attribute, homes
    void write(const char16_t* text);              // OutputString semantics
    void put_unit(char16_t ch);
    void set_cursor(uint64_t column, uint64_t row);
    void set_attribute(uint8_t attribute) { attribute_ = attribute; }
    void set_cursor_visible(bool visible) { cursor_visible_ = visible; }
    // A terminal's behaviour (xterm, and most others): after the last cell of a row is
    // written the cursor stays on it and wraps only before the next character.
    void set_deferred_wrap(bool deferred) { deferred_wrap_ = deferred; wrap_pending_ = false; }
    // Relative moves (escape sequences of the serial line), clamped to the grid; they
    // never scroll.
    void move_cursor_by(int64_t columns, int64_t rows);
    void save_cursor();
    void restore_cursor();

    // internal state (used by the implementation)
    uint64_t columns_ = 80, rows_ = 25;
    std::vector<Cell> cells_;
    std::string transcript_;
    std::vector<std::pair<std::string, uint8_t>> runs_;  // transcript runs with attribute
    uint64_t cursor_column_ = 0, cursor_row_ = 0;
    uint8_t attribute_ = 0x07;
    bool cursor_visible_ = true;

    bool deferred_wrap_ = false;
    bool wrap_pending_ = false;
    uint64_t saved_column_ = 0, saved_row_ = 0;

private:
    void newline();
    void scroll_up();
    void append_transcript(char16_t ch);
    char16_t pending_high_surrogate_ = 0;
};

// A record of one processor port access made through cpu/cpu.h.
struct PortAccess {
    bool write;
    uint16_t port;
    uint8_t width;  // 1, 2 or 4 bytes
    uint32_t value;
};

// A host function standing in for an EFI image: called by StartImage with the image's
// own handle and the system table; returning is like returning from the entry point.
using ImageEntry = std::function<efi::Status(efi::Handle image, efi::SystemTable* st)>;

struct ImageOptions {
    // Status LoadImage reports. kSecurityViolation still yields a handle that cannot be
    // started (as firmware does when Secure Boot refuses an image); other errors yield none.
    efi::Status load_status = 0;
    // A driver stays loaded after its entry point returns success; an application is
    // unloaded when it returns or exits.
    bool driver = false;
};

class HandleDatabase;  // sim/handles.h

namespace detail {
template <class T> inline constexpr char kStateKey = 0;
}

class SimFirmware {
public:
    SimFirmware();
    ~SimFirmware();
    SimFirmware(const SimFirmware&) = delete;
    SimFirmware& operator=(const SimFirmware&) = delete;

    static SimFirmware* current();

    efi::SystemTable* system_table();
    efi::Handle image_handle();

    // --- pool and pages ---
    // Number of pool blocks and pages allocations not yet freed.
    int64_t outstanding_allocations() const;
    uint64_t outstanding_bytes() const;
    // The n-th allocation from now (0 = the next one) and every later one fails; -1 turns it off.
    void fail_allocations_from(int64_t n);

    // --- clock ---
    // Virtual time in microseconds since the firmware started; Stall and waits advance it.
    uint64_t now_us() const;
    void advance_us(uint64_t us);
    // Time-stamp counter ticks per microsecond (the counter follows the virtual clock).
    static constexpr uint64_t kTicksPerUs = 1000;

    // --- console ---
    Screen& screen();
    // Text modes offered; mode 0 must be 80x25 as UEFI requires. Resets the current mode to 0.
    void set_text_modes(const std::vector<TextMode>& modes);
    void set_current_mode(uint64_t mode);
    // Make QueryMode fail (the shell then assumes 80x25).
    void set_query_mode_fails(bool fails);
    // One text mode that QueryMode and SetMode report as unsupported (OVMF's 80x50 when
    // the screen is too small for it), and one whose SetMode fails with status (0 turns
    // either off).
    void set_text_mode_unavailable(uint64_t mode, bool unavailable);
    void set_text_mode_refused(uint64_t mode, efi::Status status);

    // --- serial terminal (sim/terminal.cpp) ---
    // Puts a terminal of columns x rows on a serial line behind the console, as OVMF's
    // terminal driver does: the screen model becomes that terminal (its own size, deferred
    // wrap, absolute rows from SetCursorPosition clamped to it, scrolling at its bottom)
    // while QueryMode keeps the text modes and the firmware's cursor row stops at the
    // mode's last row. A Serial I/O protocol is installed whose Write feeds raw bytes to
    // the terminal: ESC 7 / ESC 8, ESC [ n A/B/C/D, ESC [ r ; c H, and ESC [ 6 n, which a
    // terminal that answers answers after answer_delay_us with ESC [ row ; col R, delivered
    // as the firmware delivers it: an Escape key (scan code 0x17), then the characters.
    void attach_serial_terminal(uint64_t columns, uint64_t rows, bool answers = true,
                                uint64_t answer_delay_us = 2000);
    // Every byte written through Serial I/O.
    const std::string& serial_bytes() const;
    // A sequence the firmware hands on undecoded: an Escape key, then each character
    // after gap_us (keys typed later come after it).
    void push_escape_sequence(const std::string& chars, uint64_t delay_us = 0, uint64_t gap_us = 200);
    // Virtual time each unit of console output takes (a serial line's pace; 0 by default).
    void set_output_time_per_unit(uint64_t us);

    // --- keyboard ---
    // Keys are delivered in order; a key is available once the virtual clock reaches its
    // time (relative delay after the previous key), so tests can type during output.
    void push_key(char16_t ch, uint16_t scan = 0, uint32_t shift_state = 0, uint64_t delay_us = 0);
    void push_text(const std::string& utf8, uint64_t delay_us_each = 0);
    size_t pending_keys() const;
    // Whether the extended input protocol is installed on the console input handle.
    void set_extended_input(bool present);

    // --- program exit ---
    // Runs fn as the program would run; if the code calls Exit (or ResetSystem), control
    // returns here. Returns the Exit status (or the value fn returned, as a status).
    struct RunResult {
        bool exited = false;       // Exit was called
        bool reset = false;        // ResetSystem was called
        efi::Status status = 0;    // Exit status, or the reset status
        uint32_t reset_type = 0;
        // The run was ended by the simulation: a wait that could never finish (no timer
        // armed, no key left) or halt_forever. status is kAborted; message says why.
        bool stuck = false;
        bool halted = false;
        std::string message;
        std::u16string exit_data;  // exit data passed to Exit (its pool block is freed)
    };
    RunResult run(const std::function<void()>& fn);
    // Whether a run() is active (Exit and waits end it rather than the test).
    bool in_run() const;

    // --- watchdog ---
    uint64_t watchdog_timeout() const;
    uint64_t watchdog_calls() const;

    // --- pool for other sim modules and tests (counted like AllocatePool) ---
    // Returns null when allocation fails (including injected failures).
    void* allocate_pool(uint64_t size);
    efi::Status free_pool(void* block);
    bool is_pool_block(const void* block) const;
    // FreePool/FreePages of something never allocated (double frees, stray pointers).
    int64_t invalid_frees() const;
    // Pool blocks as address -> size (for leak diagnostics).
    std::map<const void*, uint64_t> pool_blocks() const;

    // --- wall clock (GetTime/SetTime) ---
    // Sets the wall-clock time at the current virtual instant; it then runs with the clock.
    void set_wall_time(const efi::Time& time);
    efi::Time wall_time() const;
    // Makes GetTime / SetTime fail with the status (0 turns it off).
    void set_get_time_status(efi::Status status);
    void set_set_time_status(efi::Status status);

    // --- more console and keyboard controls ---
    // Writes the sealed CRCs of the system, boot and runtime tables again (after a module
    // replaced entries in them).
    void update_table_crcs();
    // Whether Reset on the input protocols discards keys that have already arrived.
    void set_input_reset_flushes(bool flushes);
    // Whether key notifications fire on the character alone, whatever the shift state a
    // registration names (OVMF's serial console calls a Ctrl+'c' notification for 'c').
    void set_key_notify_ignores_shift(bool ignores);
    // Key notifications registered through Simple Text Input Ex and not yet unregistered.
    size_t key_notify_count() const;

    // --- live console (tarn-sim) ---
    // Told about every change the program makes to the console, after the screen model.
    struct ConsoleListener {
        std::function<void(const char16_t* text)> text;
        std::function<void(uint8_t attribute)> attribute;
        std::function<void()> clear;
        std::function<void(uint64_t column, uint64_t row)> cursor;
        std::function<void(bool visible)> cursor_visible;
        std::function<void(uint64_t columns, uint64_t rows)> mode;
    };
    void set_console_listener(ConsoleListener listener);
    // Where keys come from when the scripted queue has none: called with the virtual time
    // until the next timer (UINT64_MAX for none) before a wait moves the clock, and with 0
    // when the program polls the keyboard. It pushes keys with push_key and returns kKeys,
    // kTimeout when none came in that time, or kEnd when no key will ever come again.
    enum class KeySourceResult { kKeys, kTimeout, kEnd };
    using KeySource = std::function<KeySourceResult(uint64_t max_wait_us)>;
    void set_key_source(KeySource source);

    // --- processor (cpu/cpu.h fakes) ---
    const std::vector<PortAccess>& port_log() const;
    void clear_port_log();
    // Value read from a port (default all ones, as from an absent device).
    void set_port_input(uint16_t port, uint32_t value);
    // Values written to the debug-exit port 0xf4.
    std::vector<uint32_t> debug_exit_writes() const;

    // --- images ---
    // LoadImage with a source buffer equal to bytes yields an image running fn.
    void register_image_buffer(const std::vector<uint8_t>& bytes, ImageEntry fn,
                               ImageOptions options = {});
    // LoadImage without a buffer, by device path: matches when the path's file-path nodes,
    // joined, equal file_path ignoring ASCII case (e.g. "\EFI\tool.efi"). When no
    // registration matches, the file is read through the Simple File System the path leads
    // to and matched against the buffer registrations.
    void register_image_path(const std::string& file_path, ImageEntry fn, ImageOptions options = {});
    // Number of StartImage calls that ran an image.
    uint64_t images_started() const;
    // Load options of the top-level image (UCS-2, NUL added) as a launcher passes them.
    void set_load_options(const std::u16string& options);
    efi::LoadedImage* loaded_image();

    // --- handle database (sim/handles.h) ---
    HandleDatabase& handles();

    // --- configuration tables ---
    efi::Status install_configuration_table(const efi::Guid& guid, void* table);

    // Per-firmware state of a capability module (variable store, storage, ...): created
    // on first use, destroyed when the firmware is (after the remove_ functions ran).
    template <class T> T& module_state() {
        const void* key = &detail::kStateKey<T>;
        void* p = find_module_state(key);
        if (!p) p = store_module_state(key, std::make_shared<T>());
        return *static_cast<T*>(p);
    }
    void* find_module_state(const void* key) const;
    void* store_module_state(const void* key, std::shared_ptr<void> state);

    struct Impl;
    Impl* impl() { return impl_; }

private:
    Impl* impl_;
};

}  // namespace sim

// The simulated firmware: real UEFI tables backed by host code, with controls for tests.
// One SimFirmware exists at a time; constructing it attaches the shell's runtime to it.
#pragma once
#include <cstdint>
#include <functional>
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

    // internal state (used by the implementation)
    uint64_t columns_ = 80, rows_ = 25;
    std::vector<Cell> cells_;
    std::string transcript_;
    std::vector<std::pair<std::string, uint8_t>> runs_;  // transcript runs with attribute
};

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
    };
    RunResult run(const std::function<void()>& fn);

    // --- watchdog ---
    uint64_t watchdog_timeout() const;

    struct Impl;
    Impl* impl() { return impl_; }

private:
    Impl* impl_;
};

}  // namespace sim

// The shell-wide handle numbering. Every handle shown or typed is a hexadecimal
// number: its 1-based position in an append-only table that lives for the whole run.
// Handles that disappear keep their slot, so numbers never change while the shell runs.
#pragma once
#include "uefi/base.h"

namespace tarn {

struct HandleTableState {
    efi::Handle* handles;
    uint64_t count;
    uint64_t capacity;
};

HandleTableState& handle_table_state();

// Fetches every handle of the firmware and appends the ones not yet numbered, in the
// order the firmware returns them. Returns false when the handle list cannot be read.
bool refresh_handle_table();

// The number of a handle: searched, then searched again after a refresh; 0 when the
// handle is still unknown (or null).
uint64_t handle_number(efi::Handle handle);

// The handle with a number; null for 0 or a number past the table (the table is
// refreshed once before a number past its end is refused).
efi::Handle handle_of_number(uint64_t number);

uint64_t handle_table_count();

// Whether the firmware still has any protocol on the handle.
bool handle_has_protocols(efi::Handle handle);

// Parses a typed handle number: hexadecimal digits (an optional "0x" prefix allowed),
// not 0, inside the table, naming a handle that still has protocols. Returns null otherwise.
efi::Handle parse_handle_number(const char* text);

// Host tests: forget every number.
void reset_handle_table();

}  // namespace tarn

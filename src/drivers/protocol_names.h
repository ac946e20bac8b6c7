// The protocol-name registry: a built-in table of protocol names with their GUIDs, and
// names registered while the shell runs (by started applications), which are searched
// first in both directions.
#pragma once
#include "uefi/base.h"

namespace tarn {

constexpr uint64_t kProtocolTextSize = 64;  // a name or the 36-character GUID text, and the NUL

// The name of a protocol GUID, or null when neither table has it.
const char* protocol_name(const efi::Guid& guid);
// The GUID of a name (ASCII case ignored). False when neither table has it.
[[nodiscard]] bool protocol_guid(const char* name, efi::Guid* out);
// A name, or a GUID text, to a GUID: the registry first, then the GUID text form.
[[nodiscard]] bool parse_protocol(const char* text, efi::Guid* out);
// The name, or the GUID text when it has none.
void protocol_text(const efi::Guid& guid, char (&out)[kProtocolTextSize]);

// Adds (or renames) a run-time entry; the name is copied. False for an empty name.
bool register_protocol_name(const efi::Guid& guid, const char* name);
// The number of built-in entries, and entry i (tests).
uint64_t builtin_protocol_count();
const char* builtin_protocol_name(uint64_t index, efi::Guid* guid);

// Host tests: forget the run-time entries.
void reset_protocol_names();

}  // namespace tarn

// Texts of UEFI variables shared by the variable commands and the boot configuration:
// GUID text and names, attribute texts, hex text and the hex dump, the value-to-text
// rules, and the variable backup text format with its one reader.
#pragma once
#include "runtime/string_buffer.h"
#include "uefi/base.h"

namespace tarn {

constexpr uint64_t kGuidTextSize = 37;        // 36 characters and the NUL
constexpr uint64_t kShortAttributesSize = 8;  // "NVBSRTA"
constexpr uint64_t kLongAttributesSize = 18;  // "NV+BS+RT+HR+AW+AT"

// A table name (global, security, shim, shell, systemd; any case) or the 36-character
// text "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (either case). False for anything else.
[[nodiscard]] bool parse_guid(const char* text, efi::Guid* out);
// "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", lower case unless upper.
void format_guid(const efi::Guid& guid, char (&out)[kGuidTextSize], bool upper = false);
// The table name of a GUID, or null.
const char* guid_name(const efi::Guid& guid);

// "NV", "BS", "RT" or two blanks each, then "A" for authenticated write access.
void attributes_short(uint32_t attributes, char (&out)[kShortAttributesSize]);
// "NV+BS+RT" style; empty for 0.
void attributes_long(uint32_t attributes, char (&out)[kLongAttributesSize]);

// The bytes as lower-case hex pairs, newly allocated.
char* hex_text(const uint8_t* bytes, uint64_t size);
// Hex pairs in either case; a blank, '-' or ':' may stand between pairs. The bytes are
// newly allocated (at least one byte, so an empty value is a valid pointer). False for an
// odd digit count or any other character.
[[nodiscard]] bool decode_hex(const char* text, uint64_t length, uint8_t** bytes, uint64_t* size);

// Whether the value reads as UCS-2 text: every unit a tab, line feed, carriage return or
// at least 0x20 and no surrogate; a 0 unit only as the last one and not the only one.
bool is_ucs2_text(const uint8_t* bytes, uint64_t size);
// UCS-2 text converted to UTF-8, or else the bytes up to the first NUL; newly allocated.
char* value_as_string(const uint8_t* bytes, uint64_t size);
// 16 bytes a line: offset, hex bytes, the printable characters between bars.
void hex_dump(const uint8_t* bytes, uint64_t size);

// The backup text format: a header line starting with '#', then one line per variable,
// "GUID ATTRIBUTES NAME DATA\n". A name holding a blank, a control character or '%' has
// them written as %XX, so that every record stays one line of four fields.
constexpr const char* kVariableBackupHeader = "# TARN variable backup: GUID ATTRIBUTES NAME DATA\n";
constexpr const char* kBootBackupHeader = "# TARN boot variables backup: GUID ATTRIBUTES NAME DATA\n";
void append_backup_line(StringBuffer& text, const char* name, const efi::Guid& guid,
                        uint32_t attributes, const uint8_t* data, uint64_t size);

// Writes every variable line of a backup text with SetVariable, exactly with the stored
// attributes (an empty DATA deletes). Malformed lines ("var: malformed line: %s") and
// refused writes ("var: cannot write %s: %s") are reported on the error stream; with
// verbose each written variable prints "restored %s". Returns the number of failures.
int load_variable_text(const char* text, uint64_t length, bool verbose);

}  // namespace tarn

// The boot configuration's model: the firmware's boot variables (Boot####, Driver####,
// SysPrep####, their order lists, BootNext, BootCurrent, Timeout), the EFI_LOAD_OPTION
// record parsed and built to the byte, entry numbers, and device paths for files and
// handles.
#pragma once
#include "runtime/memory.h"
#include "runtime/string_buffer.h"
#include "uefi/base.h"

namespace tarn {

constexpr uint32_t kLoadOptionActive = 0x1;
constexpr uint32_t kLoadOptionHidden = 0x8;
// Non-volatile, boot-service and runtime access: every boot variable is written so.
constexpr uint32_t kBootVariableAttributes = 7;
constexpr const char* kInvalidLoadOption = "<invalid load option>";
// "Boot" + four digits + NUL, with room for "SysPrep".
constexpr uint64_t kOptionNameSize = 16;

// One parsed Boot####/Driver####/SysPrep#### variable. Valid exactly when raw is set;
// device_path and optional_data point into raw.
struct LoadOption {
    uint32_t attributes = 0;
    char* description = nullptr;
    const uint8_t* device_path = nullptr;
    uint64_t device_path_length = 0;
    const uint8_t* optional_data = nullptr;
    uint64_t optional_length = 0;
    uint8_t* raw = nullptr;
    uint64_t raw_size = 0;

    LoadOption() = default;
    LoadOption(const LoadOption&) = delete;
    LoadOption& operator=(const LoadOption&) = delete;
    ~LoadOption() { clear(); }
    bool valid() const { return raw != nullptr; }
    void clear();
};

// Parses bytes (copied) into option. False for a malformed record: option then holds
// only the description "<invalid load option>".
bool parse_load_option(const uint8_t* bytes, uint64_t size, LoadOption* option);

// The EFI_LOAD_OPTION bytes (newly allocated) and their size.
uint8_t* build_load_option(uint32_t attributes, const char* description, const uint8_t* path,
                           uint64_t path_length, const uint8_t* optional, uint64_t optional_length,
                           uint64_t* size);
// Rebuilds a valid option with its parts (null: keep the option's own).
uint8_t* rebuild_load_option(const LoadOption& option, uint32_t attributes,
                             const char* description, uint64_t* size);

// Empty, "<N bytes of binary data>" or the UCS-2 text as UTF-8; newly allocated.
char* format_optional_data(const uint8_t* data, uint64_t length);
inline char* format_optional_data(const LoadOption& o) {
    return format_optional_data(o.optional_data, o.optional_length);
}
// Text as UCS-2 with its NUL, as optional data (newly allocated).
uint8_t* text_optional_data(const char* text, uint64_t* size);

// "0001,0003,0000" or "(empty)".
void format_order(const uint32_t* numbers, uint64_t count, StringBuffer& out);
// [boot|driver]H{1,4}; false for anything else.
bool parse_option_id(const char* text, uint32_t* number);
// Whether a variable name is PREFIX followed by four upper-case hex digits; the number.
bool option_name_number(const char* name, const char* prefix, uint32_t* number);
void option_name(const char* prefix, uint32_t number, char (&out)[kOptionNameSize]);

// ---- the variables (global GUID)

bool read_u16_variable(const char* name, uint32_t* value);
// The order list; a missing variable is an empty list.
void read_order(const char* name, Vector<uint32_t>& out);
// The numbers of every PREFIX#### variable in the firmware's enumeration order.
void list_option_numbers(const char* prefix, Vector<uint32_t>& out);
// False when the variable cannot be read; true with an invalid option when malformed.
bool read_load_option(const char* prefix, uint32_t number, LoadOption* option);
// The order variable of a family ("BootOrder" for "Boot").
const char* order_name(const char* prefix);
// The lowest number from 0 up used neither by a variable of the family nor in order;
// false when none is free.
bool lowest_free_number(const char* prefix, const Vector<uint32_t>& order, uint32_t* number);

// ---- device paths

// Bytes of a device path, End Entire node included, walked within limit; 0 when it is
// malformed or has no End Entire node.
uint64_t device_path_size(const uint8_t* path, uint64_t limit);
// The firmware's text form (shortcuts on); "" when there is no text service or no path.
char* device_path_text(const uint8_t* path, uint64_t length);
// Where the short (hard-drive) form starts; null when the path has no such node.
const uint8_t* short_form_start(const uint8_t* path, uint64_t length);
// The device path of a file as typed, full or short form ("bcfg: ..." messages printed).
bool option_device_path(const char* typed, bool short_form, Owned<uint8_t>* path,
                        uint64_t* length);
// The device path of a numbered handle.
bool handle_device_path(const char* typed, Owned<uint8_t>* path, uint64_t* length);

}  // namespace tarn

// Console protocols: Simple Text Input, Simple Text Input Ex, Simple Text Output.
#pragma once
#include "uefi/base.h"

namespace tarn::efi {

struct InputKey {
    uint16_t scan_code;
    Char16 unicode_char;
};

// Shift state bits of KeyState.key_shift_state.
constexpr uint32_t kShiftStateValid = 0x80000000u;
constexpr uint32_t kRightShiftPressed = 0x00000001u;
constexpr uint32_t kLeftShiftPressed = 0x00000002u;
constexpr uint32_t kRightControlPressed = 0x00000004u;
constexpr uint32_t kLeftControlPressed = 0x00000008u;
constexpr uint32_t kRightAltPressed = 0x00000010u;
constexpr uint32_t kLeftAltPressed = 0x00000020u;
constexpr uint32_t kRightLogoPressed = 0x00000040u;
constexpr uint32_t kLeftLogoPressed = 0x00000080u;
constexpr uint32_t kMenuKeyPressed = 0x00000100u;
constexpr uint32_t kSysReqPressed = 0x00000200u;

struct KeyState {
    uint32_t key_shift_state;
    uint8_t key_toggle_state;
};

struct KeyData {
    InputKey key;
    KeyState key_state;
};

// Scan codes.
constexpr uint16_t kScanNull = 0x00;
constexpr uint16_t kScanUp = 0x01;
constexpr uint16_t kScanDown = 0x02;
constexpr uint16_t kScanRight = 0x03;
constexpr uint16_t kScanLeft = 0x04;
constexpr uint16_t kScanHome = 0x05;
constexpr uint16_t kScanEnd = 0x06;
constexpr uint16_t kScanInsert = 0x07;
constexpr uint16_t kScanDelete = 0x08;
constexpr uint16_t kScanPageUp = 0x09;
constexpr uint16_t kScanPageDown = 0x0a;
constexpr uint16_t kScanF1 = 0x0b;
constexpr uint16_t kScanF10 = 0x14;
constexpr uint16_t kScanF11 = 0x15;
constexpr uint16_t kScanF12 = 0x16;
constexpr uint16_t kScanEsc = 0x17;

struct SimpleTextInput {
    Status(EFIAPI* reset)(SimpleTextInput* self, Boolean extended_verification);
    Status(EFIAPI* read_key_stroke)(SimpleTextInput* self, InputKey* key);
    Event wait_for_key;
};

using KeyNotifyFunction = Status(EFIAPI*)(KeyData* key_data);

struct SimpleTextInputEx {
    Status(EFIAPI* reset)(SimpleTextInputEx* self, Boolean extended_verification);
    Status(EFIAPI* read_key_stroke_ex)(SimpleTextInputEx* self, KeyData* key_data);
    Event wait_for_key_ex;
    Status(EFIAPI* set_state)(SimpleTextInputEx* self, uint8_t* key_toggle_state);
    Status(EFIAPI* register_key_notify)(SimpleTextInputEx* self, KeyData* key_data,
                                        KeyNotifyFunction notify, void** notify_handle);
    Status(EFIAPI* unregister_key_notify)(SimpleTextInputEx* self, void* notify_handle);
};

struct SimpleTextOutputMode {
    int32_t max_mode;
    int32_t mode;
    int32_t attribute;
    int32_t cursor_column;
    int32_t cursor_row;
    Boolean cursor_visible;
};

struct SimpleTextOutput {
    Status(EFIAPI* reset)(SimpleTextOutput* self, Boolean extended_verification);
    Status(EFIAPI* output_string)(SimpleTextOutput* self, const Char16* text);
    Status(EFIAPI* test_string)(SimpleTextOutput* self, const Char16* text);
    Status(EFIAPI* query_mode)(SimpleTextOutput* self, uint64_t mode_number, uint64_t* columns,
                               uint64_t* rows);
    Status(EFIAPI* set_mode)(SimpleTextOutput* self, uint64_t mode_number);
    Status(EFIAPI* set_attribute)(SimpleTextOutput* self, uint64_t attribute);
    Status(EFIAPI* clear_screen)(SimpleTextOutput* self);
    Status(EFIAPI* set_cursor_position)(SimpleTextOutput* self, uint64_t column, uint64_t row);
    Status(EFIAPI* enable_cursor)(SimpleTextOutput* self, Boolean visible);
    SimpleTextOutputMode* mode;
};

}  // namespace tarn::efi

// What mode and gop read from the firmware: the console's text modes and the graphics
// output's modes, in the forms display_fit chooses among.
#pragma once
#include "hw/display_fit.h"
#include "runtime/memory.h"
#include "uefi/graphics.h"

namespace tarn {

// Every text mode of the console; a mode whose QueryMode fails is there, not valid.
void read_text_modes(Vector<TextModeSize>* modes);
// The current text mode's size; false when it cannot be read.
bool current_text_size(uint64_t* columns, uint64_t* rows);

// The graphics output of the console handle, else the first one any handle has; null
// when there is none.
efi::GraphicsOutput* find_graphics_output();

struct GraphicsModeDetails {
    GraphicsModeSize size;
    uint32_t pixel_format;
};
// Every mode of gop (mode->max_mode of them); a mode whose QueryMode fails is not valid.
void read_graphics_modes(efi::GraphicsOutput* gop, Vector<GraphicsModeDetails>* modes);
// The sizes alone, for the choices of display_fit.
void graphics_sizes(const Vector<GraphicsModeDetails>& modes, Vector<GraphicsModeSize>* sizes);
// "RGB", "BGR", "bitmask", "blt only", or "unknown".
const char* pixel_format_name(uint32_t format);

}  // namespace tarn

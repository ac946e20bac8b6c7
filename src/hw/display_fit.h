// The choices mode and gop make among the console's text modes and the graphics modes:
// the firmware draws console characters in cells of 8 x 19 pixels, so a text mode fits a
// resolution when its columns x 8 and rows x 19 pixels do. Every choice returns a mode
// number, or -1 when no mode qualifies; ties go to the earlier mode.
#pragma once
#include <stdint.h>

namespace tarn {

constexpr uint64_t kCellWidth = 8;
constexpr uint64_t kCellHeight = 19;

// A text mode as QueryMode reports it; valid is false when the query failed.
struct TextModeSize {
    uint64_t columns;
    uint64_t rows;
    bool valid;
};

// A graphics mode's resolution; valid is false when its QueryMode failed.
struct GraphicsModeSize {
    uint32_t width;
    uint32_t height;
    bool valid;
};

// Whether columns x rows characters fit width x height pixels.
bool text_fits(uint64_t columns, uint64_t rows, uint64_t width, uint64_t height);

// The text mode with exactly columns x rows.
int64_t find_text_mode(const TextModeSize* modes, uint64_t count, uint64_t columns, uint64_t rows);
// The text mode with the most characters.
int64_t largest_text_mode(const TextModeSize* modes, uint64_t count);
// The text mode with the most characters among those that fit width x height.
int64_t best_text_mode(const TextModeSize* modes, uint64_t count, uint64_t width, uint64_t height);

// The graphics mode of exactly width x height.
int64_t find_graphics_mode(const GraphicsModeSize* modes, uint64_t count, uint64_t width, uint64_t height);
// The graphics mode with the most pixels.
int64_t largest_graphics_mode(const GraphicsModeSize* modes, uint64_t count);
// The graphics mode with the fewest pixels among those that hold columns x rows characters.
int64_t fitting_graphics_mode(const GraphicsModeSize* modes, uint64_t count, uint64_t columns, uint64_t rows);

// Decimal digits only, the whole text, at most 2^63 - 1 (the sizes mode and gop are typed in).
bool parse_decimal_size(const char* text, int64_t* value);

}  // namespace tarn

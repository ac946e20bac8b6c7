// Choosing text and graphics modes by size.
#include "hw/display_fit.h"

namespace tarn {
namespace {

// columns x rows, saturating: a firmware that reports absurd sizes still compares.
uint64_t characters(const TextModeSize& m) {
    if (m.rows && m.columns > ~0ull / m.rows) return ~0ull;
    return m.columns * m.rows;
}

uint64_t pixels(const GraphicsModeSize& m) { return static_cast<uint64_t>(m.width) * m.height; }

}  // namespace

bool text_fits(uint64_t columns, uint64_t rows, uint64_t width, uint64_t height) {
    // columns * 8 <= width without the product overflowing.
    return columns <= width / kCellWidth && rows <= height / kCellHeight;
}

int64_t find_text_mode(const TextModeSize* modes, uint64_t count, uint64_t columns, uint64_t rows) {
    for (uint64_t i = 0; i < count; i++)
        if (modes[i].valid && modes[i].columns == columns && modes[i].rows == rows) return static_cast<int64_t>(i);
    return -1;
}

int64_t largest_text_mode(const TextModeSize* modes, uint64_t count) {
    int64_t best = -1;
    for (uint64_t i = 0; i < count; i++)
        if (modes[i].valid && (best < 0 || characters(modes[i]) > characters(modes[best])))
            best = static_cast<int64_t>(i);
    return best;
}

int64_t best_text_mode(const TextModeSize* modes, uint64_t count, uint64_t width, uint64_t height) {
    int64_t best = -1;
    for (uint64_t i = 0; i < count; i++) {
        const TextModeSize& m = modes[i];
        if (!m.valid || !text_fits(m.columns, m.rows, width, height)) continue;
        if (best < 0 || characters(m) > characters(modes[best])) best = static_cast<int64_t>(i);
    }
    return best;
}

int64_t find_graphics_mode(const GraphicsModeSize* modes, uint64_t count, uint64_t width, uint64_t height) {
    for (uint64_t i = 0; i < count; i++)
        if (modes[i].valid && modes[i].width == width && modes[i].height == height) return static_cast<int64_t>(i);
    return -1;
}

int64_t largest_graphics_mode(const GraphicsModeSize* modes, uint64_t count) {
    int64_t best = -1;
    for (uint64_t i = 0; i < count; i++)
        if (modes[i].valid && (best < 0 || pixels(modes[i]) > pixels(modes[best]))) best = static_cast<int64_t>(i);
    return best;
}

int64_t fitting_graphics_mode(const GraphicsModeSize* modes, uint64_t count, uint64_t columns, uint64_t rows) {
    int64_t best = -1;
    for (uint64_t i = 0; i < count; i++) {
        const GraphicsModeSize& m = modes[i];
        if (!m.valid || !text_fits(columns, rows, m.width, m.height)) continue;
        if (best < 0 || pixels(m) < pixels(modes[best])) best = static_cast<int64_t>(i);
    }
    return best;
}

bool parse_decimal_size(const char* text, int64_t* value) {
    if (!text || !*text) return false;
    uint64_t v = 0;
    for (const char* p = text; *p; p++) {
        if (*p < '0' || *p > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (v > (0x7fffffffffffffffull - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *value = static_cast<int64_t>(v);
    return true;
}

}  // namespace tarn

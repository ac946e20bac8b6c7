// The text-mode and graphics-mode choices of mode and gop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hw/display_fit.h"

using namespace tarn;

namespace {

// Part of the resolutions QEMU's standard VGA offers through OVMF, in its order.
const std::vector<GraphicsModeSize> kVgaModes = {
    {640, 480, true},   {800, 480, true},   {800, 600, true},   {832, 624, true},  {960, 640, true},
    {1024, 600, true},  {1024, 768, true},  {1152, 864, true},  {1280, 720, true}, {1280, 800, true},
    {1280, 1024, true}, {1600, 1200, true}, {1920, 1080, true}, {1920, 1200, true}};

// OVMF's console: 80x25, an 80x50 that is not available, 100x31, then larger ones.
const std::vector<TextModeSize> kTextModes = {
    {80, 25, true}, {80, 50, false}, {100, 31, true}, {160, 53, true}, {240, 56, true}};

std::vector<GraphicsModeSize> graphics(std::initializer_list<GraphicsModeSize> list) { return list; }
std::vector<TextModeSize> text(std::initializer_list<TextModeSize> list) { return list; }

TEST(DisplayFit, TextFitsCells) {
    struct Case {
        uint64_t columns, rows, width, height;
        bool fits;
    } cases[] = {
        {100, 31, 800, 589, true},  {100, 31, 799, 589, false}, {100, 31, 800, 588, false},
        {80, 25, 640, 475, true},   {80, 25, 640, 480, true},   {0, 0, 0, 0, true},
        {1, 1, 7, 19, false},       {~0ull, 1, ~0ull, 19, false},
        // A product that would wrap in 64 bits must not make a huge mode fit.
        {0x2000000000000001ull, 1, 8, 19, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.columns) + "x" + std::to_string(c.rows) + " in " + std::to_string(c.width) +
                     "x" + std::to_string(c.height));
        EXPECT_EQ(text_fits(c.columns, c.rows, c.width, c.height), c.fits);
    }
}

TEST(DisplayFit, BestTextMode) {
    struct Case {
        const char* name;
        std::vector<TextModeSize> modes;
        uint64_t width, height;
        int64_t want;
    } cases[] = {
        {"800x600 holds 100x31", kTextModes, 800, 600, 2},
        {"640x480 holds only 80x25", kTextModes, 640, 480, 0},
        {"the invalid 80x50 never counts", kTextModes, 640, 950, 0},
        {"1280x1024 holds 160x53", kTextModes, 1280, 1024, 3},
        {"1920x1080 holds 240x56", kTextModes, 1920, 1080, 4},
        {"too small for any", kTextModes, 639, 480, -1},
        {"no modes", {}, 1920, 1080, -1},
        {"equal characters: the earlier", text({{80, 30, true}, {60, 40, true}, {40, 60, true}}), 1920, 1200, 0},
        {"more characters win over more columns", text({{120, 20, true}, {100, 30, true}}), 1000, 600, 1},
        {"exact edge", text({{80, 25, true}, {100, 31, true}}), 800, 589, 1},
        {"one pixel short", text({{80, 25, true}, {100, 31, true}}), 800, 588, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(best_text_mode(c.modes.data(), c.modes.size(), c.width, c.height), c.want);
    }
}

TEST(DisplayFit, TextModeBySizeAndLargest) {
    struct Case {
        uint64_t columns, rows;
        int64_t want;
    } cases[] = {{80, 25, 0}, {100, 31, 2}, {240, 56, 4}, {80, 50, -1}, {31, 100, -1}, {0, 0, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(find_text_mode(kTextModes.data(), kTextModes.size(), c.columns, c.rows), c.want)
            << c.columns << "x" << c.rows;
    struct Largest {
        const char* name;
        std::vector<TextModeSize> modes;
        int64_t want;
    } largest[] = {
        {"OVMF's list", kTextModes, 4},
        {"an invalid mode is never largest", text({{80, 25, true}, {200, 100, false}}), 0},
        {"equal characters: the earlier", text({{80, 25, true}, {100, 20, true}, {50, 40, true}}), 0},
        {"saturated sizes still compare", text({{~0ull, ~0ull, true}, {~0ull, 2, true}}), 0},
        {"nothing valid", text({{80, 25, false}}), -1},
    };
    for (const Largest& c : largest) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(largest_text_mode(c.modes.data(), c.modes.size()), c.want);
    }
}

TEST(DisplayFit, GraphicsChoices) {
    struct Case {
        const char* name;
        std::vector<GraphicsModeSize> modes;
        uint64_t columns, rows;  // -fit's console
        int64_t fit, max;
    } cases[] = {
        // 100x31 needs 800x589: 800x480 is too low, 800x600 has the fewest pixels.
        {"the VGA list", kVgaModes, 100, 31, 2, 13},
        {"80x25 fits 640x480", kVgaModes, 80, 25, 0, 13},
        {"240x56 needs 1920x1064", kVgaModes, 240, 56, 12, 13},
        {"wider than every mode", kVgaModes, 241, 25, -1, 13},
        {"without 800x600, 832x624 beats 1024x600",
         graphics({{1024, 600, true}, {832, 624, true}, {800, 480, true}}), 100, 31, 1, 0},
        {"equal pixels: the first", graphics({{1200, 800, true}, {800, 1200, true}, {960, 1000, true}}), 100, 31, 0, 0},
        {"an invalid mode is never chosen", graphics({{800, 600, false}, {2000, 2000, false}, {1024, 768, true}}),
         100, 31, 2, 2},
        {"no modes", {}, 80, 25, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fitting_graphics_mode(c.modes.data(), c.modes.size(), c.columns, c.rows), c.fit);
        EXPECT_EQ(largest_graphics_mode(c.modes.data(), c.modes.size()), c.max);
    }
    struct Find {
        uint64_t width, height;
        int64_t want;
    } finds[] = {{640, 480, 0}, {1920, 1200, 13}, {480, 640, -1}, {800, 601, -1}, {0, 0, -1}};
    for (const Find& f : finds)
        EXPECT_EQ(find_graphics_mode(kVgaModes.data(), kVgaModes.size(), f.width, f.height), f.want)
            << f.width << "x" << f.height;
}

TEST(DisplayFit, DecimalSizes) {
    struct Case {
        const char* text;
        bool ok;
        int64_t value;
    } cases[] = {
        {"0", true, 0},          {"100", true, 100},        {"0031", true, 31},
        {"9223372036854775807", true, 0x7fffffffffffffffll}, {"9223372036854775808", false, 0},
        {"", false, 0},          {"-1", false, 0},          {"+5", false, 0},
        {"0x10", false, 0},      {"12a", false, 0},         {" 1", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t v = -7;
        ASSERT_EQ(parse_decimal_size(c.text, &v), c.ok);
        EXPECT_EQ(v, c.ok ? c.value : -7);
    }
}

}  // namespace

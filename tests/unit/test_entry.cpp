// Start-up preparation: text mode choice, arguments, console state restored at exit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "runtime/console.h"
#include "runtime/exit.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "sim.h"

using namespace tarn;

TEST(Entry, TextModeChoice) {
    const uint64_t cols[] = {80, 80, 100, 128};
    const uint64_t rows[] = {25, 50, 31, 40};
    EXPECT_EQ(choose_text_mode(cols, rows, 4, 0), 2);   // fewest columns among >= 100x25
    EXPECT_EQ(choose_text_mode(cols, rows, 4, 3), -1);  // current one qualifies: kept
    const uint64_t small_cols[] = {80, 80};
    const uint64_t small_rows[] = {25, 50};
    EXPECT_EQ(choose_text_mode(small_cols, small_rows, 2, 0), -1);
    const uint64_t tie_cols[] = {80, 132, 132, 0};
    const uint64_t tie_rows[] = {25, 60, 43, 0};
    EXPECT_EQ(choose_text_mode(tie_cols, tie_rows, 4, 0), 1);  // first of equals
    const uint64_t short_cols[] = {80, 200};
    const uint64_t short_rows[] = {25, 24};
    EXPECT_EQ(choose_text_mode(short_cols, short_rows, 2, 0), -1);
}

namespace {
std::vector<std::string> args_of(const std::u16string& text, bool with_nul = true, int extra_bytes = 0) {
    std::u16string units = text;
    if (with_nul) units.push_back(0);
    char** v = nullptr;
    int n = arguments_from_load_options(units.data(), units.size() * 2 + extra_bytes, &v);
    std::vector<std::string> out;
    for (int i = 0; i < n; i++) {
        out.push_back(v[i]);
        release(v[i]);
    }
    EXPECT_EQ(v[n], nullptr);
    release(v);
    return out;
}
using Words = std::vector<std::string>;
}  // namespace

TEST(Entry, ArgumentsFromLoadOptions) {
    sim::SimFirmware fw;
    EXPECT_EQ(args_of(u"tarn.efi -c \"PRINT 1 + 1\""), (Words{"tarn.efi", "-c", "PRINT 1 + 1"}));
    EXPECT_EQ(args_of(u"\\EFI\\TARN.EFI\t-n"), (Words{"\\EFI\\TARN.EFI", "-n"}));
    EXPECT_EQ(args_of(u"TARN -h"), (Words{"TARN", "-h"}));
    // Boot entries store bare arguments: the first one is kept.
    EXPECT_EQ(args_of(u"-n script.tsb"), (Words{"tarn", "-n", "script.tsb"}));
    EXPECT_EQ(args_of(u"startup.tsb"), (Words{"tarn", "startup.tsb"}));
    EXPECT_EQ(args_of(u""), (Words{"tarn"}));
    EXPECT_EQ(args_of(u"  a   \"\"  b  ", false), (Words{"tarn", "a", "", "b"}));
    // Not text: odd size, control characters, binary data.
    EXPECT_EQ(args_of(u"tarn.efi -h", true, -1), (Words{"tarn"}));
    EXPECT_EQ(args_of(u"a\x01" u"b"), (Words{"tarn"}));
    char** v = nullptr;
    EXPECT_EQ(arguments_from_load_options(nullptr, 0, &v), 1);
    release(v[0]);
    release(v);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(Entry, PrepareSwitchesModeAndExitRestoresIt) {
    sim::SimFirmware fw;
    fw.set_text_modes({{80, 25}, {100, 31}, {128, 40}});
    fw.system_table()->con_out->set_attribute(fw.system_table()->con_out, 0);
    prepare_firmware(fw.image_handle(), fw.system_table());
    efi::SimpleTextOutput* out = fw.system_table()->con_out;
    EXPECT_EQ(out->mode->mode, 1);
    EXPECT_EQ(firmware().saved_mode, 0);
    EXPECT_EQ(firmware().saved_attribute, 7);
    EXPECT_TRUE(out->mode->cursor_visible);
    EXPECT_EQ(fw.watchdog_timeout(), 0u);
    EXPECT_NE(firmware().loaded_image, nullptr);
    // The clock was calibrated against Stall on the virtual clock.
    EXPECT_EQ(firmware().ticks_per_ms, sim::SimFirmware::kTicksPerUs * 1000);
    uint64_t ms = milliseconds();
    fw.advance_us(5000);
    EXPECT_EQ(milliseconds(), ms + 5);

    console_set_attribute(12, 1);
    auto r = fw.run([] { program_exit(3); });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, efi::kErrorBit | 3);
    EXPECT_EQ(out->mode->mode, 0);
    EXPECT_EQ(out->mode->attribute, 7);
}

TEST(Entry, QueryFailureMeans80By25AndNoSwitch) {
    sim::SimFirmware fw;
    fw.set_query_mode_fails(true);
    prepare_firmware(fw.image_handle(), fw.system_table());
    EXPECT_EQ(firmware().saved_mode, -1);
    uint64_t c = 0, r = 0;
    console_size(&c, &r);
    EXPECT_EQ(c, 80u);
    EXPECT_EQ(r, 25u);
}

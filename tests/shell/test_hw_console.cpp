// mode and gop over the simulated console's text modes and a fake graphics output.
#include <string>
#include <vector>

#include "command_test.h"
#include "graphics.h"

using namespace tarn;
using namespace tarn_test;

namespace {

constexpr efi::Status kDeviceError = 0x8000000000000007ull;

// OVMF's console at start-up: 80x25, an unavailable 80x50, 100x31, then two that need
// large screens; and a graphics output whose 1280x1024 refuses to switch and whose
// 1600x1200 cannot be queried.
struct ConsoleShell {
    CommandShell shell;
    sim::FakeGraphics* gop = nullptr;

    explicit ConsoleShell(bool graphics = true, bool on_console = true, bool refuse = true) {
        shell.fw.set_text_modes({{80, 25}, {80, 50}, {100, 31}, {160, 53}, {240, 56}});
        shell.fw.set_text_mode_unavailable(1, true);
        if (!graphics) return;
        sim::GraphicsLayout layout;
        layout.modes = {{640, 480},
                        {800, 480},
                        {800, 600},
                        {1024, 768, efi::kPixelRedGreenBlueReserved8BitPerColor},
                        {1280, 1024, efi::kPixelBitMask, false, refuse ? kDeviceError : 0},
                        {1600, 1200, 1, true},
                        {1920, 1080, efi::kPixelBltOnly}};
        layout.current = 2;
        layout.on_console = on_console;
        gop = &sim::add_graphics(shell.fw, layout);
    }
    int32_t text_mode() { return shell.fw.system_table()->con_out->mode->mode; }
    // The console still takes output after whatever the test did to it, at the size of
    // its current mode.
    void expect_usable() {
        constexpr uint64_t kColumns[] = {80, 80, 100, 160, 240};
        EXPECT_NE(shell.run("echo still here").out.find("still here"), std::string::npos);
        EXPECT_EQ(shell.screen().columns(), kColumns[text_mode()]);
    }
};

TEST(HwMode, ListsTheValidModes) {
    ConsoleShell c;
    EXPECT_EQ(c.shell.output("mode"),
              "Available text modes:\n"
              "   0:  80 columns x  25 rows  (current)\n"
              "   2: 100 columns x  31 rows\n"
              "   3: 160 columns x  53 rows\n"
              "   4: 240 columns x  56 rows\n");
    c.shell.fw.set_current_mode(3);
    EXPECT_NE(c.shell.output("mode").find("   3: 160 columns x  53 rows  (current)\n"), std::string::npos);
}

TEST(HwMode, SelectsBySizeAndLargest) {
    ConsoleShell c;
    struct Case {
        const char* line;
        const char* out;
        int32_t mode;
    } cases[] = {
        {"mode 100 31", "Text mode 2: 100 x 31 characters\n", 2},
        {"mode 80 25", "Text mode 0: 80 x 25 characters\n", 0},
        {"mode 0160 53", "Text mode 3: 160 x 53 characters\n", 3},
        {"mode -max", "Text mode 4: 240 x 56 characters\n", 4},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.line);
        EXPECT_EQ(c.shell.output(k.line), k.out);
        EXPECT_EQ(c.text_mode(), k.mode);
        c.expect_usable();
    }
}

TEST(HwMode, BadInputAndRefusedModes) {
    ConsoleShell c;
    c.shell.fw.set_text_mode_refused(3, kDeviceError);
    const std::string usage = "usage: mode [COLUMNS ROWS | -max | -fill]\n";
    struct Case {
        const char* line;
        int code;
        std::string message;
    } cases[] = {
        {"mode 80 50", 1, "mode: no text mode with 80 columns and 50 rows (mode lists them)\n"},
        {"mode 31 100", 1, "mode: no text mode with 31 columns and 100 rows (mode lists them)\n"},
        {"mode 160 53", 1, "mode: device error\n"},
        {"mode 100", 2, usage},
        {"mode 100 31 1", 2, usage},
        {"mode 0x64 31", 2, usage},
        {"mode 100 rows", 2, usage},
        {"mode 99999999999999999999 1", 2, usage},
        {"mode -max 100 31", 2, usage},
        {"mode -max -fill", 2, usage},
        {"mode -fill 1 2", 2, usage},
        {"mode -huge", 2, "mode: unknown option -huge"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.line);
        c.shell.expect_failure(k.line, k.code, k.message);
        EXPECT_EQ(c.text_mode(), 0);
        c.expect_usable();
    }
}

TEST(HwMode, FillRestartsTheConsoleThenFitsTheScreen) {
    struct Case {
        uint32_t graphics;  // the resolution the console driver finds
        const char* last;
    } cases[] = {
        {2, "Text mode 2: 100 x 31 characters\n"},  // 800x600
        {0, "Text mode 0: 80 x 25 characters\n"},   // 640x480
        {6, "Text mode 4: 240 x 56 characters\n"},  // 1920x1080
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.last);
        ConsoleShell c;
        ASSERT_EQ(c.gop->protocol()->set_mode(c.gop->protocol(), k.graphics), 0u);
        EXPECT_EQ(c.shell.output("mode -fill"),
                  std::string("Restarting the firmware console driver...\nAll controllers reconnected.\n") + k.last);
        c.expect_usable();
    }
    {
        ConsoleShell none(false);
        const RunResult r = none.shell.expect_failure("mode -fill", 1, "mode: no graphics output\n");
        EXPECT_EQ(r.out.find("Restarting the firmware console driver...\n"), 0u);
    }
    // 800x480 holds no text mode that is there.
    ConsoleShell tiny;
    tiny.shell.fw.set_text_mode_unavailable(0, true);
    ASSERT_EQ(tiny.gop->protocol()->set_mode(tiny.gop->protocol(), 1), 0u);
    tiny.shell.expect_failure("mode -fill", 1, "mode: no text mode fits 800 x 480 pixels\n");
    tiny.expect_usable();
}

TEST(HwGop, ListsModesAndTheFrameBuffer) {
    ConsoleShell c;
    const std::string list =
        "   0:   640 x 480   BGR\n"
        "   1:   800 x 480   BGR\n"
        "   2:   800 x 600   BGR  (current)\n"
        "   3:  1024 x 768   RGB\n"
        "   4:  1280 x 1024  bitmask\n"
        "   6:  1920 x 1080  blt only\n"
        "Frame buffer at 0x80000000, 1920000 bytes\n";
    EXPECT_EQ(c.shell.output("gop"), list);
    // Every mode's information block goes back to the pool.
    const int64_t blocks = c.shell.fw.outstanding_allocations();
    EXPECT_EQ(c.shell.run("gop").code, 0);
    EXPECT_EQ(c.shell.fw.outstanding_allocations(), blocks);
    const std::string data = c.shell.output("gop -data");
    for (const char* record : {"mode=0\nwidth=640\nheight=480\nformat=BGR\ncurrent=no\n",
                               "mode=2\nwidth=800\nheight=600\nformat=BGR\ncurrent=yes\n",
                               "mode=6\nwidth=1920\nheight=1080\nformat=blt only\ncurrent=no\n",
                               "framebuffer=0x80000000\nframebuffer_size=1920000\n"})
        EXPECT_NE(data.find(record), std::string::npos) << data;
    EXPECT_EQ(data.find("mode=5"), std::string::npos);
    EXPECT_TRUE(c.gop->calls().empty());
}

TEST(HwGop, FindsAGraphicsOutputOffTheConsole) {
    ConsoleShell apart(true, false);
    EXPECT_NE(apart.gop->handle(), apart.shell.fw.system_table()->console_out_handle);
    EXPECT_EQ(apart.shell.output("gop 1024 768"), "Graphics mode 3: 1024 x 768\n");
}

// Each switch starts from text mode `text`; when the text mode does not fit the new
// resolution, the best one for it is set before the graphics output switches.
TEST(HwGop, SwitchesFittingTheTextModeFirst) {
    struct Case {
        const char* line;
        int32_t text;       // text mode before
        const char* out;
        uint32_t graphics;  // graphics mode after
        int32_t text_after;
    } cases[] = {
        {"gop 1024 768", 0, "Graphics mode 3: 1024 x 768\n", 3, 0},
        {"gop 3", 2, "Graphics mode 3: 1024 x 768\n", 3, 2},
        {"gop 800 600", 4, "Graphics mode 2: 800 x 600 (text 100 x 31)\n", 2, 2},
        {"gop 0", 2, "Graphics mode 0: 640 x 480 (text 80 x 25)\n", 0, 0},
        {"gop 1", 2, "Graphics mode 1: 800 x 480 (text 80 x 25)\n", 1, 0},
        {"gop -max", 0, "Graphics mode 6: 1920 x 1080\n", 6, 0},
        {"gop max", 4, "Graphics mode 6: 1920 x 1080\n", 6, 4},
        {"gop -fit", 2, "Graphics mode 2: 800 x 600\n", 2, 2},
        {"gop -fit", 0, "Graphics mode 0: 640 x 480\n", 0, 0},
        {"gop -fit", 3, "Graphics mode 4: 1280 x 1024\n", 4, 3},
        {"gop -fit", 4, "Graphics mode 6: 1920 x 1080\n", 6, 4},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.line) + " from text mode " + std::to_string(k.text));
        ConsoleShell c(true, true, false);
        c.shell.fw.set_current_mode(static_cast<uint64_t>(k.text));
        EXPECT_EQ(c.shell.output(k.line), k.out);
        EXPECT_EQ(c.gop->current(), k.graphics);
        EXPECT_EQ(c.text_mode(), k.text_after);
        ASSERT_EQ(c.gop->calls().size(), 1u);
        EXPECT_EQ(c.gop->calls()[0].text_mode, k.text_after);  // the text mode was set first
        c.expect_usable();
    }
}

TEST(HwGop, RefusalsAndBadInput) {
    const std::string usage = "usage: gop [MODE | WIDTH HEIGHT | -max | -fit]\n";
    struct Case {
        const char* line;
        int32_t text;
        int code;
        std::string message;
        size_t set_calls;
    } cases[] = {
        // 1280x1024 refuses: 240x56 went to 160x53 for it, and comes back.
        {"gop 4", 4, 1, "gop: cannot switch to mode 4: device error\n", 1},
        {"gop 1280 1024", 0, 1, "gop: cannot switch to mode 4: device error\n", 1},
        {"gop 5", 0, 1, "gop: cannot switch to mode 5: unsupported\n", 0},
        {"gop 99", 0, 1, "gop: cannot switch to mode 99: unsupported\n", 0},
        {"gop 1600 1200", 0, 1, "gop: no mode with 1600 x 1200 (gop lists the available ones)\n", 0},
        {"gop 640 481", 0, 1, "gop: no mode with 640 x 481 (gop lists the available ones)\n", 0},
        {"gop 1 2 3", 0, 2, usage, 0},
        {"gop -max -fit", 0, 2, usage, 0},
        {"gop -fit 3", 0, 2, usage, 0},
        {"gop -max max", 0, 2, usage, 0},
        {"gop x", 0, 2, usage, 0},
        {"gop 4294967296", 0, 2, usage, 0},
        {"gop 800 -600", 0, 2, usage, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.line);
        ConsoleShell c;
        c.shell.fw.set_current_mode(static_cast<uint64_t>(k.text));
        c.shell.expect_failure(k.line, k.code, k.message);
        EXPECT_EQ(c.gop->current(), 2u);
        EXPECT_EQ(c.text_mode(), k.text);
        EXPECT_EQ(c.gop->calls().size(), k.set_calls);
        if (k.set_calls) EXPECT_EQ(c.gop->calls()[0].text_mode, k.text == 4 ? 3 : k.text);
        c.expect_usable();
    }
}

TEST(HwGop, NoGraphicsAndNoFit) {
    {
        ConsoleShell none(false);
        for (const char* line : {"gop", "gop -fit", "gop 1", "gop -data"}) {
            SCOPED_TRACE(line);
            none.shell.expect_failure(line, 1, "gop: no graphics output\n");
        }
    }
    ConsoleShell small(false);
    sim::GraphicsLayout layout;
    layout.modes = {{640, 480}, {800, 600}};
    small.gop = &sim::add_graphics(small.shell.fw, layout);
    small.shell.fw.set_current_mode(3);
    small.shell.expect_failure("gop -fit", 1, "gop: no mode holds the text console (160 x 53 characters)\n");
    small.shell.fw.set_query_mode_fails(true);
    small.shell.expect_failure("gop -fit", 1, "gop: cannot read the current text mode\n");
    EXPECT_TRUE(small.gop->calls().empty());
    small.shell.fw.set_query_mode_fails(false);
    small.expect_usable();
}

}  // namespace

// The output channel over the simulated console.
#include <gtest/gtest.h>

#include <string>

#include "app/entry.h"
#include "fs/files.h"
#include "runtime/console.h"
#include "runtime/exit.h"
#include "runtime/output.h"
#include "sim.h"

using namespace tarn;

namespace {

std::string captured(const std::function<void()>& fn) {
    StringBuffer buffer;
    EXPECT_EQ(push_capture(&buffer), 0);
    fn();
    EXPECT_EQ(pop_redirection(), 0);
    return buffer.c_str();
}

int count_lines(const std::string& s, const std::string& needle) {
    int n = 0;
    for (size_t p = s.find(needle); p != std::string::npos; p = s.find(needle, p + 1)) n++;
    return n;
}

// Output of 100 numbered lines with paging on a 25-row screen, answering the
// "-- More --" prompts with the given keys.
struct PagedRun {
    std::string transcript;
    bool stopped;
    bool brk;
    int printed;
};

PagedRun paged_hundred(sim::SimFirmware& fw) {
    pager_begin(true);
    PagedRun r{};
    for (int i = 1; i <= 100 && !pager_stopped(); i++) {
        out_printf("line %03d\n", i);
        r.printed = i;
    }
    r.stopped = pager_stopped();
    r.brk = poll_break();
    pager_begin(false);
    r.transcript = fw.screen().transcript_lines();
    return r;
}

}  // namespace

TEST(Output, PagerEnterGivesOneLineSpaceAPageQStops) {
    sim::SimFirmware fw;
    fw.push_key(u'\r');
    fw.push_key(u' ');
    fw.push_key(u'q');
    PagedRun r = paged_hundred(fw);
    const std::string& t = r.transcript;
    // 24 lines, prompt, 1 line, prompt, 24 lines, prompt, stop.
    size_t first = t.find("-- More --");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(t.rfind("line 024", first), std::string::npos);
    EXPECT_EQ(t.find("line 025"), t.find("line 025", first));
    EXPECT_GT(t.find("line 025"), first);
    size_t second = t.find("-- More --", first + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(t.find("line 025"), second);
    EXPECT_GT(t.find("line 026"), second);
    EXPECT_EQ(count_lines(t, "-- More --"), 3);
    EXPECT_NE(t.find("line 049"), std::string::npos);
    EXPECT_EQ(t.find("line 050"), std::string::npos);
    EXPECT_TRUE(r.stopped);
    EXPECT_TRUE(r.brk);
    // The prompt is erased after each key.
    EXPECT_NE(fw.screen().transcript().find("\r" + std::string(55, ' ') + "\r"), std::string::npos);
}

TEST(Output, PagerEscapeAndCtrlCStopLikeQ) {
    for (char16_t key : {u'\x1b', u'\x03', u'Q'}) {
        sim::SimFirmware fw;
        fw.push_key(key);
        PagedRun r = paged_hundred(fw);
        EXPECT_TRUE(r.stopped) << int(key);
        EXPECT_EQ(r.printed, 24) << int(key);
    }
    sim::SimFirmware fw;
    fw.push_key(0, kScanEscape);
    EXPECT_TRUE(paged_hundred(fw).stopped);
}

TEST(Output, PagerCountsWrappedLinesAndCharactersNotBytes) {
  {
    sim::SimFirmware fw;
    fw.push_key(u'q');
    pager_begin(true);
    // 20 short lines and a 200-character line (3 screen lines) make 23 of the 24.
    for (int i = 0; i < 20; i++) out_printf("x%d\n", i);
    std::string wide(200, 'w');
    out_printf("%s\n", wide.c_str());
    EXPECT_FALSE(pager_stopped()) << "prompt came too early";
    out_text("after\n");
    EXPECT_TRUE(pager_stopped());
    pager_begin(false);
  }
    sim::SimFirmware fw2;
    fw2.push_key(u'q');
    pager_begin(true);
    for (int i = 0; i < 22; i++) out_printf("y%d\n", i);
    // 79 two-byte characters fit one 80-column line with the newline.
    std::string umlauts;
    for (int i = 0; i < 79; i++) umlauts += "\xc3\xbc";
    out_printf("%s\n", umlauts.c_str());
    EXPECT_FALSE(pager_stopped());
    out_text("z\n");
    EXPECT_TRUE(pager_stopped());
    pager_begin(false);
}

TEST(Output, PagerReadsTypeAheadFirst) {
    sim::SimFirmware fw;
    fw.push_key(u' ');
    poll_break();  // the Space typed while the command ran goes to the ring
    ASSERT_EQ(fw.pending_keys(), 0u);
    fw.push_key(u'q');
    PagedRun r = paged_hundred(fw);
    EXPECT_EQ(count_lines(r.transcript, "-- More --"), 2);
    EXPECT_EQ(r.printed, 48);
}

TEST(Output, StoppedOutputIsDroppedUntilNextCommand) {
    sim::SimFirmware fw;
    fw.push_key(u'q');
    paged_hundred(fw);
    pager_begin(true);
    out_text("visible again\n");
    pager_begin(false);
    EXPECT_NE(fw.screen().transcript_lines().find("visible again"), std::string::npos);
}

TEST(Output, CapturesNestAndFileDepthIsBounded) {
    sim::SimFirmware fw;
    StringBuffer buffers[kMaxRedirections + 1];
    for (int i = 0; i < kMaxRedirections; i++) ASSERT_EQ(push_capture(&buffers[i]), 0);
    // The 17th level is refused, not fatal; nothing already redirected is lost.
    EXPECT_EQ(push_capture(&buffers[kMaxRedirections]), kErrOutOfMemory);
    EXPECT_EQ(push_file("fs0:\\x.txt", false), kErrOutOfMemory);
    out_text("deep");
    for (int i = 0; i < kMaxRedirections; i++) EXPECT_EQ(pop_redirection(), 0);
    EXPECT_STREQ(buffers[kMaxRedirections - 1].c_str(), "deep");
    EXPECT_EQ(buffers[0].length, 0u);
    EXPECT_FALSE(is_redirected());
    EXPECT_EQ(pop_redirection(), 0);  // an empty stack pops to success
}

namespace {
struct FakeFile {
    std::string data;
    int writes_before_error = -1;
    bool closed = false;
};
ShellError fake_open(const char* path, bool append, void** handle) {
    if (std::string(path) == "missing:\\x") return kErrNotFound;
    auto* f = new FakeFile;
    if (std::string(path) == "full") f->writes_before_error = 1;
    *handle = f;
    return 0;
}
ShellError fake_write(void* handle, const void* bytes, uint64_t n) {
    auto* f = static_cast<FakeFile*>(handle);
    if (f->writes_before_error == 0) return kErrVolumeFull;
    if (f->writes_before_error > 0) f->writes_before_error--;
    f->data.append(static_cast<const char*>(bytes), n);
    return 0;
}
FakeFile* g_last_closed_data = nullptr;
ShellError fake_close(void* handle) {
    delete g_last_closed_data;
    g_last_closed_data = static_cast<FakeFile*>(handle);
    g_last_closed_data->closed = true;
    return 0;
}
const RedirectFileOps kFakeOps = {fake_open, fake_write, fake_close};
}  // namespace

TEST(Output, FileRedirectionKeepsFirstWriteErrorAndErrorsBypassIt) {
    sim::SimFirmware fw;
    EXPECT_EQ(push_file("any", false), kErrNotSupported);  // no file layer yet
    set_redirect_file_ops(&kFakeOps);
    EXPECT_EQ(push_file("missing:\\x", false), kErrNotFound);
    EXPECT_FALSE(is_redirected());

    ASSERT_EQ(push_file("ok", false), 0);
    out_text("hello ");
    report_error("cmd", "went %s", "wrong");
    out_text("world");
    EXPECT_EQ(pop_redirection(), 0);
    ASSERT_NE(g_last_closed_data, nullptr);
    EXPECT_EQ(g_last_closed_data->data, "hello world");
    EXPECT_NE(fw.screen().transcript_lines().find("cmd: went wrong\n"), std::string::npos);
    EXPECT_EQ(fw.screen().transcript_lines().find("hello"), std::string::npos);
    EXPECT_EQ(fw.screen().text_in_foreground(12), "cmd: went wrong\r\n");

    ASSERT_EQ(push_file("full", false), 0);
    out_text("first");
    out_text("second");
    out_text("third");
    EXPECT_EQ(pop_redirection(), kErrVolumeFull);
    EXPECT_EQ(g_last_closed_data->data, "first");
    EXPECT_TRUE(g_last_closed_data->closed);
    delete g_last_closed_data;
    g_last_closed_data = nullptr;
}

TEST(Output, RecordsAreSeparatedBySingleEmptyLines) {
    sim::SimFirmware fw;
    std::string s = captured([] {
        set_data_mode(true);
        for (int i = 0; i < 3; i++) {
            record_begin();
            record_field("n", "%d", i);
            record_field("text", "a\r\nb");
        }
        set_data_mode(false);
    });
    EXPECT_EQ(s, "n=0\ntext=a  b\n\nn=1\ntext=a  b\n\nn=2\ntext=a  b\n");
}

TEST(Output, LabeledValueInBothModes) {
    sim::SimFirmware fw;
    EXPECT_EQ(captured([] { labeled_value(2, 12, "Vendor", "%s", "X"); }), "  Vendor:      X\n");
    EXPECT_EQ(captured([] {
                  set_data_mode(true);
                  labeled_value(2, 12, "Vendor", "%s", "X");
                  labeled_value(0, 4, "Firmware revision", "%d", 7);
                  set_data_mode(false);
              }),
              "vendor=X\nfirmware_revision=7\n");
}

TEST(Output, KeyNormalization) {
    char key[64];
    auto norm = [&](const char* label) {
        normalize_key(label, key, sizeof key);
        return std::string(key);
    };
    EXPECT_EQ(norm("Firmware revision"), "firmware_revision");
    EXPECT_EQ(norm("BootNext:"), "bootnext");
    EXPECT_EQ(norm("  --PCI  Bus/Dev--  "), "pci_bus_dev");
    EXPECT_EQ(norm("\xc3\xa4rger X"), "rger_x");
    EXPECT_EQ(norm(""), "");
    EXPECT_EQ(norm(std::string(100, 'a').c_str()), std::string(63, 'a'));
    // The cut comes after the separator logic: no trailing underscore survives it.
    std::string edge = std::string(62, 'b') + " c";
    EXPECT_EQ(norm(edge.c_str()), std::string(62, 'b'));
    char small[4];
    normalize_key("abcdef", small, sizeof small);
    EXPECT_STREQ(small, "abc");
}

TEST(Output, FileRecordFields) {
    sim::SimFirmware fw;
    alignas(8) unsigned char storage[128] = {};
    auto* info = reinterpret_cast<efi::FileInfo*>(storage);
    info->file_size = 1234;
    info->attribute = efi::kFileReadOnly | efi::kFileArchive;
    info->modification_time = efi::Time{2024, 2, 29, 13, 5, 9, 0, 0, 0, 0, 0};
    std::string s = captured([&] {
        set_data_mode(true);
        file_record("fs0:\\efi\\boot\\bootx64.efi", info);
    });
    EXPECT_EQ(s,
              "name=bootx64.efi\npath=fs0:\\efi\\boot\\bootx64.efi\ntype=file\nsize=1234\n"
              "modified=2024-02-29 13:05:09\nreadonly=yes\nhidden=no\nsystem=no\narchive=yes\n");
}

TEST(Output, TypeAheadRingKeeps32AndCtrlCEmptiesIt) {
    sim::SimFirmware fw;
    for (int i = 0; i < 33; i++) fw.push_key(static_cast<char16_t>(u'a' + (i % 26)));
    EXPECT_FALSE(poll_break());
    KeyEvent k;
    int n = 0;
    while (read_key(0, &k)) {
        EXPECT_EQ(k.character, static_cast<uint32_t>('a' + (n % 26)));
        n++;
    }
    EXPECT_EQ(n, 32);

    fw.advance_us(60000);
    fw.push_key(u'x');
    fw.push_key(3);
    fw.push_key(u'y');
    EXPECT_TRUE(poll_break());
    ASSERT_TRUE(read_key(0, &k));
    EXPECT_EQ(k.character, static_cast<uint32_t>('y'));
    EXPECT_FALSE(read_key(0, &k));
    clear_break();
    EXPECT_FALSE(poll_break());
}

TEST(Output, PollTouchesKeyboardAtMostEvery50ms) {
    sim::SimFirmware fw;
    poll_break();
    fw.push_key(3);
    EXPECT_FALSE(poll_break());  // same instant: throttled
    fw.advance_us(49000);
    EXPECT_FALSE(poll_break());
    fw.advance_us(1000);
    EXPECT_TRUE(poll_break());
}

TEST(Output, PressAnyKey) {
    sim::SimFirmware fw;
    fw.push_key(u'k');
    EXPECT_TRUE(press_any_key());
    EXPECT_NE(fw.screen().transcript_lines().find("Press any key to continue...\n"), std::string::npos);
    fw.push_key(0, kScanEscape);
    EXPECT_FALSE(press_any_key("go? "));
    fw.push_key(3);
    clear_break();
    EXPECT_FALSE(press_any_key("go? "));
    EXPECT_TRUE(poll_break());
}

TEST(Output, ColoursOnlyWhenNotRedirected) {
    sim::SimFirmware fw;
    set_colour(14, 1);
    EXPECT_EQ(console_attribute(), 0x1e);
    StringBuffer b;
    ASSERT_EQ(push_capture(&b), 0);
    set_colour(2, 0);
    reset_colour();
    EXPECT_EQ(console_attribute(), 0x1e);
    EXPECT_EQ(pop_redirection(), 0);
}

TEST(Console, WriteConvertsNewlinesAndWideCodePoints) {
    sim::SimFirmware fw;
    std::string text = "a\nb \xf0\x9f\x98\x80 \xe2\x82\xac\n";
    console_write(text.data(), text.size());
    EXPECT_EQ(fw.screen().transcript(), "a\r\nb \xef\xbf\xbd \xe2\x82\xac\r\n");
    // A NUL byte does not cut the rest of the text off.
    fw.screen().clear_transcript();
    console_write("a\0b", 3);
    EXPECT_EQ(fw.screen().transcript(), "a\xef\xbf\xbd" "b");
    // Longer than the conversion buffer: nothing is lost at the flush boundaries.
    fw.screen().clear_transcript();
    std::string big;
    for (int i = 0; i < 1000; i++) big += static_cast<char>('a' + i % 26);
    big += "\n";
    console_write(big.data(), big.size());
    EXPECT_EQ(fw.screen().transcript(), big.substr(0, 1000) + "\r\n");
}

TEST(Console, ReadKeyTimesOutOnTheVirtualClock) {
    sim::SimFirmware fw;
    KeyEvent k;
    uint64_t before = fw.now_us();
    EXPECT_FALSE(console_read_key(250, &k));
    EXPECT_GE(fw.now_us() - before, 250000u);
    fw.push_key(u'z', 0, 0, 100000);
    EXPECT_TRUE(console_read_key(500, &k));
    EXPECT_EQ(k.character, static_cast<uint32_t>('z'));
    EXPECT_FALSE(console_read_key(0, &k));
}

TEST(Console, ControlWithLetterBecomesControlCode) {
    sim::SimFirmware fw;
    prepare_firmware(fw.image_handle(), fw.system_table());  // finds the extended input protocol
    fw.push_key(u'c', 0, efi::kShiftStateValid | efi::kLeftControlPressed);
    fw.push_key(u'x', 0, efi::kShiftStateValid | efi::kRightAltPressed);
    KeyEvent k;
    ASSERT_TRUE(console_read_key(0, &k));
    EXPECT_EQ(k.character, 3u);
    EXPECT_EQ(k.modifiers, kModControl);
    ASSERT_TRUE(console_read_key(0, &k));
    EXPECT_EQ(k.character, static_cast<uint32_t>('x'));
    EXPECT_EQ(k.modifiers, kModAlt);
}

TEST(Exit, StatusCarriesLowEightBits) {
    EXPECT_EQ(exit_status(0), 0u);
    EXPECT_EQ(exit_status(3), efi::kErrorBit | 3);
    EXPECT_EQ(exit_status(256), efi::kErrorBit);
    EXPECT_EQ(exit_status(-1), efi::kErrorBit | 0xff);
}

TEST(Exit, FatalWritesToConsoleAndExitsWithOne) {
    sim::SimFirmware fw;
    StringBuffer b;
    auto r = fw.run([&] {
        ASSERT_EQ(push_capture(&b), 0);
        fatal("out of memory");
    });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, efi::kErrorBit | 1);
    EXPECT_NE(fw.screen().transcript_lines().find("\ntarn: fatal: out of memory\n"), std::string::npos);
    EXPECT_EQ(b.length, 0u);
}

// sleep_interruptible on the virtual clock: how long it waited and whether it ran to the end.
TEST(Output, SleepWaitsOnTheClockAndCtrlCEndsItEarly) {
    struct Case {
        uint64_t ms;
        int64_t ctrl_c_after_ms;  // -1: no key
        bool completes;
        uint64_t min_ms, max_ms;  // virtual time spent
    } cases[] = {
        {0, -1, true, 0, 0},
        {1, -1, true, 1, 1},
        {1000, -1, true, 1000, 1000},
        {1000, 300, false, 300, 360},  // the keyboard is read at most every 50 ms
        {1000, 0, false, 0, 20},
        {5, 2000, true, 5, 5},
    };
    for (const Case& c : cases) {
        sim::SimFirmware fw;
        if (c.ctrl_c_after_ms >= 0) fw.push_key(3, 0, 0, static_cast<uint64_t>(c.ctrl_c_after_ms) * 1000);
        uint64_t start = fw.now_us();
        EXPECT_EQ(sleep_interruptible(c.ms), c.completes) << c.ms << " " << c.ctrl_c_after_ms;
        uint64_t spent_ms = (fw.now_us() - start) / 1000;
        EXPECT_GE(spent_ms, c.min_ms) << c.ms << " " << c.ctrl_c_after_ms;
        EXPECT_LE(spent_ms, c.max_ms) << c.ms << " " << c.ctrl_c_after_ms;
        EXPECT_EQ(poll_break(), !c.completes);
    }
}

TEST(Output, SleepKeepsOtherKeysTypedMeanwhile) {
    sim::SimFirmware fw;
    fw.push_key(u'x', 0, 0, 100 * 1000);
    EXPECT_TRUE(sleep_interruptible(500));
    KeyEvent k;
    ASSERT_TRUE(read_key(0, &k));
    EXPECT_EQ(k.character, static_cast<uint32_t>('x'));
}

// The line editor over real volumes: the history file on the boot volume and Tab
// completion of paths through the file layer.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fs/volumes.h"
#include "runtime/memory.h"
#include "shell/history.h"
#include "shell/line_editor.h"
#include "shell/registry.h"
#include "sim.h"
#include "volumes.h"

using namespace tarn;

namespace {

int nop(int, char**) { return 0; }
const CommandDescriptor kCommands[] = {
    {"map", nop, nullptr, "", nullptr, 0},
    {"cd", nop, nullptr, "", nullptr, 0},
    {"stall", nop, nullptr, "", nullptr, 0},
};

class EditorFilesTest : public ::testing::Test {
protected:
    // One volume (fs0) that the shell was loaded from, unless told otherwise.
    void start(bool boot_volume = true, bool read_only = false) {
        sim::VolumeLayout setup;
        setup.read_only = read_only;
        boot = sim::add_volume(fw, setup);
        if (boot_volume) sim::set_boot_volume(fw, boot);
        if (!read_only) {
            sim::add_directory(fw, boot, "\\efi\\boot");
            sim::add_directory(fw, boot, "\\efi\\tools");
            sim::add_file(fw, boot, "\\startup.tsb", "PRINT 1\n");
            sim::add_file(fw, boot, "\\Setup.EFI", "MZ");
            sim::add_file(fw, boot, "\\readme.txt", "hi\n");
        }
        initialize_volumes();
        register_commands(kCommands, sizeof kCommands / sizeof kCommands[0]);
        install_line_editor_file_sources();
    }
    std::optional<std::string> read(const char* prompt = "> ") {
        std::optional<std::string> out;
        auto r = fw.run([&] {
            char* line = read_line(prompt, true);
            if (line) {
                out = std::string(line);
                release(line);
            }
        });
        EXPECT_FALSE(r.stuck) << r.message;
        return out;
    }
    std::string history_file() {
        return sim::read_file(fw, boot, "\\tarn_history.txt").value_or("<missing>");
    }

    sim::SimFirmware fw;
    sim::VolumeId boot = -1;
};

TEST_F(EditorFilesTest, AcceptedLinesAreAppendedToTheHistoryFile) {
    start();
    fw.push_text("ls\r");
    read();
    fw.push_text("ls\r");
    read();
    fw.push_text("  \r");
    read();
    fw.push_text("cd efi\r");
    read();
    EXPECT_EQ(history_file(), "ls\ncd efi\n");
    EXPECT_STREQ(history_file_path(), "fs0:\\tarn_history.txt");

    // A new run of the shell reads them back.
    reset_history_state();
    install_line_editor_file_sources();
    ASSERT_EQ(history_count(), 2u);
    EXPECT_STREQ(history_entry(1), "cd efi");
    fw.push_key(0, 1);  // Up
    fw.push_text("\r");
    EXPECT_EQ(read(), "cd efi");
}

TEST_F(EditorFilesTest, ExistingFileIsLoadedOnceAndCutTo500) {
    std::string content;
    for (int i = 0; i < 620; i++) content += "cmd" + std::to_string(i) + "\r\n";
    start();
    sim::add_file(fw, boot, "\\tarn_history.txt", content);
    fw.push_key(0, 1);  // Up
    fw.push_text("\r");
    EXPECT_EQ(read(), "cmd619");
    EXPECT_EQ(history_count(), 500u);
    EXPECT_STREQ(history_entry(0), "cmd120");
    EXPECT_EQ(sim::file_calls(fw, sim::FileOp::Write), 0u);  // the same line again: not stored
}

TEST_F(EditorFilesTest, ClearTruncatesTheFile) {
    start();
    int64_t baseline = fw.outstanding_allocations();
    sim::add_file(fw, boot, "\\tarn_history.txt", "a\nb\n");
    EXPECT_EQ(history_count(), 2u);
    history_clear();
    EXPECT_EQ(history_count(), 0u);
    EXPECT_EQ(history_file(), "");
    history_add("c");
    EXPECT_EQ(history_file(), "c\n");
    history_clear();
    EXPECT_EQ(fw.outstanding_allocations(), baseline);
    EXPECT_EQ(sim::open_file_count(fw), 0);
}

TEST_F(EditorFilesTest, ReadOnlyBootVolumeKeepsHistoryInMemory) {
    start(true, true);
    fw.push_text("ver\r");
    EXPECT_EQ(read(), "ver");
    fw.push_text("ls\r");
    EXPECT_EQ(read(), "ls");
    EXPECT_EQ(history_count(), 2u);
    EXPECT_STREQ(history_file_path(), "");  // forgotten after the first failed write
    EXPECT_FALSE(sim::exists(fw, boot, "\\tarn_history.txt"));
    fw.push_key(0, 1);
    fw.push_key(0, 1);
    fw.push_text("\r");
    EXPECT_EQ(read(), "ver");
    EXPECT_EQ(sim::open_file_count(fw), 0);
}

TEST_F(EditorFilesTest, FailedWriteStopsFurtherWrites) {
    start();
    sim::fail_writes_after(fw, boot, 0);
    history_add("one");
    uint64_t writes = sim::file_calls(fw, sim::FileOp::Write);
    history_add("two");
    history_add("three");
    EXPECT_EQ(sim::file_calls(fw, sim::FileOp::Write), writes);
    EXPECT_EQ(history_count(), 3u);
    EXPECT_EQ(sim::open_file_count(fw), 0);
}

TEST_F(EditorFilesTest, VolumeRemovedDuringTheRun) {
    start();
    history_add("before");
    sim::remove_volume(fw, boot);
    history_add("after");
    fw.push_key(0, 1);
    fw.push_text("\r");
    EXPECT_EQ(read(), "after");
    EXPECT_EQ(history_count(), 2u);
}

TEST_F(EditorFilesTest, NoBootVolumeMeansNoHistoryFile) {
    start(false);
    fw.push_text("ls\r");
    EXPECT_EQ(read(), "ls");
    EXPECT_EQ(history_count(), 1u);
    EXPECT_STREQ(history_file_path(), "");
    EXPECT_FALSE(sim::exists(fw, boot, "\\tarn_history.txt"));
}

TEST_F(EditorFilesTest, CompletesDirectoriesOnTheVolume) {
    start();
    fw.push_text("cd fs0:\\ef\t\r");
    EXPECT_EQ(read(), "cd fs0:\\efi\\");
    fw.push_text("cd efi\\to\t\r");
    EXPECT_EQ(read(), "cd efi\\tools\\");
    fw.push_text("type fs0:/R\t\r");
    EXPECT_EQ(read(), "type fs0:/readme.txt ");
    fw.push_text("cd F\t\r");
    EXPECT_EQ(read(), "cd fs0:");
}

TEST_F(EditorFilesTest, CommandWordOffersScriptsAndImages) {
    start();
    fw.push_text("st\t\t");  // stall, startup.tsb: "sta", then the list
    fw.push_text("\r");
    EXPECT_EQ(read(), "sta");
    EXPECT_EQ(fw.screen().row_text(1), "stall        startup.tsb");
    fw.push_text("se\t\r");
    EXPECT_EQ(read(), "Setup.EFI ");
    fw.push_text("re\t\r");  // readme.txt is not runnable
    EXPECT_EQ(read(), "re");
}

TEST_F(EditorFilesTest, UnknownVolumeOrDirectoryCompletesNothing) {
    start();
    fw.push_text("cd fs9:\\\t\r");
    EXPECT_EQ(read(), "cd fs9:\\");
    fw.push_text("cd \\nothere\\\t\r");
    EXPECT_EQ(read(), "cd \\nothere\\");
    fw.push_text("cd readme.txt\\\t\r");
    EXPECT_EQ(read(), "cd readme.txt\\");
    EXPECT_EQ(sim::open_file_count(fw), 0);
}

}  // namespace

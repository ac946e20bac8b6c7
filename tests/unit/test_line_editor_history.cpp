// The history list and its file, over a fake file in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/memory.h"
#include "shell/history.h"
#include "sim.h"

using namespace tarn;

namespace {

struct FakeFile {
    const char* volume = "fs0";
    bool exists = true;
    std::string content;
    int reads = 0;
    int appends = 0;
    int truncates = 0;
    bool fail_read = false;
    bool fail_append = false;
    bool fail_truncate = false;
    std::string last_path;
};
FakeFile g_file;

const char* fake_volume() { return g_file.volume; }
ShellError fake_read(const char* path, char** data, uint64_t* length) {
    g_file.reads++;
    g_file.last_path = path;
    if (g_file.fail_read) return kErrIo;
    if (!g_file.exists) return kErrNotFound;
    *data = static_cast<char*>(xallocate(g_file.content.size() + 1));
    memcpy(*data, g_file.content.data(), g_file.content.size());
    *length = g_file.content.size();
    return kOk;
}
ShellError fake_append(const char* path, const char* bytes, uint64_t n) {
    g_file.appends++;
    g_file.last_path = path;
    if (g_file.fail_append) return kErrWriteProtected;
    g_file.exists = true;
    g_file.content.append(bytes, n);
    return kOk;
}
ShellError fake_truncate(const char* path) {
    g_file.truncates++;
    if (g_file.fail_truncate) return kErrIo;
    g_file.content.clear();
    return kOk;
}
constexpr HistoryFileOps kFakeOps = {fake_volume, fake_read, fake_append, fake_truncate};

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_file = FakeFile{};
        reset_history_state();
        set_history_file_ops(&kFakeOps);
    }
    void TearDown() override {
        history_clear();
        EXPECT_EQ(fw.outstanding_allocations(), 0);
        reset_history_state();
    }
    sim::SimFirmware fw;
};

std::string entry(uint64_t i) {
    const char* e = history_entry(i);
    return e ? e : "<null>";
}

TEST_F(HistoryTest, LoadsLazilyOnceFromTheBootVolume) {
    g_file.content = "ls\ncd fs0:\\efi\n\nver\n";
    EXPECT_EQ(g_file.reads, 0);
    EXPECT_EQ(history_count(), 3u);
    EXPECT_EQ(g_file.reads, 1);
    EXPECT_EQ(g_file.last_path, "fs0:\\tarn_history.txt");
    EXPECT_STREQ(history_file_path(), "fs0:\\tarn_history.txt");
    EXPECT_EQ(entry(0), "ls");
    EXPECT_EQ(entry(1), "cd fs0:\\efi");
    EXPECT_EQ(entry(2), "ver");
    EXPECT_EQ(history_entry(3), nullptr);
    history_add("echo");
    EXPECT_EQ(history_count(), 4u);
    EXPECT_EQ(g_file.reads, 1);
}

TEST_F(HistoryTest, AddAppendsToListAndFileIgnoringEmptyAndRepeats) {
    g_file.exists = false;
    history_add("ls");
    history_add("ls");
    history_add("");
    history_add(nullptr);
    history_add("cd \\");
    history_add("ls");
    EXPECT_EQ(history_count(), 3u);
    EXPECT_EQ(g_file.content, "ls\ncd \\\nls\n");
    EXPECT_EQ(g_file.appends, 3);
}

TEST_F(HistoryTest, KeepsTheNewest500) {
    for (int i = 0; i < 501; i++) history_add(("cmd " + std::to_string(i)).c_str());
    ASSERT_EQ(history_count(), kHistoryLimit);
    EXPECT_EQ(entry(0), "cmd 1");
    EXPECT_EQ(entry(499), "cmd 500");
    // The file keeps growing until it is cleared.
    EXPECT_EQ(g_file.appends, 501);
}

TEST_F(HistoryTest, FileWithCarriageReturnsAndNuls) {
    static const char kData[] = "dir\r\n\r\nec\0ho x\r\n\0\0\n\t\nlast";
    g_file.content = std::string(kData, sizeof kData - 1);
    ASSERT_EQ(history_count(), 3u);
    EXPECT_EQ(entry(0), "dir");
    EXPECT_EQ(entry(1), "echo x");
    EXPECT_EQ(entry(2), "last");
}

TEST_F(HistoryTest, MillionLineFileKeepsItsLast500) {
    std::string big;
    big.reserve(12u << 20);
    for (int i = 0; i < 1000000; i++) {
        big += "line ";
        big += std::to_string(i);
        big += (i % 3 == 0) ? "\r\n\n" : "\n";
    }
    g_file.content = std::move(big);
    ASSERT_EQ(history_count(), kHistoryLimit);
    EXPECT_EQ(entry(0), "line 999500");
    EXPECT_EQ(entry(499), "line 999999");
}

TEST_F(HistoryTest, FileWithOnlyBlankLinesGivesEmptyHistory) {
    g_file.content = "\n\n\r\n\r\r\n";
    EXPECT_EQ(history_count(), 0u);
}

TEST_F(HistoryTest, UnreadableFileGivesEmptyHistoryButStillAppends) {
    g_file.fail_read = true;
    EXPECT_EQ(history_count(), 0u);
    history_add("ls");
    EXPECT_EQ(g_file.appends, 1);
}

TEST_F(HistoryTest, FailedAppendForgetsTheFile) {
    g_file.fail_append = true;
    history_add("one");
    EXPECT_EQ(g_file.appends, 1);
    EXPECT_STREQ(history_file_path(), "");
    history_add("two");
    EXPECT_EQ(g_file.appends, 1);  // no more writes are tried
    EXPECT_EQ(history_count(), 2u);
    history_clear();
    EXPECT_EQ(g_file.truncates, 0);
}

TEST_F(HistoryTest, ClearEmptiesListAndTruncatesFile) {
    g_file.content = "a\nb\n";
    EXPECT_EQ(history_count(), 2u);
    history_clear();
    EXPECT_EQ(history_count(), 0u);
    EXPECT_EQ(g_file.truncates, 1);
    EXPECT_EQ(g_file.content, "");
    history_add("c");
    EXPECT_EQ(g_file.content, "c\n");
}

TEST_F(HistoryTest, ClearBeforeFirstUseDoesNotLoadTheOldListLater) {
    g_file.content = "a\nb\n";
    g_file.fail_truncate = true;
    history_clear();
    EXPECT_EQ(history_count(), 0u);
    // The truncation failed: the file is forgotten so its old lines never come back
    // and no more writes land in it.
    history_add("c");
    EXPECT_EQ(g_file.appends, 0);
}

TEST_F(HistoryTest, NoBootVolumeKeepsHistoryInMemory) {
    g_file.volume = nullptr;
    history_add("ls");
    history_add("ver");
    EXPECT_EQ(history_count(), 2u);
    EXPECT_EQ(g_file.reads, 0);
    EXPECT_EQ(g_file.appends, 0);
    EXPECT_STREQ(history_file_path(), "");
}

TEST_F(HistoryTest, NoFileOpsAtAllStillWorks) {
    set_history_file_ops(nullptr);
    history_add("ls");
    EXPECT_EQ(history_count(), 1u);
    EXPECT_EQ(entry(0), "ls");
}

TEST_F(HistoryTest, LineBreaksInsideAnAddedLineDoNotSplitTheFile) {
    history_add("a\nb\r");
    ASSERT_EQ(history_count(), 1u);
    EXPECT_EQ(entry(0), "ab");
    EXPECT_EQ(g_file.content, "ab\n");
}

TEST_F(HistoryTest, OverlongBootVolumeNameMeansNoFile) {
    static std::string longname(200, 'v');
    g_file.volume = longname.c_str();
    history_add("ls");
    EXPECT_EQ(g_file.appends, 0);
    EXPECT_EQ(history_count(), 1u);
}

}  // namespace

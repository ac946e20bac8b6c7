// The runtime's stable sort against std::stable_sort over many sizes and key spreads,
// with rows carrying their original position so any lost stability shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "runtime/sort.h"
#include "sim.h"

namespace {

using namespace tarn;

struct Row {
    uint32_t key;
    uint32_t position;
};

bool operator==(const Row& a, const Row& b) { return a.key == b.key && a.position == b.position; }

// Rows with keys drawn from [0, spread) in the given order pattern.
std::vector<Row> make_rows(uint64_t n, uint32_t spread, int pattern, std::mt19937& random) {
    std::vector<Row> rows(n);
    for (uint64_t i = 0; i < n; i++) {
        uint32_t key = static_cast<uint32_t>(random() % spread);
        if (pattern == 1) key = static_cast<uint32_t>(i % spread);            // ascending runs
        if (pattern == 2) key = static_cast<uint32_t>((n - i) % spread);      // descending runs
        rows[i] = {key, static_cast<uint32_t>(i)};
    }
    return rows;
}

TEST(RuntimeSort, MatchesStdStableSortOverSizesSpreadsAndPatterns) {
    sim::SimFirmware fw;
    std::mt19937 random(11);
    const uint64_t sizes[] = {0, 1, 2, 3, 15, 16, 17, 31, 32, 33, 63, 100, 255, 256, 257, 1000, 4099};
    const uint32_t spreads[] = {1, 2, 7, 1000, 0xffffffffu};
    auto by_key = [](const Row& a, const Row& b) { return a.key < b.key; };
    for (uint64_t n : sizes)
        for (uint32_t spread : spreads)
            for (int pattern = 0; pattern < 3; pattern++) {
                std::vector<Row> ours = make_rows(n, spread, pattern, random);
                std::vector<Row> theirs = ours;
                stable_sort(ours.data(), ours.size(), by_key);
                std::stable_sort(theirs.begin(), theirs.end(), by_key);
                ASSERT_EQ(ours, theirs) << "n=" << n << " spread=" << spread << " pattern=" << pattern;
            }
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeSort, SortsPointerRowsByTheirTextIgnoringCase) {
    sim::SimFirmware fw;
    const char* names[] = {"b", "A", "a", "C", "B", "c"};
    stable_sort(names, array_size(names), [](const char* a, const char* b) { return compare_nocase(a, b) < 0; });
    const char* expected[] = {"A", "a", "b", "B", "C", "c"};
    for (size_t i = 0; i < array_size(names); i++) EXPECT_STREQ(names[i], expected[i]) << i;
}

}  // namespace

// Allocation on the simulated pool: header sizes, resize rules, failures and the
// fatal out-of-memory stop.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/memory.h"
#include "sim.h"

namespace {

using namespace tarn;

// The size the pool was asked for when the block was allocated.
uint64_t pool_size_of(sim::SimFirmware& fw, const void* block) {
    auto blocks = fw.pool_blocks();
    auto it = blocks.find(static_cast<const uint8_t*>(block) - 16);
    return it == blocks.end() ? ~0ull : it->second;
}

TEST(RuntimeMemory, BlocksCarryASixteenByteHeaderWithTheRequestedSize) {
    sim::SimFirmware fw;
    void* a = allocate(100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(allocation_size(a), 100u);
    EXPECT_EQ(pool_size_of(fw, a), 116u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 8, 0u);
    memset(a, 0x11, 100);  // the whole requested size is usable
    void* z = allocate(0);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(allocation_size(z), 0u);
    EXPECT_EQ(pool_size_of(fw, z), 17u);
    EXPECT_EQ(allocation_size(nullptr), 0u);
    EXPECT_EQ(fw.outstanding_allocations(), 2);
    release(a);
    release(z);
    release(nullptr);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
    EXPECT_EQ(fw.invalid_frees(), 0);
}

TEST(RuntimeMemory, ZeroByteCheckedBlocksAreValidAndDistinct) {
    sim::SimFirmware fw;
    void* a = xallocate(0);
    void* b = xallocate(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(allocation_size(a), 1u);  // raised to 1
    static_cast<char*>(a)[0] = 'x';
    release(a);
    release(b);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, SizesThatOverflowTheHeaderAreRefused) {
    sim::SimFirmware fw;
    EXPECT_EQ(allocate(~0ull), nullptr);
    EXPECT_EQ(allocate(~0ull - 15), nullptr);
    EXPECT_EQ(allocate_zeroed(1ull << 33, 1ull << 33), nullptr);
    EXPECT_EQ(allocate_zeroed(~0ull, 2), nullptr);
    void* b = allocate(8);
    EXPECT_EQ(resize(b, ~0ull - 3), nullptr);
    EXPECT_EQ(allocation_size(b), 8u);  // the old block is still good
    release(b);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, ZeroedAllocationClears) {
    sim::SimFirmware fw;
    auto* p = static_cast<uint8_t*>(allocate_zeroed(10, 12));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(allocation_size(p), 120u);
    for (int i = 0; i < 120; i++) ASSERT_EQ(p[i], 0) << i;
    void* empty = allocate_zeroed(0, 50);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(allocation_size(empty), 0u);
    auto* x = static_cast<uint8_t*>(xallocate_zeroed(0, 0));
    EXPECT_EQ(allocation_size(x), 1u);
    EXPECT_EQ(x[0], 0);
    auto* rows = xallocate_array<uint64_t>(7);
    for (int i = 0; i < 7; i++) EXPECT_EQ(rows[i], 0u);
    release(p);
    release(empty);
    release(x);
    release(rows);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, ResizeShrinksInPlaceDownToHalf) {
    sim::SimFirmware fw;
    auto* a = static_cast<char*>(allocate(100));
    for (int i = 0; i < 100; i++) a[i] = static_cast<char>(i);
    EXPECT_EQ(resize(a, 60), a);
    EXPECT_EQ(allocation_size(a), 60u);
    EXPECT_EQ(resize(a, 60), a);
    // Now recorded at 60: 30 is exactly half and stays in place.
    EXPECT_EQ(resize(a, 30), a);
    EXPECT_EQ(allocation_size(a), 30u);
    release(a);

    auto* b = static_cast<char*>(allocate(100));
    for (int i = 0; i < 100; i++) b[i] = static_cast<char>(i);
    auto* c = static_cast<char*>(resize(b, 40));
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c, b);
    EXPECT_EQ(allocation_size(c), 40u);
    for (int i = 0; i < 40; i++) ASSERT_EQ(c[i], static_cast<char>(i));
    EXPECT_EQ(fw.outstanding_allocations(), 1);  // the old block went back
    EXPECT_EQ(resize(c, 20), c);
    // The rule follows the recorded size: from 20, 10 stays in place; from 10, 4 moves.
    EXPECT_EQ(resize(c, 10), c);
    auto* d = static_cast<char*>(resize(c, 4));
    EXPECT_NE(d, c);
    EXPECT_EQ(memcmp(d, "\0\1\2\3", 4), 0);
    release(d);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, ResizeGrowsIntoANewBlockKeepingTheBytes) {
    sim::SimFirmware fw;
    auto* a = static_cast<char*>(allocate(10));
    memcpy(a, "0123456789", 10);
    auto* b = static_cast<char*>(resize(a, 1000));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(allocation_size(b), 1000u);
    EXPECT_EQ(std::string(b, 10), "0123456789");
    EXPECT_EQ(fw.outstanding_allocations(), 1);
    release(b);
    // A null block behaves as allocate.
    void* c = resize(nullptr, 24);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(allocation_size(c), 24u);
    release(c);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, ResizeToZeroGivesAFreshEmptyBlock) {
    sim::SimFirmware fw;
    void* a = allocate(64);
    void* b = resize(a, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(allocation_size(b), 0u);
    EXPECT_EQ(pool_size_of(fw, b), 17u);
    EXPECT_EQ(fw.outstanding_allocations(), 1);
    // An empty block resized to 0 stays as it is.
    EXPECT_EQ(resize(b, 0), b);
    release(b);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, FailedResizeLeavesTheOldBlockIntact) {
    sim::SimFirmware fw;
    auto* a = static_cast<char*>(allocate(100));
    memset(a, 'k', 100);
    fw.fail_allocations_from(0);
    EXPECT_EQ(allocate(1), nullptr);
    EXPECT_EQ(allocate_zeroed(2, 2), nullptr);
    EXPECT_EQ(resize(a, 200), nullptr);
    EXPECT_EQ(resize(a, 10), nullptr);  // needs a new block
    EXPECT_EQ(resize(a, 0), nullptr);   // so does the fresh empty block
    EXPECT_EQ(allocation_size(a), 100u);
    // Shrinking in place needs no allocation and still works.
    EXPECT_EQ(resize(a, 80), a);
    fw.fail_allocations_from(-1);
    EXPECT_EQ(a[79], 'k');
    release(a);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, CheckedFormsRaiseZeroToOne) {
    sim::SimFirmware fw;
    void* a = xallocate(16);
    void* b = xresize(a, 0);
    EXPECT_EQ(allocation_size(b), 1u);
    void* c = xresize(nullptr, 0);
    EXPECT_EQ(allocation_size(c), 1u);
    release(b);
    release(c);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, StringDuplicates) {
    sim::SimFirmware fw;
    char* a = xstrdup("hello");
    EXPECT_STREQ(a, "hello");
    EXPECT_EQ(allocation_size(a), 6u);
    char* e = xstrdup("");
    EXPECT_STREQ(e, "");
    // Exactly n bytes are copied, NUL or not, and a NUL is added.
    const char src[] = {'a', 'b', '\0', 'c', 'd'};
    char* n = xstrndup(src, 5);
    EXPECT_EQ(memcmp(n, src, 5), 0);
    EXPECT_EQ(n[5], '\0');
    char* part = xstrndup("abcdef", 3);
    EXPECT_STREQ(part, "abc");
    char* none = xstrndup("abc", 0);
    EXPECT_STREQ(none, "");
    for (char* p : {a, e, n, part, none}) release(p);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

std::string fatal_text(sim::SimFirmware& fw) { return fw.screen().transcript_lines(); }

TEST(RuntimeMemory, CheckedAllocationFailureIsFatal) {
    sim::SimFirmware fw;
    fw.fail_allocations_from(0);
    auto result = fw.run([] {
        xallocate(10);
        ADD_FAILURE() << "xallocate returned after a failure";
    });
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, efi::kErrorBit | 1);
    EXPECT_NE(fatal_text(fw).find("\ntarn: fatal: out of memory\n"), std::string::npos);
    fw.fail_allocations_from(-1);
}

TEST(RuntimeMemory, EveryCheckedFormStopsOnFailure) {
    sim::SimFirmware fw;
    void* kept = xallocate(100);
    const std::function<void()> attempts[] = {
        [] { xallocate_zeroed(3, 3); },
        [] { xallocate_zeroed(~0ull, 16); },  // overflowing product
        [kept] { xresize(kept, 500); },
        [] { xstrdup("abc"); },
        [] { xstrndup("abc", ~0ull); },  // n + 1 overflows
        [] { xallocate(~0ull); },
    };
    for (const auto& attempt : attempts) {
        fw.screen().clear_transcript();
        fw.fail_allocations_from(0);
        auto result = fw.run(attempt);
        fw.fail_allocations_from(-1);
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.status, efi::kErrorBit | 1);
        EXPECT_NE(fatal_text(fw).find("tarn: fatal: out of memory"), std::string::npos);
    }
    EXPECT_EQ(allocation_size(kept), 100u);
    release(kept);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, OwnedAndVectorRelease) {
    sim::SimFirmware fw;
    {
        Owned<char> text(xstrdup("owned"));
        Vector<int> numbers;
        for (int i = 0; i < 100; i++) numbers.push(i);
        EXPECT_EQ(numbers.size(), 100u);
        EXPECT_EQ(numbers[99], 99);
        EXPECT_STREQ(text.get(), "owned");
    }
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(RuntimeMemory, VectorHandsItsArrayOver) {
    sim::SimFirmware fw;
    Vector<int> numbers;
    for (int i = 0; i < 20; i++) numbers.push(i * 3);
    int* taken = numbers.take();
    EXPECT_TRUE(numbers.empty());
    EXPECT_EQ(numbers.data(), nullptr);
    for (int i = 0; i < 20; i++) EXPECT_EQ(taken[i], i * 3);
    numbers.push(7);  // usable again, with a new array
    EXPECT_NE(numbers.data(), taken);
    release(taken);
    EXPECT_EQ(fw.outstanding_allocations(), 1);
}

}  // namespace

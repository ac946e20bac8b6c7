// The one sort of the tree: stable, O(n log n), for trivially copyable rows.
#pragma once
#include <stdint.h>

#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace sort_detail {

constexpr uint64_t kRun = 16;

// Insertion sort of rows[lo, hi): stable, since a row moves only past greater ones.
template <class T, class Less> void insertion_sort(T* rows, uint64_t lo, uint64_t hi, Less& less) {
    for (uint64_t i = lo + 1; i < hi; i++) {
        T row = rows[i];
        uint64_t k = i;
        while (k > lo && less(row, rows[k - 1])) {
            rows[k] = rows[k - 1];
            k--;
        }
        rows[k] = row;
    }
}

}  // namespace sort_detail

// Sorts n rows so that less(a, b) holds for no b before a; rows that compare equal keep
// their order. Short runs are sorted in place, then merged bottom-up through one scratch
// array (allocated only when n exceeds one run).
template <class T, class Less> void stable_sort(T* rows, uint64_t n, Less less) {
    using sort_detail::kRun;
    if (n < 2) return;
    for (uint64_t lo = 0; lo < n; lo += kRun)
        sort_detail::insertion_sort(rows, lo, lo + kRun < n ? lo + kRun : n, less);
    if (n <= kRun) return;
    T* scratch = xallocate_array<T>(n);
    T* from = rows;
    T* to = scratch;
    for (uint64_t width = kRun; width < n; width *= 2) {
        for (uint64_t lo = 0; lo < n; lo += 2 * width) {
            uint64_t mid = lo + width < n ? lo + width : n;
            uint64_t hi = mid + width < n ? mid + width : n;
            uint64_t a = lo, b = mid, k = lo;
            // Take from the right run only when strictly less: that keeps equal rows in order.
            while (a < mid && b < hi) to[k++] = less(from[b], from[a]) ? from[b++] : from[a++];
            while (a < mid) to[k++] = from[a++];
            while (b < hi) to[k++] = from[b++];
        }
        T* t = from;
        from = to;
        to = t;
    }
    if (from != rows) memcpy(rows, from, n * sizeof(T));
    release(scratch);
}

}  // namespace tarn

// Small language utilities the freestanding build lacks: move, placement new,
// min/max, and a growable array.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace tarn {

struct PlacementTag {};

template <class T> struct RemoveReference { using Type = T; };
template <class T> struct RemoveReference<T&> { using Type = T; };
template <class T> struct RemoveReference<T&&> { using Type = T; };

template <class T> constexpr typename RemoveReference<T>::Type&& move(T&& v) {
    return static_cast<typename RemoveReference<T>::Type&&>(v);
}

template <class T> constexpr const T& min_of(const T& a, const T& b) { return b < a ? b : a; }
template <class T> constexpr const T& max_of(const T& a, const T& b) { return a < b ? b : a; }

template <class T> void swap_values(T& a, T& b) {
    T t = move(a);
    a = move(b);
    b = move(t);
}

// Checked 64-bit arithmetic for sizes that come from outside.
inline bool add_overflows(uint64_t a, uint64_t b, uint64_t* out) {
    return __builtin_add_overflow(a, b, out);
}
inline bool mul_overflows(uint64_t a, uint64_t b, uint64_t* out) {
    return __builtin_mul_overflow(a, b, out);
}

template <class T, size_t N> constexpr size_t array_size(const T (&)[N]) { return N; }

}  // namespace tarn

inline void* operator new(size_t, void* where, tarn::PlacementTag) noexcept { return where; }
inline void operator delete(void*, void*, tarn::PlacementTag) noexcept {}

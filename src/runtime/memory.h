// Allocation on the firmware pool. Every block carries a 16-byte header whose
// first 8 bytes hold the size the caller asked for.
#pragma once
#include "runtime/util.h"

namespace tarn {

// Raw forms: return null when the pool is exhausted (or a size overflows).
void* allocate(uint64_t size);
void* allocate_zeroed(uint64_t count, uint64_t size);
void* resize(void* block, uint64_t size);
void release(void* block);
// The size recorded for a block (0 for null).
uint64_t allocation_size(const void* block);

// Checked forms: a size or count of 0 is raised to 1; failure is a fatal stop.
void* xallocate(uint64_t size);
void* xallocate_zeroed(uint64_t count, uint64_t size);
void* xresize(void* block, uint64_t size);
char* xstrdup(const char* text);
char* xstrndup(const char* text, uint64_t n);

template <class T> T* xallocate_array(uint64_t count) {
    return static_cast<T*>(xallocate_zeroed(count, sizeof(T)));
}

// Owns a block from allocate/xallocate and releases it when it goes out of scope.
template <class T> class Owned {
public:
    Owned() = default;
    explicit Owned(T* p) : ptr_(p) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& o) : ptr_(o.ptr_) { o.ptr_ = nullptr; }
    Owned& operator=(Owned&& o) {
        if (this != &o) {
            release(ptr_);
            ptr_ = o.ptr_;
            o.ptr_ = nullptr;
        }
        return *this;
    }
    ~Owned() { release(ptr_); }
    T* get() const { return ptr_; }
    T* take() {
        T* p = ptr_;
        ptr_ = nullptr;
        return p;
    }
    void reset(T* p = nullptr) {
        release(ptr_);
        ptr_ = p;
    }
    T& operator[](size_t i) const { return ptr_[i]; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

private:
    T* ptr_ = nullptr;
};

// A growable array of trivially copyable rows (handles, pointers, small records).
template <class T> class Vector {
public:
    Vector() = default;
    Vector(const Vector&) = delete;
    Vector& operator=(const Vector&) = delete;
    Vector(Vector&& o) : data_(o.data_), size_(o.size_), capacity_(o.capacity_) {
        o.data_ = nullptr;
        o.size_ = o.capacity_ = 0;
    }
    ~Vector() { release(data_); }
    void push(const T& v) {
        if (size_ == capacity_) grow();
        data_[size_++] = v;
    }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    void clear() { size_ = 0; }
    void pop() { size_--; }
    T& back() { return data_[size_ - 1]; }
    void remove_at(size_t i) {
        for (size_t k = i + 1; k < size_; k++) data_[k - 1] = data_[k];
        size_--;
    }
    // Hands the array over to the caller (to release); the vector is empty afterwards.
    T* take() {
        T* data = data_;
        data_ = nullptr;
        size_ = capacity_ = 0;
        return data;
    }
    void insert_at(size_t i, const T& v) {
        if (size_ == capacity_) grow();
        for (size_t k = size_; k > i; k--) data_[k] = data_[k - 1];
        data_[i] = v;
        size_++;
    }

private:
    void grow() {
        size_t cap = capacity_ ? capacity_ * 2 : 8;
        data_ = static_cast<T*>(xresize(data_, cap * sizeof(T)));
        capacity_ = cap;
    }
    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace tarn

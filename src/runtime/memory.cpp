// Allocation on the firmware pool. Each block is taken with a 16-byte header in
// front; the first 8 bytes of the header hold the size the caller asked for.
#include "runtime/memory.h"

#include "runtime/exit.h"
#include "runtime/firmware.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

constexpr uint64_t kHeaderSize = 16;

uint64_t* header_of(const void* block) {
    return reinterpret_cast<uint64_t*>(
        const_cast<uint8_t*>(static_cast<const uint8_t*>(block) - kHeaderSize));
}

[[noreturn]] void out_of_memory() { fatal("out of memory"); }

}  // namespace

void* allocate(uint64_t size) {
    uint64_t total;
    if (add_overflows(size, kHeaderSize, &total)) return nullptr;
    if (size == 0) total = kHeaderSize + 1;
    efi::BootServices* boot = firmware().boot;
    if (!boot) return nullptr;
    void* raw = nullptr;
    if (boot->allocate_pool(efi::kLoaderData, total, &raw) != efi::kSuccess || !raw) return nullptr;
    uint64_t* header = static_cast<uint64_t*>(raw);
    header[0] = size;
    header[1] = 0;
    return static_cast<uint8_t*>(raw) + kHeaderSize;
}

void* allocate_zeroed(uint64_t count, uint64_t size) {
    uint64_t total;
    if (mul_overflows(count, size, &total)) return nullptr;
    void* block = allocate(total);
    if (block && total) memset(block, 0, total);
    return block;
}

uint64_t allocation_size(const void* block) { return block ? *header_of(block) : 0; }

void* resize(void* block, uint64_t size) {
    if (!block) return allocate(size);
    uint64_t* header = header_of(block);
    uint64_t recorded = header[0];
    if (size == 0 && recorded > 0) {
        // Shrinking to nothing: hand back a fresh empty block.
        void* fresh = allocate(0);
        if (!fresh) return nullptr;
        release(block);
        return fresh;
    }
    if (recorded >= size && size >= recorded / 2) {
        header[0] = size;
        return block;
    }
    void* fresh = allocate(size);
    if (!fresh) return nullptr;  // the old block stays valid
    memcpy(fresh, block, min_of(recorded, size));
    release(block);
    return fresh;
}

void release(void* block) {
    if (!block) return;
    efi::BootServices* boot = firmware().boot;
    if (!boot) return;
    boot->free_pool(header_of(block));
}

void* xallocate(uint64_t size) {
    void* block = allocate(size ? size : 1);
    if (!block) out_of_memory();
    return block;
}

void* xallocate_zeroed(uint64_t count, uint64_t size) {
    void* block = allocate_zeroed(count ? count : 1, size ? size : 1);
    if (!block) out_of_memory();
    return block;
}

void* xresize(void* block, uint64_t size) {
    void* result = resize(block, size ? size : 1);
    if (!result) out_of_memory();
    return result;
}

char* xstrdup(const char* text) {
    if (!text) text = "";
    return xstrndup(text, strlen(text));
}

char* xstrndup(const char* text, uint64_t n) {
    uint64_t total;
    if (add_overflows(n, 1, &total)) out_of_memory();
    char* copy = static_cast<char*>(xallocate(total));
    if (n) memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}

}  // namespace tarn

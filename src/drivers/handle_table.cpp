#include "drivers/handle_table.h"

#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

constinit HandleTableState g_handles{};

int64_t find_slot(efi::Handle handle) {
    for (uint64_t i = 0; i < g_handles.count; i++)
        if (g_handles.handles[i] == handle) return static_cast<int64_t>(i);
    return -1;
}

void append(efi::Handle handle) {
    if (g_handles.count == g_handles.capacity) {
        uint64_t cap = g_handles.capacity ? g_handles.capacity * 2 : 64;
        g_handles.handles =
            static_cast<efi::Handle*>(xresize(g_handles.handles, cap * sizeof(efi::Handle)));
        g_handles.capacity = cap;
    }
    g_handles.handles[g_handles.count++] = handle;
}

}  // namespace

HandleTableState& handle_table_state() { return g_handles; }

bool refresh_handle_table() {
    efi::BootServices* bs = boot_services();
    if (!bs) return false;
    uint64_t n = 0;
    efi::Handle* list = nullptr;
    efi::Status st = bs->locate_handle_buffer(efi::kAllHandles, nullptr, nullptr, &n, &list);
    if (efi::is_error(st) || !list) return false;
    for (uint64_t i = 0; i < n; i++)
        if (list[i] && find_slot(list[i]) < 0) append(list[i]);
    bs->free_pool(list);
    return true;
}

uint64_t handle_number(efi::Handle handle) {
    if (!handle) return 0;
    int64_t slot = find_slot(handle);
    if (slot < 0) {
        refresh_handle_table();
        slot = find_slot(handle);
    }
    return slot < 0 ? 0 : static_cast<uint64_t>(slot) + 1;
}

efi::Handle handle_of_number(uint64_t number) {
    if (number == 0) return nullptr;
    if (number > g_handles.count) refresh_handle_table();
    if (number > g_handles.count) return nullptr;
    return g_handles.handles[number - 1];
}

uint64_t handle_table_count() { return g_handles.count; }

bool handle_has_protocols(efi::Handle handle) {
    efi::BootServices* bs = boot_services();
    if (!bs || !handle) return false;
    efi::Guid** guids = nullptr;
    uint64_t n = 0;
    efi::Status st = bs->protocols_per_handle(handle, &guids, &n);
    if (efi::is_error(st)) return false;
    if (guids) bs->free_pool(guids);
    return n > 0;
}

efi::Handle parse_handle_number(const char* text) {
    uint64_t value = 0;
    if (!parse_hex(text, &value)) return nullptr;
    efi::Handle handle = handle_of_number(value);
    if (!handle || !handle_has_protocols(handle)) return nullptr;
    return handle;
}

void reset_handle_table() {
    release(g_handles.handles);
    g_handles = HandleTableState{};
}

}  // namespace tarn

// The core of the simulated firmware: the system table, boot and runtime services,
// pool and pages with accounting, events and timers on a virtual clock, the run()
// boundary that Exit and ResetSystem return to.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "runtime/firmware.h"
#include "sim_impl.h"
#include "sim_internal.h"

namespace sim {

namespace {

SimFirmware* g_current = nullptr;

constexpr uint64_t kPageSize = 4096;
constexpr uint64_t kDefaultTimerTickUs = 10000;  // a periodic timer of 0 fires every tick
constexpr uint64_t kMaxWaitSteps = 2000000;
constexpr uint32_t kDescriptorSize = 48;  // larger than the structure, as firmware reports
constexpr uint8_t kPoolFill = 0xaf;

SimFirmware::Impl& im() { return current_impl(); }

uint64_t memory_map_key(const SimFirmware::Impl& s) { return 0x1000 + s.pool.size() * 7 + s.pages.size(); }

// ---------------------------------------------------------------- CRC-32

uint32_t crc32_update(uint32_t crc, const uint8_t* p, uint64_t n) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (uint64_t i = 0; i < n; i++) crc = table[(crc ^ p[i]) & 0xff] ^ (crc >> 8);
    return ~crc;
}

void seal_header(efi::TableHeader* hdr) {
    hdr->crc32 = 0;
    hdr->crc32 = crc32_update(0, reinterpret_cast<const uint8_t*>(hdr), hdr->header_size);
}

// ---------------------------------------------------------------- calendar

int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool leap_year(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool time_valid(const efi::Time& t) {
    static const uint8_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 1900 || t.year > 9999) return false;
    if (t.month < 1 || t.month > 12) return false;
    if (t.day < 1 || t.day > kDays[t.month - 1]) return false;
    if (t.month == 2 && t.day == 29 && !leap_year(t.year)) return false;
    if (t.hour > 23 || t.minute > 59 || t.second > 59 || t.nanosecond > 999999999) return false;
    if (t.time_zone != 2047 && (t.time_zone < -1440 || t.time_zone > 1440)) return false;
    if (t.daylight & ~3) return false;
    return true;
}

// ---------------------------------------------------------------- pool and pages

bool injected_failure(SimFirmware::Impl& s) {
    if (s.fail_countdown < 0) return false;
    if (s.fail_countdown == 0) return true;
    s.fail_countdown--;
    return false;
}

bool pool_type_valid(uint32_t type) {
    if (type >= efi::kMaxMemoryType && type < 0x70000000u) return false;
    return type != efi::kConventionalMemory && type != efi::kPersistentMemory;
}

efi::Status EFIAPI bs_allocate_pool(uint32_t type, uint64_t size, void** buffer) {
    if (!buffer || !pool_type_valid(type)) return efi::kInvalidParameter;
    void* p = pool_alloc(im(), size);
    if (!p) return efi::kOutOfResources;
    *buffer = p;
    return efi::kSuccess;
}

efi::Status EFIAPI bs_free_pool(void* buffer) { return pool_free(im(), buffer); }

efi::Status EFIAPI bs_allocate_pages(uint32_t alloc_type, uint32_t memory_type, uint64_t pages,
                                     efi::PhysicalAddress* memory) {
    auto& s = im();
    if (!memory || alloc_type > efi::kAllocateAddress || !pool_type_valid(memory_type))
        return efi::kInvalidParameter;
    if (pages == 0 || pages > (UINT64_C(1) << 32) / kPageSize * 16) return efi::kOutOfResources;
    if (alloc_type == efi::kAllocateAddress) {
        if (*memory % kPageSize) return efi::kInvalidParameter;
        return efi::kNotFound;  // no fixed addresses on the host
    }
    if (injected_failure(s)) return efi::kOutOfResources;
    uint64_t bytes = pages * kPageSize;
    void* p = std::aligned_alloc(kPageSize, bytes);
    if (!p) return efi::kOutOfResources;
    uint64_t address = reinterpret_cast<uint64_t>(p);
    if (alloc_type == efi::kAllocateMaxAddress && address + bytes - 1 > *memory) {
        std::free(p);
        return efi::kNotFound;
    }
    std::memset(p, kPoolFill, bytes);
    s.pages[address] = pages;
    *memory = address;
    return efi::kSuccess;
}

efi::Status EFIAPI bs_free_pages(efi::PhysicalAddress memory, uint64_t pages) {
    auto& s = im();
    auto it = s.pages.find(memory);
    if (it == s.pages.end() || it->second != pages) {
        if (memory % kPageSize) return efi::kInvalidParameter;
        s.invalid_frees++;
        std::fprintf(stderr, "sim: FreePages of %#llx (%llu pages) that was not allocated\n",
                     static_cast<unsigned long long>(memory), static_cast<unsigned long long>(pages));
        return efi::kNotFound;
    }
    std::free(reinterpret_cast<void*>(memory));
    s.pages.erase(it);
    return efi::kSuccess;
}

struct FakeRegion {
    uint32_t type;
    uint64_t start;
    uint64_t pages;
    uint64_t attribute;
};

constexpr uint64_t kAttrWb = 0xf;
constexpr uint64_t kAttrRuntime = 0x8000000000000000ull;
constexpr FakeRegion kFakeMap[] = {
    {efi::kBootServicesCode, 0x0, 0x1, kAttrWb},
    {efi::kConventionalMemory, 0x1000, 0x9f, kAttrWb},
    {efi::kConventionalMemory, 0x100000, 0x6f00, kAttrWb},
    {efi::kLoaderCode, 0x7000000, 0x60, kAttrWb},
    {efi::kLoaderData, 0x7060000, 0x200, kAttrWb},
    {efi::kBootServicesData, 0x7260000, 0x800, kAttrWb},
    {efi::kRuntimeServicesCode, 0x7a60000, 0x40, kAttrWb | kAttrRuntime},
    {efi::kRuntimeServicesData, 0x7aa0000, 0x80, kAttrWb | kAttrRuntime},
    {efi::kAcpiReclaimMemory, 0x7b20000, 0x10, kAttrWb},
    {efi::kAcpiMemoryNvs, 0x7b30000, 0x80, kAttrWb},
    {efi::kReservedMemoryType, 0x7bb0000, 0x450, kAttrWb},
    {efi::kMemoryMappedIo, 0xffc00000, 0x400, kAttrRuntime | 0x1},
};

efi::Status EFIAPI bs_get_memory_map(uint64_t* map_size, efi::MemoryDescriptor* map,
                                     uint64_t* map_key, uint64_t* descriptor_size,
                                     uint32_t* descriptor_version) {
    auto& s = im();
    if (!map_size) return efi::kInvalidParameter;
    constexpr uint64_t count = sizeof(kFakeMap) / sizeof(kFakeMap[0]);
    uint64_t need = count * kDescriptorSize;
    if (descriptor_size) *descriptor_size = kDescriptorSize;
    if (descriptor_version) *descriptor_version = 1;
    if (*map_size < need) {
        *map_size = need;
        return efi::kBufferTooSmall;
    }
    if (!map || !map_key || !descriptor_size || !descriptor_version) return efi::kInvalidParameter;
    auto* out = reinterpret_cast<uint8_t*>(map);
    std::memset(out, 0, need);
    for (uint64_t i = 0; i < count; i++) {
        efi::MemoryDescriptor d{};
        d.type = kFakeMap[i].type;
        d.physical_start = kFakeMap[i].start;
        d.virtual_start = 0;
        d.number_of_pages = kFakeMap[i].pages;
        d.attribute = kFakeMap[i].attribute;
        std::memcpy(out + i * kDescriptorSize, &d, sizeof(d));
    }
    *map_size = need;
    *map_key = memory_map_key(s);
    return efi::kSuccess;
}

// ---------------------------------------------------------------- events and timers

efi::Status check_event(SimFirmware::Impl& s, EventRec* ev) {
    if (ev->type & efi::kEvtNotifySignal) return efi::kInvalidParameter;
    if (!ev->signaled && (ev->type & efi::kEvtNotifyWait) && ev->notify) {
        efi::Event handle = ev;
        ev->notify(handle, ev->context);
        ev = find_event(s, handle);  // the notify function may have closed it
        if (!ev) return efi::kNotReady;
    }
    if (ev->signaled) {
        ev->signaled = false;
        return efi::kSuccess;
    }
    return efi::kNotReady;
}

efi::Status EFIAPI bs_create_event(uint32_t type, efi::Tpl tpl, efi::EventNotify notify,
                                   void* context, efi::Event* event) {
    auto& s = im();
    if (!event) return efi::kInvalidParameter;
    constexpr uint32_t kKnown = efi::kEvtTimer | efi::kEvtRuntime | efi::kEvtNotifyWait |
                                efi::kEvtNotifySignal;
    if (type & ~kKnown) return efi::kInvalidParameter;
    bool wait = type & efi::kEvtNotifyWait, sig = type & efi::kEvtNotifySignal;
    if (wait && sig) return efi::kInvalidParameter;
    if (wait || sig) {
        if (!notify) return efi::kInvalidParameter;
        if (tpl != efi::kTplApplication && tpl != efi::kTplCallback && tpl != efi::kTplNotify &&
            tpl != 31)
            return efi::kInvalidParameter;
    }
    *event = create_event(s, type, tpl, notify, context);
    return efi::kSuccess;
}

efi::Status EFIAPI bs_create_event_ex(uint32_t type, efi::Tpl tpl, efi::EventNotify notify,
                                      const void* context, const efi::Guid* group,
                                      efi::Event* event) {
    efi::Status st = bs_create_event(type, tpl, notify, const_cast<void*>(context), event);
    if (st == efi::kSuccess && group) {
        EventRec* ev = find_event(im(), *event);
        ev->has_group = true;
        ev->group = *group;
    }
    return st;
}

efi::Status EFIAPI bs_set_timer(efi::Event event, uint32_t type, uint64_t trigger_time) {
    auto& s = im();
    EventRec* ev = find_event(s, event);
    if (!ev || !(ev->type & efi::kEvtTimer) || type > efi::kTimerRelative)
        return efi::kInvalidParameter;
    ev->armed = false;
    if (type == efi::kTimerCancel) return efi::kSuccess;
    uint64_t us = trigger_time / 10 + (trigger_time % 10 != 0);
    if (type == efi::kTimerPeriodic) {
        if (us == 0) us = kDefaultTimerTickUs;
        ev->period_us = us;
    } else {
        ev->period_us = 0;
    }
    ev->trigger_us = s.now_us + us;
    ev->armed = true;
    return efi::kSuccess;
}

efi::Status EFIAPI bs_signal_event(efi::Event event) {
    auto& s = im();
    EventRec* ev = find_event(s, event);
    if (!ev) return efi::kInvalidParameter;
    signal_event(s, ev);
    return efi::kSuccess;
}

efi::Status EFIAPI bs_close_event(efi::Event event) {
    auto& s = im();
    if (!find_event(s, event)) return efi::kInvalidParameter;
    destroy_event(s, event);
    return efi::kSuccess;
}

efi::Status EFIAPI bs_check_event(efi::Event event) {
    auto& s = im();
    EventRec* ev = find_event(s, event);
    if (!ev) return efi::kInvalidParameter;
    advance_to(s, s.now_us);  // timers due now
    return check_event(s, ev);
}

// The next instant something can happen: a timer expiry or a key arrival.
bool next_wakeup(SimFirmware::Impl& s, uint64_t* at) {
    bool found = false;
    uint64_t best = 0;
    for (auto& e : s.events) {
        if (e->armed && (!found || e->trigger_us < best)) {
            best = e->trigger_us;
            found = true;
        }
    }
    uint64_t k;
    if (next_key_arrival(s, &k) && (!found || k < best)) {
        best = k;
        found = true;
    }
    *at = best;
    return found;
}

efi::Status EFIAPI bs_wait_for_event(uint64_t count, efi::Event* events, uint64_t* index) {
    auto& s = im();
    if (count == 0 || !events || !index) return efi::kInvalidParameter;
    if (s.tpl != efi::kTplApplication) return efi::kUnsupported;
    for (uint64_t step = 0;; step++) {
        advance_to(s, s.now_us);
        for (uint64_t i = 0; i < count; i++) {
            EventRec* ev = find_event(s, events[i]);
            if (!ev) {
                *index = i;
                return efi::kInvalidParameter;
            }
            efi::Status st = check_event(s, ev);
            if (st != efi::kNotReady) {
                *index = i;
                return st;
            }
        }
        uint64_t at;
        bool have_wakeup = next_wakeup(s, &at);
        if (s.key_source && !s.key_source_ended) {
            // Live input: wait (in real time) for keys until the next timer is due.
            uint64_t budget = have_wakeup ? (at > s.now_us ? at - s.now_us : 0) : UINT64_MAX;
            auto r = poll_key_source(s, budget);
            if (r == SimFirmware::KeySourceResult::kKeys) continue;
            have_wakeup = next_wakeup(s, &at);
        }
        if (!have_wakeup)
            end_run_abnormally(s, true,
                               "WaitForEvent would wait forever: no timer is armed and no key is "
                               "left in the queue");
        if (step >= kMaxWaitSteps)
            end_run_abnormally(s, true,
                               "WaitForEvent did not finish after two million timer expiries");
        advance_to(s, std::max(at, s.now_us));
    }
}

efi::Status EFIAPI bs_stall(uint64_t microseconds) {
    auto& s = im();
    advance_to(s, s.now_us + microseconds);
    return efi::kSuccess;
}

// ---------------------------------------------------------------- other boot services

efi::Tpl EFIAPI bs_raise_tpl(efi::Tpl tpl) {
    auto& s = im();
    efi::Tpl old = s.tpl;
    s.tpl = tpl;
    return old;
}

void EFIAPI bs_restore_tpl(efi::Tpl tpl) { im().tpl = tpl; }

efi::Status EFIAPI bs_get_next_monotonic_count(uint64_t* count) {
    if (!count) return efi::kInvalidParameter;
    *count = im().monotonic++;
    return efi::kSuccess;
}

efi::Status EFIAPI bs_set_watchdog_timer(uint64_t timeout, uint64_t code, uint64_t data_size,
                                         efi::Char16* data) {
    auto& s = im();
    if (data && data_size < sizeof(efi::Char16)) return efi::kInvalidParameter;
    s.watchdog_timeout = timeout;
    s.watchdog_calls++;
    return efi::kSuccess;
}

efi::Status EFIAPI bs_calculate_crc32(const void* data, uint64_t size, uint32_t* crc) {
    if (!data || size == 0 || !crc) return efi::kInvalidParameter;
    *crc = crc32_update(0, static_cast<const uint8_t*>(data), size);
    return efi::kSuccess;
}

void EFIAPI bs_copy_mem(void* d, const void* src, uint64_t n) {
    if (n) std::memmove(d, src, n);
}
void EFIAPI bs_set_mem(void* d, uint64_t n, uint8_t v) {
    if (n) std::memset(d, v, n);
}

efi::Status EFIAPI bs_install_configuration_table(const efi::Guid* guid, void* table) {
    if (!guid) return efi::kInvalidParameter;
    return current_impl().owner->install_configuration_table(*guid, table);
}

efi::Status EFIAPI bs_connect_controller(efi::Handle controller, efi::Handle* drivers,
                                         efi::DevicePath* remaining, efi::Boolean recursive) {
    if (!im().handles.is_valid(controller)) return efi::kInvalidParameter;
    // Drivers are the Driver Binding protocols installed (sim/drivers.cpp); with none
    // nothing starts and the answer is kNotFound.
    return connect_drivers(*current_impl().owner, controller, drivers, remaining, recursive != 0);
}

efi::Status EFIAPI bs_disconnect_controller(efi::Handle controller, efi::Handle driver, efi::Handle child) {
    if (!im().handles.is_valid(controller)) return efi::kInvalidParameter;
    return disconnect_drivers(*current_impl().owner, controller, driver, child);
}

efi::Status EFIAPI bs_exit_boot_services(efi::Handle, uint64_t) { return efi::kInvalidParameter; }

// ---------------------------------------------------------------- runtime services

efi::Status EFIAPI rs_get_time(efi::Time* time, efi::TimeCapabilities* caps) {
    auto& s = im();
    if (!time) return efi::kInvalidParameter;
    if (s.get_time_status) return s.get_time_status;
    *time = s.owner->wall_time();
    if (caps) {
        caps->resolution = 1;
        caps->accuracy = 50000000;
        caps->sets_to_zero = 0;
    }
    return efi::kSuccess;
}

efi::Status EFIAPI rs_set_time(efi::Time* time) {
    auto& s = im();
    if (!time || !time_valid(*time)) return efi::kInvalidParameter;
    if (s.set_time_status) return s.set_time_status;
    s.owner->set_wall_time(*time);
    return efi::kSuccess;
}

efi::Status EFIAPI rs_get_wakeup_time(efi::Boolean*, efi::Boolean*, efi::Time*) {
    return efi::kUnsupported;
}
efi::Status EFIAPI rs_set_wakeup_time(efi::Boolean, efi::Time*) { return efi::kUnsupported; }
efi::Status EFIAPI rs_set_virtual_address_map(uint64_t, uint64_t, uint32_t, efi::MemoryDescriptor*) {
    return efi::kUnsupported;
}
efi::Status EFIAPI rs_convert_pointer(uint64_t, void**) { return efi::kUnsupported; }
efi::Status EFIAPI rs_get_variable(const efi::Char16*, const efi::Guid*, uint32_t*, uint64_t*, void*) {
    return efi::kNotFound;
}
efi::Status EFIAPI rs_get_next_variable_name(uint64_t*, efi::Char16*, efi::Guid*) {
    return efi::kNotFound;
}
efi::Status EFIAPI rs_set_variable(const efi::Char16*, const efi::Guid*, uint32_t, uint64_t,
                                   const void*) {
    return efi::kUnsupported;
}
efi::Status EFIAPI rs_query_variable_info(uint32_t, uint64_t*, uint64_t*, uint64_t*) {
    return efi::kUnsupported;
}

efi::Status EFIAPI rs_get_next_high_monotonic_count(uint32_t* high) {
    auto& s = im();
    if (!high) return efi::kInvalidParameter;
    s.monotonic = ((s.monotonic >> 32) + 1) << 32;
    *high = static_cast<uint32_t>(s.monotonic >> 32);
    return efi::kSuccess;
}

void EFIAPI rs_reset_system(uint32_t type, efi::Status status, uint64_t size, void* data) {
    auto& s = im();
    ExitContext* target = nullptr;
    for (auto it = s.contexts.rbegin(); it != s.contexts.rend(); ++it)
        if ((*it)->is_run) {
            target = it->get();
            break;
        }
    if (!target) {
        std::fprintf(stderr, "sim: ResetSystem(%u) called outside SimFirmware::run\n", type);
        throw std::runtime_error("ResetSystem called outside SimFirmware::run");
    }
    target->reset = true;
    target->reset_type = type;
    target->status = status;
    std::longjmp(target->jump, 1);
}

void build_tables(SimFirmware::Impl& s) {
    auto& bs = s.bs;
    bs.hdr.signature = 0x56524553544f4f42ull;  // "BOOTSERV"
    bs.hdr.revision = (2u << 16) | 70;
    bs.hdr.header_size = sizeof(efi::BootServices);
    bs.raise_tpl = bs_raise_tpl;
    bs.restore_tpl = bs_restore_tpl;
    bs.allocate_pages = bs_allocate_pages;
    bs.free_pages = bs_free_pages;
    bs.get_memory_map = bs_get_memory_map;
    bs.allocate_pool = bs_allocate_pool;
    bs.free_pool = bs_free_pool;
    bs.create_event = bs_create_event;
    bs.set_timer = bs_set_timer;
    bs.wait_for_event = bs_wait_for_event;
    bs.signal_event = bs_signal_event;
    bs.close_event = bs_close_event;
    bs.check_event = bs_check_event;
    bs.install_configuration_table = bs_install_configuration_table;
    bs.exit_boot_services = bs_exit_boot_services;
    bs.get_next_monotonic_count = bs_get_next_monotonic_count;
    bs.stall = bs_stall;
    bs.set_watchdog_timer = bs_set_watchdog_timer;
    bs.connect_controller = bs_connect_controller;
    bs.disconnect_controller = bs_disconnect_controller;
    bs.calculate_crc32 = bs_calculate_crc32;
    bs.copy_mem = bs_copy_mem;
    bs.set_mem = bs_set_mem;
    bs.create_event_ex = bs_create_event_ex;
    install_handle_services(s);  // protocol handling and images

    auto& rs = s.rs;
    rs.hdr.signature = 0x56524553544e5552ull;  // "RUNTSERV"
    rs.hdr.revision = (2u << 16) | 70;
    rs.hdr.header_size = sizeof(efi::RuntimeServices);
    rs.get_time = rs_get_time;
    rs.set_time = rs_set_time;
    rs.get_wakeup_time = rs_get_wakeup_time;
    rs.set_wakeup_time = rs_set_wakeup_time;
    rs.set_virtual_address_map = rs_set_virtual_address_map;
    rs.convert_pointer = rs_convert_pointer;
    rs.get_variable = rs_get_variable;
    rs.get_next_variable_name = rs_get_next_variable_name;
    rs.set_variable = rs_set_variable;
    rs.get_next_high_monotonic_count = rs_get_next_high_monotonic_count;
    rs.reset_system = rs_reset_system;
    rs.query_variable_info = rs_query_variable_info;

    auto& st = s.st;
    st.hdr.signature = 0x5453595320494249ull;  // "IBI SYST"
    st.hdr.revision = (2u << 16) | 70;
    st.hdr.header_size = sizeof(efi::SystemTable);
    st.firmware_vendor = s.vendor.data();
    st.firmware_revision = 0x00010000;
    st.boot_services = &s.bs;
    st.runtime_services = &s.rs;
    st.number_of_table_entries = 0;
    st.configuration_table = nullptr;
}

void seal_tables(SimFirmware::Impl& s) {
    seal_header(&s.bs.hdr);
    seal_header(&s.rs.hdr);
    seal_header(&s.st.hdr);
}

}  // namespace

// ---------------------------------------------------------------- shared internals

SimFirmware::Impl& current_impl() {
    if (!g_current) {
        std::fprintf(stderr, "sim: firmware service called with no SimFirmware in existence\n");
        std::abort();
    }
    return *g_current->impl();
}

void* pool_alloc(SimFirmware::Impl& s, uint64_t size) {
    if (size > (UINT64_C(1) << 40)) return nullptr;
    if (injected_failure(s)) return nullptr;
    void* p = std::malloc(size ? size : 1);
    if (!p) return nullptr;
    std::memset(p, kPoolFill, size ? size : 1);
    s.pool[p] = size;
    return p;
}

efi::Status pool_free(SimFirmware::Impl& s, void* block) {
    if (!block) return efi::kInvalidParameter;
    auto it = s.pool.find(block);
    if (it == s.pool.end()) {
        s.invalid_frees++;
        std::fprintf(stderr, "sim: FreePool of %p, which is not an allocated pool block\n", block);
        return efi::kInvalidParameter;
    }
    s.pool.erase(it);
    std::free(block);
    return efi::kSuccess;
}

EventRec* find_event(SimFirmware::Impl& s, efi::Event event) {
    if (!event) return nullptr;
    for (auto& e : s.events)
        if (e.get() == event) return e.get();
    return nullptr;
}

efi::Event create_event(SimFirmware::Impl& s, uint32_t type, efi::Tpl tpl, efi::EventNotify fn,
                        void* context) {
    auto ev = std::make_unique<EventRec>();
    ev->type = type;
    ev->tpl = tpl;
    ev->notify = fn;
    ev->context = context;
    ev->seq = s.event_seq++;
    efi::Event handle = ev.get();
    s.events.push_back(std::move(ev));
    return handle;
}

void destroy_event(SimFirmware::Impl& s, efi::Event event) {
    for (size_t i = 0; i < s.events.size(); i++)
        if (s.events[i].get() == event) {
            s.events.erase(s.events.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
}

void signal_event(SimFirmware::Impl& s, EventRec* ev) {
    if (ev->has_group) {
        std::vector<efi::Event> members;
        for (auto& e : s.events)
            if (e->has_group && e->group == ev->group) members.push_back(e.get());
        for (efi::Event m : members) {
            EventRec* r = find_event(s, m);
            if (!r) continue;
            r->has_group = false;  // signal this one alone
            signal_event(s, r);
            if ((r = find_event(s, m))) r->has_group = true;
        }
        return;
    }
    if (ev->signaled) return;
    if (ev->type & efi::kEvtNotifySignal) {
        // The notification runs at once; a signal-type event does not stay signaled.
        if (ev->notify) ev->notify(ev, ev->context);
        return;
    }
    ev->signaled = true;
}

void advance_to(SimFirmware::Impl& s, uint64_t target) {
    for (;;) {
        EventRec* due = nullptr;
        for (auto& e : s.events)
            if (e->armed && e->trigger_us <= target &&
                (!due || e->trigger_us < due->trigger_us ||
                 (e->trigger_us == due->trigger_us && e->seq < due->seq)))
                due = e.get();
        uint64_t key_at;
        bool key = next_key_arrival(s, &key_at) && key_at <= target;
        if (!due && !key) break;
        if (key && (!due || key_at <= due->trigger_us)) {
            s.now_us = std::max(s.now_us, key_at);
            arrive_next_key(s);
            continue;
        }
        s.now_us = std::max(s.now_us, due->trigger_us);
        if (due->period_us) {
            // A wait-type event that is already signaled gains nothing from each missed
            // expiry; skip ahead instead of firing them one by one.
            if (due->signaled && !(due->type & efi::kEvtNotifySignal) && target > due->trigger_us) {
                uint64_t missed = (target - due->trigger_us) / due->period_us;
                due->trigger_us += missed * due->period_us;
            }
            due->trigger_us += due->period_us;
        } else {
            due->armed = false;
        }
        signal_event(s, due);
    }
    s.now_us = std::max(s.now_us, target);
}

void unwind_contexts(SimFirmware::Impl& s, ExitContext* ctx) {
    // Images started inside that never returned are gone with it.
    bool present = false;
    for (auto& c : s.contexts) present = present || c.get() == ctx;
    if (!present) return;
    while (!s.contexts.empty()) {
        std::unique_ptr<ExitContext> inner = std::move(s.contexts.back());
        s.contexts.pop_back();
        if (inner.get() == ctx) break;
        if (!inner->is_run) {
            auto it = s.images.find(inner->image);
            if (it != s.images.end()) it->second->running = false;
            unload_image(s, inner->image);
        }
    }
}

void end_run_abnormally(SimFirmware::Impl& s, bool stuck, const char* why) {
    // Nothing with a destructor may live in this frame: longjmp skips it.
    std::fprintf(stderr, "sim: %s\n", why);
    ExitContext* target = nullptr;
    for (auto it = s.contexts.rbegin(); it != s.contexts.rend(); ++it)
        if ((*it)->is_run) {
            target = it->get();
            break;
        }
    if (!target) throw std::runtime_error(std::string("sim: ") + why);
    target->stuck = stuck;
    target->halted = !stuck;
    target->status = efi::kAborted;
    target->message = why;
    std::longjmp(target->jump, 1);
}

// ---------------------------------------------------------------- SimFirmware

SimFirmware::SimFirmware() : impl_(new Impl) {
    if (g_current) {
        std::fprintf(stderr, "sim: a second SimFirmware was created while one exists\n");
        std::abort();
    }
    g_current = this;
    impl_->owner = this;
    attach_processor();
    impl_->wall_base_s = days_from_civil(2024, 1, 15) * 86400 + 9 * 3600;
    build_tables(*impl_);
    install_screen(*impl_);
    install_keyboard(*impl_);
    create_top_image(*impl_);
    seal_tables(*impl_);
    reset_tarn_state();
    tarn::attach_firmware(impl_->image, &impl_->st);
    // Tests that do not run the start-up calibration still get a millisecond clock.
    tarn::firmware().ticks_per_ms = kTicksPerUs * 1000;
    install_variable_store(*this);
    install_storage(*this);
}

SimFirmware::~SimFirmware() {
    // The shell's modules release what they hold (pool blocks, open files) while the
    // firmware and its storage still stand.
    tarn::attach_firmware(impl_->image, &impl_->st);
    reset_tarn_state();
    remove_storage(*this);
    remove_variable_store(*this);
    tarn::reset_firmware();
    impl_->states.clear();
    for (auto& [p, size] : impl_->pool) std::free(const_cast<void*>(p));
    impl_->pool.clear();
    for (auto& [addr, n] : impl_->pages) std::free(reinterpret_cast<void*>(addr));
    impl_->pages.clear();
    delete impl_;
    detach_processor();
    g_current = nullptr;
}

SimFirmware* SimFirmware::current() { return g_current; }
efi::SystemTable* SimFirmware::system_table() { return &impl_->st; }
efi::Handle SimFirmware::image_handle() { return impl_->image; }

int64_t SimFirmware::outstanding_allocations() const {
    return static_cast<int64_t>(impl_->pool.size() + impl_->pages.size());
}

uint64_t SimFirmware::outstanding_bytes() const {
    uint64_t total = 0;
    for (auto& [p, n] : impl_->pool) total += n;
    for (auto& [a, n] : impl_->pages) total += n * kPageSize;
    return total;
}

void SimFirmware::fail_allocations_from(int64_t n) { impl_->fail_countdown = n < 0 ? -1 : n; }

void* SimFirmware::allocate_pool(uint64_t size) { return pool_alloc(*impl_, size); }
efi::Status SimFirmware::free_pool(void* block) { return pool_free(*impl_, block); }
bool SimFirmware::is_pool_block(const void* block) const { return impl_->pool.count(block) != 0; }
int64_t SimFirmware::invalid_frees() const { return impl_->invalid_frees; }
std::map<const void*, uint64_t> SimFirmware::pool_blocks() const { return impl_->pool; }

uint64_t SimFirmware::now_us() const { return impl_->now_us; }
void SimFirmware::advance_us(uint64_t us) { advance_to(*impl_, impl_->now_us + us); }

void SimFirmware::set_wall_time(const efi::Time& t) {
    int64_t secs = days_from_civil(t.year, t.month, t.day) * 86400 + t.hour * 3600 +
                   t.minute * 60 + t.second;
    impl_->wall_base_s = secs - static_cast<int64_t>(impl_->now_us / 1000000);
    impl_->wall_ns = t.nanosecond;
    impl_->time_zone = t.time_zone;
    impl_->daylight = t.daylight;
}

efi::Time SimFirmware::wall_time() const {
    uint64_t total_ns = impl_->wall_ns + (impl_->now_us % 1000000) * 1000;
    int64_t secs = impl_->wall_base_s + static_cast<int64_t>(impl_->now_us / 1000000) +
                   static_cast<int64_t>(total_ns / 1000000000);
    int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    int64_t rem = secs - days * 86400;
    int64_t y;
    unsigned m, d;
    civil_from_days(days, &y, &m, &d);
    efi::Time t{};
    t.year = static_cast<uint16_t>(y);
    t.month = static_cast<uint8_t>(m);
    t.day = static_cast<uint8_t>(d);
    t.hour = static_cast<uint8_t>(rem / 3600);
    t.minute = static_cast<uint8_t>(rem / 60 % 60);
    t.second = static_cast<uint8_t>(rem % 60);
    t.nanosecond = static_cast<uint32_t>(total_ns % 1000000000);
    t.time_zone = impl_->time_zone;
    t.daylight = impl_->daylight;
    return t;
}

void SimFirmware::set_get_time_status(efi::Status status) { impl_->get_time_status = status; }
void SimFirmware::set_set_time_status(efi::Status status) { impl_->set_time_status = status; }

uint64_t SimFirmware::watchdog_timeout() const { return impl_->watchdog_timeout; }
uint64_t SimFirmware::watchdog_calls() const { return impl_->watchdog_calls; }

bool SimFirmware::in_run() const {
    for (auto& c : impl_->contexts)
        if (c->is_run) return true;
    return false;
}

SimFirmware::RunResult SimFirmware::run(const std::function<void()>& fn) {
    impl_->contexts.push_back(std::make_unique<ExitContext>());
    ExitContext* ctx = impl_->contexts.back().get();
    ctx->image = impl_->image;
    ctx->is_run = true;
    RunResult result;
    if (setjmp(ctx->jump) == 0) {
        try {
            fn();
        } catch (...) {
            // The jump targets of this run die with its frame.
            unwind_contexts(*impl_, ctx);
            throw;
        }
    } else {
        result.reset = ctx->reset;
        result.reset_type = ctx->reset_type;
        result.stuck = ctx->stuck;
        result.halted = ctx->halted;
        result.exited = !ctx->reset && !ctx->stuck && !ctx->halted;
        result.status = ctx->status;
        result.message = ctx->message;
        if (ctx->exit_data) {
            uint64_t units = ctx->exit_data_size / 2;
            for (uint64_t i = 0; i < units && ctx->exit_data[i]; i++)
                result.exit_data.push_back(ctx->exit_data[i]);
            if (is_pool_block(ctx->exit_data)) free_pool(ctx->exit_data);
        }
    }
    unwind_contexts(*impl_, ctx);
    impl_->tpl = efi::kTplApplication;
    return result;
}

efi::Status SimFirmware::install_configuration_table(const efi::Guid& guid, void* table) {
    auto& v = impl_->config_tables;
    auto it = std::find_if(v.begin(), v.end(), [&](auto& e) { return e.vendor_guid == guid; });
    if (!table) {
        if (it == v.end()) return efi::kNotFound;
        v.erase(it);
    } else if (it != v.end()) {
        it->vendor_table = table;
    } else {
        v.push_back({guid, table});
    }
    impl_->st.number_of_table_entries = v.size();
    impl_->st.configuration_table = v.empty() ? nullptr : v.data();
    seal_header(&impl_->st.hdr);
    return efi::kSuccess;
}

HandleDatabase& SimFirmware::handles() { return impl_->handles; }

void SimFirmware::update_table_crcs() { seal_tables(*impl_); }

void* SimFirmware::find_module_state(const void* key) const {
    auto it = impl_->states.find(key);
    return it == impl_->states.end() ? nullptr : it->second.get();
}

void* SimFirmware::store_module_state(const void* key, std::shared_ptr<void> state) {
    void* p = state.get();
    impl_->states[key] = std::move(state);
    return p;
}

}  // namespace sim

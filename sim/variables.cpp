// The variable store behind the runtime services' variable calls.
#include "variables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim_internal.h"

namespace sim {
namespace {

constexpr uint32_t kNonVolatile = efi::kVariableNonVolatile;
constexpr uint32_t kBootAccess = efi::kVariableBootserviceAccess;
constexpr uint32_t kRuntimeAccess = efi::kVariableRuntimeAccess;
constexpr uint32_t kHardwareError = efi::kVariableHardwareErrorRecord;
constexpr uint32_t kAuthWrite = efi::kVariableAuthenticatedWriteAccess;
constexpr uint32_t kTimeAuthWrite = efi::kVariableTimeBasedAuthenticatedWriteAccess;
constexpr uint32_t kAppend = efi::kVariableAppendWrite;
constexpr uint32_t kKnownAttributes =
    kNonVolatile | kBootAccess | kRuntimeAccess | kHardwareError | kAuthWrite | kTimeAuthWrite |
    kAppend | 0x80;  // 0x80: enhanced authenticated access

uint64_t align4(uint64_t n) { return (n + 3) & ~uint64_t{3}; }

std::u16string name_of(const char16_t* name) { return std::u16string(name); }

uint32_t crc32(const uint8_t* bytes, size_t n) {
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < n; i++) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void reseal(efi::TableHeader* header) {
    header->crc32 = 0;
    header->crc32 = crc32(reinterpret_cast<const uint8_t*>(header), header->header_size);
}

efi::Status EFIAPI rs_get_variable(const efi::Char16* name, const efi::Guid* guid,
                                   uint32_t* attributes, uint64_t* data_size, void* data) {
    return variable_store().get_variable(name, guid, attributes, data_size, data);
}

efi::Status EFIAPI rs_get_next_variable_name(uint64_t* name_size, efi::Char16* name,
                                             efi::Guid* guid) {
    return variable_store().get_next_variable_name(name_size, name, guid);
}

efi::Status EFIAPI rs_set_variable(const efi::Char16* name, const efi::Guid* guid,
                                   uint32_t attributes, uint64_t data_size, const void* data) {
    return variable_store().set_variable(name, guid, attributes, data_size, data);
}

efi::Status EFIAPI rs_query_variable_info(uint32_t attributes, uint64_t* maximum_storage,
                                          uint64_t* remaining_storage, uint64_t* maximum_size) {
    return variable_store().query_variable_info(attributes, maximum_storage, remaining_storage,
                                                maximum_size);
}

}  // namespace


VariableStore& variable_store() {
    SimFirmware* fw = SimFirmware::current();
    if (!fw) {
        std::fprintf(stderr, "sim: variable service called with no SimFirmware in existence\n");
        std::abort();
    }
    return fw->module_state<VariableStore>();
}

void install_variable_store(SimFirmware& fw) {
    fw.module_state<VariableStore>();
    efi::RuntimeServices* rs = fw.system_table()->runtime_services;
    rs->get_variable = rs_get_variable;
    rs->get_next_variable_name = rs_get_next_variable_name;
    rs->set_variable = rs_set_variable;
    rs->query_variable_info = rs_query_variable_info;
    reseal(&rs->hdr);
}

void remove_variable_store(SimFirmware&) {}

// ---------------------------------------------------------------- direct access

void VariableStore::put(const std::u16string& name, const efi::Guid& guid, uint32_t attributes,
                        std::vector<uint8_t> data) {
    if (auto at = locate(name, guid)) at->store->erase(at->store->begin() + at->index);
    auto& store = (attributes & kNonVolatile) ? nonvolatile_ : volatile_;
    store.push_back({name, guid, attributes, std::move(data)});
}

void VariableStore::put_text(const std::string& name, const efi::Guid& guid,
                             const std::string& value, uint32_t attributes) {
    std::u16string units = to_u16(value);
    std::vector<uint8_t> data;
    for (char16_t u : units) {
        data.push_back(static_cast<uint8_t>(u & 0xff));
        data.push_back(static_cast<uint8_t>(u >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    put(to_u16(name), guid, attributes, std::move(data));
}

const StoredVariable* VariableStore::find(const std::u16string& name, const efi::Guid& guid) const {
    for (auto* store : {&volatile_, &nonvolatile_})
        for (const auto& v : *store)
            if (v.name == name && v.guid == guid) return &v;
    return nullptr;
}

const StoredVariable* VariableStore::find(const std::string& name, const efi::Guid& guid) const {
    return find(to_u16(name), guid);
}

std::optional<std::string> VariableStore::text(const std::string& name,
                                               const efi::Guid& guid) const {
    const StoredVariable* v = find(name, guid);
    if (!v) return std::nullopt;
    std::u16string units;
    for (size_t i = 0; i + 1 < v->data.size(); i += 2) {
        char16_t u = static_cast<char16_t>(v->data[i] | (v->data[i + 1] << 8));
        if (u == 0) break;
        units.push_back(u);
    }
    return from_u16(units);
}

bool VariableStore::erase(const std::string& name, const efi::Guid& guid) {
    auto at = locate(to_u16(name), guid);
    if (!at) return false;
    at->store->erase(at->store->begin() + at->index);
    return true;
}

std::vector<StoredVariable> VariableStore::all() const {
    std::vector<StoredVariable> out = volatile_;
    out.insert(out.end(), nonvolatile_.begin(), nonvolatile_.end());
    return out;
}

size_t VariableStore::count(const efi::Guid& guid) const {
    size_t n = 0;
    for (auto* store : {&volatile_, &nonvolatile_})
        for (const auto& v : *store) n += v.guid == guid;
    return n;
}

void VariableStore::reboot() { volatile_.clear(); }

uint64_t VariableStore::used() const {
    uint64_t total = 0;
    for (const auto& v : nonvolatile_) total += footprint(v.name, v.data.size());
    return total;
}

void VariableStore::refuse_writes(efi::Status status) { refuse_writes_ = status; }
void VariableStore::refuse_deletes(efi::Status status) { refuse_deletes_ = status; }

std::optional<VariableStore::Location> VariableStore::locate(const std::u16string& name,
                                                             const efi::Guid& guid) {
    for (auto* store : {&volatile_, &nonvolatile_})
        for (size_t i = 0; i < store->size(); i++)
            if ((*store)[i].name == name && (*store)[i].guid == guid) return Location{store, i};
    return std::nullopt;
}

uint64_t VariableStore::footprint(const std::u16string& name, uint64_t data_size) {
    return kHeaderSize + align4((name.size() + 1) * 2) + align4(data_size);
}

// ---------------------------------------------------------------- services

efi::Status VariableStore::get_variable(const char16_t* name, const efi::Guid* guid,
                                        uint32_t* attributes, uint64_t* data_size, void* data) {
    get_calls_++;
    if (!name || !guid || !data_size) return efi::kInvalidParameter;
    if (name[0] == 0) return efi::kNotFound;
    VariableCall call{VariableOp::kGet, name_of(name), *guid};
    if (efi::Status refused = fault(call)) return refused;
    auto at = locate(call.name, *guid);
    if (!at) return efi::kNotFound;
    const StoredVariable& v = (*at->store)[at->index];
    const uint64_t size = v.data.size();
    if (*data_size < size) {
        *data_size = size;
        if (attributes) *attributes = v.attributes;
        return efi::kBufferTooSmall;
    }
    if (!data) return efi::kInvalidParameter;
    if (size) std::memcpy(data, v.data.data(), size);
    *data_size = size;
    if (attributes) *attributes = v.attributes;
    return efi::kSuccess;
}

efi::Status VariableStore::get_next_variable_name(uint64_t* name_size, char16_t* name,
                                                  efi::Guid* guid) {
    next_calls_++;
    if (!name_size || !name || !guid) return efi::kInvalidParameter;
    // The name must be terminated within the buffer the caller says it has.
    const uint64_t max_units = *name_size / 2;
    uint64_t length = 0;
    while (length < max_units && name[length] != 0) length++;
    if (max_units == 0 || length == max_units) return efi::kInvalidParameter;

    std::vector<StoredVariable> list = all();
    size_t next = 0;
    if (length != 0) {
        std::u16string current(name, length);
        size_t i = 0;
        while (i < list.size() && !(list[i].name == current && list[i].guid == *guid)) i++;
        if (i == list.size()) return efi::kInvalidParameter;
        next = i + 1;
    }
    VariableCall call{VariableOp::kGetNext, std::u16string(name, length), *guid};
    if (efi::Status refused = fault(call)) return refused;
    if (next >= list.size()) return efi::kNotFound;
    const StoredVariable& v = list[next];
    const uint64_t needed = (v.name.size() + 1) * 2;
    if (*name_size < needed) {
        *name_size = needed;
        return efi::kBufferTooSmall;
    }
    std::memcpy(name, v.name.c_str(), needed);
    *guid = v.guid;
    *name_size = needed;
    return efi::kSuccess;
}

efi::Status VariableStore::set_variable(const char16_t* name, const efi::Guid* guid,
                                        uint32_t attributes, uint64_t data_size,
                                        const void* data) {
    set_calls_++;
    if (!name || !guid || name[0] == 0) return efi::kInvalidParameter;
    if (data_size != 0 && !data) return efi::kInvalidParameter;
    if (attributes & ~kKnownAttributes) return efi::kInvalidParameter;
    if ((attributes & kRuntimeAccess) && !(attributes & kBootAccess))
        return efi::kInvalidParameter;
    if (attributes & kAuthWrite) return efi::kUnsupported;
    if (attributes & kTimeAuthWrite) return efi::kSecurityViolation;  // no valid signature here
    const std::u16string key = name_of(name);
    if ((attributes & kHardwareError) && key.rfind(u"HwErrRec", 0) != 0)
        return efi::kInvalidParameter;

    const bool append = (attributes & kAppend) != 0;
    const bool is_delete = attributes == 0 || (data_size == 0 && !append);
    VariableCall call{VariableOp::kSet, key, *guid, attributes, data_size, is_delete};
    if (is_delete && refuse_deletes_) return refuse_deletes_;
    if (!is_delete && refuse_writes_) return refuse_writes_;
    if (efi::Status refused = fault(call)) return refused;

    auto at = locate(key, *guid);
    if (at) {
        const StoredVariable& old = (*at->store)[at->index];
        // A rewrite must give the same attributes (apart from append).
        if (attributes != 0 && (attributes & ~kAppend) != old.attributes)
            return efi::kInvalidParameter;
    }
    if (is_delete) {
        if (!at) return efi::kNotFound;
        at->store->erase(at->store->begin() + at->index);
        return efi::kSuccess;
    }
    if (append && data_size == 0) return efi::kSuccess;

    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> value;
    if (at && append) value = (*at->store)[at->index].data;
    value.insert(value.end(), bytes, bytes + data_size);
    if (at && !append && (*at->store)[at->index].data == value) return efi::kSuccess;

    const uint64_t size = footprint(key, value.size());
    if (size > max_variable_size_) return efi::kInvalidParameter;
    const uint32_t stored = attributes & ~kAppend;
    if (stored & kNonVolatile) {
        uint64_t in_use = used();
        if (at) in_use -= footprint(key, (*at->store)[at->index].data.size());
        if (in_use + size > capacity_) return efi::kOutOfResources;
    }
    // The new copy goes to the end of its store, as the firmware appends it.
    if (at) at->store->erase(at->store->begin() + at->index);
    auto& store = (stored & kNonVolatile) ? nonvolatile_ : volatile_;
    store.push_back({key, *guid, stored, std::move(value)});
    return efi::kSuccess;
}

efi::Status VariableStore::query_variable_info(uint32_t attributes, uint64_t* maximum_storage,
                                               uint64_t* remaining_storage,
                                               uint64_t* maximum_size) {
    if (!maximum_storage || !remaining_storage || !maximum_size || attributes == 0)
        return efi::kInvalidParameter;
    if ((attributes & kRuntimeAccess) && !(attributes & kBootAccess))
        return efi::kInvalidParameter;
    if (attributes & kNonVolatile) {
        *maximum_storage = capacity_;
        uint64_t in_use = used();
        *remaining_storage = in_use < capacity_ ? capacity_ - in_use : 0;
    } else {
        *maximum_storage = capacity_;
        *remaining_storage = capacity_;
    }
    *maximum_size = max_variable_size_ - kHeaderSize;
    return efi::kSuccess;
}

}  // namespace sim

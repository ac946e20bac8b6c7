#include "vars/variable_access.h"

#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/tables.h"

namespace tarn {
namespace {

// The name buffer of an enumeration starts at 512 bytes and grows on request up to this.
constexpr uint64_t kInitialNameBytes = 512;
constexpr uint64_t kMaxNameBytes = 0x100000;
// A firmware that never ends its list (a broken store) is stopped here.
constexpr uint64_t kMaxEnumeratedVariables = 1000000;
// A variable that keeps growing between the size query and the read.
constexpr int kReadAttempts = 4;

efi::RuntimeServices* services() {
    efi::RuntimeServices* rt = runtime_services();
    if (!rt || !rt->get_variable || !rt->set_variable || !rt->get_next_variable_name)
        return nullptr;
    return rt;
}

}  // namespace

VariableData::~VariableData() { release(bytes); }

void VariableData::clear() {
    release(bytes);
    bytes = nullptr;
    size = 0;
    attributes = 0;
}

efi::Status read_variable(const char* name, const efi::Guid& guid, VariableData* out) {
    Owned<char16_t> name16(utf8_to_ucs2(name ? name : ""));
    return read_variable_ucs2(name16.get(), guid, out);
}

efi::Status read_variable_ucs2(const char16_t* name, const efi::Guid& guid, VariableData* out) {
    out->clear();
    efi::RuntimeServices* rt = services();
    if (!rt) return efi::kUnsupported;
    uint32_t attributes = 0;
    uint64_t size = 0;
    efi::Status status = rt->get_variable(name, &guid, &attributes, &size, nullptr);
    for (int attempt = 0; attempt < kReadAttempts; attempt++) {
        if (status == efi::kSuccess) {
            // Only a variable of size 0 answers a query with no buffer.
            out->bytes = static_cast<uint8_t*>(xallocate_zeroed(1, 2));
            out->size = 0;
            out->attributes = attributes;
            return efi::kSuccess;
        }
        if (status != efi::kBufferTooSmall) return status;
        uint64_t bytes = 0;
        if (add_overflows(size, 2, &bytes)) return efi::kOutOfResources;
        uint8_t* buffer = static_cast<uint8_t*>(allocate_zeroed(1, bytes));
        if (!buffer) return efi::kOutOfResources;
        uint64_t got = size;
        status = rt->get_variable(name, &guid, &attributes, &got, buffer);
        if (status == efi::kSuccess) {
            if (got > size) got = size;  // a firmware must not claim more than it had room for
            buffer[got] = 0;
            buffer[got + 1] = 0;
            out->bytes = buffer;
            out->size = got;
            out->attributes = attributes;
            return efi::kSuccess;
        }
        release(buffer);
        if (status != efi::kBufferTooSmall) return status;
        if (got <= size) return efi::kDeviceError;  // asks for no more room: give up
        size = got;
    }
    return status;
}

efi::Status probe_variable(const char16_t* name, const efi::Guid& guid, uint32_t* attributes,
                           uint64_t* size) {
    efi::RuntimeServices* rt = services();
    if (!rt) return efi::kUnsupported;
    uint32_t attr = 0;
    uint64_t n = 0;
    efi::Status status = rt->get_variable(name, &guid, &attr, &n, nullptr);
    if (status != efi::kSuccess && status != efi::kBufferTooSmall) return status;
    if (attributes) *attributes = attr;
    if (size) *size = n;
    return efi::kSuccess;
}

efi::Status write_variable(const char* name, const efi::Guid& guid, uint32_t attributes,
                           uint64_t size, const void* data) {
    Owned<char16_t> name16(utf8_to_ucs2(name ? name : ""));
    return write_variable_ucs2(name16.get(), guid, attributes, size, data);
}

efi::Status write_variable_ucs2(const char16_t* name, const efi::Guid& guid,
                                uint32_t attributes, uint64_t size, const void* data) {
    efi::RuntimeServices* rt = services();
    if (!rt) return efi::kUnsupported;
    return rt->set_variable(name, &guid, attributes, size, size ? data : nullptr);
}

efi::Status delete_variable(const char* name, const efi::Guid& guid) {
    return write_variable(name, guid, 0, 0, nullptr);
}

efi::Status delete_variable_ucs2(const char16_t* name, const efi::Guid& guid) {
    return write_variable_ucs2(name, guid, 0, 0, nullptr);
}

efi::Status enumerate_variables(VariableVisitor visitor, void* context) {
    efi::RuntimeServices* rt = services();
    if (!rt) return efi::kUnsupported;
    // The buffer holds capacity bytes for the firmware plus two zero bytes that keep the
    // name terminated whatever the firmware writes.
    uint64_t capacity = kInitialNameBytes;
    Owned<char16_t> name(static_cast<char16_t*>(xallocate_zeroed(1, capacity + 2)));
    efi::Guid guid = {};
    for (uint64_t seen = 0; seen < kMaxEnumeratedVariables; seen++) {
        uint64_t size = capacity;
        efi::Status status = rt->get_next_variable_name(&size, name.get(), &guid);
        if (status == efi::kBufferTooSmall) {
            if (size <= capacity || size > kMaxNameBytes) return efi::kDeviceError;
            uint64_t grown = (size + 1) & ~1ull;
            char16_t* bigger = static_cast<char16_t*>(xallocate_zeroed(1, grown + 2));
            memcpy(bigger, name.get(), capacity);
            name.reset(bigger);
            capacity = grown;
            seen--;
            continue;
        }
        if (status == efi::kNotFound) return efi::kSuccess;
        if (status != efi::kSuccess) return status;
        name[capacity / 2] = 0;
        Owned<char> utf8(ucs2_to_utf8(name.get()));
        if (!visitor(context, utf8.get(), name.get(), guid)) return efi::kSuccess;
    }
    return efi::kDeviceError;
}

}  // namespace tarn

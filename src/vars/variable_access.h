// Reading, writing and enumerating UEFI variables: the one place that calls the
// firmware's variable services (used by the environment, the variable commands and the
// boot configuration).
#pragma once
#include "runtime/util.h"
#include "uefi/base.h"

namespace tarn {

// A variable's value as read: size bytes followed by two zero bytes (not counted), so a
// UCS-2 or ASCII value can be read as text safely. Owns its bytes.
struct VariableData {
    uint8_t* bytes = nullptr;
    uint64_t size = 0;
    uint32_t attributes = 0;

    VariableData() = default;
    VariableData(const VariableData&) = delete;
    VariableData& operator=(const VariableData&) = delete;
    ~VariableData();
    void clear();
};

// GetVariable with size 0 first, then with a buffer of the reported size (plus the two
// zero bytes); a variable of size 0 gives an empty value. On failure out is empty and
// the firmware status is returned.
[[nodiscard]] efi::Status read_variable(const char* name, const efi::Guid& guid,
                                        VariableData* out);
[[nodiscard]] efi::Status read_variable_ucs2(const char16_t* name, const efi::Guid& guid,
                                             VariableData* out);

// The attributes and size of a variable without reading its data.
[[nodiscard]] efi::Status probe_variable(const char16_t* name, const efi::Guid& guid,
                                         uint32_t* attributes, uint64_t* size);

// SetVariable with the name converted to UCS-2. A size of 0 (or attributes 0) deletes.
efi::Status write_variable(const char* name, const efi::Guid& guid, uint32_t attributes,
                           uint64_t size, const void* data);
efi::Status write_variable_ucs2(const char16_t* name, const efi::Guid& guid,
                                uint32_t attributes, uint64_t size, const void* data);
// Deletes with attributes 0 and no data, which the firmware accepts whatever the stored
// attributes are. A missing variable gives kNotFound.
efi::Status delete_variable(const char* name, const efi::Guid& guid);
efi::Status delete_variable_ucs2(const char16_t* name, const efi::Guid& guid);

// Calls visitor for every variable in the firmware's order: the name as UTF-8 and as the
// firmware's UCS-2, and the vendor GUID. The visitor returns false to stop. It must not
// create or delete variables while the enumeration runs (collect names, change later).
// Returns kSuccess when the end was reached or the visitor stopped, else the failing
// status (the visitor has seen the variables before the failure).
using VariableVisitor = bool (*)(void* context, const char* name, const char16_t* raw_name,
                                 const efi::Guid& guid);
efi::Status enumerate_variables(VariableVisitor visitor, void* context);

}  // namespace tarn

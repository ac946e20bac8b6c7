// The simulated firmware's variable store: GetVariable, GetNextVariableName, SetVariable
// and QueryVariableInfo behaving as OVMF's variable driver does (case-sensitive names,
// volatile variables listed before non-volatile ones, a rewritten variable moving to the
// end of its store, buffer-too-small sizes, delete by size 0 or attributes 0, a rewrite
// with other attributes refused, a size limit per variable and a full store), with
// controls for tests.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim.h"
#include "sim_text.h"

namespace sim {

struct StoredVariable {
    std::u16string name;
    efi::Guid guid{};
    uint32_t attributes = 0;
    std::vector<uint8_t> data;
};

enum class VariableOp { kGet, kGetNext, kSet };

// One service call, as a fault hook sees it (after the argument checks passed).
struct VariableCall {
    VariableOp op;
    std::u16string name;
    efi::Guid guid{};
    uint32_t attributes = 0;  // kSet
    uint64_t size = 0;        // kSet: data size
    bool is_delete = false;   // kSet with size 0 or attributes 0
};

// Returns a status to refuse the call with, or 0 to let it through.
using VariableFault = std::function<efi::Status(const VariableCall&)>;

class VariableStore {
public:
    // OVMF's 4 MiB build: the non-volatile store and the per-variable limit (header, name
    // and data together).
    static constexpr uint64_t kDefaultCapacity = 0x3ffb8;
    static constexpr uint64_t kDefaultMaxVariableSize = 0x8400;
    // Bytes a variable takes in the store besides its name and data.
    static constexpr uint64_t kHeaderSize = 60;

    // --- direct access for tests (no firmware rules, no faults, no counting) ---
    void put(const std::u16string& name, const efi::Guid& guid, uint32_t attributes,
             std::vector<uint8_t> data);
    // The value as UCS-2 with its NUL, the way the shell stores text.
    void put_text(const std::string& name, const efi::Guid& guid, const std::string& value,
                  uint32_t attributes = 3);
    const StoredVariable* find(const std::u16string& name, const efi::Guid& guid) const;
    const StoredVariable* find(const std::string& name, const efi::Guid& guid) const;
    // The data read as UCS-2 text up to its NUL, as UTF-8; nullopt when absent.
    std::optional<std::string> text(const std::string& name, const efi::Guid& guid) const;
    bool erase(const std::string& name, const efi::Guid& guid);
    // In the order GetNextVariableName returns them.
    std::vector<StoredVariable> all() const;
    size_t count() const { return volatile_.size() + nonvolatile_.size(); }
    size_t count(const efi::Guid& guid) const;

    // A restart: volatile variables are gone.
    void reboot();

    // --- limits ---
    void set_capacity(uint64_t bytes) { capacity_ = bytes; }
    void set_max_variable_size(uint64_t bytes) { max_variable_size_ = bytes; }
    uint64_t used() const;  // bytes of the non-volatile store in use

    // --- fault injection ---
    void set_fault(VariableFault fault) { fault_ = std::move(fault); }
    // Every SetVariable that writes data / that deletes is refused with status (0 stops).
    void refuse_writes(efi::Status status);
    void refuse_deletes(efi::Status status);

    // --- counters ---
    uint64_t get_calls() const { return get_calls_; }
    uint64_t next_calls() const { return next_calls_; }
    uint64_t set_calls() const { return set_calls_; }

    // --- the services (used by the runtime services table) ---
    efi::Status get_variable(const char16_t* name, const efi::Guid* guid, uint32_t* attributes,
                             uint64_t* data_size, void* data);
    efi::Status get_next_variable_name(uint64_t* name_size, char16_t* name, efi::Guid* guid);
    efi::Status set_variable(const char16_t* name, const efi::Guid* guid, uint32_t attributes,
                             uint64_t data_size, const void* data);
    efi::Status query_variable_info(uint32_t attributes, uint64_t* maximum_storage,
                                    uint64_t* remaining_storage, uint64_t* maximum_size);

private:
    struct Location {
        std::vector<StoredVariable>* store;
        size_t index;
    };
    std::optional<Location> locate(const std::u16string& name, const efi::Guid& guid);
    efi::Status fault(const VariableCall& call) const { return fault_ ? fault_(call) : 0; }
    static uint64_t footprint(const std::u16string& name, uint64_t data_size);

    std::vector<StoredVariable> volatile_;
    std::vector<StoredVariable> nonvolatile_;
    uint64_t capacity_ = kDefaultCapacity;
    uint64_t max_variable_size_ = kDefaultMaxVariableSize;
    VariableFault fault_;
    efi::Status refuse_writes_ = 0;
    efi::Status refuse_deletes_ = 0;
    uint64_t get_calls_ = 0, next_calls_ = 0, set_calls_ = 0;
};

// The store of the firmware that exists now.
VariableStore& variable_store();

// UTF-8 to UCS-2 and back for test data (BMP only).

}  // namespace sim

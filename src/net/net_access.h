// The network owner: the interfaces that carry IP4 Config2 or IP6 Config, their
// configuration data, their media state, waits for an address, and children of the
// network drivers' service bindings. Every call into the firmware's network protocols is
// made here.
#pragma once
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "uefi/network.h"

namespace tarn {

constexpr uint64_t kInterfaceNameBytes = 64;

// One interface: its handle, its configuration protocol (IP4 Config2 or IP6 Config) and
// its name.
template <class Config> struct InterfaceEntry {
    efi::Handle handle;
    Config* config;
    char name[kInterfaceNameBytes];
};
using NetInterface = InterfaceEntry<efi::Ip4Config2>;
using Net6Interface = InterfaceEntry<efi::Ip6Config>;

// The interfaces carrying the configuration protocol, in handle order; names from the
// interface information or "eth%d".
template <class Config> class InterfaceList {
public:
    InterfaceList();
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;
    uint64_t count() const { return items_.size(); }
    InterfaceEntry<Config>& operator[](uint64_t i) { return items_[i]; }
    // The entry named name (ASCII case ignored), null when none is.
    InterfaceEntry<Config>* find(const char* name);

private:
    Vector<InterfaceEntry<Config>> items_;
};
using Ip4InterfaceList = InterfaceList<efi::Ip4Config2>;
using Ip6InterfaceList = InterfaceList<efi::Ip6Config>;

// Picks the interface for a command: the one named (when name is given) or the first.
// Prints the command's message and returns null when there is none.
NetInterface* select_ipv4_interface(Ip4InterfaceList& list, const char* command, const char* name);
Net6Interface* select_ipv6_interface(Ip6InterfaceList& list, const char* command, const char* name);

// One item of IP4 Config2 data, of whatever size the firmware has, in a new block
// (*size bytes; a block is allocated even for 0 bytes). kNotFound from the firmware
// (no gateway, no DNS server set) gives success with size 0.
[[nodiscard]] efi::Status ip4_get_data(efi::Ip4Config2* config, efi::Ip4Config2DataType type,
                                       Owned<uint8_t>* data, uint64_t* size);
// The interface information; null when it cannot be read. The route table it points to
// is inside the same block.
Owned<efi::Ip4Config2InterfaceInfo> ip4_interface_info(efi::Ip4Config2* config, efi::Status* status);
[[nodiscard]] efi::Status ip4_get_policy(efi::Ip4Config2* config, efi::Ip4Config2Policy* policy);

// SetData, and when the firmware answers kNotReady (it finishes the change later, as for
// a manual address it first checks on the wire), waits up to timeout_ms for the data
// notification it signals then. kAborted when Ctrl-C ended the wait, kTimeout when the
// time ran out.
[[nodiscard]] efi::Status ip4_set_data(efi::Ip4Config2* config, efi::Ip4Config2DataType type,
                                       const void* data, uint64_t size, uint64_t timeout_ms);

enum class WaitResult { kReady, kTimedOut, kInterrupted };
// Polls the interface information every 50 ms until the station address is not zero.
WaitResult wait_for_ipv4_address(efi::Ip4Config2* config, uint64_t timeout_ms);

enum class MediaState { kPresent, kDisconnected, kUnknown };
// From the Adapter Information media state, else the Simple Network mode.
MediaState media_state(efi::Handle handle);
const char* media_state_text(MediaState state);

// A child of a service binding: created on construction, destroyed with it.
class ServiceChild {
public:
    ServiceChild(efi::Handle parent, const efi::Guid& binding, const efi::Guid& protocol);
    ServiceChild(const ServiceChild&) = delete;
    ServiceChild& operator=(const ServiceChild&) = delete;
    ~ServiceChild();
    // kSuccess when the child and its protocol are there; else why not (kUnsupported
    // when the parent has no such service binding).
    efi::Status status() const { return status_; }
    void* protocol() const { return protocol_; }

private:
    efi::ServiceBinding* binding_ = nullptr;
    efi::Handle child_ = nullptr;
    void* protocol_ = nullptr;
    efi::Status status_ = efi::kUnsupported;
};

// An event whose notification sets a flag; closed with the object.
class FlagEvent {
public:
    FlagEvent();
    FlagEvent(const FlagEvent&) = delete;
    FlagEvent& operator=(const FlagEvent&) = delete;
    ~FlagEvent();
    efi::Event event() const { return event_; }
    bool signaled() const { return flag_; }
    void clear() { flag_ = false; }

private:
    static void EFIAPI notify(efi::Event event, void* context);
    efi::Event event_ = nullptr;
    volatile bool flag_ = false;
};

// The long message for a missing IPv4 stack.
extern const char* const kNoIpv4StackMessage;

// ---- IPv6: IP6 Config items as for IPv4 above.

// One item of IP6 Config data in a new block (*size bytes; kNotFound gives size 0).
[[nodiscard]] efi::Status ip6_get_data(efi::Ip6Config* config, efi::Ip6ConfigDataType type,
                                       Owned<uint8_t>* data, uint64_t* size);
// The interface information, its address and route tables checked to lie inside the
// block (dropped when they do not); null when it cannot be read.
Owned<efi::Ip6ConfigInterfaceInfo> ip6_interface_info(efi::Ip6Config* config, efi::Status* status);
[[nodiscard]] efi::Status ip6_get_policy(efi::Ip6Config* config, efi::Ip6ConfigPolicy* policy);
[[nodiscard]] efi::Status ip6_get_dad_transmits(efi::Ip6Config* config, uint32_t* count);
// SetData with the same not-ready-then-notify wait as ip4_set_data (duplicate address
// detection makes a manual address wait).
[[nodiscard]] efi::Status ip6_set_data(efi::Ip6Config* config, efi::Ip6ConfigDataType type,
                                       const void* data, uint64_t size, uint64_t timeout_ms);
// Polls the interface information every 50 ms until it holds an address that can reach
// target (see choose_ipv6_source); kReady with the address in *source.
WaitResult wait_for_ipv6_source(efi::Ip6Config* config, const efi::Ipv6Address& target, uint64_t timeout_ms,
                                efi::Ipv6Address* source);

extern const char* const kNoIpv6StackMessage;

}  // namespace tarn

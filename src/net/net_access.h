// The network owner: the interfaces that carry IP4 Config2, their configuration data,
// their media state, waits for an address, and children of the network drivers' service
// bindings. Every call into the firmware's network protocols is made here.
#pragma once
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "uefi/network.h"

namespace tarn {

constexpr uint64_t kInterfaceNameBytes = 64;

struct NetInterface {
    efi::Handle handle;
    efi::Ip4Config2* config;
    char name[kInterfaceNameBytes];
};

// The IPv4 interfaces in handle order; names from the interface information or "eth%d".
class Ip4InterfaceList {
public:
    Ip4InterfaceList();
    Ip4InterfaceList(const Ip4InterfaceList&) = delete;
    Ip4InterfaceList& operator=(const Ip4InterfaceList&) = delete;
    uint64_t count() const { return items_.size(); }
    NetInterface& operator[](uint64_t i) { return items_[i]; }
    // The entry named name (ASCII case ignored), null when none is.
    NetInterface* find(const char* name);

private:
    Vector<NetInterface> items_;
};

// Picks the interface for a command: the one named (when name is given) or the first.
// Prints the command's message and returns null when there is none.
NetInterface* select_ipv4_interface(Ip4InterfaceList& list, const char* command, const char* name);

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

}  // namespace tarn

// The handle database of the simulated firmware: handles, the protocol interfaces on
// them and who opened them. The boot services of the protocol handling family stand on
// it, and other sim modules (storage, variable store) install their protocols through it.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "sim.h"

namespace sim {

struct OpenRecord {
    efi::Handle agent = nullptr;
    efi::Handle controller = nullptr;
    uint32_t attributes = 0;
    uint32_t open_count = 0;
};

class HandleDatabase {
public:
    HandleDatabase();
    ~HandleDatabase();
    HandleDatabase(const HandleDatabase&) = delete;
    HandleDatabase& operator=(const HandleDatabase&) = delete;

    // A handle that exists while empty until destroy_handle (for agents, images).
    efi::Handle create_handle();
    // Removes every protocol and the handle itself, whatever opened them.
    void destroy_handle(efi::Handle handle);
    bool is_valid(efi::Handle handle) const;

    // InstallProtocolInterface semantics: *handle null creates a handle; a protocol
    // already on the handle is kInvalidParameter. Signals protocol-notify registrations.
    efi::Status install(efi::Handle* handle, const efi::Guid& protocol, void* interface);
    // Convenience: installs on a new handle and returns it (null on failure).
    efi::Handle install_new(const efi::Guid& protocol, void* interface);
    // UninstallProtocolInterface semantics: kNotFound when the protocol is not there with
    // that interface; kAccessDenied while it is opened by a driver or exclusively. The
    // handle disappears with its last protocol unless it was made by create_handle.
    efi::Status uninstall(efi::Handle handle, const efi::Guid& protocol, void* interface);
    efi::Status reinstall(efi::Handle handle, const efi::Guid& protocol, void* old_interface,
                          void* new_interface);

    // The interface of protocol on handle, or null.
    void* find(efi::Handle handle, const efi::Guid& protocol) const;
    // All handles in creation order, and those carrying protocol.
    std::vector<efi::Handle> handles() const;
    std::vector<efi::Handle> handles_with(const efi::Guid& protocol) const;
    std::vector<efi::Guid> protocols_on(efi::Handle handle) const;
    std::vector<OpenRecord> open_records(efi::Handle handle, const efi::Guid& protocol) const;

    // OpenProtocol / CloseProtocol semantics.
    efi::Status open(efi::Handle handle, const efi::Guid& protocol, void** interface,
                     efi::Handle agent, efi::Handle controller, uint32_t attributes);
    efi::Status close(efi::Handle handle, const efi::Guid& protocol, efi::Handle agent,
                      efi::Handle controller);
    // Drops every open record whose agent is agent (an image being unloaded).
    void close_all_opened_by(efi::Handle agent);

    // The handle carrying protocol whose device path is the longest node-wise prefix of
    // path; *remaining points at the rest of path. Null when none matches.
    efi::Handle locate_device_path(const efi::Guid& protocol, const efi::DevicePath* path,
                                   const efi::DevicePath** remaining) const;

    // RegisterProtocolNotify: installs of protocol signal event and queue the handle for
    // LocateHandle(ByRegisterNotify) with the returned registration key.
    void* register_notify(const efi::Guid& protocol, efi::Event event);
    // The next handle queued for a registration (null when none).
    efi::Handle next_notified(void* registration);
    bool is_registration(void* registration) const;

    // Removes protocol from handle whoever has it open (firmware unloading an image).
    void force_remove(efi::Handle handle, const efi::Guid& protocol);
    // The agent HandleProtocol opens with, standing for the firmware core (a handle
    // without protocols, so no search lists it).
    efi::Handle core_agent();

    // Pointer to the stored GUID of protocol on handle (stable while installed).
    const efi::Guid* stored_guid(efi::Handle handle, const efi::Guid& protocol) const;

    struct State;

private:
    std::unique_ptr<State> state_;
    efi::Handle core_agent_ = nullptr;
};

// Device path helpers (bounded walks: a node shorter than 4 bytes ends the path).
// Size in bytes of the path including its end node; 0 if malformed or over 64 KiB.
uint64_t device_path_size(const efi::DevicePath* path);
// The node after node.
const efi::DevicePath* next_node(const efi::DevicePath* node);
bool is_end_node(const efi::DevicePath* node);
uint16_t node_length(const efi::DevicePath* node);

}  // namespace sim

// The children of the fake service bindings (IP4, IP6, MTFTP4, MTFTP6, HTTP): each child
// is an object whose `protocol` member is installed on a handle of its own (kept in
// `child`); the binding keeps the objects and counts how many were made and destroyed.
#pragma once
#include <memory>
#include <vector>

#include "sim.h"
#include "uefi/base.h"

namespace sim {

// Installs c's protocol on a new handle and keeps c; *created counts it.
template <typename Child>
tarn::efi::Status add_child(std::vector<std::unique_ptr<Child>>& children, std::unique_ptr<Child> c,
                            const tarn::efi::Guid& guid, tarn::efi::Handle* handle, int* created) {
    tarn::efi::Handle h = nullptr;
    tarn::efi::Status st = SimFirmware::current()->handles().install(&h, guid, &c->protocol);
    if (st) return st;
    c->child = h;
    *handle = h;
    (*created)++;
    children.push_back(std::move(c));
    return tarn::efi::kSuccess;
}

// The child on handle: stop(child) ends what it still holds (as the driver does when a
// child goes), then its protocol is uninstalled and it is dropped; *destroyed counts it.
template <typename Child, typename Stop>
tarn::efi::Status remove_child(std::vector<std::unique_ptr<Child>>& children, tarn::efi::Handle handle,
                               const tarn::efi::Guid& guid, int* destroyed, Stop stop) {
    for (auto it = children.begin(); it != children.end(); ++it) {
        if ((*it)->child != handle) continue;
        stop(it->get());
        SimFirmware::current()->handles().uninstall(handle, guid, &(*it)->protocol);
        (*destroyed)++;
        children.erase(it);
        return tarn::efi::kSuccess;
    }
    return tarn::efi::kInvalidParameter;
}

}  // namespace sim

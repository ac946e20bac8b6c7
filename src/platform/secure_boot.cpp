#include "platform/secure_boot.h"

#include "runtime/output.h"
#include "uefi/guids.h"
#include "vars/variable_access.h"

namespace tarn {

namespace {
enum class SecureBootState : uint8_t { kUnread, kActive, kInactive };
constinit SecureBootState g_state = SecureBootState::kUnread;
}  // namespace

bool secure_boot_active() {
    if (g_state == SecureBootState::kUnread) {
        VariableData data;
        efi::Status s = read_variable("SecureBoot", efi::kGlobalVariableGuid, &data);
        bool active = s == efi::kSuccess && data.size >= 1 && data.bytes[0] == 1;
        g_state = active ? SecureBootState::kActive : SecureBootState::kInactive;
    }
    return g_state == SecureBootState::kActive;
}

bool refused_by_secure_boot(efi::Status status) {
    if (status == efi::kSecurityViolation) return true;
    return status == efi::kAccessDenied && secure_boot_active();
}

bool hardware_write_allowed(const char* command) {
    if (!secure_boot_active()) return true;
    print_error("%s: writing to hardware is disabled while Secure Boot is active\n", command);
    return false;
}

void reset_secure_boot_state() { g_state = SecureBootState::kUnread; }

}  // namespace tarn

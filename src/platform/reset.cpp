// reset: cold, warm or shutdown through ResetSystem, or a restart into the firmware's
// setup screen through OsIndications.
#include "platform/platform_commands.h"
#include "platform/reset_request.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/registry.h"
#include "uefi/guids.h"
#include "vars/variable_access.h"

namespace tarn {
namespace {

int reset_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"reset", reset_command, "reset [-w [STRING] | -s [STRING] | -c [STRING] | -fwui | setup]",
     "Restart or shut down the machine, or reboot into the firmware setup",
     "  -c [STRING]   cold restart (the default)\n"
     "  -w [STRING]   warm restart\n"
     "  -s [STRING]   shut down\n"
     "  STRING is the reason handed to the firmware with the reset.\n"
     "  setup, -setup, -f, -fwui   restart into the firmware's setup screen (sets bit 0 of\n"
     "                OsIndications, when OsIndicationsSupported offers it)\n",
     0},
};

constexpr uint64_t kBootToFirmwareUi = 1;
constexpr uint32_t kOsIndicationsAttributes = 7;  // non-volatile, boot service, runtime

efi::Status read_u64(const char* name, uint64_t* value) {
    VariableData data;
    const efi::Status status = read_variable(name, efi::kGlobalVariableGuid, &data);
    if (status != efi::kSuccess) return status;
    if (data.size != sizeof *value) return efi::kBadBufferSize;
    memcpy(value, data.bytes, sizeof *value);
    return efi::kSuccess;
}

int request_setup_mode() {
    uint64_t supported = 0;
    if (read_u64("OsIndicationsSupported", &supported) != efi::kSuccess || !(supported & kBootToFirmwareUi))
        return report_error("reset", "this firmware does not support booting into its setup");
    uint64_t indications = 0;
    if (read_u64("OsIndications", &indications) == efi::kSuccess)
        indications |= kBootToFirmwareUi;
    else
        indications = kBootToFirmwareUi;
    const efi::Status status = write_variable("OsIndications", efi::kGlobalVariableGuid, kOsIndicationsAttributes,
                                              sizeof indications, &indications);
    if (status != efi::kSuccess)
        return report_error("reset", "cannot set OsIndications: %s", status_message(status));
    return 0;
}

void call_reset(uint32_t kind, const char* reason) {
    efi::RuntimeServices* rs = runtime_services();
    if (!rs || !rs->reset_system) return;
    if (reason) {
        uint64_t units = 0;
        char16_t* text = utf8_to_ucs2(reason, &units);
        if (text) {
            rs->reset_system(kind, efi::kSuccess, 2 * units + 2, text);
            release(text);
        }
    }
    rs->reset_system(kind, efi::kSuccess, 0, nullptr);
}

int reset_command(int count, char** vector) {
    ResetRequest request;
    if (!parse_reset_arguments(count - 1, vector + 1, &request)) return report_usage("reset");
    if (request.kind == ResetKind::kSetup) {
        const int failed = request_setup_mode();
        if (failed) return failed;
    }
    call_reset(reset_system_type(request.kind), request.reason);
    return report_error("reset", "the firmware did not reset the system");
}

}  // namespace

bool parse_reset_arguments(int count, char* const* words, ResetRequest* out) {
    *out = ResetRequest();
    bool chosen = false;
    for (int i = 0; i < count; i++) {
        const char* w = words[i];
        ResetKind kind;
        if (equal_nocase(w, "-c")) kind = ResetKind::kCold;
        else if (equal_nocase(w, "-w")) kind = ResetKind::kWarm;
        else if (equal_nocase(w, "-s")) kind = ResetKind::kShutdown;
        else if (equal_nocase(w, "setup") || equal_nocase(w, "-setup") || equal_nocase(w, "-f") ||
                 equal_nocase(w, "-fwui")) kind = ResetKind::kSetup;
        else return false;
        if (chosen) return false;
        chosen = true;
        out->kind = kind;
        if (kind != ResetKind::kSetup && i + 1 < count && words[i + 1][0] != '-') out->reason = words[++i];
    }
    return true;
}

uint32_t reset_system_type(ResetKind kind) {
    switch (kind) {
    case ResetKind::kWarm:
        return 1;
    case ResetKind::kShutdown:
        return 2;
    case ResetKind::kCold:
    case ResetKind::kSetup:
        return 0;
    }
    return 0;
}

void register_reset_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

// setvar: show, set or delete one UEFI variable in the data syntax of the standard shell.
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/options.h"
#include "shell/registry.h"
#include "uefi/guids.h"
#include "uefi/protocols.h"
#include "vars/dump_records.h"
#include "vars/setvar_data.h"
#include "vars/variable_access.h"
#include "vars/variable_text.h"
#include "vars/vars_module.h"

namespace tarn {
namespace {

int setvar_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"setvar", setvar_command, "setvar NAME [-guid GUID] [-bs] [-rt] [-nv] [=DATA...]",
     "Show, set or delete a UEFI variable (UEFI Shell syntax)",
     "  setvar NAME                  shows the variable\n"
     "  setvar NAME =DATA...         sets it from the data items, in order:\n"
     "      0102                     bytes as written (hex pairs)\n"
     "      0x1234                   a number, little-endian in 1, 2, 4 or 8 bytes\n"
     "      \"text\"                   ASCII bytes, no terminator\n"
     "      L\"text\"                  UCS-2 text with its NUL\n"
     "      --PciRoot(0x0)/Pci(1,1)  a device path from its text form\n"
     "  setvar NAME =                deletes the variable\n"
     "  -guid GUID   vendor GUID (default global)\n"
     "  -bs -rt -nv  attributes (without them an existing variable keeps its own, a new\n"
     "               one gets boot-service access only)\n",
     kCommandRawArguments},
};

struct SetvarOptions {
    const char* guid = nullptr;
    bool bs = false, rt = false, nv = false;
};

constexpr Option<SetvarOptions> kSetvarOptions[] = {
    value_option("guid", &SetvarOptions::guid, kOptionAnyCase),
    switch_option("bs", &SetvarOptions::bs, kOptionAnyCase),
    switch_option("rt", &SetvarOptions::rt, kOptionAnyCase),
    switch_option("nv", &SetvarOptions::nv, kOptionAnyCase),
};

const char* const kCommand = "setvar";

// The device path the firmware's From Text protocol makes of text, appended to value.
bool append_device_path(StringBuffer& value, const char* text) {
    efi::BootServices* bs = boot_services();
    void* iface = nullptr;
    if (!bs || efi::is_error(bs->locate_protocol(&efi::kDevicePathFromTextProtocolGuid, nullptr,
                                                 &iface)) || !iface)
        return false;
    auto* service = static_cast<efi::DevicePathFromText*>(iface);
    if (!service->convert_text_to_device_path) return false;
    Owned<char16_t> text16(utf8_to_ucs2(text));
    efi::DevicePath* path = service->convert_text_to_device_path(text16.get());
    if (!path) return false;
    const uint64_t size = device_path_bytes(path);
    if (size) append_bytes(value, path, size);
    bs->free_pool(path);
    return size != 0;
}

DataItemHooks firmware_hooks() { return DataItemHooks{append_device_path}; }

int show(const char* name, const efi::Guid& guid) {
    VariableData value;
    const efi::Status status = read_variable(name, guid, &value);
    if (efi::is_error(status)) return report_error(kCommand, "%s: %s", name, status_message(status));
    print_variable_dump(name, guid, value);
    return 0;
}

int setvar_command(int count, char** vector) {
    SetvarOptions o;
    const int first =
        parse_options(count, vector, kSetvarOptions, kOptionsNameWord | kOptionsEndAtEquals, &o);
    if (first < 0) return kExitUsage;
    int data = first;
    while (data < count && vector[data][0] != '=') data++;
    if (data - first != 1) return report_usage(kCommand);
    const char* name = vector[first];

    efi::Guid guid = efi::kGlobalVariableGuid;
    if (o.guid && !parse_guid(o.guid, &guid)) return report_error(kCommand, "invalid GUID %s", o.guid);
    if (data == count) return show(name, guid);

    StringBuffer value;
    init(value);
    const DataItemHooks hooks = firmware_hooks();
    for (int i = data; i < count; i++) {
        const char* item = i == data ? vector[i] + 1 : vector[i];
        if (!append_data_item(value, item, hooks))
            return report_error(kCommand, "invalid data: use hex bytes (0102), \"ascii\", "
                                          "L\"unicode\" or --DevicePath");
    }

    efi::Status status;
    if (value.length == 0) {
        status = delete_variable(name, guid);
    } else {
        uint32_t attributes = 0;
        if (o.bs) attributes |= efi::kVariableBootserviceAccess;
        if (o.rt) attributes |= efi::kVariableBootserviceAccess | efi::kVariableRuntimeAccess;
        if (o.nv) attributes |= efi::kVariableBootserviceAccess | efi::kVariableNonVolatile;
        if (!attributes) {
            attributes = efi::kVariableBootserviceAccess;
            Owned<char16_t> name16(utf8_to_ucs2(name));
            uint32_t existing = 0;
            if (probe_variable(name16.get(), guid, &existing, nullptr) == efi::kSuccess)
                attributes = existing;
        }
        status = write_variable(name, guid, attributes, value.length, value.data);
    }
    if (efi::is_error(status)) return report_error(kCommand, "%s: %s", name, status_message(status));
    return 0;
}

}  // namespace

void register_setvar_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

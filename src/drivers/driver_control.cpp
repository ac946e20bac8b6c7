// connect, disconnect, reconnect, load, unload: binding drivers to controllers, loading
// and unloading driver images.
#include "drivers/driver_commands.h"
#include "drivers/handle_info.h"
#include "drivers/handle_table.h"
#include "drivers/pe_debug_name.h"
#include "fs/blocks.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "platform/secure_boot.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/line_editor.h"
#include "shell/registry.h"
#include "uefi/driver_model.h"
#include "uefi/guids.h"
#include "vars/variable_access.h"

namespace tarn {
namespace {

int connect_command(int count, char** vector);
int disconnect_command(int count, char** vector);
int reconnect_command(int count, char** vector);
int load_command(int count, char** vector);
int unload_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"connect", connect_command, "connect [-r] [-c] [[DRIVER] CONTROLLER]", "Connect drivers to controllers",
     "  Without handles, connects every driver to every controller.\n"
     "  CONTROLLER          connects the drivers that support it\n"
     "  DRIVER CONTROLLER   connects only that driver\n"
     "  -r   also the children the drivers make, and theirs\n"
     "  -c   the console devices named by ConIn, ConOut and ErrOut\n",
     0},
    {"disconnect", disconnect_command, "disconnect CONTROLLER [DRIVER [CHILD]] | disconnect -r",
     "Disconnect drivers from a controller",
     "  Stops the drivers managing CONTROLLER (only DRIVER; only its CHILD).\n"
     "  -r   disconnects every controller, then connects the consoles again\n",
     0},
    {"reconnect", reconnect_command, "reconnect CONTROLLER [DRIVER [CHILD]] | reconnect -r",
     "Disconnect and connect again",
     "  Disconnects as disconnect does, then connects the controller again (recursively).\n"
     "  -r   disconnects every controller and connects everything again\n",
     0},
    {"load", load_command, "load [-nc] FILE...", "Load and start UEFI drivers",
     "  Loads each driver image (wildcards allowed) and starts it; then connects\n"
     "  every controller once, unless -nc. Applications are refused.\n",
     0},
    {"unload", unload_command, "unload [-n] [-v] HANDLE", "Unload a driver image",
     "  Asks before unloading the image on HANDLE.\n"
     "  -n   do not ask\n"
     "  -v   show the handle's details first\n",
     0},
};

constexpr Option<DriverArgs> kConnectRows[] = {
    switch_option("r", &DriverArgs::r, kOptionAnyCase), switch_option("c", &DriverArgs::c, kOptionAnyCase),
    value_option("l", &DriverArgs::l, kOptionAnyCase), ignored_option<DriverArgs>("b", kOptionAnyCase),
};
constexpr Option<DriverArgs> kDisconnectRows[] = {
    switch_option("r", &DriverArgs::r, kOptionAnyCase), value_option("l", &DriverArgs::l, kOptionAnyCase),
    ignored_option<DriverArgs>("b", kOptionAnyCase),
};
constexpr Option<DriverArgs> kLoadRows[] = {
    switch_option("nc", &DriverArgs::nc, kOptionAnyCase), ignored_option<DriverArgs>("b", kOptionAnyCase),
};
constexpr Option<DriverArgs> kUnloadRows[] = {
    switch_option("n", &DriverArgs::n, kOptionAnyCase), switch_option("v", &DriverArgs::v, kOptionAnyCase),
    switch_option("verbose", &DriverArgs::v, kOptionAnyCase), value_option("l", &DriverArgs::l, kOptionAnyCase),
    ignored_option<DriverArgs>("b", kOptionAnyCase),
};

constexpr int kConsoleRounds = 32;
constexpr uint64_t kMaxConsolePath = 64 * 1024;

// The volume and block tables follow the firmware's handles again, as `map -r` does.
void rescan_storage() {
    rescan_volumes_keep_directory();
    rescan_block_devices();
}

void connect_all() {
    efi::BootServices* bs = boot_services();
    uint64_t n = 0;
    efi::Handle* list = nullptr;
    if (efi::is_error(bs->locate_handle_buffer(efi::kAllHandles, nullptr, nullptr, &n, &list)) || !list) return;
    for (uint64_t i = 0; i < n; i++) (void)bs->connect_controller(list[i], nullptr, nullptr, 1);
    bs->free_pool(list);
}

void disconnect_all() {
    efi::BootServices* bs = boot_services();
    uint64_t n = 0;
    efi::Handle* list = nullptr;
    if (efi::is_error(bs->locate_handle_buffer(efi::kAllHandles, nullptr, nullptr, &n, &list)) || !list) return;
    for (uint64_t i = 0; i < n; i++) (void)bs->disconnect_controller(list[i], nullptr, nullptr);
    bs->free_pool(list);
}

uint16_t node_size(const uint8_t* node) { return static_cast<uint16_t>(node[2] | (node[3] << 8)); }

// Connects the handles along one device path instance (end node included in path).
void connect_instance(uint8_t* path) {
    efi::BootServices* bs = boot_services();
    efi::Handle previous = nullptr;
    for (int round = 0; round < kConsoleRounds; round++) {
        auto* remaining = reinterpret_cast<efi::DevicePath*>(path);
        efi::Handle handle = nullptr;
        if (efi::is_error(bs->locate_device_path(&efi::kDevicePathProtocolGuid, &remaining, &handle)) || !handle)
            return;
        if (remaining->type == efi::kEndDevicePath) {
            (void)bs->connect_controller(handle, nullptr, nullptr, 1);
            return;
        }
        if (handle == previous) return;
        (void)bs->connect_controller(handle, nullptr, remaining, 0);
        previous = handle;
    }
}

void connect_console_variable(const char* name) {
    VariableData data;
    if (read_variable(name, efi::kGlobalVariableGuid, &data) != efi::kSuccess || data.size < 4 ||
        data.size > kMaxConsolePath)
        return;
    // Each instance is copied with an end-of-path node after it.
    Owned<uint8_t> instance(static_cast<uint8_t*>(xallocate(data.size + 4)));
    uint64_t start = 0, at = 0;
    while (at + 4 <= data.size) {
        const uint8_t* node = data.bytes + at;
        const uint16_t length = node_size(node);
        if (length < 4 || at + length > data.size) return;
        if (node[0] == efi::kEndDevicePath) {
            const uint64_t n = at - start;
            memcpy(instance.get(), data.bytes + start, n);
            const uint8_t end[4] = {efi::kEndDevicePath, efi::kEndEntireSubType, 4, 0};
            memcpy(instance.get() + n, end, 4);
            if (n) connect_instance(instance.get());
            if (node[1] == efi::kEndEntireSubType) return;
            start = at + length;
        }
        at += length;
    }
}

void connect_consoles() {
    connect_console_variable("ConIn");
    connect_console_variable("ConOut");
    connect_console_variable("ErrOut");
}

int result_line(const char* verb, efi::Handle controller, efi::Handle driver, efi::Status status) {
    if (driver)
        out_printf("%s - Handle [%X] Driver [%X] Result %s.\n", verb, static_cast<unsigned>(handle_number(controller)),
                   static_cast<unsigned>(handle_number(driver)), result_text(status));
    else
        out_printf("%s - Handle [%X] Result %s.\n", verb, static_cast<unsigned>(handle_number(controller)),
                   result_text(status));
    return efi::is_error(status) ? kExitFailure : kExitSuccess;
}

efi::Handle driver_argument(const char* command, const char* text) {
    efi::Handle h = handle_argument(command, text);
    if (h && !is_driver(h)) {
        report_error(command, "%s is not a driver", text);
        return nullptr;
    }
    return h;
}

int connect_command(int count, char** vector) {
    DriverArgs a;
    int first = 0;
    const int n = parse_driver_args(count, vector, kConnectRows, &a, &first);
    if (n < 0) return kExitUsage;
    if (n > 2) return report_usage(vector[0]);
    efi::Handle driver = nullptr, controller = nullptr;
    if (n == 2 && (!(driver = driver_argument(vector[0], vector[first])) ||
                   !(controller = handle_argument(vector[0], vector[first + 1]))))
        return kExitFailure;
    if (n == 1 && !(controller = handle_argument(vector[0], vector[first]))) return kExitFailure;
    if (a.c) {
        connect_consoles();
        out_text("Console devices connected.\n");
    }
    if (n == 0) {
        if (!a.c) connect_all();
        rescan_storage();
        return kExitSuccess;
    }
    efi::Handle list[2] = {driver, nullptr};
    efi::Status st = boot_services()->connect_controller(controller, driver ? list : nullptr, nullptr, a.r ? 1 : 0);
    const int code = result_line("Connect", controller, driver, st);
    rescan_storage();
    return code;
}

int disconnect_or_reconnect(int count, char** vector, bool reconnect) {
    DriverArgs a;
    int first = 0;
    const int n = parse_driver_args(count, vector, kDisconnectRows, &a, &first);
    if (n < 0) return kExitUsage;
    if (n > 3 || (n == 0 && !a.r)) return report_usage(vector[0]);
    if (n == 0) {
        disconnect_all();
        if (reconnect) connect_all();
        else connect_consoles();
        rescan_storage();
        out_printf("All controllers %s.\n", reconnect ? "reconnected" : "disconnected (consoles reconnected)");
        return kExitSuccess;
    }
    efi::Handle controller = handle_argument(vector[0], vector[first]);
    if (!controller) return kExitFailure;
    efi::Handle driver = nullptr, child = nullptr;
    if (n >= 2 && !(driver = driver_argument(vector[0], vector[first + 1]))) return kExitFailure;
    if (n == 3 && !(child = handle_argument(vector[0], vector[first + 2]))) return kExitFailure;
    efi::BootServices* bs = boot_services();
    efi::Status st = bs->disconnect_controller(controller, driver, child);
    int code = result_line("Disconnect", controller, driver, st);
    if (reconnect && !efi::is_error(st)) {
        efi::Handle list[2] = {driver, nullptr};
        st = bs->connect_controller(controller, driver ? list : nullptr, nullptr, 1);
        code = result_line("Connect", controller, driver, st);
    }
    rescan_storage();
    return code;
}

int disconnect_command(int count, char** vector) { return disconnect_or_reconnect(count, vector, false); }
int reconnect_command(int count, char** vector) { return disconnect_or_reconnect(count, vector, true); }

enum class LoadOutcome { kFailed, kRefused, kStarted };

LoadOutcome load_one(const char* command, const char* path) {
    char* raw = nullptr;
    uint64_t size = 0;
    ShellError e = read_whole_file(path, &raw, &size);
    Owned<char> bytes(raw);
    if (e != kOk) {
        report_error(command, "%s: %s", path, error_message(e));
        return LoadOutcome::kFailed;
    }
    efi::DevicePath* raw_path = nullptr;
    if (file_device_path(path, &raw_path) != kOk) raw_path = nullptr;
    Owned<efi::DevicePath> device_path(raw_path);
    efi::BootServices* bs = boot_services();
    efi::Handle image = nullptr;
    efi::Status st = bs->load_image(0, firmware().image, device_path.get(), bytes.get(), size, &image);
    if (efi::is_error(st)) {
        if (image) (void)bs->unload_image(image);
        // The firmware refuses a corrupt file with the same status as an unsigned one
        // while Secure Boot is active; only a file that is an image is called unsigned.
        const bool unsigned_image =
            refused_by_secure_boot(st) && pe_headers_present(reinterpret_cast<const uint8_t*>(bytes.get()), size);
        report_error(command, "%s: %s", path,
                     unsigned_image ? "not allowed by Secure Boot (the driver is not signed by a trusted key)"
                                    : status_message(st));
        return LoadOutcome::kFailed;
    }
    auto* li = static_cast<efi::LoadedImage*>(protocol_on(image, efi::kLoadedImageProtocolGuid));
    if (!li || li->image_code_type == efi::kLoaderCode) {
        (void)bs->unload_image(image);
        report_error(command, "%s is an application, not a driver: run it by typing its name", path);
        return LoadOutcome::kRefused;
    }
    const uint64_t base = reinterpret_cast<uint64_t>(li->image_base);
    st = bs->start_image(image, nullptr, nullptr);
    out_printf("Image '%s' loaded at 0x%llx - %s\n", path, static_cast<unsigned long long>(base), result_text(st));
    return efi::is_error(st) ? LoadOutcome::kFailed : LoadOutcome::kStarted;
}

int load_command(int count, char** vector) {
    DriverArgs a;
    int first = 0;
    if (parse_driver_args(count, vector, kLoadRows, &a, &first) < 0) return kExitUsage;
    if (first >= count) return report_usage(vector[0]);
    int failures = 0, started = 0;
    for (int i = first; i < count; i++) {
        Owned<char> resolved(resolve_path(vector[i]));
        PathList paths;
        if (resolved && has_wildcard(vector[i])) {
            if (expand_pattern(resolved.get(), paths) != 0) paths.clear();
        } else if (resolved) {
            paths.add(resolved.take());
        }
        if (paths.count == 0) {
            report_error(vector[0], "%s: invalid path", vector[i]);
            failures++;
            continue;
        }
        for (uint64_t k = 0; k < paths.count; k++) {
            if (poll_break()) return kExitInterrupted;
            LoadOutcome o = load_one(vector[0], paths[k]);
            if (o == LoadOutcome::kStarted) started++;
            else failures++;
        }
    }
    if (started && !a.nc) {
        connect_all();
        rescan_storage();
    }
    return failures ? kExitFailure : kExitSuccess;
}

int unload_command(int count, char** vector) {
    DriverArgs a;
    int first = 0;
    const int n = parse_driver_args(count, vector, kUnloadRows, &a, &first);
    if (n < 0) return kExitUsage;
    if (n != 1) return report_usage(vector[0]);
    efi::Handle h = handle_argument(vector[0], vector[first]);
    if (!h) return kExitFailure;
    if (!has_protocol(h, efi::kLoadedImageProtocolGuid))
        return report_error(vector[0], "handle %s is not an image", vector[first]);
    if (h == firmware().image) return report_error(vector[0], "TARN cannot unload itself (use exit)");
    const unsigned number = static_cast<unsigned>(handle_number(h));
    if (a.v) print_handle_details(h, a.l);
    if (!a.n) {
        Owned<char> name(image_name(h));
        Owned<char> prompt(format_string("Unload handle %X (%s)? [y/N] ", number, name.get()));
        Owned<char> answer(read_line(prompt.get(), false));
        if (!answer || !(equal_nocase(answer.get(), "y") || equal_nocase(answer.get(), "yes"))) {
            out_text("Cancelled.\n");
            return kExitFailure;
        }
    }
    efi::Status st = boot_services()->unload_image(h);
    out_printf("Unload - Handle [%X] Result %s.\n", number,
               st == efi::kUnsupported ? "not supported: the driver cannot be unloaded" : result_text(st));
    rescan_storage();
    return efi::is_error(st) ? kExitFailure : kExitSuccess;
}

}  // namespace

void register_driver_control_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

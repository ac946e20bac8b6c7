// dh, drivers, devices, devtree, openinfo: views of the firmware's handle database.
#include "drivers/driver_commands.h"
#include "drivers/handle_info.h"
#include "drivers/handle_table.h"
#include "drivers/protocol_names.h"
#include "fs/volumes.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/sort.h"
#include "runtime/strings.h"
#include "shell/registry.h"
#include "uefi/driver_model.h"
#include "uefi/guids.h"

namespace tarn {
namespace {

int dh_command(int count, char** vector);
int drivers_command(int count, char** vector);
int devices_command(int count, char** vector);
int devtree_command(int count, char** vector);
int openinfo_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"dh", dh_command, "dh [-d|-v] [-p PROTOCOL] [-l LANG] [HANDLE]", "Show the handle database",
     "  Lists every handle with the names of its protocols, or the details of HANDLE.\n"
     "  -d, -v       details of every handle (device paths, images, drivers, disks)\n"
     "  -p PROTOCOL  only handles with this protocol (a name like BlockIo, or a GUID)\n"
     "  -l LANG      language of driver names\n"
     "  Handle numbers are hexadecimal and stay the same while the shell runs.\n",
     kCommandStructuredOutput},
    {"drivers", drivers_command, "drivers [-l LANG]", "List the UEFI drivers",
     "  One line per driver: handle, version, type (B bus, D device), configuration\n"
     "  and diagnostics support, managed controllers, children, name and image name.\n",
     kCommandStructuredOutput},
    {"devices", devices_command, "devices [-l LANG]", "List the devices",
     "  One line per device: handle, type (R root, B bus, D device), configuration and\n"
     "  diagnostics support of its drivers, parents, drivers, children and name.\n",
     kCommandStructuredOutput},
    {"devtree", devtree_command, "devtree [-d] [-l LANG] [HANDLE]", "Show the tree of devices",
     "  From the root devices (or HANDLE) down through the children drivers made.\n"
     "  -d   device paths instead of names\n",
     0},
    {"openinfo", openinfo_command, "openinfo HANDLE", "Show who has the protocols of a handle open",
     "  For each protocol on HANDLE, every opener: driver, controller, count and the way\n"
     "  it is open, with the driver's image name.\n",
     0},
};

constexpr Option<DriverArgs> kDhRows[] = {
    switch_option("d", &DriverArgs::d, kOptionAnyCase), switch_option("v", &DriverArgs::v, kOptionAnyCase),
    switch_option("verbose", &DriverArgs::v, kOptionAnyCase), value_option("p", &DriverArgs::p, kOptionAnyCase),
    value_option("l", &DriverArgs::l, kOptionAnyCase), ignored_option<DriverArgs>("b", kOptionAnyCase),
};
constexpr Option<DriverArgs> kLanguageRows[] = {
    value_option("l", &DriverArgs::l, kOptionAnyCase), ignored_option<DriverArgs>("b", kOptionAnyCase),
};
constexpr Option<DriverArgs> kDevtreeRows[] = {
    switch_option("d", &DriverArgs::d, kOptionAnyCase), value_option("l", &DriverArgs::l, kOptionAnyCase),
    ignored_option<DriverArgs>("b", kOptionAnyCase),
};
constexpr Option<DriverArgs> kPlainRows[] = {ignored_option<DriverArgs>("b", kOptionAnyCase)};

constexpr int kNameColumns = 35;
constexpr int kTreeDepth = 32;
constexpr int kTreeProtocols = 4;

const char* code_type_text(uint32_t type) {
    switch (type) {
    case efi::kLoaderCode: return "application";
    case efi::kBootServicesCode: return "boot driver";
    case efi::kRuntimeServicesCode: return "runtime driver";
    default: return "unknown";
    }
}

// The protocols of a handle (ProtocolsPerHandle), freed at scope end.
struct ProtocolList {
    efi::Guid** guids = nullptr;
    uint64_t count = 0;
    explicit ProtocolList(efi::Handle handle) {
        efi::BootServices* bs = boot_services();
        if (!bs || efi::is_error(bs->protocols_per_handle(handle, &guids, &count)) || !guids) {
            guids = nullptr;
            count = 0;
        }
    }
    ~ProtocolList() {
        if (guids) boot_services()->free_pool(guids);
    }
    ProtocolList(const ProtocolList&) = delete;
    ProtocolList& operator=(const ProtocolList&) = delete;
};

// A handle's name for the details header and the records: the driver's name, the
// image's name, or the name a managing driver gives the device; null when none.
char* handle_name(const HandleSnapshot* s, efi::Handle handle, const char* language) {
    if (is_driver(handle)) {
        if (char* name = driver_name(handle, language)) return name;
    }
    if (has_protocol(handle, efi::kLoadedImageProtocolGuid)) {
        char* name = image_name(handle);
        if (*name) return name;
        release(name);
        return nullptr;
    }
    if (!s) return nullptr;
    HandleList drivers;
    managing_drivers(*s, handle, drivers);
    if (drivers.empty()) return nullptr;
    char* name = device_name(*s, handle, language);
    char* path = device_path_text(handle);
    const bool same = equal(name, path);
    release(path);
    if (same || !*name) {
        release(name);
        return nullptr;
    }
    return name;
}

void protocol_names_joined(efi::Handle handle, StringBuffer& out) {
    ProtocolList list(handle);
    for (uint64_t i = 0; i < list.count; i++) {
        char text[kProtocolTextSize];
        protocol_text(*list.guids[i], text);
        if (i) append_char(out, ' ');
        append_text(out, text);
    }
}

void print_protocol_details(efi::Handle handle, const efi::Guid& guid, const char* language) {
    if (guid == efi::kDevicePathProtocolGuid) {
        Owned<char> text(device_path_text(handle));
        out_printf("      %s\n", text.get());
    } else if (guid == efi::kLoadedImageProtocolGuid) {
        auto* li = static_cast<efi::LoadedImage*>(protocol_on(handle, guid));
        if (!li) return;
        Owned<char> name(image_name(handle));
        Owned<char> file(path_text(li->file_path));
        out_printf("      Name: %s  File: %s\n", name.get(), file.get());
        out_printf("      Base: 0x%llx  Size: 0x%llx  Code: %s  Parent: %X  Device: %X\n",
                   static_cast<unsigned long long>(reinterpret_cast<uint64_t>(li->image_base)),
                   static_cast<unsigned long long>(li->image_size), code_type_text(li->image_code_type),
                   static_cast<unsigned>(handle_number(li->parent_handle)),
                   static_cast<unsigned>(handle_number(li->device_handle)));
    } else if (guid == efi::kDriverBindingProtocolGuid) {
        auto* binding = static_cast<efi::DriverBinding*>(protocol_on(handle, guid));
        if (!binding) return;
        Owned<char> name(driver_name(handle, language));
        out_printf("      Version: 0x%X  Image: %X  Name: %s\n", binding->version,
                   static_cast<unsigned>(handle_number(binding->image_handle)),
                   name ? name.get() : "<unknown>");
    } else if (guid == efi::kBlockIoProtocolGuid) {
        auto* block = static_cast<efi::BlockIo*>(protocol_on(handle, guid));
        if (!block || !block->media) return;
        const efi::BlockIoMedia& m = *block->media;
        const uint64_t blocks = m.last_block + 1;
        const uint64_t mib = blocks ? (blocks * m.block_size) >> 20 : 0;
        out_printf("      %s%s%s, block size %u, %llu blocks (%llu MiB)\n", m.removable_media ? "removable " : "",
                   m.logical_partition ? "partition" : "disk", m.read_only ? ", read-only" : "", m.block_size,
                   static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(mib));
    } else if (guid == efi::kSimpleFileSystemProtocolGuid) {
        const int index = volume_of_handle(handle);
        const Volume* v = index >= 0 ? volume_at(index) : nullptr;
        if (v) out_printf("      Volume %s: \"%s\"\n", v->name, v->label);
    }
}

void handle_record(efi::Handle handle, const HandleSnapshot* s, bool with_path, const char* language) {
    record_begin();
    record_field("handle", "%X", static_cast<unsigned>(handle_number(handle)));
    Owned<char> name(handle_name(s, handle, language));
    record_field("name", "%s", name ? name.get() : "");
    StringBuffer protocols;
    protocol_names_joined(handle, protocols);
    record_field("protocols", "%s", protocols.c_str());
    if (with_path) {
        Owned<char> path(device_path_text(handle));
        record_field("devicepath", "%s", path.get());
    }
}

void details(efi::Handle handle, const HandleSnapshot* s, const char* language) {
    Owned<char> name(handle_name(s, handle, language));
    out_printf("Handle %X (%p)%s%s\n", static_cast<unsigned>(handle_number(handle)), handle, name ? " " : "",
               name ? name.get() : "");
    ProtocolList list(handle);
    for (uint64_t i = 0; i < list.count; i++) {
        char text[kProtocolTextSize];
        protocol_text(*list.guids[i], text);
        out_printf("   %s\n", text);
        print_protocol_details(handle, *list.guids[i], language);
    }
}

int dh_command(int count, char** vector) {
    DriverArgs a;
    int first = 0;
    const int n = parse_driver_args(count, vector, kDhRows, &a, &first);
    if (n < 0) return kExitUsage;
    if (n > 1) return report_usage(vector[0]);
    HandleSnapshot s;
    if (n == 1) {
        efi::Handle h = handle_argument(vector[0], vector[first]);
        if (!h) return kExitFailure;
        if (!s.take()) return report_error(vector[0], "cannot read the handle database");
        if (data_mode()) handle_record(h, &s, true, a.l);
        else details(h, &s, a.l);
        return kExitSuccess;
    }
    efi::Guid wanted{};
    if (a.p && !parse_protocol(a.p, &wanted))
        return report_error(vector[0], "unknown protocol %s (use a name like BlockIo or a GUID)", a.p);
    if (!s.take()) return report_error(vector[0], "cannot read the handle database");
    HandleList shown;
    for (efi::Handle h : s.handles)
        if (!a.p || has_protocol(h, wanted)) shown.push(h);
    if (shown.empty()) {
        if (!data_mode()) out_printf("No handle has the %s protocol.\n", a.p);
        return kExitSuccess;
    }
    stable_sort(shown.data(), shown.size(),
                [](efi::Handle x, efi::Handle y) { return handle_number(x) < handle_number(y); });
    const bool full = a.d || a.v;
    for (efi::Handle h : shown) {
        if (poll_break()) return kExitInterrupted;
        if (data_mode()) {
            handle_record(h, &s, full, a.l);
        } else if (full) {
            details(h, &s, a.l);
        } else {
            StringBuffer line;
            append_format(line, "%3X:", static_cast<unsigned>(handle_number(h)));
            ProtocolList list(h);
            for (uint64_t i = 0; i < list.count; i++) {
                char text[kProtocolTextSize];
                protocol_text(*list.guids[i], text);
                append_format(line, " %s", text);
            }
            append_char(line, '\n');
            out_text(line.c_str());
        }
    }
    return kExitSuccess;
}

void count_field(int n) {
    if (n) out_printf("%2d ", n);
    else out_text(" - ");
}

int drivers_command(int count, char** vector) {
    DriverArgs a;
    int first = 0;
    if (parse_driver_args(count, vector, kLanguageRows, &a, &first) < 0) return kExitUsage;
    HandleSnapshot s;
    if (!s.take()) return report_error(vector[0], "cannot read the handle database");
    const bool data = data_mode();
    if (!data)
        out_text("            T   D\n            Y C I\n            P F A\n"
                 "DRV VERSION E G G #D #C DRIVER NAME                         IMAGE NAME\n"
                 "=== ======= = = = == == =================================== ===================\n");
    for (efi::Handle h : s.handles) {
        if (poll_break()) return kExitInterrupted;
        auto* binding = static_cast<efi::DriverBinding*>(protocol_on(h, efi::kDriverBindingProtocolGuid));
        if (!binding) continue;
        HandleList controllers, children;
        managed_controllers(s, h, controllers);
        driver_children(s, h, children);
        const bool bus = !children.empty();
        const bool config = has_protocol(h, efi::kDriverConfiguration2ProtocolGuid);
        const bool diag = has_protocol(h, efi::kDriverDiagnostics2ProtocolGuid);
        Owned<char> name(driver_name(h, a.l));
        Owned<char> image(image_name(driver_image(h)));
        const char* shown = name ? name.get() : "<unknown>";
        const unsigned number = static_cast<unsigned>(handle_number(h));
        if (data) {
            record_begin();
            record_field("handle", "%X", number);
            record_field("version", "%X", binding->version);
            record_field("type", "%s", bus ? "bus" : "device");
            record_field("config", "%s", config ? "yes" : "no");
            record_field("diag", "%s", diag ? "yes" : "no");
            record_field("controllers", "%llu", static_cast<unsigned long long>(controllers.size()));
            record_field("children", "%llu", static_cast<unsigned long long>(children.size()));
            record_field("name", "%s", shown);
            record_field("image", "%s", image.get());
            continue;
        }
        out_printf("%3X %07X %c %c %c ", number, binding->version, bus ? 'B' : 'D', config ? 'X' : '-',
                   diag ? 'X' : '-');
        count_field(static_cast<int>(controllers.size()));
        count_field(static_cast<int>(children.size()));
        if (strlen(shown) > kNameColumns) out_printf("%.34s~", shown);
        else out_printf("%-35s", shown);
        out_printf(" %s\n", image.get());
    }
    if (!data) out_text("TYPE: B bus driver, D device driver. CFG/DIAG: configuration/diagnostics support.\n");
    return kExitSuccess;
}

int devices_command(int count, char** vector) {
    DriverArgs a;
    int first = 0;
    if (parse_driver_args(count, vector, kLanguageRows, &a, &first) < 0) return kExitUsage;
    HandleSnapshot s;
    if (!s.take()) return report_error(vector[0], "cannot read the handle database");
    const bool data = data_mode();
    if (!data)
        out_text("     T   D\n     Y C I\n     P F A\n"
                 "CTRL E G G #P #D #C Device Name\n"
                 "==== = = = == == == =============================================================\n");
    for (efi::Handle h : s.handles) {
        if (poll_break()) return kExitInterrupted;
        if (!is_device(h)) continue;
        HandleList parents, drivers, children;
        handle_parents(s, h, parents);
        managing_drivers(s, h, drivers);
        controller_children(s, h, nullptr, children);
        bool config = false, diag = false;
        for (efi::Handle d : drivers) {
            config = config || has_protocol(d, efi::kDriverConfiguration2ProtocolGuid);
            diag = diag || has_protocol(d, efi::kDriverDiagnostics2ProtocolGuid);
        }
        const char type = parents.empty() ? 'R' : !children.empty() ? 'B' : 'D';
        Owned<char> name(device_name(s, h, nullptr));
        const unsigned number = static_cast<unsigned>(handle_number(h));
        if (data) {
            record_begin();
            record_field("handle", "%X", number);
            record_field("type", "%s", type == 'R' ? "root" : type == 'B' ? "bus" : "device");
            record_field("config", "%s", config ? "yes" : "no");
            record_field("diag", "%s", diag ? "yes" : "no");
            record_field("parents", "%llu", static_cast<unsigned long long>(parents.size()));
            record_field("drivers", "%llu", static_cast<unsigned long long>(drivers.size()));
            record_field("children", "%llu", static_cast<unsigned long long>(children.size()));
            record_field("name", "%s", name.get());
            continue;
        }
        out_printf("%4X %c %c %c ", number, type, config ? 'X' : '-', diag ? 'X' : '-');
        count_field(static_cast<int>(parents.size()));
        count_field(static_cast<int>(drivers.size()));
        count_field(static_cast<int>(children.size()));
        out_printf("%s\n", name.get());
    }
    if (!data) out_text("TYPE: R root controller, B bus controller, D device. #P parents, #D drivers, #C children.\n");
    return kExitSuccess;
}

struct TreeWalk {
    const HandleSnapshot& s;
    HandleList visited;
    bool paths;
    const char* language;
    bool stopped = false;
};

void tree_line(TreeWalk& w, efi::Handle h, int level) {
    StringBuffer text;
    if (!has_protocol(h, efi::kDevicePathProtocolGuid)) {
        ProtocolList list(h);
        append_char(text, '<');
        for (uint64_t i = 0; i < list.count && i < kTreeProtocols; i++) {
            char name[kProtocolTextSize];
            protocol_text(*list.guids[i], name);
            if (i) append_text(text, ", ");
            append_text(text, name);
        }
        append_char(text, '>');
    } else {
        Owned<char> name(w.paths ? device_path_text(h) : device_name(w.s, h, w.language));
        append_text(text, name.get());
    }
    out_printf("%*sCtrl[%X] %s\n", level * 2, "", static_cast<unsigned>(handle_number(h)), text.c_str());
}

void walk_tree(TreeWalk& w, efi::Handle h, int level) {
    if (w.stopped || contains(w.visited, h)) return;
    if (poll_break()) {
        w.stopped = true;
        return;
    }
    w.visited.push(h);
    tree_line(w, h, level);
    if (level >= kTreeDepth) return;
    HandleList children;
    controller_children(w.s, h, nullptr, children);
    for (efi::Handle c : children) walk_tree(w, c, level + 1);
}

int devtree_command(int count, char** vector) {
    DriverArgs a;
    int first = 0;
    const int n = parse_driver_args(count, vector, kDevtreeRows, &a, &first);
    if (n < 0) return kExitUsage;
    if (n > 1) return report_usage(vector[0]);
    efi::Handle start = nullptr;
    if (n == 1 && !(start = handle_argument(vector[0], vector[first]))) return kExitFailure;
    HandleSnapshot s;
    if (!s.take()) return report_error(vector[0], "cannot read the handle database");
    TreeWalk w{s, HandleList(), a.d, a.l};
    if (start) {
        walk_tree(w, start, 0);
    } else {
        for (efi::Handle h : s.handles) {
            if (!is_device(h)) continue;
            HandleList parents;
            handle_parents(s, h, parents);
            if (parents.empty()) walk_tree(w, h, 0);
        }
    }
    return w.stopped ? kExitInterrupted : kExitSuccess;
}

const char* open_way(uint32_t attributes) {
    if ((attributes & efi::kOpenProtocolByDriver) && (attributes & efi::kOpenProtocolExclusive))
        return "Driver+Exclusive";
    if (attributes & efi::kOpenProtocolExclusive) return "Exclusive";
    if (attributes & efi::kOpenProtocolByDriver) return "Driver";
    if (attributes & efi::kOpenProtocolByChildController) return "Child";
    if (attributes & 0x01) return "HandProt";
    if (attributes & efi::kOpenProtocolGetProtocol) return "GetProt";
    if (attributes & efi::kOpenProtocolTestProtocol) return "TestProt";
    return "Unknown";
}

int openinfo_command(int count, char** vector) {
    DriverArgs a;
    int first = 0;
    const int n = parse_driver_args(count, vector, kPlainRows, &a, &first);
    if (n < 0) return kExitUsage;
    if (n != 1) return report_usage(vector[0]);
    efi::Handle h = handle_argument(vector[0], vector[first]);
    if (!h) return kExitFailure;
    HandleSnapshot s;
    if (!s.take()) return report_error(vector[0], "cannot read the handle database");
    out_printf("Handle %X (%p)\n", static_cast<unsigned>(handle_number(h)), h);
    ProtocolList list(h);
    for (uint64_t i = 0; i < list.count; i++) {
        char text[kProtocolTextSize];
        protocol_text(*list.guids[i], text);
        out_printf("   %s\n", text);
        for (const OpenRecord& r : s.records) {
            if (r.handle != h || !(r.protocol == *list.guids[i])) continue;
            Owned<char> image(image_name(r.agent));
            out_printf("      Drv[%X] Ctrl[%X] Cnt(%u) %-16s %s\n", static_cast<unsigned>(handle_number(r.agent)),
                       static_cast<unsigned>(handle_number(r.controller)), r.open_count, open_way(r.attributes),
                       image.get());
        }
    }
    return kExitSuccess;
}

}  // namespace

efi::Handle handle_argument(const char* command, const char* text) {
    efi::Handle h = parse_handle_number(text);
    if (!h) report_error(command, "%s is not a valid handle number (see dh)", text);
    return h;
}

void print_handle_details(efi::Handle handle, const char* language) {
    HandleSnapshot s;
    details(handle, s.take() ? &s : nullptr, language);
}

const char* result_text(efi::Status status) { return efi::is_error(status) ? status_message(status) : "Success"; }

void register_driver_view_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

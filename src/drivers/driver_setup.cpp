// drvcfg, drvdiag: the configuration and diagnostics protocols of drivers.
#include "drivers/driver_commands.h"
#include "drivers/handle_info.h"
#include "drivers/handle_table.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"
#include "uefi/driver_model.h"

namespace tarn {
namespace {

int drvcfg_command(int count, char** vector);
int drvdiag_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"drvcfg", drvcfg_command, "drvcfg [-c] [-l LANG] [-f TYPE | -v | -s] [DRIVER [CONTROLLER [CHILD]]]",
     "Configure drivers",
     "  Without a mode, lists the drivers with a configuration protocol and their devices.\n"
     "  -s        sets the options (the driver asks)\n"
     "  -v        checks that the options are valid\n"
     "  -f TYPE   forces the defaults: 0 safe defaults, 1 manufacturing defaults\n"
     "  -c        also each child the driver made\n"
     "  -l LANG   the language passed to the driver\n",
     0},
    {"drvdiag", drvdiag_command, "drvdiag [-c] [-l LANG] [-s|-e|-m] [DRIVER [CONTROLLER [CHILD]]]",
     "Run driver diagnostics",
     "  Without a mode, lists the drivers with diagnostics and their devices.\n"
     "  -s   standard tests   -e   extended tests   -m   manufacturing tests\n"
     "  -c   also each child the driver made\n",
     0},
};

constexpr Option<DriverArgs> kConfigRows[] = {
    switch_option("c", &DriverArgs::c, kOptionAnyCase), switch_option("v", &DriverArgs::v, kOptionAnyCase),
    switch_option("verbose", &DriverArgs::v, kOptionAnyCase), switch_option("s", &DriverArgs::s, kOptionAnyCase),
    value_option("l", &DriverArgs::l, kOptionAnyCase), ignored_option<DriverArgs>("b", kOptionAnyCase),
};
constexpr Option<DriverArgs> kDiagRows[] = {
    switch_option("c", &DriverArgs::c, kOptionAnyCase), switch_option("s", &DriverArgs::s, kOptionAnyCase),
    switch_option("e", &DriverArgs::e, kOptionAnyCase), switch_option("m", &DriverArgs::m, kOptionAnyCase),
    value_option("l", &DriverArgs::l, kOptionAnyCase), ignored_option<DriverArgs>("b", kOptionAnyCase),
};

constexpr const char* kActions[] = {"none", "stop the controller", "restart the controller", "restart the platform"};
constexpr uint64_t kMaxMessageUnits = 4096;

struct Triple {
    efi::Handle driver;
    efi::Handle controller;
    efi::Handle child;
};

// The (driver, controller, child) triples whose driver carries protocol, narrowed by the
// handles given (null for none).
void build_triples(const HandleSnapshot& s, const efi::Guid& protocol, efi::Handle driver, efi::Handle controller,
                   efi::Handle child, bool children, Vector<Triple>& out) {
    for (efi::Handle d : s.handles) {
        if ((driver && d != driver) || !has_protocol(d, protocol)) continue;
        HandleList controllers;
        managed_controllers(s, d, controllers);
        for (efi::Handle c : controllers) {
            if (controller && c != controller) continue;
            out.push(Triple{d, c, nullptr});
            if (!children && !child) continue;
            HandleList kids;
            controller_children(s, c, d, kids);
            for (efi::Handle k : kids)
                if (!child || k == child) out.push(Triple{d, c, k});
        }
    }
}

void triple_prefix(const Triple& t) {
    out_printf("Drv[%X] Ctrl[%X]", static_cast<unsigned>(handle_number(t.driver)),
               static_cast<unsigned>(handle_number(t.controller)));
    if (t.child) out_printf(" Child[%X]", static_cast<unsigned>(handle_number(t.child)));
}

void list_triple(const Triple& t, const char* language) {
    triple_prefix(t);
    Owned<char> name(driver_name(t.driver, language));
    out_printf(" %s\n", name ? name.get() : "<unknown>");
}

// Up to three handles narrowing the selection; false after an invalid one was reported.
bool selection(const char* command, int n, char** args, efi::Handle* handles) {
    for (int i = 0; i < 3; i++) handles[i] = nullptr;
    for (int i = 0; i < n && i < 3; i++)
        if (!(handles[i] = handle_argument(command, args[i]))) return false;
    return true;
}

// Takes "-f TYPE" out of the vector. 1 when found (type set), 0 when absent, -1 when the
// type is missing or malformed.
int take_default_type(int& count, char** vector, uint32_t* type) {
    for (int i = 1; i < count; i++) {
        if (!equal_nocase(vector[i], "-f")) continue;
        int64_t value = 0;
        if (i + 1 >= count || !parse_integer_in_range(vector[i + 1], &value) || value < 0 || value > 0xffffffffll) return -1;
        *type = static_cast<uint32_t>(value);
        for (int k = i; k + 2 <= count; k++) vector[k] = vector[k + 2];
        count -= 2;
        return 1;
    }
    return 0;
}

int drvcfg_command(int count, char** vector) {
    uint32_t type = 0;
    const int forced = take_default_type(count, vector, &type);
    if (forced < 0) {
        report_error(vector[0], "-f needs a default type: 0 safe defaults, 1 manufacturing defaults");
        return kExitUsage;
    }
    DriverArgs a;
    int first = 0;
    const int n = parse_driver_args(count, vector, kConfigRows, &a, &first);
    if (n < 0) return kExitUsage;
    if ((forced > 0) + a.v + a.s > 1) {
        report_error(vector[0], "choose only one of -f, -v, -s");
        return kExitUsage;
    }
    efi::Handle h[3];
    if (!selection(vector[0], n, vector + first, h)) return kExitFailure;
    HandleSnapshot s;
    if (!s.take()) return report_error(vector[0], "cannot read the handle database");
    Vector<Triple> triples;
    build_triples(s, efi::kDriverConfiguration2ProtocolGuid, h[0], h[1], h[2], a.c, triples);
    if (triples.empty()) {
        out_text("No driver with a configuration protocol manages the selected devices.\n");
        HandleList forms;
        for (efi::Handle x : s.handles)
            if (has_protocol(x, efi::kHiiConfigAccessProtocolGuid)) forms.push(x);
        if (!forms.empty()) {
            out_printf("%llu handles offer HII configuration forms (set up from the firmware setup menu):",
                       static_cast<unsigned long long>(forms.size()));
            for (efi::Handle x : forms) out_printf(" %X", static_cast<unsigned>(handle_number(x)));
            out_text("\n");
        }
        return kExitSuccess;
    }
    int code = kExitSuccess;
    for (const Triple& t : triples) {
        if (poll_break()) return kExitInterrupted;
        if (!a.s && !a.v && !forced) {
            list_triple(t, a.l);
            continue;
        }
        auto* cfg = static_cast<efi::DriverConfiguration2*>(protocol_on(t.driver, efi::kDriverConfiguration2ProtocolGuid));
        if (!cfg) continue;
        char language[32];
        component_name2_language(cfg->supported_languages, a.l, language, sizeof language);
        uint32_t action = 0;
        efi::Status st;
        if (a.s) st = cfg->set_options(cfg, t.controller, t.child, language, &action);
        else if (a.v) st = cfg->options_valid(cfg, t.controller, t.child);
        else st = cfg->force_defaults(cfg, t.controller, t.child, type, &action);
        triple_prefix(t);
        if (efi::is_error(st)) {
            out_printf(" %s\n", status_message(st));
            code = kExitFailure;
        } else if (!a.v && action >= 1 && action <= 3) {
            out_printf(" done, action required: %s\n", kActions[action]);
        } else {
            out_printf(" %s\n", a.v ? "options valid" : "done");
        }
    }
    return code;
}

int drvdiag_command(int count, char** vector) {
    DriverArgs a;
    int first = 0;
    const int n = parse_driver_args(count, vector, kDiagRows, &a, &first);
    if (n < 0) return kExitUsage;
    if (a.s + a.e + a.m > 1) {
        report_error(vector[0], "choose only one of -s, -e, -m");
        return kExitUsage;
    }
    efi::Handle h[3];
    if (!selection(vector[0], n, vector + first, h)) return kExitFailure;
    HandleSnapshot s;
    if (!s.take()) return report_error(vector[0], "cannot read the handle database");
    Vector<Triple> triples;
    build_triples(s, efi::kDriverDiagnostics2ProtocolGuid, h[0], h[1], h[2], a.c, triples);
    if (triples.empty()) {
        out_text("No driver with diagnostics manages the selected devices.\n");
        return kExitSuccess;
    }
    const bool run = a.s || a.e || a.m;
    const uint32_t type = a.e ? 1 : a.m ? 2 : 0;
    int code = kExitSuccess;
    for (const Triple& t : triples) {
        if (poll_break()) return kExitInterrupted;
        if (!run) {
            list_triple(t, a.l);
            continue;
        }
        auto* diag = static_cast<efi::DriverDiagnostics2*>(protocol_on(t.driver, efi::kDriverDiagnostics2ProtocolGuid));
        if (!diag) continue;
        char language[32];
        component_name2_language(diag->supported_languages, a.l, language, sizeof language);
        efi::Guid* error_type = nullptr;
        uint64_t size = 0;
        efi::Char16* buffer = nullptr;
        efi::Status st = diag->run_diagnostics(diag, t.controller, t.child, type, language, &error_type, &size, &buffer);
        triple_prefix(t);
        out_printf(" %s\n", efi::is_error(st) ? status_message(st) : "passed");
        if (efi::is_error(st)) code = kExitFailure;
        if (buffer) {
            Owned<char> message(bounded_ucs2(buffer, size / 2 && size / 2 < kMaxMessageUnits ? size / 2 : kMaxMessageUnits));
            out_printf("    %s\n", message.get());
            boot_services()->free_pool(buffer);
        }
    }
    return code;
}

}  // namespace

void register_driver_setup_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

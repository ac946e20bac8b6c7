// bootmgr: the shell's own manager of the firmware's boot and driver entries. Every
// change goes through the change plan: shown, confirmed, backed up, written.
#include "boot/boot_module.h"
#include "boot/change_plan.h"
#include "boot/load_option.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/firmware.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/executor.h"
#include "shell/options.h"
#include "shell/registry.h"
#include "uefi/guids.h"
#include "uefi/protocols.h"
#include "vars/variable_access.h"
#include "vars/variable_text.h"

namespace tarn {
namespace {

int bootmgr_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"bootmgr", bootmgr_command, "bootmgr [SUBCOMMAND] [OPTIONS]", "Manage the UEFI boot entries",
     "  bootmgr [list] [-v]                 entries in boot order, with their flags\n"
     "  bootmgr add FILE \"DESC\" [ARGS...] [-t] [-f]\n"
     "                                      new active entry (-t: first in the order)\n"
     "  bootmgr del|rm ID                   deletes an entry\n"
     "  bootmgr enable|disable ID           sets or clears the active flag\n"
     "  bootmgr edit ID [-D DESC] [-a ARGS] [-F FILE] [-f]\n"
     "  bootmgr order [ID,ID,...]           shows or sets the boot order\n"
     "  bootmgr top ID                      puts an entry first in the order\n"
     "  bootmgr next [ID] [-d]              shows, sets or clears BootNext\n"
     "  bootmgr timeout [SECONDS]           shows or sets the boot menu timeout\n"
     "  bootmgr backup FILE                 saves every boot variable to FILE\n"
     "  bootmgr restore FILE                writes the boot variables of a backup back\n"
     "  bootmgr check                       entries whose device or file is gone\n"
     "  -driver  work on the Driver entries  -n  show the plan, write nothing\n"
     "  -y  do not ask                       -B  no automatic backup in \\tarn\\backup\n"
     "  ID: 0003, 3, Boot0003. Every change is listed, confirmed and backed up first.\n",
     kCommandStructuredOutput},
};

const char* const kCommand = "bootmgr";
constexpr int kMaxPositionals = 64;
constexpr int kDarkGrey = 8;
constexpr int kBrightWhite = 15;

struct BootmgrOptions {
    bool dry_run = false, yes = false, no_backup = false, verbose = false, top = false,
         force = false, clear = false;
    const char* description = nullptr;
    const char* args = nullptr;
    const char* file = nullptr;
};

constexpr uint8_t kAtEnd = kOptionPositionalAtEnd;
constexpr Option<BootmgrOptions> kOptions[] = {
    switch_option("n", &BootmgrOptions::dry_run),
    switch_option("y", &BootmgrOptions::yes),
    switch_option("B", &BootmgrOptions::no_backup),
    switch_option("v", &BootmgrOptions::verbose),
    switch_option("t", &BootmgrOptions::top),
    switch_option("f", &BootmgrOptions::force),
    switch_option("d", &BootmgrOptions::clear),
    value_option("D", &BootmgrOptions::description, kAtEnd),
    value_option("a", &BootmgrOptions::args, kAtEnd),
    value_option("F", &BootmgrOptions::file, kAtEnd),
};

// One invocation: switches, the positionals after the subcommand, and the family.
struct Request {
    BootmgrOptions o;
    char* positionals[kMaxPositionals];
    int count = 0;
    const char* prefix = "Boot";
    const char* order = "BootOrder";
    bool boot_family() const { return equal(prefix, "Boot"); }
};

void prepare_plan(ChangePlan& plan, const Request& r) {
    plan.dry_run = r.o.dry_run;
    plan.assume_yes = r.o.yes;
    plan.no_backup = r.o.no_backup;
}

char* format_text(const char* format, ...) TARN_PRINTF(1, 2);
char* format_text(const char* format, ...) {
    StringBuffer text;
    va_list args;
    va_start(args, format);
    append_vformat(text, format, args);
    va_end(args);
    return take(text);
}

void show_in_colour(const char* text, int foreground) {
    if (is_redirected()) return out_text(text);
    const int32_t saved = console_attribute();
    set_colour(foreground, (saved >> 4) & 7);
    out_text(text);
    console_set_raw_attribute(saved);
}

bool contains(const Vector<uint32_t>& numbers, uint32_t n) {
    for (uint32_t v : numbers)
        if (v == n) return true;
    return false;
}

void remove_number(Vector<uint32_t>& numbers, uint32_t n) {
    for (size_t i = numbers.size(); i > 0; i--)
        if (numbers[i - 1] == n) numbers.remove_at(i - 1);
}

// The one ID of del, enable, edit, top, next: it must parse and name an existing variable.
bool entry_argument(const Request& r, const char* prefix, uint32_t* number, LoadOption* option) {
    if (r.count != 1 || !parse_option_id(r.positionals[0], number)) {
        print_error("bootmgr: an entry number is required (e.g. 0003)\n");
        return false;
    }
    if (!read_load_option(prefix, *number, option)) {
        print_error("bootmgr: %s%04X does not exist\n", prefix, *number);
        return false;
    }
    return true;
}

// The file of add and edit -F, resolved, checked and as its full device path.
bool file_argument(const char* typed, bool force, const char* verb, Owned<uint8_t>* path,
                   uint64_t* length) {
    Owned<char> resolved(resolve_path(typed));
    FileStat st{};
    if (!resolved || file_stat(resolved.get(), &st) != kOk || st.is_directory) {
        report_error(kCommand, "%s: file not found", typed);
        return false;
    }
    const char* problem = check_efi_executable(resolved.get());
    if (problem && !force) {
        report_error(kCommand, "%s: %s (use -f to %s)", typed, problem, verb);
        return false;
    }
    efi::DevicePath* full = nullptr;
    uint64_t size = 0;
    if (file_device_path(resolved.get(), &full) == kOk && full) {
        path->reset(reinterpret_cast<uint8_t*>(full));
        size = device_path_size(path->get(), allocation_size(path->get()));
    }
    if (size == 0) {
        report_error(kCommand, "cannot build the device path of %s", typed);
        return false;
    }
    *length = size;
    return true;
}

// ---- list

struct Settings {
    bool has_current = false, has_next = false, has_timeout = false;
    uint32_t current = 0, next = 0, timeout = 0;
};

Settings read_settings() {
    Settings s;
    s.has_current = read_u16_variable("BootCurrent", &s.current);
    s.has_next = read_u16_variable("BootNext", &s.next);
    s.has_timeout = read_u16_variable("Timeout", &s.timeout);
    return s;
}

void entry_record(const Request& r, const Settings& s, uint32_t number, int position,
                  const LoadOption& o) {
    const bool boot = r.boot_family();
    Owned<char> path(device_path_text(o.device_path, o.device_path_length));
    Owned<char> args(format_optional_data(o));
    record_begin();
    record_field("kind", "entry");
    record_field("id", "%04X", number);
    record_field("variable", "%s%04X", r.prefix, number);
    if (position > 0) record_field("order", "%d", position);
    else record_field("order", "%s", "");
    record_field("active", "%s", o.attributes & kLoadOptionActive ? "yes" : "no");
    record_field("hidden", "%s", o.attributes & kLoadOptionHidden ? "yes" : "no");
    record_field("current", "%s", boot && s.has_current && s.current == number ? "yes" : "no");
    record_field("next", "%s", boot && s.has_next && s.next == number ? "yes" : "no");
    record_field("description", "%s", o.description);
    record_field("devpath", "%s", path.get());
    record_field("args", "%s", args.get());
}

void entry_line(const Request& r, const Settings& s, uint32_t number, int position,
                const LoadOption& o) {
    const bool boot = r.boot_family();
    const bool active = (o.attributes & kLoadOptionActive) != 0;
    const bool current = boot && s.has_current && s.current == number;
    const bool next = boot && s.has_next && s.next == number;
    if (position > 0) out_printf("%3d", position);
    else out_text("  -");
    out_printf("  %04X  %c%c%c  ", number, active ? 'A' : '-',
               o.attributes & kLoadOptionHidden ? 'H' : ' ', current ? '*' : next ? 'N' : ' ');
    Owned<char> description(format_text("%s\n", o.description));
    if (!active) show_in_colour(description.get(), kDarkGrey);
    else if (current) show_in_colour(description.get(), kBrightWhite);
    else out_text(description.get());
    if (o.device_path_length) {
        Owned<char> path(device_path_text(o.device_path, o.device_path_length));
        Owned<char> line(format_text("                 %s\n", path.get()));
        show_in_colour(line.get(), kDarkGrey);
    }
    if (o.optional_length) {
        Owned<char> args(format_optional_data(o));
        if (r.o.verbose || args[0] != '<') out_printf("                 args: %s\n", args.get());
    }
}

int bootmgr_list(const Request& r) {
    Vector<uint32_t> order, existing;
    read_order(r.order, order);
    list_option_numbers(r.prefix, existing);
    Settings s;
    if (r.boot_family()) s = read_settings();
    const bool data = data_mode();
    if (r.boot_family()) {
        if (data) {
            record_begin();
            record_field("kind", "settings");
            if (s.has_current) record_field("bootcurrent", "%04X", s.current);
            else record_field("bootcurrent", "%s", "");
            if (s.has_next) record_field("bootnext", "%04X", s.next);
            else record_field("bootnext", "%s", "");
            if (s.has_timeout) record_field("timeout", "%u", s.timeout);
            else record_field("timeout", "%s", "");
        } else {
            char current[8] = "-", next[8] = "-";
            if (s.has_current) format_into(current, sizeof current, "%04X", s.current);
            if (s.has_next) format_into(next, sizeof next, "%04X", s.next);
            out_printf("BootCurrent: %s   BootNext: %s   Timeout: ", current, next);
            if (s.has_timeout) out_printf("%u s\n", s.timeout);
            else out_text("-\n");
        }
    }
    if (!data) out_text("Ord  Id    Flg  Description\n");
    for (size_t p = 0; p < order.size(); p++) {
        LoadOption o;
        if (!contains(existing, order[p])) {
            if (!data)
                out_printf("%3d  %04X  !    <missing: listed in %s but not defined>\n",
                           static_cast<int>(p + 1), order[p], r.order);
            continue;
        }
        if (!read_load_option(r.prefix, order[p], &o)) continue;
        if (data) entry_record(r, s, order[p], static_cast<int>(p + 1), o);
        else entry_line(r, s, order[p], static_cast<int>(p + 1), o);
        if (pager_stopped() || poll_break()) return kExitInterrupted;
    }
    for (uint32_t n : existing) {
        if (contains(order, n)) continue;
        LoadOption o;
        if (!read_load_option(r.prefix, n, &o)) continue;
        if (data) entry_record(r, s, n, 0, o);
        else entry_line(r, s, n, 0, o);
    }
    if (data) return 0;
    if (existing.empty()) out_printf("(no %s entries)\n", r.prefix);
    out_text("Flags: A active, H hidden, * current boot, N next boot. '-' in Ord: not in the "
             "boot order.\n");
    return 0;
}

// ---- add, del, enable, disable, edit

int bootmgr_add(const Request& r) {
    if (r.count < 2)
        return report_error(kCommand,
                            "usage: bootmgr add FILE \"DESCRIPTION\" [ARGS...] [-t] [-n] [-y]");
    Owned<uint8_t> path;
    uint64_t path_length = 0;
    if (!file_argument(r.positionals[0], r.o.force, "add it anyway", &path, &path_length)) return 1;
    Vector<uint32_t> order;
    read_order(r.order, order);
    uint32_t number = 0;
    if (!lowest_free_number(r.prefix, order, &number))
        return report_error(kCommand, "no free entry number");
    StringBuffer args;
    for (int i = 2; i < r.count; i++) {
        if (i > 2) append_char(args, ' ');
        append_text(args, r.positionals[i]);
    }
    Owned<uint8_t> optional;
    uint64_t optional_length = 0;
    if (r.count > 2) optional.reset(text_optional_data(args.c_str(), &optional_length));
    uint64_t size = 0;
    uint8_t* bytes = build_load_option(kLoadOptionActive, r.positionals[1], path.get(),
                                       path_length, optional.get(), optional_length, &size);
    char name[kOptionNameSize];
    option_name(r.prefix, number, name);
    Owned<char> path_text(device_path_text(path.get(), path_length));
    ChangePlan plan;
    prepare_plan(plan, r);
    plan_add(plan, name, bytes, size,
             format_text("create %s \"%s\" -> %s%s%s", name, r.positionals[1], path_text.get(),
                         r.count > 2 ? " args: " : "", args.c_str()));
    if (r.o.top) order.insert_at(0, number);
    else order.push(number);
    plan_set_order(plan, r.order, order.data(), order.size());
    return plan_apply(plan);
}

int bootmgr_del(const Request& r) {
    uint32_t number = 0;
    LoadOption o;
    if (!entry_argument(r, r.prefix, &number, &o)) return 1;
    char name[kOptionNameSize];
    option_name(r.prefix, number, name);
    ChangePlan plan;
    prepare_plan(plan, r);
    plan_add(plan, name, nullptr, 0, format_text("delete %s \"%s\"", name, o.description));
    Vector<uint32_t> order;
    read_order(r.order, order);
    if (contains(order, number)) {
        remove_number(order, number);
        plan_set_order(plan, r.order, order.data(), order.size());
    }
    uint32_t next = 0;
    if (r.boot_family() && read_u16_variable("BootNext", &next) && next == number)
        plan_add(plan, "BootNext", nullptr, 0, xstrdup("delete BootNext"));
    return plan_apply(plan);
}

int write_rebuilt(const Request& r, uint32_t number, uint8_t* bytes, uint64_t size, char* text) {
    char name[kOptionNameSize];
    option_name(r.prefix, number, name);
    ChangePlan plan;
    prepare_plan(plan, r);
    plan_add(plan, name, bytes, size, text);
    return plan_apply(plan);
}

int not_modifiable() {
    return report_error(kCommand, "the entry is not a valid load option and cannot be modified");
}

int bootmgr_enable(const Request& r, bool on) {
    uint32_t number = 0;
    LoadOption o;
    if (!entry_argument(r, r.prefix, &number, &o)) return 1;
    if (!o.valid()) return not_modifiable();
    const uint32_t attributes = on ? o.attributes | kLoadOptionActive
                                   : o.attributes & ~kLoadOptionActive;
    uint64_t size = 0;
    uint8_t* bytes = rebuild_load_option(o, attributes, nullptr, &size);
    char name[kOptionNameSize];
    option_name(r.prefix, number, name);
    return write_rebuilt(r, number, bytes, size,
                         format_text("%s %s \"%s\"", on ? "enable" : "disable", name,
                                     o.description));
}

int bootmgr_edit(const Request& r) {
    uint32_t number = 0;
    LoadOption o;
    if (!entry_argument(r, r.prefix, &number, &o)) return 1;
    if (!o.valid()) return not_modifiable();
    if (!r.o.description && !r.o.args && !r.o.file)
        return report_error(kCommand, "edit: nothing to change (use -D DESC, -a ARGS, -F FILE)");
    char name[kOptionNameSize];
    option_name(r.prefix, number, name);
    StringBuffer text;
    append_format(text, "modify %s:", name);
    const char* description = o.description;
    if (r.o.description) {
        description = r.o.description;
        append_format(text, " description \"%s\"", description);
    }
    const uint8_t* optional = o.optional_data;
    uint64_t optional_length = o.optional_length;
    Owned<uint8_t> new_optional;
    if (r.o.args) {
        append_format(text, " args \"%s\"", r.o.args);
        optional_length = 0;
        if (r.o.args[0]) new_optional.reset(text_optional_data(r.o.args, &optional_length));
        optional = new_optional.get();
    }
    const uint8_t* path = o.device_path;
    uint64_t path_length = o.device_path_length;
    Owned<uint8_t> new_path;
    if (r.o.file) {
        if (!file_argument(r.o.file, r.o.force, "use it anyway", &new_path, &path_length)) return 1;
        path = new_path.get();
        Owned<char> path_text(device_path_text(path, path_length));
        append_format(text, " file %s", path_text.get());
    }
    uint64_t size = 0;
    uint8_t* bytes = build_load_option(o.attributes, description, path, path_length, optional,
                                       optional_length, &size);
    return write_rebuilt(r, number, bytes, size, take(text));
}

// ---- order, top, next, timeout

int bootmgr_order(const Request& r) {
    Vector<uint32_t> current;
    read_order(r.order, current);
    if (r.count == 0) {
        StringBuffer text;
        format_order(current.data(), current.size(), text);
        out_printf("%s: %s\n", r.order, text.c_str());
        return 0;
    }
    StringBuffer joined;
    for (int i = 0; i < r.count; i++) {
        if (i) append_char(joined, ' ');
        append_text(joined, r.positionals[i]);
    }
    Vector<uint32_t> wanted;
    bool failed = false;
    const char* p = joined.c_str();
    while (*p) {
        while (*p == ',' || *p == ' ') p++;
        if (!*p) break;
        const char* start = p;
        while (*p && *p != ',' && *p != ' ') p++;
        Owned<char> item(xstrndup(start, static_cast<uint64_t>(p - start)));
        uint32_t number = 0;
        LoadOption o;
        if (!parse_option_id(item.get(), &number)) {
            report_error(kCommand, "invalid entry number %s", item.get());
            failed = true;
        } else if (!read_load_option(r.prefix, number, &o)) {
            report_error(kCommand, "%s%04X does not exist", r.prefix, number);
            failed = true;
        } else if (contains(wanted, number)) {
            report_error(kCommand, "%04X is listed twice", number);
            failed = true;
        } else {
            wanted.push(number);
        }
    }
    if (failed) return 1;
    for (uint32_t n : current)
        if (!contains(wanted, n))
            out_printf("note: %04X is removed from %s (the entry itself is kept)\n", n, r.order);
    ChangePlan plan;
    prepare_plan(plan, r);
    plan_set_order(plan, r.order, wanted.data(), wanted.size());
    return plan_apply(plan);
}

int bootmgr_top(const Request& r) {
    uint32_t number = 0;
    LoadOption o;
    if (!entry_argument(r, r.prefix, &number, &o)) return 1;
    Vector<uint32_t> order;
    read_order(r.order, order);
    remove_number(order, number);
    order.insert_at(0, number);
    ChangePlan plan;
    prepare_plan(plan, r);
    plan_set_order(plan, r.order, order.data(), order.size());
    return plan_apply(plan);
}

int bootmgr_next(const Request& r) {
    ChangePlan plan;
    prepare_plan(plan, r);
    plan.assume_yes = true;
    if (r.o.clear) {
        plan_add(plan, "BootNext", nullptr, 0, xstrdup("delete BootNext"));
        return plan_apply(plan);
    }
    if (r.count == 0) {
        uint32_t next = 0;
        if (read_u16_variable("BootNext", &next)) out_printf("BootNext: %04X\n", next);
        else out_text("BootNext is not set\n");
        return 0;
    }
    uint32_t number = 0;
    LoadOption o;
    if (!entry_argument(r, "Boot", &number, &o)) return 1;
    uint8_t* data = static_cast<uint8_t*>(xallocate(2));
    data[0] = static_cast<uint8_t>(number);
    data[1] = static_cast<uint8_t>(number >> 8);
    plan_add(plan, "BootNext", data, 2,
             format_text("BootNext = %04X \"%s\" (used once at the next boot)", number,
                         o.description));
    return plan_apply(plan);
}

int bootmgr_timeout(const Request& r) {
    if (r.count == 0) {
        uint32_t seconds = 0;
        if (read_u16_variable("Timeout", &seconds)) out_printf("Timeout: %u s\n", seconds);
        else out_text("Timeout is not set\n");
        return 0;
    }
    int64_t seconds = 0;
    if (!parse_integer(r.positionals[0], &seconds) || seconds < 0 || seconds > 65535)
        return report_error(kCommand, "timeout: seconds between 0 and 65535");
    uint8_t* data = static_cast<uint8_t*>(xallocate(2));
    data[0] = static_cast<uint8_t>(seconds);
    data[1] = static_cast<uint8_t>(seconds >> 8);
    ChangePlan plan;
    prepare_plan(plan, r);
    plan_add(plan, "Timeout", data, 2,
             format_text("Timeout = %u s", static_cast<unsigned>(seconds)));
    return plan_apply(plan);
}

// ---- backup, restore

int bootmgr_backup(const Request& r) {
    if (r.count != 1) return report_error(kCommand, "usage: bootmgr backup FILE");
    Owned<char> target(resolve_path(r.positionals[0]));
    if (!target) return report_error(kCommand, "%s: invalid path", r.positionals[0]);
    Owned<char> saved(save_boot_backup());
    if (!saved) return report_error(kCommand, "cannot write the backup");
    char* bytes = nullptr;
    uint64_t length = 0;
    ShellError e = read_whole_file(saved.get(), &bytes, &length);
    Owned<char> content(bytes);
    if (e == kOk) e = write_whole_file(target.get(), content.get(), length);
    if (e != kOk) return report_error(kCommand, "%s: %s", r.positionals[0], error_message(e));
    out_printf("Boot variables saved to %s\n", target.get());
    return 0;
}

int count_backup_lines(const char* text) {
    int count = 0;
    bool first = true;
    for (const char* p = text; *p;) {
        const char* end = strchr(p, '\n');
        const uint64_t length = end ? static_cast<uint64_t>(end - p) : strlen(p);
        if (!first && length > 0 && p[0] != '#') count++;
        first = false;
        p += length + (end ? 1 : 0);
    }
    return count;
}

int bootmgr_restore(const Request& r) {
    if (r.count != 1) return report_error(kCommand, "usage: bootmgr restore FILE");
    Owned<char> path(resolve_path(r.positionals[0]));
    if (!path) return report_error(kCommand, "%s: %s", r.positionals[0], error_message(kErrNotFound));
    char* raw = nullptr;
    uint64_t length = 0;
    const ShellError e = read_text_file(path.get(), &raw, &length);
    Owned<char> text(raw);
    if (e != kOk) return report_error(kCommand, "%s: %s", r.positionals[0], error_message(e));

    ChangePlan plan;
    static const char* const kPrefixes[] = {"Boot", "Driver", "SysPrep"};
    for (const char* prefix : kPrefixes) {
        Vector<uint32_t> numbers;
        list_option_numbers(prefix, numbers);
        for (uint32_t n : numbers) {
            char name[kOptionNameSize];
            option_name(prefix, n, name);
            char needle[kOptionNameSize + 2];
            format_into(needle, sizeof needle, " %s ", name);
            if (!strstr(text.get(), needle))
                plan_add(plan, name, nullptr, 0, format_text("delete %s (not in the backup)", name));
        }
    }
    out_printf("The backup contains %d variables.\n", count_backup_lines(text.get()));
    for (const PlanStep& s : plan.steps) out_printf("  %s\n", s.text);
    if (r.o.dry_run) {
        out_text("Dry run: nothing is written.\n");
        return 0;
    }
    if (!r.o.yes && !ask_yes_no("Restore the boot variables from this backup?")) {
        out_text("Cancelled.\n");
        return 1;
    }
    if (!r.o.no_backup) {
        Owned<char> saved(save_boot_backup());
        if (!saved)
            return report_error(kCommand, "cannot save the current boot variables (use -B to skip)");
        out_printf("Current state saved to %s\n", saved.get());
    }
    for (const PlanStep& s : plan.steps) (void)delete_variable(s.name, efi::kGlobalVariableGuid);
    const int failures = load_variable_text(text.get(), length, false);
    if (failures) return report_error(kCommand, "%d variables could not be restored", failures);
    out_text("Done.\n");
    return 0;
}

// ---- check

// The verdict on one valid entry and whether it is a problem.
const char* check_entry(const LoadOption& o, bool* problem) {
    const uint8_t* path = o.device_path;
    const uint64_t length = o.device_path_length;
    // The first file-path node before the end.
    uint64_t at = 0, file_at = ~0ull;
    while (length >= 4 && length - at >= 4) {
        const uint64_t node = static_cast<uint64_t>(path[at + 2] | (path[at + 3] << 8));
        if (path[at] == efi::kEndDevicePath || node < 4 || node > length - at) break;
        if (path[at] == efi::kMediaDevicePath && path[at + 1] == efi::kMediaFilePathSubType) {
            file_at = at;
            break;
        }
        at += node;
    }
    if (file_at == ~0ull) return "n/a (firmware application or device)";
    efi::BootServices* bs = boot_services();
    if (!bs) return "unverified (protocol unavailable)";
    Owned<uint8_t> copy(static_cast<uint8_t*>(xallocate(length)));
    memcpy(copy.get(), path, length);
    auto* cursor = reinterpret_cast<efi::DevicePath*>(copy.get());
    efi::Handle device = nullptr;
    const efi::Status located =
        bs->locate_device_path(&efi::kSimpleFileSystemProtocolGuid, &cursor, &device);
    if (efi::is_error(located) || reinterpret_cast<uint8_t*>(cursor) != copy.get() + file_at) {
        if (path[0] == efi::kMediaDevicePath) return "unverified (short-form path)";
        *problem = true;
        return "MISSING: device not found";
    }
    void* iface = nullptr;
    efi::FileProtocol* root = nullptr;
    if (efi::is_error(bs->handle_protocol(device, &efi::kSimpleFileSystemProtocolGuid, &iface)) ||
        !iface ||
        efi::is_error(static_cast<efi::SimpleFileSystem*>(iface)->open_volume(
            static_cast<efi::SimpleFileSystem*>(iface), &root)) ||
        !root)
        return "unverified (volume unavailable)";
    const uint64_t node = static_cast<uint64_t>(path[file_at + 2] | (path[file_at + 3] << 8));
    const uint64_t units = (node - 4) / 2;
    Owned<char16_t> name(xallocate_array<char16_t>(units + 1));
    for (uint64_t i = 0; i < units; i++)
        name[i] = static_cast<char16_t>(path[file_at + 4 + 2 * i] | (path[file_at + 5 + 2 * i] << 8));
    efi::FileProtocol* file = nullptr;
    const efi::Status opened = root->open(root, &file, name.get(), 1, 0);
    if (!efi::is_error(opened) && file) file->close(file);
    root->close(root);
    if (efi::is_error(opened)) {
        *problem = true;
        return "MISSING: file not found";
    }
    return "ok";
}

int bootmgr_check(const Request& r) {
    Vector<uint32_t> order, existing;
    read_order(r.order, order);
    list_option_numbers(r.prefix, existing);
    int problems = 0;
    for (uint32_t n : order) {
        if (contains(existing, n)) continue;
        out_printf("%04X  listed in %s but the entry does not exist\n", n, r.order);
        problems++;
    }
    for (uint32_t n : existing) {
        LoadOption o;
        if (!read_load_option(r.prefix, n, &o)) continue;
        bool problem = false;
        const char* verdict = "INVALID: malformed load option";
        if (o.valid()) verdict = check_entry(o, &problem);
        else problem = true;
        if (problem) problems++;
        out_printf("%04X  %-40s %s\n", n, o.description, verdict);
    }
    if (problems == 0) {
        out_text("No problems found.\n");
        return 0;
    }
    out_printf("%d problem%s found.\n", problems, problems == 1 ? "" : "s");
    return 1;
}

// ---- dispatch

using Handler = int (*)(const Request&);
struct Subcommand {
    const char* name;
    Handler handler;
};

int enable_entry(const Request& r) { return bootmgr_enable(r, true); }
int disable_entry(const Request& r) { return bootmgr_enable(r, false); }

constexpr Subcommand kSubcommands[] = {
    {"list", bootmgr_list},       {"ls", bootmgr_list},           {"add", bootmgr_add},
    {"del", bootmgr_del},         {"rm", bootmgr_del},            {"enable", enable_entry},
    {"disable", disable_entry},   {"edit", bootmgr_edit},         {"order", bootmgr_order},
    {"top", bootmgr_top},         {"next", bootmgr_next},         {"timeout", bootmgr_timeout},
    {"backup", bootmgr_backup},   {"restore", bootmgr_restore},   {"check", bootmgr_check},
};

int bootmgr_command(int count, char** vector) {
    const char* name = count > 1 ? vector[1] : "list";
    Handler handler = nullptr;
    for (const Subcommand& s : kSubcommands)
        if (equal_nocase(name, s.name)) handler = s.handler;
    if (!handler) return report_usage(kCommand);

    Request r;
    // The parser sees the subcommand as its vector[0]: the options follow it.
    const int first = count > 1 ? parse_options(count - 1, vector + 1, kOptions,
                                                kOptionsOthersPositional, &r.o)
                                : 0;
    if (first < 0) return kExitUsage;
    for (int i = first + 1; count > 1 && i < count; i++) {
        if (equal_nocase(vector[i], "-driver")) {
            r.prefix = "Driver";
            r.order = "DriverOrder";
            continue;
        }
        if (r.count < kMaxPositionals) r.positionals[r.count++] = vector[i];
    }
    return handler(r);
}

}  // namespace

void register_bootmgr_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

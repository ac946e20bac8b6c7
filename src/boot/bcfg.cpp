// bcfg: boot and driver options in the UEFI Shell's syntax, addressed by their position
// in BootOrder/DriverOrder. Changes go through the change plan, quiet and unasked.
#include "boot/boot_module.h"
#include "boot/change_plan.h"
#include "boot/load_option.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int bcfg_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"bcfg", bcfg_command,
     "bcfg boot|driver [dump [-v] | add|addp|addh # FILE|HANDLE \"DESC\" | rm # | mv # # | mod # "
     "\"DESC\" | modf|modp|modh # FILE|HANDLE | -opt # [FILE|\"DATA\"]]",
     "Manage boot/driver options (UEFI Shell syntax)",
     "  # is a position in BootOrder or DriverOrder (hexadecimal, from 0).\n"
     "  dump [-v]            the options in order (-v: also their optional data)\n"
     "  add # FILE \"DESC\"    new option for FILE at position # (full device path)\n"
     "  addp # FILE \"DESC\"   the same from the hard-drive node (short form)\n"
     "  addh # HANDLE \"DESC\" the same with the device path of a handle\n"
     "  rm #                 deletes the option at position #\n"
     "  mv # #               moves an option to another position\n"
     "  mod # \"DESC\"         new description\n"
     "  modf|modp # FILE     new file (full or short form); modh # HANDLE\n"
     "  -opt # [FILE|DATA]   sets the optional data from a file or text, or clears it\n",
     0},
};

const char* const kCommand = "bcfg";

struct Family {
    const char* typed;
    const char* prefix;
    const char* order;
};

// A position: hexadecimal digits, either case, the whole text.
bool parse_position(const char* text, uint32_t* out) {
    uint64_t value = 0;
    if (!text || !*text) return false;
    for (const char* p = text; *p; p++) {
        if (!is_xdigit(*p)) return false;
        const int c = to_lower(*p);
        value = value * 16 + static_cast<uint64_t>(is_digit(c) ? c - '0' : c - 'a' + 10);
        if (value > 0xffffffffull) return false;
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

void quiet_plan(ChangePlan& plan) {
    plan.assume_yes = true;
    plan.quiet = true;
}

int bcfg_dump(const Family& f, bool verbose) {
    Vector<uint32_t> order;
    read_order(f.order, order);
    if (order.empty()) {
        out_printf("No %s options.\n", f.prefix);
        return 0;
    }
    for (size_t i = 0; i < order.size(); i++) {
        out_printf("Option: %02X. Variable: %s%04X\n", static_cast<unsigned>(i), f.prefix, order[i]);
        LoadOption o;
        if (!read_load_option(f.prefix, order[i], &o)) {
            out_text("  <missing variable>\n");
            continue;
        }
        Owned<char> path(device_path_text(o.device_path, o.device_path_length));
        out_printf("  Desc    - %s\n  DevPath - %s\n  Optional- %c\n", o.description, path.get(),
                   o.optional_length ? 'Y' : 'N');
        if (verbose && o.optional_length) {
            Owned<char> data(format_optional_data(o));
            out_printf("  Data    - %s\n", data.get());
        }
        if (pager_stopped() || poll_break()) return kExitInterrupted;
    }
    return 0;
}

// The device path of add/addp/addh and modf/modp/modh.
bool target_path(char kind, const char* argument, Owned<uint8_t>* path, uint64_t* length) {
    if (kind == 'h') return handle_device_path(argument, path, length);
    return option_device_path(argument, kind == 'p', path, length);
}

int bcfg_add(const Family& f, char kind, int count, char** args) {
    uint32_t position = 0;
    if (count != 3 || !parse_position(args[0], &position)) return report_usage(kCommand);
    Owned<uint8_t> path;
    uint64_t path_length = 0;
    if (!target_path(kind, args[1], &path, &path_length)) return 1;
    Vector<uint32_t> order;
    read_order(f.order, order);
    uint32_t number = 0;
    if (!lowest_free_number(f.prefix, order, &number))
        return report_error(kCommand, "no free option number");
    uint64_t size = 0;
    uint8_t* bytes =
        build_load_option(kLoadOptionActive, args[2], path.get(), path_length, nullptr, 0, &size);
    char name[kOptionNameSize];
    option_name(f.prefix, number, name);
    ChangePlan plan;
    quiet_plan(plan);
    StringBuffer text;
    append_format(text, "create %s", name);
    plan_add(plan, name, bytes, size, take(text));
    order.insert_at(position < order.size() ? position : order.size(), number);
    plan_set_order(plan, f.order, order.data(), order.size());
    const int status = plan_apply(plan);
    if (status == 0) out_printf("Target = %04X.\n", number);
    return status;
}

int bad_position(const Family& f) {
    return report_error(kCommand, "invalid option number (see bcfg %s dump)", f.typed);
}

int bcfg_rm(const Family& f, int count, char** args) {
    Vector<uint32_t> order;
    read_order(f.order, order);
    uint32_t position = 0;
    if (count != 1 || !parse_position(args[0], &position) || position >= order.size())
        return bad_position(f);
    char name[kOptionNameSize];
    option_name(f.prefix, order[position], name);
    ChangePlan plan;
    quiet_plan(plan);
    StringBuffer text;
    append_format(text, "delete %s", name);
    plan_add(plan, name, nullptr, 0, take(text));
    order.remove_at(position);
    plan_set_order(plan, f.order, order.data(), order.size());
    return plan_apply(plan);
}

int bcfg_mv(const Family& f, int count, char** args) {
    Vector<uint32_t> order;
    read_order(f.order, order);
    uint32_t from = 0, to = 0;
    if (count != 2 || !parse_position(args[0], &from) || !parse_position(args[1], &to) ||
        from >= order.size() || to >= order.size())
        return bad_position(f);
    const uint32_t number = order[from];
    order.remove_at(from);
    order.insert_at(to < order.size() ? to : order.size(), number);
    ChangePlan plan;
    quiet_plan(plan);
    plan_set_order(plan, f.order, order.data(), order.size());
    return plan_apply(plan);
}

// mod, modf, modp, modh and -opt: one part of the option at a position replaced.
int bcfg_modify(const Family& f, const char* sub, int count, char** args) {
    const bool opt = equal_nocase(sub, "-opt");
    Vector<uint32_t> order;
    read_order(f.order, order);
    uint32_t position = 0;
    const bool counted = opt ? (count == 1 || count == 2) : count == 2;
    if (!counted || !parse_position(args[0], &position) || position >= order.size())
        return report_error(kCommand, "invalid option number or arguments (see help bcfg)");
    const uint32_t number = order[position];
    LoadOption o;
    if (!read_load_option(f.prefix, number, &o) || !o.valid())
        return report_error(kCommand, "%s%04X is missing or invalid", f.prefix, number);

    const char* description = o.description;
    const uint8_t* path = o.device_path;
    uint64_t path_length = o.device_path_length;
    const uint8_t* optional = o.optional_data;
    uint64_t optional_length = o.optional_length;
    Owned<uint8_t> new_path, new_optional;
    if (equal_nocase(sub, "mod")) {
        description = args[1];
    } else if (opt) {
        optional = nullptr;
        optional_length = 0;
        if (count == 2) {
            Owned<char> resolved(resolve_path(args[1]));
            FileStat st{};
            char* bytes = nullptr;
            uint64_t length = 0;
            if (resolved && file_stat(resolved.get(), &st) == kOk && !st.is_directory &&
                read_whole_file(resolved.get(), &bytes, &length) == kOk) {
                new_optional.reset(reinterpret_cast<uint8_t*>(bytes));
                optional_length = length;
            } else {
                new_optional.reset(text_optional_data(args[1], &optional_length));
            }
            optional = new_optional.get();
        }
    } else {
        const char kind = equal_nocase(sub, "modh") ? 'h' : equal_nocase(sub, "modp") ? 'p' : 'f';
        if (!target_path(kind, args[1], &new_path, &path_length)) return 1;
        path = new_path.get();
    }
    uint64_t size = 0;
    uint8_t* bytes = build_load_option(o.attributes, description, path, path_length, optional,
                                       optional_length, &size);
    char name[kOptionNameSize];
    option_name(f.prefix, number, name);
    ChangePlan plan;
    quiet_plan(plan);
    StringBuffer text;
    append_format(text, "modify %s", name);
    plan_add(plan, name, bytes, size, take(text));
    return plan_apply(plan);
}

int bcfg_command(int count, char** vector) {
    if (count < 2) return report_usage(kCommand);
    Family f{vector[1], nullptr, nullptr};
    if (equal_nocase(vector[1], "boot")) f = {vector[1], "Boot", "BootOrder"};
    else if (equal_nocase(vector[1], "driver")) f = {vector[1], "Driver", "DriverOrder"};
    else return report_usage(kCommand);
    const char* sub = count > 2 ? vector[2] : "dump";
    const int rest = count > 3 ? count - 3 : 0;
    char** args = vector + 3;
    if (equal_nocase(sub, "dump")) return bcfg_dump(f, rest > 0 && equal_nocase(args[0], "-v"));
    if (equal_nocase(sub, "add")) return bcfg_add(f, 'f', rest, args);
    if (equal_nocase(sub, "addp")) return bcfg_add(f, 'p', rest, args);
    if (equal_nocase(sub, "addh")) return bcfg_add(f, 'h', rest, args);
    if (equal_nocase(sub, "rm")) return bcfg_rm(f, rest, args);
    if (equal_nocase(sub, "mv")) return bcfg_mv(f, rest, args);
    static const char* const kModify[] = {"mod", "modf", "modp", "modh", "-opt"};
    for (const char* m : kModify)
        if (equal_nocase(sub, m)) return bcfg_modify(f, sub, rest, args);
    return report_usage(kCommand);
}

}  // namespace

void register_bcfg_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

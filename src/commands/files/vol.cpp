// vol: show a volume, set or delete its label.
#include "commands/files/file_commands.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int vol_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"vol", vol_command, "vol [fsN:] [-n LABEL | -d]", "Show a volume, set (-n) or delete (-d) its label",
     "  A label has at most 11 characters and none of % ^ * + = [ ] | : ; \" < > ? / .\n",
     kCommandStructuredOutput},
};


constexpr const char* kName = "vol";
constexpr uint64_t kMaxLabel = 11;

bool valid_label(const char* label) {
    if (utf8_count(label, strlen(label)) > kMaxLabel) return false;
    return !strpbrk(label, "%^*+=[]|:;\"<>?/.");
}

// The volume a text names: a volume name with or without colon, an extra name, or any
// path on the volume; the current volume when text is null. -1 when none.
int volume_named(const char* text) {
    Owned<char> path;
    if (!text) {
        path.reset(resolve_path("."));
    } else if (strpbrk(text, ":\\/")) {
        path.reset(resolve_path(text));
    } else {
        Owned<char> with_colon(format_string("%s:", text));
        path.reset(resolve_path(with_colon.get()));
    }
    return path ? volume_of_path(path.get()) : -1;
}

struct VolOptions {
    const char* label = nullptr;  // -n LABEL
    bool clear = false;           // -d: remove the label
};

constexpr Option<VolOptions> kVolOptions[] = {
    value_option("n", &VolOptions::label, kOptionAnyCase),
    switch_option("d", &VolOptions::clear, kOptionAnyCase),
};

}  // namespace

int vol_command(int count, char** vector) {
    VolOptions o;
    const int first = parse_options(count, vector, kVolOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    if (count - first > 1) return report_usage(kName);
    const char* text = first < count ? vector[first] : nullptr;
    const char* label = o.clear ? "" : o.label;
    int index = volume_named(text);
    if (index < 0) return report_error(kName, "%s: no such volume", text ? text : "(current)");
    efi::Handle handle = volume_handle(index);
    if (label) {
        if (!valid_label(label))
            return report_error(kName, "invalid label (at most 11 characters, no punctuation)");
        ShellError err = set_volume_label(index, label);
        if (err != kOk) return report_failure(kName, volume_at(index)->name, err);
    }
    // Fresh label, sizes and free space; the volume is found again by its handle.
    rescan_volumes();
    const Volume* v = volume_at(volume_of_handle(handle));
    if (!v) return report_error(kName, "%s: no such volume", text ? text : "(current)");
    if (data_mode()) {
        record_begin();
        record_field("volume", "%s", v->name);
        record_field("label", "%s", v->label);
        record_field("size", "%llu", static_cast<unsigned long long>(v->size));
        record_field("free", "%llu", static_cast<unsigned long long>(v->free));
        record_field("readonly", "%s", v->read_only ? "yes" : "no");
        return 0;
    }
    out_printf("Volume %s: %s (%s)\n", v->name, *v->label ? v->label : "<no label>",
               v->read_only ? "ro" : "rw");
    out_printf("  %12llu bytes total disk space\n", static_cast<unsigned long long>(v->size));
    out_printf("  %12llu bytes available on disk\n", static_cast<unsigned long long>(v->free));
    return 0;
}

void register_vol_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

// map: list volumes and block devices, rescan them, give volumes extra names.
#include "commands/files/file_commands.h"
#include "commands/files/file_tree.h"
#include "fs/blocks.h"
#include "fs/volumes.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"
#include "uefi/guids.h"

namespace tarn {

int map_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"map", map_command, "map [-r] [-v] [-t fs|blk] | map NAME TARGET | map -d NAME",
     "List volumes and block devices; give volumes extra names",
     "  map            the volumes, then the block devices\n"
     "  map fsN        one volume\n"
     "  map -r         scan the volumes again (-u too); -v also shows device paths\n"
     "  map -t TYPE    fs: volumes only, blk: block devices only\n"
     "  map NAME TARGET  give the volume TARGET (fsN:, a path, blkN or a handle) the\n"
     "                 extra name NAME, usable as NAME: in paths\n"
     "  map -d NAME    remove an extra name\n",
     kCommandStructuredOutput},
};


constexpr const char* kName = "map";
// Above this many bytes a block device's size is shown in GiB rather than MiB.
constexpr uint64_t kGigabyteDisplayFrom = 0x27FFFFFFFull;

struct MapOptions {
    bool rescan = false;
    bool verbose = false;
    bool remove = false;
    const char* type = nullptr;  // -t TYPE, or null
};

constexpr Option<MapOptions> kMapOptions[] = {
    switch_option("r", &MapOptions::rescan, kOptionAnyCase),
    switch_option("u", &MapOptions::rescan, kOptionAnyCase),
    switch_option("v", &MapOptions::verbose, kOptionAnyCase),
    switch_option("f", &MapOptions::verbose, kOptionAnyCase),
    switch_option("c", &MapOptions::verbose, kOptionAnyCase),
    switch_option("d", &MapOptions::remove, kOptionAnyCase),
    value_option("t", &MapOptions::type, kOptionAnyCase),
    ignored_option<MapOptions>("b"),
    ignored_option<MapOptions>("sfo", kOptionAnyCase),
};

// What a block device's media says; all false and zero when it cannot be read.
BlockMedia media_of(efi::Handle handle) {
    BlockMedia m;
    if (block_media(handle, &m) != kOk) m = BlockMedia{};
    return m;
}

// A volume name typed with or without one trailing colon, without the colon (new text).
char* without_colon(const char* text) {
    uint64_t n = strlen(text);
    if (n > 0 && text[n - 1] == ':') n--;
    return xstrndup(text, n);
}

// The index of the volume whose own name (not an extra name) this is; -1 when none.
int volume_with_name(const char* name) {
    for (int i = 0; i < volume_count(); i++)
        if (equal_nocase(volume_at(i)->name, name)) return i;
    return -1;
}

const char* yes_no(bool b) { return b ? "yes" : "no"; }

void list_volumes(const char* only, bool verbose) {
    if (volume_count() == 0) {
        if (!data_mode()) out_text("No file system volumes found.\n");
        return;
    }
    if (!data_mode())
        out_printf("%-6s %-16s %9s %9s  %s\n", "Volume", "Label", "Size", "Free", "Flags");
    for (int i = 0; i < volume_count(); i++) {
        if (poll_break()) return;
        const Volume* v = volume_at(i);
        if (only && !equal_nocase(v->name, only)) continue;
        StringBuffer aliases;
        extra_names_of(v->name, aliases);
        const bool boot = i == boot_volume_index();
        if (data_mode()) {
            record_begin();
            record_field("kind", "%s", "volume");
            record_field("volume", "%s", v->name);
            record_field("label", "%s", v->label);
            record_field("size", "%llu", static_cast<unsigned long long>(v->size));
            record_field("free", "%llu", static_cast<unsigned long long>(v->free));
            record_field("readonly", "%s", yes_no(v->read_only));
            record_field("removable", "%s", yes_no(v->removable));
            record_field("boot", "%s", yes_no(boot));
            record_field("aliases", "%s", aliases.c_str());
            record_field("devpath", "%s", v->device_path_text);
            continue;
        }
        char size[32] = "-";
        char free_text[32] = "-";
        if (v->size != 0) {
            size_text(v->size, size, sizeof size);
            size_text(v->free, free_text, sizeof free_text);
        }
        const bool has_aliases = aliases.length > 0;
        out_printf("%-6s %-16s %9s %9s  %s%s%s%s%s\n", v->name, *v->label ? v->label : "-", size,
                   free_text, v->read_only ? "ro " : "", v->removable ? "removable " : "",
                   boot ? "boot " : "", has_aliases ? "also " : "", aliases.c_str());
        if (verbose && *v->device_path_text) out_printf("       %s\n", v->device_path_text);
    }
}

void list_block_devices(bool verbose) {
    rescan_block_devices();
    if (block_device_count() == 0) return;
    if (!data_mode())
        out_printf("\n%-6s %-10s %9s  %s\n", "Device", "Type", "Size",
                   verbose ? "Device path" : "Volume");
    for (int i = 0; i < block_device_count(); i++) {
        if (poll_break()) return;
        const BlockDevice* b = block_device_at(i);
        BlockMedia m = media_of(b->handle);
        const char* type = m.logical_partition ? "partition" : m.removable ? "removable" : "disk";
        const Volume* v = volume_at(volume_of_handle(b->handle));
        const char* volume = v ? v->name : "";
        if (data_mode()) {
            record_begin();
            record_field("kind", "%s", "block");
            record_field("device", "%s", b->name);
            record_field("type", "%s", type);
            record_field("media", "%s", yes_no(m.present));
            record_field("size", "%llu", static_cast<unsigned long long>(m.present ? m.bytes : 0));
            record_field("blocksize", "%u", m.block_size);
            record_field("readonly", "%s", yes_no(m.read_only));
            record_field("volume", "%s", volume);
            record_field("devpath", "%s", b->device_path_text);
            continue;
        }
        char size[32] = "-";
        if (m.present) {
            if (m.bytes > kGigabyteDisplayFrom)
                format_into(size, sizeof size, "%lluG", static_cast<unsigned long long>(m.bytes >> 30));
            else
                format_into(size, sizeof size, "%lluM", static_cast<unsigned long long>(m.bytes >> 20));
        }
        if (verbose)
            out_printf("%-6s %-10s %9s  %s%s%s\n", b->name, type, size, b->device_path_text,
                       v ? "  = " : "", volume);
        else
            out_printf("%-6s %-10s %9s  %s%s\n", b->name, type, size, volume,
                       m.present ? "" : "(no media)");
    }
}

int remove_name(const char* typed) {
    Owned<char> name(without_colon(typed));
    if (volume_with_name(name.get()) >= 0)
        return report_error(kName, "%s is a volume, not an extra name", name.get());
    // Removing a name that does not exist is no error.
    (void)set_extra_name(name.get(), nullptr);
    return 0;
}

int add_name(const char* typed_name, const char* target) {
    int index = -1;
    // Only a text with a colon is taken as a path: anything else would resolve against
    // the current directory and name its volume by accident.
    if (strchr(target, ':')) {
        Owned<char> path(resolve_path(target));
        if (path) index = volume_of_path(path.get());
    }
    if (index < 0) {
        efi::Handle handle = resolve_device(target);
        if (handle) {
            index = volume_of_handle(handle);
            if (index < 0) {
                rescan_volumes_keep_directory();
                index = volume_of_handle(handle);
            }
        }
    }
    if (index < 0)
        return report_error(kName, "%s: not a volume, block device or handle with a file system",
                            target);
    Owned<char> name(without_colon(typed_name));
    // The table may have been rebuilt: copy the target name before changing the names.
    char volume_name[kVolumeNameSize];
    strlcpy(volume_name, volume_at(index)->name, sizeof volume_name);
    ShellError err = set_extra_name(name.get(), volume_name);
    if (err == kErrAlreadyExists)
        return report_error(kName, "%s is already the name of a volume", name.get());
    if (err != kOk) return report_failure(kName, name.get(), err);
    return 0;
}

}  // namespace

int map_command(int count, char** vector) {
    MapOptions o;
    const int first = parse_options(count, vector, kMapOptions, kOptionsClusters | kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    const int positionals = count - first;
    if (positionals > 2) return report_usage(kName);
    const char* const* positional = vector + first;

    if (o.remove) {
        if (positionals != 1) return report_usage(kName);
        return remove_name(positional[0]);
    }
    if (positionals == 2) return add_name(positional[0], positional[1]);

    if (o.rescan) rescan_volumes_keep_directory();
    bool volumes = true, blocks = true;
    if (o.type) {
        volumes = equal_nocase(o.type, "fs") || equal_nocase(o.type, "hd") ||
                  equal_nocase(o.type, "fp");
        blocks = equal_nocase(o.type, "blk");
    }
    if (positionals == 1) {
        Owned<char> only(without_colon(positional[0]));
        if (volume_with_name(only.get()) < 0)
            return report_error(kName, "%s: no such volume", positional[0]);
        if (volumes) list_volumes(only.get(), o.verbose);
        return 0;
    }
    if (volumes) list_volumes(nullptr, o.verbose);
    if (blocks && !poll_break()) list_block_devices(o.verbose);
    return 0;
}

void register_map_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

#include "shell/executor.h"

#include "fs/files.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/command_line.h"
#include "shell/environment.h"
#include "shell/hooks.h"
#include "shell/registry.h"

namespace tarn {
namespace {

struct ExecutorState {
    int32_t last_error;
    int32_t alias_depth;
    int32_t script_depth;
};

constinit ExecutorState g_executor = {0, 0, 0};

// Aliases expand while fewer than this many expansions are in progress.
constexpr int32_t kAliasDepthLimit = 8;
// Bytes of a file examined by check_efi_executable.
constexpr uint64_t kHeaderBytes = 1024;

int finish(int code) {
    g_executor.last_error = code;
    return code;
}

bool ends_with_nocase(const char* text, const char* suffix) {
    uint64_t n = strlen(text);
    uint64_t m = strlen(suffix);
    return n >= m && equal_nocase(text + n - m, suffix);
}

bool is_script_path(const char* path) {
    return strlen(path) > 4 && ends_with_nocase(path, ".tsb");
}

// Runs an alias: its words, then the arguments typed after the alias name. Returns false
// when the alias value yields no words (the caller then goes on without it).
bool run_alias(const char* value, int count, char** vector, int* code) {
    int alias_count = 0;
    const char* error = nullptr;
    char** words = split_words(value, &alias_count, &error);
    if (!words || alias_count == 0) {
        free_words(words);
        return false;
    }
    const uint64_t total = static_cast<uint64_t>(alias_count) + static_cast<uint64_t>(count) - 1;
    if (total >= 0x7fffffff) {
        free_words(words);
        return false;
    }
    char** expanded = xallocate_array<char*>(total + 1);
    for (int i = 0; i < alias_count; i++) expanded[i] = words[i];
    for (int i = 1; i < count; i++) expanded[alias_count + i - 1] = xstrdup(vector[i]);
    expanded[total] = nullptr;
    // The alias words now belong to the expanded vector.
    release(words);

    const int32_t saved = g_executor.alias_depth;
    g_executor.alias_depth =
        equal_nocase(expanded[0], vector[0]) ? kAliasDepthLimit : saved + 1;
    *code = run_arguments(static_cast<int>(total), expanded);
    g_executor.alias_depth = saved;
    free_words(expanded);
    return true;
}

int switch_volume(const char* name) {
    ShellError result = change_directory(name);
    if (result == kOk) return 0;
    print_error("%s: %s\n", name, result == kErrNotFound ? "no such volume" : error_message(result));
    return 1;
}

bool is_volume_switch(int count, const char* name) {
    uint64_t n = strlen(name);
    return count == 1 && n > 1 && name[n - 1] == ':' && !strchr(name, '\\') &&
           !strchr(name, '/');
}

bool pager_allowed(bool data_switch) {
    if (g_executor.script_depth != 0 || is_redirected() || data_switch) return false;
    Owned<char> pager(get_variable("pager"));
    if (!pager) return true;
    return !equal(pager.get(), "off") && !equal(pager.get(), "0");
}

int run_builtin(const CommandDescriptor* cmd, int count, char** vector) {
    const char* name = vector[0];
    Owned<char*> args(xallocate_array<char*>(static_cast<uint64_t>(count) + 1));
    int n = 0;
    args[n++] = vector[0];
    bool data_switch = false;
    bool paging_switch = false;
    for (int i = 1; i < count; i++) {
        char* arg = vector[i];
        if (equal_nocase(arg, "-sfo")) {
            print_error("%s: -sfo (UEFI Shell format) is not supported: use -data\n", name);
            return kExitUsage;
        }
        if (equal_nocase(arg, "-data")) {
            data_switch = true;
            continue;
        }
        if (equal(arg, "-b") && !(cmd->flags & kCommandOwnB)) {
            paging_switch = true;
            continue;
        }
        args[n++] = arg;
    }
    args[n] = nullptr;
    if (data_switch && !(cmd->flags & kCommandStructuredOutput)) {
        print_error("%s: -data is not supported by this command\n", name);
        return kExitUsage;
    }
    const bool paging = paging_switch || pager_allowed(data_switch);

    const bool saved_data_mode = data_mode();
    set_data_mode(data_switch);
    clear_break();
    pager_begin(paging);
    int code = cmd->handler(n, args.get());
    const bool stopped = pager_stopped();
    pager_begin(false);
    if (stopped) clear_break();  // leaving the pager with q is not an interruption
    set_data_mode(saved_data_mode);

    if (poll_break()) {
        clear_break();
        print_error("^C\n");
        if (code == 0) code = kExitInterrupted;
    }
    return code;
}

int run_file(const char* path, int count, char** vector) {
    char* saved = vector[0];
    vector[0] = const_cast<char*>(path);
    int code = is_script_path(path) ? dispatch_script(path, count, vector)
                                    : dispatch_image(path, count, vector);
    vector[0] = saved;
    return code;
}

// A candidate of the path search: resolves, exists, is not a directory, and (for a bare
// name without extension) is an EFI application.
char* take_candidate(const char* candidate, bool needs_pe_check) {
    Owned<char> resolved(resolve_path(candidate));
    if (!resolved) return nullptr;
    FileStat st = {};
    if (file_stat(resolved.get(), &st) != kOk || st.is_directory) return nullptr;
    if (needs_pe_check && check_efi_executable(resolved.get()) != nullptr) return nullptr;
    return resolved.take();
}

// Tries name (+ ".tsb", + ".efi", bare) in dir, or where name itself points when dir is
// null.
char* search_in(const char* dir, const char* name, bool has_extension) {
    static constexpr const char* kExtensions[] = {".tsb", ".efi", ""};
    const int first = has_extension ? 2 : 0;
    for (int i = first; i < 3; i++) {
        Owned<char> file(format_string("%s%s", name, kExtensions[i]));
        Owned<char> candidate(dir ? join_path(dir, file.get()) : file.take());
        char* found = take_candidate(candidate.get(), i == 2 && !has_extension);
        if (found) return found;
    }
    return nullptr;
}

}  // namespace

int run_command_line(const char* line) {
    int count = 0;
    const char* error = nullptr;
    char* target_text = nullptr;
    bool append = false;
    char** words = split_command_line(line, &count, &error, &target_text, &append, false);
    if (!words) {
        print_error("syntax error: %s\n", error);
        return finish(kExitUsage);
    }
    Owned<char> target(target_text);
    if (count == 0) {
        free_words(words);
        return g_executor.last_error;
    }

    const CommandDescriptor* cmd = find_command(words[0]);
    if (cmd && (cmd->flags & kCommandRawArguments)) {
        int raw_count = 0;
        char* raw_target = nullptr;
        char** raw = split_command_line(line, &raw_count, &error, &raw_target, &append, true);
        if (!raw) {
            free_words(words);
            print_error("syntax error: %s\n", error);
            return finish(kExitUsage);
        }
        // The command word is the name just found, without the quotes raw mode keeps.
        release(raw[0]);
        raw[0] = words[0];
        words[0] = xstrdup("");
        free_words(words);
        words = raw;
        count = raw_count;
        target.reset(raw_target);
    }

    Owned<char> resolved;
    if (target) {
        resolved.reset(resolve_path(target.get()));
        if (!resolved) {
            print_error("%s: invalid path\n", target.get());
            free_words(words);
            return finish(kExitFailure);
        }
        // "> q\" names a directory: output never goes to a file called q.
        ShellError opened = check_output_file_target(target.get(), resolved.get());
        if (opened == kOk) opened = push_file(resolved.get(), append);
        if (opened != kOk) {
            print_error("%s: %s\n", resolved.get(), error_message(opened));
            free_words(words);
            return finish(kExitFailure);
        }
    }

    int code = run_arguments(count, words);

    if (resolved) {
        ShellError closed = pop_redirection();
        if (closed != kOk) {
            print_error("%s: %s\n", resolved.get(), error_message(closed));
            code = kExitFailure;
        }
    }
    free_words(words);
    return finish(code);
}

int run_arguments(int count, char** vector) {
    if (count <= 0 || !vector || !vector[0]) return finish(0);
    const char* name = vector[0];

    if (g_executor.alias_depth < kAliasDepthLimit) {
        bool permanent = false;
        const char* value = find_alias(name, &permanent);
        if (value) {
            // The value is copied by the split before anything runs, so the alias may
            // change while its expansion runs.
            int code = 0;
            if (run_alias(value, count, vector, &code)) return finish(code);
        }
    }

    if (is_volume_switch(count, name)) return finish(switch_volume(name));

    if (const CommandDescriptor* cmd = find_command(name))
        return finish(run_builtin(cmd, count, vector));

    Owned<char> path(find_executable(name));
    if (!path) {
        print_error("%s: command not found\n", name);
        return finish(kExitNotFound);
    }
    return finish(run_file(path.get(), count, vector));
}

int32_t last_error() { return g_executor.last_error; }
void set_last_error(int32_t code) { g_executor.last_error = code; }
int32_t script_depth() { return g_executor.script_depth; }
void enter_script() { g_executor.script_depth++; }
void leave_script() {
    if (g_executor.script_depth > 0) g_executor.script_depth--;
}
int32_t alias_depth() { return g_executor.alias_depth; }

char* find_executable(const char* name) {
    if (!name || !*name) return nullptr;
    const bool has_directory = strpbrk(name, "\\/:") != nullptr;
    const bool has_extension = ends_with_nocase(name, ".tsb") || ends_with_nocase(name, ".efi");
    if (has_directory) return search_in(nullptr, name, has_extension);

    Owned<char> path(get_variable("path"));
    const char* list = path ? path.get() : ".";
    const char* p = list;
    while (*p) {
        const char* end = strchr(p, ';');
        uint64_t n = end ? static_cast<uint64_t>(end - p) : strlen(p);
        if (n > 0) {
            Owned<char> element(xstrndup(p, n));
            const char* dir = element.get();
            if (equal(dir, ".") || equal(dir, ".\\")) dir = current_directory();
            if (*dir) {
                char* found = search_in(dir, name, has_extension);
                if (found) return found;
            }
        }
        if (!end) break;
        p = end + 1;
    }
    return nullptr;
}

const char* check_efi_executable(const char* path) {
    static constexpr const char* kCannotRead = "cannot read the file";
    File* file = nullptr;
    if (!path || file_open(path, 0, &file) != kOk) return kCannotRead;
    FileCloser closer(file);
    uint8_t header[kHeaderBytes];
    uint64_t have = 0;
    while (have < kHeaderBytes) {
        uint64_t got = 0;
        if (file_read(file, header + have, kHeaderBytes - have, &got) != kOk) return kCannotRead;
        if (got == 0) break;
        if (got > kHeaderBytes - have) got = kHeaderBytes - have;
        have += got;
    }
    auto u16 = [&](uint64_t at) { return static_cast<uint32_t>(header[at] | (header[at + 1] << 8)); };
    auto u32 = [&](uint64_t at) {
        return static_cast<uint32_t>(header[at]) | (static_cast<uint32_t>(header[at + 1]) << 8) |
               (static_cast<uint32_t>(header[at + 2]) << 16) |
               (static_cast<uint32_t>(header[at + 3]) << 24);
    };
    if (have < 64 || header[0] != 'M' || header[1] != 'Z')
        return "not an EFI executable (no MZ header)";
    const uint64_t pe = u32(0x3c);
    if (pe + 0x5e > have || header[pe] != 'P' || header[pe + 1] != 'E' || header[pe + 2] != 0 ||
        header[pe + 3] != 0)
        return "not an EFI executable (no PE header)";
    if (u16(pe + 4) != 0x8664) return "the executable is not for x86_64";
    if (u16(pe + 0x18) != 0x20b) return "not a PE32+ image";
    if (u16(pe + 0x5c) != 10) return "not an EFI application (driver or other subsystem)";
    return nullptr;
}

void reset_executor_state() { g_executor = {0, 0, 0}; }

}  // namespace tarn

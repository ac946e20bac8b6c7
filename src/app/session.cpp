// The shell's main routine and the interactive session.
#include "app/entry.h"
#include "app/modules.h"
#include "basic/engine.h"
#include "basic/program.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "platform/secure_boot.h"
#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/environment.h"
#include "shell/executor.h"
#include "shell/line_editor.h"
#include "shell/session_state.h"

namespace tarn {

namespace {

constexpr const char kUsage[] =
    "usage: tarn [-n] [-c CODE] [-k SCRIPT...] [SCRIPT [ARGS...]]\n"
    "  -c CODE   run BASIC code and exit\n"
    "  -k        check the syntax of scripts without running them\n"
    "  -n        do not run startup.tsb\n";

void print_banner() {
    int32_t saved = console_attribute();
    console_set_attribute(15, (saved >> 4) & 7);
    out_printf("%s %s", "TARN", "0.2.1");
    console_set_raw_attribute(saved);
    out_printf(" - Tarnwick (%s)\n", "UEFI x86_64");
    out_text("Type 'help' for the commands, 'help basic' for the scripting language.\n");
    if (secure_boot_active()) out_text("Secure Boot is active: low-level hardware writes are disabled.\n");
    out_text("\n");
}

int run_code(int count, char** vector) {
    const char* code = vector[0];
    Program program{};
    if (!parse_program(code, strlen(code), &program)) {
        out_printf("syntax error: %s\n", program.message);
        return 1;
    }
    ScriptEngine* engine = engine_create(count, vector, false);
    int result = engine_run(engine, &program, nullptr);
    engine_destroy(engine);
    free_program(&program);
    return result;
}

int check_scripts(int count, char** vector) {
    int result = 0;
    for (int i = 0; i < count; i++) {
        Owned<char> path(resolve_path(vector[i]));
        if (!path) {
            out_printf("%s: %s\n", vector[i], "not found");
            result = 1;
            continue;
        }
        char* text = nullptr;
        uint64_t length = 0;
        ShellError e = read_text_file(path.get(), &text, &length);
        if (e != 0) {
            out_printf("%s: %s\n", vector[i], error_message(e));
            result = 1;
            continue;
        }
        Program program{};
        if (!parse_program(text, length, &program)) {
            out_printf("%s:%d: syntax error: %s\n", path.get(), program.error_line, program.message);
            result = 1;
        } else {
            free_program(&program);
        }
        release(text);
    }
    return result;
}

int run_script_argument(int count, char** vector) {
    Owned<char> path(resolve_path(vector[0]));
    if (!path) {
        out_printf("%s: invalid path\n", vector[0]);
        return 1;
    }
    // The script sees its resolved path as its first argument.
    char* saved = vector[0];
    vector[0] = path.get();
    int result = run_script_file(path.get(), count, vector);
    vector[0] = saved;
    return result;
}

// Offers to run startup.tsb from the boot volume with a countdown.
void run_startup_script() {
    int boot = boot_volume_index();
    if (boot < 0) return;
    Owned<char> path(format_string("%s:\\startup%s", volume_at(boot)->name, ".tsb"));
    FileStat st;
    if (file_stat(path.get(), &st) != 0 || st.is_directory) return;
    bool run = true;
    bool decided = false;
    for (int seconds = 3; seconds >= 1 && !decided; seconds--) {
        out_printf("\rRunning %s in %d s (ESC to skip, any other key to start now) ", path.get(), seconds);
        KeyEvent key;
        if (read_key(1000, &key)) {
            decided = true;
            run = !(is_escape(key) || key.character == kCharCtrlC);
        }
    }
    out_text("\n");
    if (!run) return;
    char* argv[2] = {path.get(), nullptr};
    int code = run_script_file(path.get(), 1, argv);
    set_last_error(code);
}

bool cursor_in_column_zero() {
    uint64_t column = 0;
    console_cursor(&column, nullptr);
    return column == 0;
}

int interactive_session(bool run_startup) {
    print_banner();
    if (run_startup) run_startup_script();
    ScriptEngine* engine = engine_create(0, nullptr, true);
    SessionState& session = session_state();
    StringBuffer block;
    bool collecting = false;
    while (!session.leave_shell) {
        if (!cursor_in_column_zero()) out_text("\n");
        Owned<char> prompt;
        if (collecting) {
            prompt.reset(xstrdup("... "));
        } else {
            const char* cwd = current_directory();
            prompt.reset(format_string("%s> ", cwd && *cwd ? cwd : "tarn"));
        }
        Owned<char> line(read_line(prompt.get(), true));
        clear_break();
        if (!line) {
            if (collecting) {
                clear(block);
                collecting = false;
                out_text("(block cancelled)\n");
            }
            continue;
        }
        if (collecting) {
            append_char(block, '\n');
            append_text(block, line.get());
            bool incomplete = false;
            int code = run_text(engine, block.c_str(), &incomplete);
            if (incomplete) continue;
            clear(block);
            collecting = false;
            set_last_error(code);
            continue;
        }
        const char* text = line.get();
        while (*text == ' ' || *text == '\t') text++;
        if (!*text) continue;
        if (is_basic_line(engine, text)) {
            bool incomplete = false;
            int code = run_text(engine, text, &incomplete);
            if (incomplete) {
                clear(block);
                append_text(block, text);
                collecting = true;
                continue;
            }
            set_last_error(code);
            continue;
        }
        int code = run_command_line(text);
        set_err(engine, code);
        set_last_error(code);
    }
    engine_destroy(engine);
    return session.exit_code;
}

}  // namespace

int shell_main(int count, char** vector) {
    register_modules();
    fs_install_hooks();
    install_line_editor_file_sources();
    install_basic_hooks();
    load_environment();

    bool run_startup = true;
    int i = 1;
    for (; i < count; i++) {
        if (equal(vector[i], "-n")) {
            run_startup = false;
            continue;
        }
        break;
    }
    if (i < count) {
        const char* mode = vector[i];
        if (equal(mode, "-c")) {
            if (i + 1 >= count) {
                out_text(kUsage);
                return 2;
            }
            return run_code(count - i - 1, vector + i + 1);
        }
        if (equal(mode, "-k")) {
            if (i + 1 >= count) {
                out_text(kUsage);
                return 2;
            }
            return check_scripts(count - i - 1, vector + i + 1);
        }
        if (equal(mode, "-h") || equal(mode, "--help")) {
            out_text(kUsage);
            return 0;
        }
        return run_script_argument(count - i, vector + i);
    }
    return interactive_session(run_startup);
}

}  // namespace tarn

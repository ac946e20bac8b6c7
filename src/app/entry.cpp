// The image entry point: console and clock preparation, arguments, private stack.
#include "app/entry.h"

#include "cpu/cpu.h"
#include "fs/volumes.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/exit.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/guids.h"

namespace tarn {

namespace {

constexpr uint64_t kStackPages = 256;  // 1 MiB

void choose_console_mode() {
    FirmwareContext& fw = firmware();
    auto* out = fw.system_table->con_out;
    if (!out || !out->mode) return;
    int32_t max_mode = out->mode->max_mode;
    if (max_mode <= 0) return;
    uint64_t count = static_cast<uint64_t>(max_mode);
    Owned<uint64_t> columns(static_cast<uint64_t*>(allocate_zeroed(count, sizeof(uint64_t))));
    Owned<uint64_t> rows(static_cast<uint64_t*>(allocate_zeroed(count, sizeof(uint64_t))));
    if (!columns || !rows) return;
    for (uint64_t m = 0; m < count; m++) {
        uint64_t c = 0, r = 0;
        if (out->query_mode(out, m, &c, &r) == efi::kSuccess) {
            columns[m] = c;
            rows[m] = r;
        }
    }
    int64_t current = out->mode->mode;
    int64_t chosen = choose_text_mode(columns.get(), rows.get(), count, current);
    if (chosen < 0) return;
    if (out->set_mode(out, static_cast<uint64_t>(chosen)) == efi::kSuccess) fw.saved_mode = current;
}

bool is_text_options(const char16_t* units, uint64_t count) {
    for (uint64_t i = 0; i < count; i++) {
        char16_t u = units[i];
        if (u == 0) return true;
        if (u < 0x20 && u != u'\t') return false;
    }
    return true;
}

bool ends_with_efi(const char* word) {
    uint64_t n = strlen(word);
    return n >= 4 && equal_nocase(word + n - 4, ".efi");
}

struct MainCall {
    int count;
    char** vector;
    int result;
};

int run_main(void* arg) {
    auto* call = static_cast<MainCall*>(arg);
    call->result = shell_main(call->count, call->vector);
    return call->result;
}

int arguments_from_shell_parameters(char*** vector) {
    FirmwareContext& fw = firmware();
    efi::ShellParameters* params = nullptr;
    if (fw.boot->open_protocol(fw.image, &efi::kShellParametersProtocolGuid, reinterpret_cast<void**>(&params),
                               fw.image, nullptr, efi::kOpenProtocolGetProtocol) != efi::kSuccess ||
        !params || params->argc == 0 || !params->argv)
        return 0;
    uint64_t argc = params->argc;
    if (argc > 4096) argc = 4096;
    char** v = xallocate_array<char*>(argc + 1);
    for (uint64_t i = 0; i < argc; i++) v[i] = ucs2_to_utf8(params->argv[i] ? params->argv[i] : u"");
    v[argc] = nullptr;
    *vector = v;
    return static_cast<int>(argc);
}

}  // namespace

int64_t choose_text_mode(const uint64_t* columns, const uint64_t* rows, uint64_t count, int64_t current) {
    auto qualifies = [&](uint64_t m) { return columns[m] >= 100 && rows[m] >= 25; };
    if (current >= 0 && static_cast<uint64_t>(current) < count && qualifies(static_cast<uint64_t>(current)))
        return -1;
    int64_t best = -1;
    for (uint64_t m = 0; m < count; m++) {
        if (!qualifies(m)) continue;
        if (best < 0 || columns[m] < columns[best]) best = static_cast<int64_t>(m);
    }
    return best;
}

int arguments_from_load_options(const void* options, uint64_t size, char*** vector) {
    Vector<char*> words;
    words.push(xstrdup("tarn"));
    if (options && size >= 2 && size % 2 == 0) {
        const auto* units = static_cast<const char16_t*>(options);
        uint64_t count = size / 2;
        if (is_text_options(units, count)) {
            uint64_t n = 0;
            while (n < count && units[n]) n++;
            char* text = ucs2_to_utf8(units, n);
            StringBuffer word;
            bool quoted = false, have_word = false;
            for (const char* p = text;; p++) {
                char c = *p;
                if (c == '"') {
                    quoted = !quoted;
                    have_word = true;
                    continue;
                }
                if (c == 0 || (!quoted && (c == ' ' || c == '\t'))) {
                    if (have_word) {
                        words.push(take(word));
                        have_word = false;
                    }
                    if (c == 0) break;
                    continue;
                }
                append_char(word, c);
                have_word = true;
            }
            release(text);
            // The first word names the program only when it looks like one; boot entries
            // store bare arguments.
            if (words.size() > 1 && (ends_with_efi(words[1]) || equal_nocase(words[1], "tarn"))) {
                release(words[0]);
                words.remove_at(0);
            }
        }
    }
    char** v = xallocate_array<char*>(words.size() + 1);
    for (size_t i = 0; i < words.size(); i++) v[i] = words[i];
    v[words.size()] = nullptr;
    *vector = v;
    return static_cast<int>(words.size());
}

void prepare_firmware(efi::Handle image, efi::SystemTable* st) {
    attach_firmware(image, st);
    FirmwareContext& fw = firmware();
    fw.boot->set_watchdog_timer(0, 0, 0, nullptr);
    void* iface = nullptr;
    if (fw.boot->handle_protocol(image, &efi::kLoadedImageProtocolGuid, &iface) == efi::kSuccess)
        fw.loaded_image = static_cast<efi::LoadedImage*>(iface);
    iface = nullptr;
    if (st->console_in_handle &&
        fw.boot->handle_protocol(st->console_in_handle, &efi::kSimpleTextInputExProtocolGuid, &iface) ==
            efi::kSuccess)
        fw.con_in_ex = static_cast<efi::SimpleTextInputEx*>(iface);
    int32_t attribute = st->con_out && st->con_out->mode ? st->con_out->mode->attribute : 0;
    fw.saved_attribute = attribute ? attribute : 7;
    choose_console_mode();
    console_show_cursor(true);
    clock_calibrate();
}

efi::Status entry(efi::Handle image, efi::SystemTable* st) {
    prepare_firmware(image, st);
    FirmwareContext& fw = firmware();
    initialize_volumes();

    MainCall call{0, nullptr, 0};
    call.count = arguments_from_shell_parameters(&call.vector);
    if (call.count == 0) {
        const void* options = fw.loaded_image ? fw.loaded_image->load_options : nullptr;
        uint64_t size = fw.loaded_image ? fw.loaded_image->load_options_size : 0;
        call.count = arguments_from_load_options(options, size, &call.vector);
    }

    efi::PhysicalAddress stack = 0;
    if (fw.boot->allocate_pages(efi::kAllocateAnyPages, efi::kLoaderData, kStackPages, &stack) == efi::kSuccess &&
        stack != 0) {
        void* top = reinterpret_cast<void*>(stack + kStackPages * 4096);
        call_on_stack(top, run_main, &call);
        fw.boot->free_pages(stack, kStackPages);
    } else {
        run_main(&call);
    }
    for (int i = 0; i < call.count; i++) release(call.vector[i]);
    release(call.vector);
    restore_console_state();
    return exit_status(call.result);
}

}  // namespace tarn

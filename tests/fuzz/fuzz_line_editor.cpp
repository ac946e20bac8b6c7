// The line editor, the history file loader and the menu under arbitrary keys, screen
// sizes and history files. The first bytes pick the screen and the history file; the
// rest are keys. Whatever comes, the editor returns a line no longer than what was
// typed and completed, the history keeps at most 500 entries, and every block is
// released again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "shell/history.h"
#include "shell/line_editor.h"
#include "shell/registry.h"
#include "sim.h"
#include "uefi/guids.h"

using namespace tarn;

namespace {

void check(bool condition) {
    if (!condition) abort();
}

std::string g_file;
const char* fake_volume() { return "fs0"; }
ShellError fake_read(const char*, char** data, uint64_t* length) {
    *data = static_cast<char*>(xallocate(g_file.size() + 1));
    memcpy(*data, g_file.data(), g_file.size());
    *length = g_file.size();
    return kOk;
}
ShellError fake_append(const char*, const char* bytes, uint64_t n) {
    g_file.append(bytes, n);
    return kOk;
}
ShellError fake_truncate(const char*) {
    g_file.clear();
    return kOk;
}
constexpr HistoryFileOps kOps = {fake_volume, fake_read, fake_append, fake_truncate};

uint64_t volumes() { return 2; }
const char* volume_name(uint64_t i) { return i == 0 ? "fs0" : "fs1"; }
bool list(const char* directory, DirectoryVisitor visit, void* context) {
    if (*directory && strcmp(directory, "fs0:\\") != 0) return false;
    visit(context, "efi", true);
    visit(context, "efiboot.tsb", false);
    visit(context, "\xc3\xa9t\xc3\xa9.efi", false);
    visit(context, "a b", true);
    return true;
}
constexpr CompletionSources kSources = {volumes, volume_name, list};

int nop(int, char**) { return 0; }
const CommandDescriptor kCommands[] = {
    {"map", nop, nullptr, "", nullptr, 0},
    {"mkdir", nop, nullptr, "", nullptr, 0},
    {"echo", nop, nullptr, "", nullptr, 0},
};

const sim::TextMode kModes[] = {{80, 25}, {20, 5}, {10, 2}, {0, 0}, {1, 1}, {200, 3}, {12, 40}, {80, 1}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    sim::SimFirmware fw;
    register_commands(kCommands, 3);
    set_completion_sources(&kSources);
    set_history_file_ops(&kOps);

    uint8_t setup = data[0];
    if (setup & 0x04) {
        // Extended input, so that Ctrl and Alt arrive as modifiers.
        void* iface = nullptr;
        fw.system_table()->boot_services->handle_protocol(
            fw.system_table()->console_in_handle,
            const_cast<efi::Guid*>(&efi::kSimpleTextInputExProtocolGuid), &iface);
        firmware().con_in_ex = static_cast<efi::SimpleTextInputEx*>(iface);
    }
    fw.set_text_modes({{80, 25}, kModes[(setup ^ (setup >> 3)) & 7]});
    fw.set_current_mode(1);
    // The history file: some lines from the input itself, with CRs and NULs as they come.
    uint64_t file_bytes = data[1] % (size - 1);
    g_file.assign(reinterpret_cast<const char*>(data + 2), file_bytes < size - 2 ? file_bytes : size - 2);
    size_t at = 2 + g_file.size();

    while (at + 1 < size) {
        uint8_t kind = data[at];
        uint8_t value = data[at + 1];
        at += 2;
        uint32_t shift = 0;
        if (kind & 0x10) shift = 0x80000000u | 0x08;  // Ctrl
        if (kind & 0x20) shift = 0x80000000u | 0x20;  // Alt
        if (kind & 0x80) {
            fw.push_key(0, static_cast<uint16_t>(value % 0x18), shift);
        } else if (kind & 0x40) {
            fw.push_key(static_cast<char16_t>(0xe0 + value), 0, shift);  // non-ASCII
        } else {
            fw.push_key(static_cast<char16_t>(value & 0x7f), 0, shift);
        }
        if ((kind & 0x0f) == 0x0f) fw.push_key(0, 0, 0, 1000000);  // a pause (menu countdown)
    }
    // Enough Enters to leave a search and accept the line (or choose in a menu).
    fw.push_key(u'\r');
    fw.push_key(u'\r');

    bool use_menu = (setup & 0x18) == 0x18;
    auto r = fw.run([&] {
        if (use_menu) {
            const char* items[] = {"one", "two", "\xc3\xa9l\xc3\xa8ve", "a much longer item than fits on a narrow screen"};
            int choice = menu("title", items, 4, setup >> 5, (setup >> 5) % 5);
            check(choice >= -1 && choice <= 4);
            return;
        }
        char* line = read_line("fs0:\\> ", (setup & 0x08) == 0);
        if (line) {
            // Control characters never reach the line.
            for (const char* p = line; *p; p++) check(static_cast<unsigned char>(*p) >= 0x20);
            release(line);
        }
    });
    check(!r.stuck);
    check(history_count() <= kHistoryLimit);
    history_clear();
    set_completion_sources(nullptr);
    set_history_file_ops(nullptr);
    reset_registry();
    check(fw.outstanding_allocations() == 0);
    return 0;
}

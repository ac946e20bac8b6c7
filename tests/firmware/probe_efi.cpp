// probe.efi: a test application that reports what the shell handed it.
//
// Started from TARN, it prints on ConOut, one line each:
//
//     probe: options [LOADOPTIONS] size N      (the load options as text, and their size)
//     probe: argc N                            (from the Shell Parameters protocol)
//     probe: argv[I] [TEXT]                    (one line per argument)
//     probe: handles in out err                (each standard handle present, else "-")
//     probe: console line
//
// and through the StdOut handle "probe: stdout line". Words among its arguments:
//
//     clear        clear the screen and set a white-on-red attribute first
//     status=N     end with the error status N (decimal), else success
//     data=TEXT    pass TEXT as exit data (through Exit)
//     shell        call the Shell protocol: print "probe: shell root R cwd [DIR] major M
//                  minor N", then Execute "echo from the probe" and print
//                  "probe: execute STATUS" (hexadecimal), then "probe: names [NAME] [DEVICE]"
//                  (GetGuidName of the Shell protocol's GUID, GetDeviceName of its own
//                  device)
//     break        print "probe: waiting for break", then wait up to 20 s for the shell's
//                  ExecutionBreak event and print "probe: break seen" or "probe: no break"
//
// It uses only the UEFI definitions in src/uefi, not the shell's runtime.
#include "uefi/guids.h"
#include "uefi/protocols.h"
#include "uefi/shell.h"
#include "uefi/tables.h"
#include "efi_test_memory.h"

using namespace tarn::efi;


namespace {

constexpr size_t kMaxLine = 600;

// One line of UCS-2 text with a fixed capacity; what does not fit is dropped.
struct Line {
    Char16 text[kMaxLine];
    size_t length = 0;

    void add(Char16 c) {
        if (length + 1 < kMaxLine) text[length++] = c;
        text[length] = 0;
    }
    void add(const char* ascii) {
        while (*ascii) add(static_cast<Char16>(static_cast<uint8_t>(*ascii++)));
    }
    void add(const Char16* s, size_t max_units) {
        for (size_t i = 0; s && i < max_units && s[i]; i++) add(s[i]);
    }
    void add_number(uint64_t n) {
        char digits[24];
        int d = 0;
        do {
            digits[d++] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n);
        while (d) add(static_cast<Char16>(digits[--d]));
    }
};

void print(SystemTable* st, Line& line) {
    line.add("\r\n");
    st->con_out->output_string(st->con_out, line.text);
}

bool starts_with(const Char16* s, const char* prefix) {
    for (; *prefix; prefix++, s++)
        if (*s != static_cast<Char16>(*prefix)) return false;
    return true;
}

size_t length_of(const Char16* s) {
    size_t n = 0;
    while (s[n]) n++;
    return n;
}

}  // namespace

extern "C" Status EFIAPI probe_main(Handle image, SystemTable* st) {
    BootServices* bs = st->boot_services;
    LoadedImage* li = nullptr;
    ShellParameters* sp = nullptr;
    bs->handle_protocol(image, &kLoadedImageProtocolGuid, reinterpret_cast<void**>(&li));
    bs->handle_protocol(image, &kShellParametersProtocolGuid, reinterpret_cast<void**>(&sp));

    uint64_t status_code = 0;
    const Char16* data = nullptr;
    bool clear = false;
    bool shell = false;
    bool wait_break = false;
    for (uint64_t i = 1; sp && i < sp->argc; i++) {
        const Char16* a = sp->argv[i];
        if (starts_with(a, "status=")) {
            status_code = 0;
            for (const Char16* p = a + 7; *p >= '0' && *p <= '9'; p++) status_code = status_code * 10 + (*p - '0');
        } else if (starts_with(a, "data=")) {
            data = a + 5;
        } else if (starts_with(a, "clear") && a[5] == 0) {
            clear = true;
        } else if (starts_with(a, "shell") && a[5] == 0) {
            shell = true;
        } else if (starts_with(a, "break") && a[5] == 0) {
            wait_break = true;
        }
    }
    if (clear) {
        st->con_out->set_attribute(st->con_out, 0x4f);
        st->con_out->clear_screen(st->con_out);
    }

    Line line;
    line.add("probe: options [");
    if (li && li->load_options) line.add(static_cast<const Char16*>(li->load_options), li->load_options_size / 2);
    line.add("] size ");
    line.add_number(li ? li->load_options_size : 0);
    print(st, line);
    if (sp) {
        line = Line{};
        line.add("probe: argc ");
        line.add_number(sp->argc);
        print(st, line);
        for (uint64_t i = 0; i < sp->argc; i++) {
            line = Line{};
            line.add("probe: argv[");
            line.add_number(i);
            line.add("] [");
            line.add(sp->argv[i], kMaxLine);
            line.add("]");
            print(st, line);
        }
        line = Line{};
        line.add("probe: handles ");
        line.add(sp->std_in ? "in " : "- ");
        line.add(sp->std_out ? "out " : "- ");
        line.add(sp->std_err ? "err" : "-");
        print(st, line);
    } else {
        line = Line{};
        line.add("probe: no shell parameters");
        print(st, line);
    }
    line = Line{};
    line.add("probe: console line");
    print(st, line);
    if (sp && sp->std_out) {
        auto* out = static_cast<FileProtocol*>(sp->std_out);
        const Char16 text[] = u"probe: stdout line\r\n";
        uint64_t size = sizeof(text) - sizeof(Char16);
        out->write(out, &size, text);
    }
    if (clear) st->con_out->set_attribute(st->con_out, 0x07);
    ShellProtocol* sh = nullptr;
    if (shell && bs->locate_protocol(&kShellProtocolGuid, nullptr, reinterpret_cast<void**>(&sh)) == kSuccess) {
        line = Line{};
        line.add("probe: shell root ");
        line.add_number(sh->is_root_shell());
        line.add(" cwd [");
        line.add(sh->get_cur_dir(nullptr), kMaxLine);
        line.add("] major ");
        line.add_number(sh->major_version);
        line.add(" minor ");
        line.add_number(sh->minor_version);
        print(st, line);
        Char16 command[] = u"echo from the probe";
        Status code = 1;
        sh->execute(&image, command, nullptr, &code);
        line = Line{};
        line.add("probe: execute ");
        line.add_number(code);
        print(st, line);
        const Char16* guid_name = nullptr;
        Char16* device = nullptr;
        line = Line{};
        line.add("probe: names [");
        if (sh->get_guid_name(&kShellProtocolGuid, &guid_name) == kSuccess && guid_name) line.add(guid_name, kMaxLine);
        line.add("] [");
        if (li && sh->get_device_name(li->device_handle, 3, nullptr, &device) == kSuccess && device) {
            line.add(device, kMaxLine);
            bs->free_pool(device);
        }
        line.add("]");
        print(st, line);
    } else if (shell) {
        line = Line{};
        line.add("probe: no shell protocol");
        print(st, line);
    }

    if (wait_break) {
        if (!sh) bs->locate_protocol(&kShellProtocolGuid, nullptr, reinterpret_cast<void**>(&sh));
        line = Line{};
        line.add("probe: waiting for break");
        print(st, line);
        bool seen = false;
        for (int i = 0; i < 2000 && sh && sh->execution_break && !seen; i++) {
            seen = bs->check_event(sh->execution_break) == kSuccess;
            if (!seen) bs->stall(10000);
        }
        line = Line{};
        line.add(seen ? "probe: break seen" : "probe: no break");
        print(st, line);
    }

    Status status = status_code ? (kErrorBit | status_code) : kSuccess;
    if (data) {
        uint64_t bytes = (length_of(data) + 1) * sizeof(Char16);
        void* block = nullptr;
        if (bs->allocate_pool(kLoaderData, bytes, &block) == kSuccess) {
            memcpy(block, data, bytes);
            bs->exit(image, status, bytes, static_cast<Char16*>(block));
        }
    }
    return status;
}

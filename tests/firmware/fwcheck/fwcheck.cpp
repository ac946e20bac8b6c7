// A test program for the firmware tests: it runs the shell's runtime and output
// channel inside real firmware and prints what the harness checks. The check is
// chosen by the load options ("fwcheck.efi CHECK [ARGS]").
#include "app/entry.h"
#include "runtime/console.h"
#include "runtime/exit.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"

using namespace tarn;

namespace {

int check_output() {
    out_printf("fwcheck: output begins\n");
    out_printf("utf8: %s\n", "gr\xc3\xbc\xc3\x9f " "\xe2\x82\xac" " ok");
    StringBuffer long_line;
    for (int i = 0; i < 30; i++) append_format(long_line, "<%02d>", i);
    out_printf("long: %s|end\n", long_line.c_str());
    out_printf("format: [%5d] [%-5s] [%05x] [%lld]\n", 42, "ab", 0xbeef, -9000000000LL);
    report_error("fwcheck", "this line is %s", "red");
    out_printf("fwcheck: output done\n");
    return 0;
}

// Prints 100 numbered lines with paging on a 25-row screen, then reports what the
// pager left behind.
int check_pager() {
    auto* out = firmware().system_table->con_out;
    out->set_mode(out, 0);  // 80 x 25
    pager_begin(true);
    int printed = 0;
    for (int i = 1; i <= 100 && !pager_stopped(); i++) {
        out_printf("line %03d\n", i);
        printed = i;
    }
    bool stopped = pager_stopped();
    bool brk = poll_break();
    pager_begin(false);
    out_printf("pager: printed=%d stopped=%s break=%s\n", printed, stopped ? "yes" : "no", brk ? "yes" : "no");
    return 0;
}

// Loops calling poll_break until Ctrl-C; measures the time from the key becoming
// available in the firmware to poll_break seeing it.
int check_break() {
    FirmwareContext& fw = firmware();
    efi::Event key_event = fw.con_in_ex ? fw.con_in_ex->wait_for_key_ex : fw.system_table->con_in->wait_for_key;
    clear_break();
    out_printf("break: ready\n");
    uint64_t start = milliseconds();
    uint64_t available_at = 0;
    uint64_t iterations = 0;
    while (milliseconds() - start < 60000) {
        iterations++;
        if (!available_at && fw.boot->check_event(key_event) == efi::kSuccess) available_at = milliseconds();
        if (poll_break()) {
            uint64_t now = milliseconds();
            out_printf("break: seen latency_ms=%llu iterations=%llu\n",
                       static_cast<unsigned long long>(available_at ? now - available_at : 0),
                       static_cast<unsigned long long>(iterations));
            return 0;
        }
        fw.boot->stall(1000);  // a command doing 1 ms of work per iteration
    }
    out_printf("break: timeout\n");
    return 1;
}

// Keys typed while "a command runs" are kept in the ring and read back in order.
int check_typeahead() {
    clear_break();
    out_printf("typeahead: ready\n");
    uint64_t start = milliseconds();
    while (milliseconds() - start < 4000) {
        poll_break();
        firmware().boot->stall(1000);
    }
    StringBuffer got;
    KeyEvent key;
    while (read_key(0, &key))
        if (key.character) append_codepoint(got, key.character);
    out_printf("typeahead: got=[%s] count=%llu\n", got.c_str(), static_cast<unsigned long long>(got.length));
    return 0;
}

}  // namespace

extern "C" efi::Status EFIAPI fwcheck_main(efi::Handle image, efi::SystemTable* st) {
    prepare_firmware(image, st);
    FirmwareContext& fw = firmware();
    char** argv = nullptr;
    int argc = arguments_from_load_options(fw.loaded_image ? fw.loaded_image->load_options : nullptr,
                                           fw.loaded_image ? fw.loaded_image->load_options_size : 0, &argv);
    const char* check = argc > 1 ? argv[1] : "output";
    int code = 0;
    if (equal(check, "output")) {
        code = check_output();
    } else if (equal(check, "pager")) {
        code = check_pager();
    } else if (equal(check, "break")) {
        code = check_break();
    } else if (equal(check, "typeahead")) {
        code = check_typeahead();
    } else if (equal(check, "exit")) {
        int64_t value = 0;
        if (argc > 2) parse_integer(argv[2], &value);
        out_printf("exit: leaving with %lld\n", static_cast<long long>(value));
        program_exit(static_cast<int>(value));
    } else if (equal(check, "fatal")) {
        fatal("fwcheck fatal stop");
    } else {
        report_error("fwcheck", "unknown check %s", check);
        code = 2;
    }
    out_printf("fwcheck: done\n");
    restore_console_state();
    return exit_status(code);
}

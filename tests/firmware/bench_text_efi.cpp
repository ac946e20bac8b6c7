// A benchmark program for the text commands in real firmware (built and run by
// bench/files/run.sh, not by the tests). In one boot it times plain loops over the
// firmware's file protocol and the commands doing the same work on the same files, and
// prints one line per measurement: "bench: NAME ms=N" (the best of several runs).
//
//   \bench\text8.txt   read by a plain loop, by `grep -c` and by `wc`
//   \bench\big32.bin   copied by a plain read+write loop and by `cp` (when it exists)
#include "app/entry.h"
#include "app/modules.h"
#include "commands/files/file_commands.h"
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "runtime/console.h"
#include "runtime/exit.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/executor.h"
#include "shell/registry.h"
#include "uefi/guids.h"

using namespace tarn;

namespace {

constexpr int kRuns = 5;

efi::FileProtocol* open_root() {
    int boot = boot_volume_index();
    if (boot < 0) return nullptr;
    efi::SimpleFileSystem* fs = nullptr;
    if (firmware().boot->handle_protocol(volume_handle(boot), &efi::kSimpleFileSystemProtocolGuid,
                                         reinterpret_cast<void**>(&fs)) != efi::kSuccess)
        return nullptr;
    efi::FileProtocol* root = nullptr;
    if (fs->open_volume(fs, &root) != efi::kSuccess) return nullptr;
    return root;
}

// Reads the whole file in pieces of `piece` bytes, into one buffer of `piece` bytes, or
// with `whole` into a new buffer of the file's size (as commands that need the whole
// text must); returns the bytes read.
uint64_t read_loop(const char16_t* name, uint64_t piece, bool whole = false) {
    efi::FileProtocol* root = open_root();
    if (!root) return 0;
    efi::FileProtocol* file = nullptr;
    uint64_t total = 0;
    if (root->open(root, &file, name, efi::kFileModeRead, 0) == efi::kSuccess) {
        uint64_t capacity = piece;
        if (whole) {
            // The size from the file's end position.
            file->set_position(file, UINT64_MAX);
            file->get_position(file, &capacity);
            file->set_position(file, 0);
        }
        auto* buffer = static_cast<uint8_t*>(xallocate(capacity + 1));
        for (;;) {
            uint64_t n = whole ? min_of(piece, capacity - total) : piece;
            if (n == 0) break;
            if (file->read(file, &n, whole ? buffer + total : buffer) != efi::kSuccess || n == 0) break;
            total += n;
        }
        release(buffer);
        file->close(file);
    }
    root->close(root);
    return total;
}

// Copies a file with reads and writes of `piece` bytes; returns the bytes written.
uint64_t copy_loop(const char16_t* from, const char16_t* to, uint64_t piece) {
    efi::FileProtocol* root = open_root();
    if (!root) return 0;
    efi::FileProtocol* in = nullptr;
    efi::FileProtocol* out = nullptr;
    uint64_t total = 0;
    if (root->open(root, &in, from, efi::kFileModeRead, 0) == efi::kSuccess) {
        if (root->open(root, &out, to, efi::kFileModeRead | efi::kFileModeWrite | efi::kFileModeCreate, 0) ==
            efi::kSuccess) {
            auto* buffer = static_cast<uint8_t*>(xallocate(piece));
            for (;;) {
                uint64_t n = piece;
                if (in->read(in, &n, buffer) != efi::kSuccess || n == 0) break;
                uint64_t w = n;
                if (out->write(out, &w, buffer) != efi::kSuccess || w != n) break;
                total += n;
            }
            release(buffer);
            out->close(out);
        }
        in->close(in);
    }
    root->close(root);
    return total;
}

void report(const char* name, uint64_t best, uint64_t bytes) {
    out_printf("bench: %s ms=%llu bytes=%llu\n", name, static_cast<unsigned long long>(best),
               static_cast<unsigned long long>(bytes));
}

template <class F> uint64_t best_of(F work) {
    uint64_t best = UINT64_MAX;
    for (int i = 0; i < kRuns; i++) {
        uint64_t start = milliseconds();
        work();
        uint64_t took = milliseconds() - start;
        if (took < best) best = took;
    }
    return best;
}

uint64_t command_time(const char* line) {
    return best_of([&] {
        int code = run_command_line(line);
        if (code != 0 && code != 1) out_printf("bench: '%s' exit code %d\n", line, code);
    });
}

}  // namespace

extern "C" efi::Status EFIAPI bench_text_main(efi::Handle image, efi::SystemTable* st) {
    prepare_firmware(image, st);
    initialize_volumes();
    fs_install_hooks();
    register_modules();
    // Until the module list carries them, the file and text tables are registered here.
    if (!find_command("cp")) register_file_commands();
    if (!find_command("grep")) register_text_commands();
    out_printf("bench: start\n");

    const char16_t* text = u"\\bench\\text8.txt";
    uint64_t bytes = 0;
    uint64_t t = best_of([&] { bytes = read_loop(text, 4096); });
    report("read-loop-4k", t, bytes);
    t = best_of([&] { bytes = read_loop(text, 262144); });
    report("read-loop-256k", t, bytes);
    t = best_of([&] { bytes = read_loop(text, 4096, true); });
    report("read-loop-4k-whole", t, bytes);
    // The file layer's whole-file read that the commands start with.
    char* path = resolve_path("\\bench\\text8.txt");
    t = best_of([&] {
        char* data = nullptr;
        if (path && read_whole_file(path, &data, &bytes) == kOk) release(data);
    });
    release(path);
    report("read_whole_file", t, bytes);
    report("grep-c", command_time("grep -c needle \\bench\\text8.txt"), bytes);
    report("grep-ic", command_time("grep -i -c NEEDLE \\bench\\text8.txt"), bytes);
    report("wc", command_time("wc \\bench\\text8.txt"), bytes);
    report("grep-c-miss", command_time("grep -c zzzz \\bench\\text8.txt"), bytes);

    if (find_command("cp")) {
        t = best_of([&] { bytes = copy_loop(u"\\bench\\big32.bin", u"\\bench\\loop.bin", 262144); });
        report("copy-loop-256k", t, bytes);
        report("cp", command_time("cp \\bench\\big32.bin \\bench\\cp.bin"), bytes);
    } else {
        out_printf("bench: cp not available\n");
    }
    out_printf("bench: done\n");
    restore_console_state();  // takes back what registration installed (the Shell protocol)
    return efi::kSuccess;
}

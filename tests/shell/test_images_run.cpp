// Starting EFI applications: host functions stand in for the images, registered with the
// simulated firmware under the bytes of the file the shell loads.
#include <cstring>
#include <string>
#include <vector>

#include "handles.h"
#include "images/console_hook.h"
#include "images/images.h"
#include "images/shell_files.h"
#include "platform/secure_boot.h"
#include "uefi/guids.h"
#include "command_test.h"

using namespace tarn;
using namespace tarn_test;

namespace {

// What an image saw when it started.
struct Seen {
    std::u16string load_options;
    uint32_t load_options_size = 0;
    std::vector<std::u16string> argv;
    bool argv_terminated = false;
    bool standard_handles = false;
    efi::SimpleTextOutput* con_out = nullptr;
    int hook_depth = 0;
};

std::string narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

template <class T> T* protocol_of(efi::SystemTable* st, efi::Handle handle, const efi::Guid& guid) {
    void* p = nullptr;
    if (st->boot_services->handle_protocol(handle, &guid, &p) != efi::kSuccess) return nullptr;
    return static_cast<T*>(p);
}

Seen observe(efi::Handle image, efi::SystemTable* st) {
    Seen seen;
    if (auto* li = protocol_of<efi::LoadedImage>(st, image, efi::kLoadedImageProtocolGuid)) {
        seen.load_options_size = li->load_options_size;
        if (li->load_options) seen.load_options = static_cast<const char16_t*>(li->load_options);
    }
    if (auto* sp = protocol_of<efi::ShellParameters>(st, image, efi::kShellParametersProtocolGuid)) {
        for (uint64_t i = 0; i < sp->argc; i++) seen.argv.push_back(sp->argv[i]);
        seen.argv_terminated = sp->argv[sp->argc] == nullptr;
        seen.standard_handles = sp->std_in == standard_input() && sp->std_out == standard_output() &&
                                sp->std_err == standard_error();
    }
    seen.con_out = st->con_out;
    seen.hook_depth = console_hook_depth();
    return seen;
}

void print16(efi::SystemTable* st, const std::u16string& text) { st->con_out->output_string(st->con_out, text.c_str()); }

// Exit with a status and exit data the image allocated (the shell frees it).
[[noreturn]] void exit_with(efi::Handle image, efi::SystemTable* st, efi::Status status,
                            const std::u16string& data, uint64_t size_bytes) {
    void* block = nullptr;
    uint64_t alloc = std::max<uint64_t>(size_bytes, (data.size() + 1) * 2);
    st->boot_services->allocate_pool(efi::kLoaderData, alloc, &block);
    std::memset(block, 'z', alloc);
    std::memcpy(block, data.c_str(), (data.size() + 1) * 2);
    st->boot_services->exit(image, status, size_bytes, static_cast<char16_t*>(block));
    std::abort();
}

// A shell with the real image runner and its standard handles made (they live for the
// whole run, so the per-line leak check must not count them).
struct ImageShell : CommandShell {
    ImageShell() : CommandShell(text_commands()) {
        set_image_runner(run_image);
        (void)standard_input();
        (void)standard_output();
        (void)standard_error();
    }
    // A file at path whose bytes the firmware knows as the image fn.
    void add_image(const std::string& path, sim::ImageEntry fn, sim::ImageOptions options = {}) {
        std::string bytes = pe_image(0x8664, 0x20b, 10, 0x80, 1024 + images_++);
        add_file(path, bytes);
        fw.register_image_buffer(std::vector<uint8_t>(bytes.begin(), bytes.end()), std::move(fn), options);
    }
    size_t loaded_images() { return fw.handles().handles_with(efi::kLoadedImageProtocolGuid).size(); }
    int images_ = 0;
};

TEST(ImagesRun, CommandLineQuoting) {
    sim::SimFirmware fw;
    struct Row {
        std::vector<std::string> args;
        const char* line;
    } rows[] = {
        {{"fs0:\\app.efi", "a b", "", "x\"y"}, "fs0:\\app.efi \"a b\" \"\" \"x\"\"y\""},
        {{"fs0:\\app.efi"}, "fs0:\\app.efi"},
        {{"fs0:\\my dir\\app.efi", "-v"}, "\"fs0:\\my dir\\app.efi\" -v"},
        {{"a", "tab\there", "\"", "plain"}, "a \"tab\there\" \"\"\"\" plain"},
        {{}, ""},
    };
    for (const Row& row : rows) {
        std::vector<char*> v;
        for (const std::string& a : row.args) v.push_back(const_cast<char*>(a.c_str()));
        v.push_back(nullptr);
        char* line = image_command_line(static_cast<int>(row.args.size()), v.data());
        EXPECT_STREQ(line, row.line);
        release(line);
    }
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ImagesRun, ArgumentsReachTheImageAsLoadOptionsAndArgv) {
    ImageShell sh;
    Seen seen;
    sh.add_image("\\app.efi", [&](efi::Handle h, efi::SystemTable* st) {
        seen = observe(h, st);
        return efi::kSuccess;
    });
    struct Row {
        const char* typed;
        const char* options;
        std::vector<std::string> argv;
    } rows[] = {
        {"app.efi \"a b\" \"\" \"x\"\"y\"", "fs0:\\app.efi \"a b\" \"\" \"x\"\"y\"",
         {"fs0:\\app.efi", "a b", "", "x\"y"}},
        {"app", "fs0:\\app.efi", {"fs0:\\app.efi"}},
        {"fs0:\\APP.EFI one\ttwo", "fs0:\\APP.EFI one two", {"fs0:\\APP.EFI", "one", "two"}},
    };
    for (const Row& row : rows) {
        seen = Seen{};
        RunResult r = sh.run(row.typed);
        EXPECT_EQ(r.code, 0) << row.typed << r.errors;
        EXPECT_EQ(narrow(seen.load_options), row.options);
        EXPECT_EQ(seen.load_options_size, 2 * std::strlen(row.options) + 2);
        std::vector<std::string> argv;
        for (auto& a : seen.argv) argv.push_back(narrow(a));
        EXPECT_EQ(argv, row.argv) << row.typed;
        EXPECT_TRUE(seen.argv_terminated);
        EXPECT_TRUE(seen.standard_handles);
    }
    // Nothing stays behind: the parameters protocol is gone with the image.
    EXPECT_TRUE(sh.fw.handles().handles_with(efi::kShellParametersProtocolGuid).empty());
    EXPECT_EQ(sh.loaded_images(), 1u);  // the shell's own
}

TEST(ImagesRun, ExitStatusAndExitData) {
    ImageShell sh;
    struct Row {
        efi::Status status;
        std::u16string data;
        uint64_t data_bytes;  // 0: no exit data
        int code;
        const char* errors;
    } rows[] = {
        {efi::kSuccess, u"", 0, 0, ""},
        {efi::kSuccess, u"", 2, 0, ""},  // empty exit data prints nothing
        {efi::kNotFound, u"", 0, 14, "app.efi: exited with status: not found\n"},
        {efi::kAborted, u"went wrong", 22, 21, "app.efi: went wrong\napp.efi: exited with status: aborted\n"},
        {efi::make_error(0x100), u"", 0, 1, "app.efi: exited with status: "},
        // Exit data without a terminator is cut at its size (3 bytes: one unit).
        {efi::kLoadError, u"abc", 3, 1, "app.efi: a\napp.efi: exited with status: load error\n"},
    };
    const Row* current = nullptr;
    sh.add_image("\\app.efi", [&](efi::Handle h, efi::SystemTable* st) -> efi::Status {
        if (current->data_bytes) exit_with(h, st, current->status, current->data, current->data_bytes);
        return current->status;
    });
    for (const Row& row : rows) {
        current = &row;
        RunResult r = sh.expect_failure("app.efi", row.code, row.errors);
        EXPECT_EQ(last_error(), row.code);
    }
}

TEST(ImagesRun, LoadFailuresAndSecureBoot) {
    struct Row {
        efi::Status load_status;
        bool secure_boot;
        const char* errors;
    } rows[] = {
        {efi::kSecurityViolation, false, "app.efi: not allowed by Secure Boot (the image is not signed by a trusted key)\n"},
        {efi::kAccessDenied, true, "app.efi: not allowed by Secure Boot (the image is not signed by a trusted key)\n"},
        {efi::kAccessDenied, false, "app.efi: cannot load the image: access denied\n"},
        {efi::kUnsupported, true, "app.efi: cannot load the image: unsupported\n"},
    };
    int started = 0;
    for (const Row& row : rows) {
        ImageShell s;
        if (row.secure_boot) s.store().put(u"SecureBoot", efi::kGlobalVariableGuid, 6, {1});
        reset_secure_boot_state();
        sim::ImageOptions options;
        options.load_status = row.load_status;
        s.add_image("\\app.efi", [&](efi::Handle, efi::SystemTable*) {
            started++;
            return efi::kSuccess;
        }, options);
        s.expect_failure("app.efi", 1, row.errors);
        EXPECT_EQ(s.loaded_images(), 1u) << "a refused image stays loaded";
    }
    EXPECT_EQ(started, 0);
    ImageShell sh;
    // Bytes the firmware cannot load, and a file that cannot be read.
    sh.add_file("\\junk.efi", pe_image(0x8664, 0x20b, 10, 0x80, 4000));
    sh.expect_failure("junk.efi", 1, "junk.efi: cannot load the image: load error\n");
    char path[] = "fs0:\\gone.efi";
    char* vector[] = {path, nullptr};
    EXPECT_EQ(run_image(path, 1, vector), 1);
    EXPECT_NE(sh.error_lines().find("gone.efi: fs0:\\gone.efi: not found\n"), std::string::npos);
}

TEST(ImagesRun, RedirectedConsoleOutputLandsInTheFile) {
    ImageShell sh;
    efi::SystemTable* st = sh.fw.system_table();
    efi::SimpleTextOutput* real = st->con_out;
    Seen seen;
    uint64_t columns = 0, rows = 0;
    sh.add_image("\\app.efi", [&](efi::Handle h, efi::SystemTable* t) {
        seen = observe(h, t);
        print16(t, u"a\r\nb\r\n");
        t->con_out->set_attribute(t->con_out, 0x4f);
        t->con_out->clear_screen(t->con_out);
        t->con_out->set_cursor_position(t->con_out, 5, 5);
        t->con_out->query_mode(t->con_out, 0, &columns, &rows);
        // A command run on the image's behalf reports its error on the real console.
        run_command_line("nosuchcommand");
        print16(t, u"c\xe9\r\n");
        return efi::kSuccess;
    });
    const std::string before = sh.screen().text();
    EXPECT_EQ(sh.run("app.efi > fs0:\\o.txt").code, 0);
    EXPECT_EQ(sh.file_content("\\o.txt"), "a\nb\nc\xc3\xa9\n");
    EXPECT_NE(seen.con_out, real);
    EXPECT_EQ(seen.hook_depth, 1);
    EXPECT_EQ(columns, 80u);
    EXPECT_EQ(rows, 25u);
    EXPECT_NE(sh.error_lines().find("nosuchcommand"), std::string::npos);
    // Back: the real console, a valid table CRC, the screen untouched by the image.
    EXPECT_EQ(st->con_out, real);
    EXPECT_EQ(console_hook_depth(), 0);
    uint32_t stored = st->hdr.crc32, computed = 0;
    st->hdr.crc32 = 0;
    st->boot_services->calculate_crc32(st, st->hdr.header_size, &computed);
    st->hdr.crc32 = stored;
    EXPECT_EQ(stored, computed);
    EXPECT_EQ(sh.screen().attribute(), 0x07);
    EXPECT_NE(sh.screen().text().find(before.substr(0, 10)), std::string::npos);
    // Without redirection the image writes to the console itself.
    sh.run("app.efi");
    EXPECT_EQ(seen.con_out, real);
    EXPECT_EQ(seen.hook_depth, 0);
}

TEST(ImagesRun, NestedLaunchesInstallTheHookOnce) {
    ImageShell sh;
    efi::SystemTable* st = sh.fw.system_table();
    efi::SimpleTextOutput* real = st->con_out;
    Seen inner, inner_redirected, outer_after;
    sh.add_image("\\inner.efi", [&](efi::Handle h, efi::SystemTable* t) {
        Seen s = observe(h, t);
        (s.argv.size() > 1 ? inner_redirected : inner) = s;
        print16(t, u"inner\r\n");
        return efi::kSuccess;
    });
    sh.add_image("\\outer.efi", [&](efi::Handle h, efi::SystemTable* t) {
        print16(t, u"outer 1\r\n");
        EXPECT_EQ(run_command_line("inner.efi"), 0);
        EXPECT_EQ(run_command_line("inner.efi x > fs0:\\i.txt"), 0);
        outer_after = observe(h, t);
        print16(t, u"outer 2\r\n");
        return efi::kSuccess;
    });
    EXPECT_EQ(sh.run("outer.efi > fs0:\\o.txt").code, 0);
    EXPECT_EQ(sh.file_content("\\o.txt"), "outer 1\ninner\nouter 2\n");
    EXPECT_EQ(sh.file_content("\\i.txt"), "inner\n");
    EXPECT_EQ(inner.hook_depth, 2);  // its output is still redirected: it counts too
    EXPECT_EQ(inner_redirected.hook_depth, 2);
    EXPECT_EQ(inner_redirected.con_out, inner.con_out);
    EXPECT_EQ(outer_after.hook_depth, 1);
    EXPECT_NE(outer_after.con_out, real);
    EXPECT_EQ(st->con_out, real);
    EXPECT_EQ(console_hook_depth(), 0);
}

TEST(ImagesRun, ResidentImageKeepsNoPointerToFreedOptions) {
    ImageShell sh;
    sim::ImageOptions driver;
    driver.driver = true;
    efi::Handle kept = nullptr;
    sh.add_image("\\drv.efi", [&](efi::Handle h, efi::SystemTable*) {
        kept = h;
        return efi::kSuccess;
    }, driver);
    EXPECT_EQ(sh.run("drv.efi a").code, 0);
    auto* li = protocol_of<efi::LoadedImage>(sh.fw.system_table(), kept, efi::kLoadedImageProtocolGuid);
    ASSERT_NE(li, nullptr);
    EXPECT_EQ(li->load_options, nullptr);
    EXPECT_EQ(li->load_options_size, 0u);
    EXPECT_TRUE(sh.fw.handles().handles_with(efi::kShellParametersProtocolGuid).empty());
}

// The standard handles and NUL, called as an application calls them.
uint64_t write16(efi::FileProtocol* f, const std::u16string& text, efi::Status* status = nullptr) {
    uint64_t size = text.size() * 2;
    efi::Status s = f->write(f, &size, text.data());
    if (status) *status = s;
    return size;
}

std::u16string read16(efi::FileProtocol* f, uint64_t bytes, efi::Status* status = nullptr) {
    std::u16string buffer(bytes / 2 + 1, u'\0');
    uint64_t size = bytes;
    efi::Status s = f->read(f, &size, buffer.data());
    if (status) *status = s;
    buffer.resize(size / 2);
    return buffer;
}

TEST(ImagesRun, StandardHandles) {
    ImageShell sh;
    efi::FileProtocol* out = standard_output();
    efi::FileProtocol* err = standard_error();
    efi::FileProtocol* in = standard_input();
    std::string captured_text = captured([&] { write16(out, std::u16string(u"\xfeff" u"a\r\nb\0c", 7)); });
    EXPECT_EQ(captured_text, "a\nbc");
    // Standard error goes to the console even while output is captured.
    std::string none = captured([&] { write16(err, u"to the screen\r\n"); });
    EXPECT_EQ(none, "");
    EXPECT_NE(sh.screen().transcript_lines().find("to the screen\n"), std::string::npos);
    // Standard input: a typed line in pieces, then nothing after Ctrl-C (end of input).
    sh.fw.push_text("hello\r");
    EXPECT_EQ(read16(in, 4), u"he");
    EXPECT_EQ(read16(in, 100), u"llo\n");
    sh.fw.push_key(3);
    efi::Status s = 0;
    EXPECT_EQ(read16(in, 100, &s), u"");
    EXPECT_EQ(s, efi::kSuccess);
    // Operations a stream does not have, and Close keeping the handle.
    struct Row {
        efi::FileProtocol* file;
        efi::Status read, write, position, close;
    } rows[] = {
        {in, efi::kSuccess, efi::kUnsupported, efi::kUnsupported, efi::kSuccess},
        {out, efi::kUnsupported, efi::kSuccess, efi::kUnsupported, efi::kSuccess},
        {err, efi::kUnsupported, efi::kSuccess, efi::kUnsupported, efi::kSuccess},
    };
    for (const Row& row : rows) {
        efi::Status st = 0;
        uint64_t position = 0;
        if (row.file != in) {
            read16(row.file, 8, &st);
            EXPECT_EQ(st, row.read);
        }
        (void)captured([&] { write16(row.file, u"", &st); });
        EXPECT_EQ(st, row.write);
        EXPECT_EQ(row.file->get_position(row.file, &position), row.position);
        EXPECT_EQ(row.file->set_position(row.file, 0), row.position);
        EXPECT_EQ(row.file->flush(row.file), efi::kSuccess);
        EXPECT_EQ(row.file->close(row.file), row.close);
        EXPECT_EQ(row.file->delete_file(row.file), efi::Status{2});  // warning: delete failure
        EXPECT_NE(shell_file_of(row.file), nullptr);
    }
    // NUL discards writes and reads nothing; a foreign handle is refused.
    const int64_t blocks = sh.fw.outstanding_allocations();
    efi::FileProtocol* nul = open_null_file();
    EXPECT_EQ(write16(nul, u"gone"), 8u);
    EXPECT_EQ(read16(nul, 8), u"");
    EXPECT_EQ(nul->close(nul), efi::kSuccess);
    EXPECT_EQ(sh.fw.outstanding_allocations(), blocks);
    ShellFile fake{};
    fake.protocol = static_cast<ShellFile*>(static_cast<void*>(out))->protocol;
    EXPECT_EQ(fake.protocol.flush(&fake.protocol), efi::kInvalidParameter);
    uint64_t size = 2;
    EXPECT_EQ(fake.protocol.write(&fake.protocol, &size, u"x"), efi::kInvalidParameter);
}

}  // namespace

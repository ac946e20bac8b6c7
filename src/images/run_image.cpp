// run_image: loading, arguments, redirection of the image's console, exit status.
#include "images/images.h"

#include "fs/files.h"
#include "fs/paths.h"
#include "images/console_hook.h"
#include "images/shell_files.h"
#include "images/shell_protocol.h"
#include "platform/secure_boot.h"
#include "runtime/console.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/hooks.h"
#include "uefi/guids.h"

namespace tarn {
namespace {

constexpr efi::Guid kShellParametersGuid = efi::kShellParametersProtocolGuid;

bool needs_quotes(const char* arg) {
    if (!*arg) return true;
    for (const char* p = arg; *p; p++)
        if (*p == ' ' || *p == '\t' || *p == '"') return true;
    return false;
}

// The Argv of one launch: UCS-2 copies of the arguments and a final null slot.
class ArgumentVector {
public:
    ArgumentVector(int count, char* const* vector) : count_(count) {
        argv_ = xallocate_array<char16_t*>(static_cast<uint64_t>(count) + 1);
        for (int i = 0; i < count; i++) argv_[i] = utf8_to_ucs2(vector[i]);
    }
    ~ArgumentVector() {
        for (int i = 0; i < count_; i++) release(argv_[i]);
        release(argv_);
    }
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;
    char16_t** get() { return argv_; }

private:
    int count_;
    char16_t** argv_;
};

// The Shell Parameters protocol on the image handle for as long as this lives.
class ParametersInstallation {
public:
    ParametersInstallation(efi::Handle image, efi::ShellParameters* parameters) : image_(image), parameters_(parameters) {
        efi::Handle h = image;
        installed_ = boot_services()->install_protocol_interface(&h, &kShellParametersGuid, efi::kNativeInterface,
                                                                 parameters) == efi::kSuccess;
    }
    ~ParametersInstallation() {
        if (installed_)
            (void)boot_services()->uninstall_protocol_interface(image_, &kShellParametersGuid, parameters_);
    }
    ParametersInstallation(const ParametersInstallation&) = delete;
    ParametersInstallation& operator=(const ParametersInstallation&) = delete;

private:
    efi::Handle image_;
    efi::ShellParameters* parameters_;
    bool installed_;
};

// The Loaded Image protocol of a handle, or null.
efi::LoadedImage* loaded_image_of(efi::Handle image) {
    void* interface = nullptr;
    efi::Status s = boot_services()->handle_protocol(image, &efi::kLoadedImageProtocolGuid, &interface);
    return s == efi::kSuccess ? static_cast<efi::LoadedImage*>(interface) : nullptr;
}

// Prints the exit data (bounded by its size and its first NUL) and frees it.
void report_exit_data(const char* name, efi::Char16* data, uint64_t size) {
    if (!data) return;
    uint64_t units = 0;
    while (units < size / 2 && data[units]) units++;
    Owned<char> text(ucs2_to_utf8(data, units));
    if (text.get()[0]) print_error("%s: %s\n", name, text.get());
    (void)boot_services()->free_pool(data);
}

// LoadImage from the file's bytes with its device path. Returns the handle or null after
// reporting.
efi::Handle load_image_file(const char* path, const char* name) {
    char* bytes = nullptr;
    uint64_t length = 0;
    ShellError e = read_whole_file(path, &bytes, &length);
    if (e != kOk) {
        report_error(name, "%s: %s", path, error_message(e));
        return nullptr;
    }
    Owned<char> data(bytes);
    efi::DevicePath* device_path = nullptr;
    if (file_device_path(path, &device_path) != kOk) device_path = nullptr;
    Owned<efi::DevicePath> owned_path(device_path);
    efi::Handle image = nullptr;
    efi::Status s = boot_services()->load_image(0, firmware().image, device_path, data.get(), length, &image);
    data = Owned<char>();
    owned_path = Owned<efi::DevicePath>();
    if (!efi::is_error(s) && image) return image;
    if (refused_by_secure_boot(s)) {
        if (image) (void)boot_services()->unload_image(image);
        report_error(name, "%s", "not allowed by Secure Boot (the image is not signed by a trusted key)");
        return nullptr;
    }
    report_error(name, "cannot load the image: %s", status_message(s));
    return nullptr;
}

int start_loaded_image(efi::Handle image, const char* name, int count, char** vector) {
    Owned<char> line(image_command_line(count, vector));
    uint64_t units = 0;
    Owned<char16_t> options(utf8_to_ucs2(line.get(), &units));
    if (efi::LoadedImage* li = loaded_image_of(image)) {
        li->load_options = options.get();
        li->load_options_size = static_cast<uint32_t>(2 * units + 2);
    }
    ArgumentVector argv(count, vector);
    efi::ShellParameters parameters = {argv.get(), static_cast<uint64_t>(count), standard_input(),
                                       standard_output(), standard_error()};
    efi::Status status;
    uint64_t exit_size = 0;
    efi::Char16* exit_data = nullptr;
    {
        ParametersInstallation installed(image, &parameters);
        const bool hooked = is_redirected();
        if (hooked) console_hook_enter();
        (void)poll_break();  // a Ctrl-C from before must not stop the new image
        clear_break();
        status = boot_services()->start_image(image, &exit_size, &exit_data);
        if (hooked) console_hook_leave();
        console_restore_attribute();
        // A driver or resident image keeps its Loaded Image protocol: it must not keep a
        // pointer to the options freed below.
        if (efi::LoadedImage* li = loaded_image_of(image)) {
            if (li->load_options == options.get()) {
                li->load_options = nullptr;
                li->load_options_size = 0;
            }
        }
    }
    report_exit_data(name, exit_data, exit_size);
    if (status == efi::kSuccess) return 0;
    print_error("%s: exited with status: %s\n", name, status_message(status));
    return image_exit_code(status);
}

}  // namespace

char* image_command_line(int count, char* const* vector) {
    StringBuffer line;
    for (int i = 0; i < count; i++) {
        if (i > 0) append_char(line, ' ');
        const char* arg = vector[i];
        if (!needs_quotes(arg)) {
            append_text(line, arg);
            continue;
        }
        append_char(line, '"');
        for (const char* p = arg; *p; p++) {
            if (*p == '"') append_char(line, '"');
            append_char(line, *p);
        }
        append_char(line, '"');
    }
    if (!line.data) return xstrdup("");
    return take(line);
}

int image_exit_code(efi::Status status) {
    if (status == efi::kSuccess) return 0;
    int low = static_cast<int>(status & 0xff);
    return low ? low : 1;
}

int run_image(const char* path, int count, char** vector) {
    const char* name = base_name(path);
    efi::Handle image = load_image_file(path, name);
    if (!image) return kExitFailure;
    return start_loaded_image(image, name, count, vector);
}

void register_images_module() { set_image_runner(run_image); }

void reset_images_state() {
    uninstall_shell_protocol();
    reset_console_hook();
    reset_shell_files();
}

}  // namespace tarn

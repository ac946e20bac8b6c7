// tarn-sim: the whole shell on Linux over the simulated firmware. Host folders become
// volumes (copied in at start, changes written back at exit) and the terminal is the
// console.
//
//   tarn-sim [--volume DIR]... [--keep-volumes] [--] [SHELL ARGUMENTS...]
//
// Without --volume the current folder is the boot volume. The shell gets the arguments
// exactly, through the Shell Parameters protocol, and as load options quoted the way the
// shell splits command lines. With standard output not a terminal (a pipe or a file) the
// console is written as plain text: LF line ends, no colours or cursor movement. The exit
// status is the shell's.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "device_path_from_text.h"
#include "handles.h"
#include "sim.h"
#include "sim_text.h"
#include "uefi/guids.h"
#include "uefi/protocols.h"
#include "volumes.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- terminal

struct Terminal {
    bool raw = false;
    termios saved{};

    void enter_raw() {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return;
        termios t = saved;
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &t) == 0) raw = true;
    }
    void leave_raw() {
        if (raw) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        raw = false;
    }
};

Terminal g_terminal;

void put(const std::string& s) {
    fwrite(s.data(), 1, s.size(), stdout);
    fflush(stdout);
}

std::string utf8_of(const char16_t* text) {
    std::string out;
    for (; *text; text++) {
        uint32_t c = *text;
        if (c >= 0xd800 && c <= 0xdfff) c = 0xfffd;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xc0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        } else {
            out.push_back(static_cast<char>(0xe0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        }
    }
    return out;
}

std::string ansi_attribute(uint8_t attribute) {
    static const int kAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};  // firmware colour order to ANSI
    int fg = attribute & 0x0f, bg = (attribute >> 4) & 0x07;
    std::string s = "\x1b[0;";
    s += std::to_string(fg >= 8 ? 90 + kAnsi[fg - 8] : 30 + kAnsi[fg]);
    s += ";" + std::to_string(40 + kAnsi[bg]) + "m";
    return s;
}

// Reads a byte from stdin within timeout_ms (-1 forever): 1 byte, 0 timeout, -1 end.
int read_byte(int timeout_ms, unsigned char* out) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int r = poll(&p, 1, timeout_ms);
    if (r == 0) return 0;
    if (r < 0) return -1;
    ssize_t n = read(STDIN_FILENO, out, 1);
    return n == 1 ? 1 : -1;
}

// Turns terminal input into firmware keys, as the firmware's PC-ANSI terminal does.
void push_terminal_key(sim::SimFirmware& fw, unsigned char first) {
    using namespace tarn::efi;
    if (first == 0x1b) {
        unsigned char b;
        if (read_byte(50, &b) != 1) {
            fw.push_key(0, kScanEsc);
            return;
        }
        if (b != '[' && b != 'O') {
            fw.push_key(0, kScanEsc);
            push_terminal_key(fw, b);
            return;
        }
        std::string params;
        unsigned char f = 0;
        while (read_byte(50, &f) == 1 && ((f >= '0' && f <= '9') || f == ';')) params.push_back(static_cast<char>(f));
        static const std::map<char, uint16_t> kFinal = {
            {'A', kScanUp}, {'B', kScanDown}, {'C', kScanRight}, {'D', kScanLeft},
            {'H', kScanHome}, {'F', kScanEnd}, {'P', kScanF1}, {'Q', kScanF1 + 1},
            {'R', kScanF1 + 2}, {'S', kScanF1 + 3}};
        static const std::map<int, uint16_t> kTilde = {
            {1, kScanHome}, {2, kScanInsert}, {3, kScanDelete}, {4, kScanEnd}, {5, kScanPageUp},
            {6, kScanPageDown}, {15, kScanF1 + 4}, {17, kScanF1 + 5}, {18, kScanF1 + 6},
            {19, kScanF1 + 7}, {20, kScanF1 + 8}, {21, kScanF10}, {23, kScanF11}, {24, kScanF12}};
        if (f == '~') {
            auto it = kTilde.find(std::atoi(params.c_str()));
            if (it != kTilde.end()) fw.push_key(0, it->second);
            return;
        }
        auto it = kFinal.find(static_cast<char>(f));
        if (it != kFinal.end()) fw.push_key(0, it->second);
        return;
    }
    if (first == 0x7f) {
        fw.push_key(0x08);
        return;
    }
    if (first == '\n') first = '\r';
    if (first >= 0xc0) {  // a UTF-8 sequence: decode it into one character
        int extra = first >= 0xf0 ? 3 : first >= 0xe0 ? 2 : 1;
        uint32_t cp = first & (0x3f >> extra);
        for (int i = 0; i < extra; i++) {
            unsigned char c;
            if (read_byte(50, &c) != 1) break;
            cp = (cp << 6) | (c & 0x3f);
        }
        fw.push_key(cp > 0xffff ? 0xfffd : static_cast<char16_t>(cp));
        return;
    }
    fw.push_key(first);
}

// ---------------------------------------------------------------- volumes

struct HostVolume {
    fs::path root;
    sim::VolumeId id = -1;
    std::map<std::string, std::string> loaded;  // volume path -> content at start
};

std::string read_host_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string volume_path(const fs::path& root, const fs::path& p) {
    std::string rel = fs::relative(p, root).generic_string();
    for (char& c : rel)
        if (c == '/') c = '\\';
    return "\\" + rel;
}

void load_folder(sim::SimFirmware& fw, HostVolume& v) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(v.root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::string vp = volume_path(v.root, it->path());
        if (it->is_directory()) {
            sim::add_directory(fw, v.id, vp);
        } else if (it->is_regular_file()) {
            std::string content = read_host_file(it->path());
            uint64_t attributes = 0x20;
            if ((fs::status(it->path()).permissions() & fs::perms::owner_write) == fs::perms::none)
                attributes |= 0x01;
            sim::add_file(fw, v.id, vp, content, attributes);
            v.loaded[vp] = content;
        }
    }
}

void collect_files(sim::SimFirmware& fw, sim::VolumeId id, const std::string& dir,
                   std::map<std::string, std::string>* files, std::set<std::string>* dirs) {
    for (const std::string& name : sim::list_directory(fw, id, dir.empty() ? "\\" : dir)) {
        if (name == "." || name == "..") continue;
        std::string path = dir + "\\" + name;
        if (sim::is_directory(fw, id, path)) {
            dirs->insert(path);
            collect_files(fw, id, path, files, dirs);
        } else if (auto content = sim::read_file(fw, id, path)) {
            (*files)[path] = *content;
        }
    }
}

fs::path host_path(const fs::path& root, const std::string& vp) {
    std::string rel = vp.substr(1);
    for (char& c : rel)
        if (c == '\\') c = '/';
    return root / rel;
}

// Writes what the shell changed back to the folder: new and changed files and folders,
// and deletes files that were loaded and are gone.
void write_back(sim::SimFirmware& fw, const HostVolume& v) {
    std::map<std::string, std::string> files;
    std::set<std::string> dirs;
    collect_files(fw, v.id, "", &files, &dirs);
    std::error_code ec;
    for (const std::string& d : dirs) fs::create_directories(host_path(v.root, d), ec);
    for (auto& [vp, content] : files) {
        auto was = v.loaded.find(vp);
        if (was != v.loaded.end() && was->second == content) continue;
        std::ofstream out(host_path(v.root, vp), std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out) fprintf(stderr, "tarn-sim: could not write %s\n", host_path(v.root, vp).c_str());
    }
    std::map<std::string, std::string> lower_files;
    for (auto& [vp, c] : files) {
        std::string l = vp;
        for (char& ch : l) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        lower_files[l] = vp;
    }
    for (auto& [vp, c] : v.loaded) {
        std::string l = vp;
        for (char& ch : l) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (!lower_files.count(l)) fs::remove(host_path(v.root, vp), ec);
    }
}

// One argument as the shell's command-line splitting reads it back: quoted when it is
// empty or holds a blank, '>' or a quote, with each inner quote doubled.
std::u16string quote_argument(const std::string& arg) {
    std::u16string text = sim::to_u16(arg);
    bool quote = text.empty() || text.find_first_of(u" \t\">") != std::u16string::npos;
    if (!quote) return text;
    std::u16string out = u"\"";
    for (char16_t c : text) {
        out += c;
        if (c == u'"') out += u'"';
    }
    return out + u"\"";
}

// The words of the command line in UCS-2, kept alive for the Shell Parameters protocol.
struct ShellArguments {
    std::vector<std::u16string> words;
    std::vector<tarn::efi::Char16*> argv;
    tarn::efi::ShellParameters protocol{};

    void install(sim::SimFirmware& fw, const std::vector<std::string>& args) {
        words.push_back(u"tarn");
        for (const std::string& a : args) words.push_back(sim::to_u16(a));
        for (std::u16string& w : words) argv.push_back(reinterpret_cast<tarn::efi::Char16*>(w.data()));
        protocol.argv = argv.data();
        protocol.argc = argv.size();
        tarn::efi::Handle image = fw.image_handle();
        fw.handles().install(&image, tarn::efi::kShellParametersProtocolGuid, &protocol);
    }
};

// Console text for a pipe or a file: lines end in LF alone, so carriage returns go.
std::string plain_text(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out.push_back(c);
    return out;
}

int usage() {
    fprintf(stderr, "usage: tarn-sim [--volume DIR]... [--keep-volumes] [--] [SHELL ARGUMENTS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> folders;
    std::vector<std::string> shell_args;
    bool keep = false;
    int i = 1;
    for (; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--volume" && i + 1 < argc) {
            folders.emplace_back(argv[++i]);
        } else if (a == "--keep-volumes") {
            keep = true;
        } else if (a == "--help") {
            return usage();
        } else if (a == "--") {
            i++;
            break;
        } else {
            break;
        }
    }
    for (; i < argc; i++) shell_args.emplace_back(argv[i]);
    if (folders.empty()) folders.push_back(fs::current_path());
    for (auto& f : folders)
        if (!fs::is_directory(f)) {
            fprintf(stderr, "tarn-sim: %s is not a folder\n", f.c_str());
            return 2;
        }

    sim::SimFirmware fw;
    winsize ws{};
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 80 &&
        ws.ws_row >= 25 && (ws.ws_col != 80 || ws.ws_row != 25))
        fw.set_text_modes({{80, 25}, {ws.ws_col, ws.ws_row}});

    std::vector<HostVolume> volumes;
    for (size_t k = 0; k < folders.size(); k++) {
        HostVolume v;
        v.root = fs::absolute(folders[k]);
        sim::VolumeLayout setup;
        setup.label = v.root.filename().string().substr(0, 11);
        setup.location.pci_device = static_cast<uint32_t>(k + 1);
        v.id = sim::add_volume(fw, setup);
        load_folder(fw, v);
        volumes.push_back(std::move(v));
    }
    sim::set_boot_volume(fw, volumes.front().id);
    sim::install_device_path_from_text(fw);  // setvar's --DevicePath items

    std::u16string options = u"tarn";
    for (auto& a : shell_args) options += u" " + quote_argument(a);
    fw.set_load_options(options);
    ShellArguments arguments;
    arguments.install(fw, shell_args);

    const bool terminal = isatty(STDOUT_FILENO);
    sim::SimFirmware::ConsoleListener listener;
    if (terminal) {
        listener.text = [](const char16_t* t) { put(utf8_of(t)); };
        listener.attribute = [](uint8_t a) { put(ansi_attribute(a)); };
        listener.clear = [] { put("\x1b[2J\x1b[H"); };
        listener.cursor = [](uint64_t c, uint64_t r) {
            put("\x1b[" + std::to_string(r + 1) + ";" + std::to_string(c + 1) + "H");
        };
        listener.cursor_visible = [](bool v) { put(v ? "\x1b[?25h" : "\x1b[?25l"); };
    } else {
        listener.text = [](const char16_t* t) { put(plain_text(utf8_of(t))); };
    }
    fw.set_console_listener(listener);

    // Virtual time follows real time while the shell waits for keys.
    // Piped input is handed over only when the shell waits for a key, as if typed at each
    // prompt; a terminal's type-ahead is also seen when the shell merely polls.
    bool interactive = isatty(STDIN_FILENO);
    fw.set_key_source([&fw, interactive](uint64_t max_wait_us) {
        using R = sim::SimFirmware::KeySourceResult;
        if (!interactive && max_wait_us == 0) return R::kTimeout;
        int timeout_ms = max_wait_us == UINT64_MAX ? -1
                         : static_cast<int>(std::min<uint64_t>(max_wait_us / 1000, 1u << 30));
        auto start = std::chrono::steady_clock::now();
        unsigned char b;
        int r = read_byte(timeout_ms, &b);
        if (r < 0) return R::kEnd;
        if (r == 0) return R::kTimeout;
        auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start).count();
        if (max_wait_us != 0 && waited > 0)
            fw.advance_us(std::min<uint64_t>(static_cast<uint64_t>(waited), max_wait_us));
        push_terminal_key(fw, b);
        return R::kKeys;
    });

    g_terminal.enter_raw();
    tarn::efi::Status status = 0;
    auto result = fw.run([&] { status = tarn::entry(fw.image_handle(), fw.system_table()); });
    if (terminal) put("\x1b[0m\x1b[?25h");
    g_terminal.leave_raw();

    if (!keep)
        for (auto& v : volumes) write_back(fw, v);

    if (result.stuck) {
        // End of input while the shell waited for a key.
        return 0;
    }
    if (result.reset) {
        fprintf(stderr, "\ntarn-sim: the shell reset the system (type %u)\n", result.reset_type);
        return 0;
    }
    tarn::efi::Status final_status = result.exited ? result.status : status;
    return final_status == 0 ? 0 : static_cast<int>(final_status & 0xff ? final_status & 0xff : 1);
}

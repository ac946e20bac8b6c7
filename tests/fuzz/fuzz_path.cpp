// Path resolution on arbitrary text: the result is either nothing or a canonical path
// on an existing volume that resolves to itself, splits and joins back to itself, and
// is never longer than the text and the current directory together.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fs/paths.h"
#include "fs/volumes.h"
#include "fuzz_pool.h"
#include "runtime/memory.h"

namespace {

#define check(c) check_at(c, __LINE__)
void check_at(bool condition, int line) {
    if (!condition) {
        fprintf(stderr, "check failed at line %d\n", line);
        abort();
    }
}

// Pieces the bytes choose from, so that inputs are made of what paths are made of.
const char* const kTokens[] = {"fs0", "fs1", "FS2", "fs9", "usb", "Usb", "gone", ":", ":",
                               "\\",  "\\",  "/",   "/",   ".",   "..",  "..",  "a", "Bc",
                               "*",   "?",   "*.*", " ",   "x:y", "\xc3\xa9", "...", "fs"};
constexpr size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];

const char* const kDirectories[] = {"fs0:\\", "fs1:\\a\\b", "fs2:\\Deep\\er\\still", nullptr,
                                    "fs9:\\vanished"};

void set_up_volumes() {
    tarn::FsState& fs = tarn::fs_state();
    fs.volumes = tarn::xallocate_array<tarn::Volume>(3);
    fs.volume_count = 3;
    for (int i = 0; i < 3; i++) {
        tarn::Volume& v = fs.volumes[i];
        v.name[0] = 'f';
        v.name[1] = 's';
        v.name[2] = static_cast<char>('0' + i);
        v.name[3] = 0;
        v.label = tarn::xstrdup("");
        v.device_path_text = tarn::xstrdup("");
    }
    check(tarn::set_extra_name("usb", "fs1") == 0);
    check(tarn::set_extra_name("gone", "fs7") == 0);
}

bool is_canonical(const std::string& r) {
    if (r.size() < 5 || r.compare(0, 2, "fs") != 0 || r[2] < '0' || r[2] > '2' || r[3] != ':' ||
        r[4] != '\\')
        return false;
    if (r.find('/') != std::string::npos || r.find("\\\\") != std::string::npos) return false;
    if (r.size() > 5 && r.back() == '\\') return false;
    size_t pos = 4;
    while (pos < r.size()) {
        size_t next = r.find('\\', pos + 1);
        std::string part = r.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
        if (part == "." || part == "..") return false;
        if (next == std::string::npos) break;
        pos = next;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        fuzz::install_pool();
        set_up_volumes();
        ready = true;
    }
    if (size == 0) return 0;
    tarn::FsState& fs = tarn::fs_state();
    tarn::release(fs.current_directory);
    const char* cwd = kDirectories[data[0] % 5];
    fs.current_directory = cwd ? tarn::xstrdup(cwd) : nullptr;
    long before = fuzz::outstanding();

    // Second byte: raw bytes or tokens.
    std::string text;
    bool raw = size > 1 && (data[1] & 1);
    for (size_t i = 2; i < size; i++) {
        if (raw) text.push_back(data[i] ? static_cast<char>(data[i]) : '\\');
        else text += kTokens[data[i] % kTokenCount];
    }

    if (getenv("FUZZ_PATH_TRACE")) fprintf(stderr, "cwd=%s text=[%s]\n", cwd ? cwd : "-", text.c_str());
    char* resolved = tarn::resolve_path(text.c_str());
    if (resolved) {
        std::string r = resolved;
        check(is_canonical(r));
        check(r.size() <= text.size() + (cwd ? strlen(cwd) : 0) + 8);
        char* again = tarn::resolve_path(resolved);
        check(again && r == again);
        tarn::release(again);
        // (A colon inside the last name also ends the base name, so such names are skipped.)
        if (r.size() > 5 && r.substr(r.rfind('\\')).find(':') == std::string::npos) {
            char* dir = tarn::directory_part(resolved);
            char* joined = tarn::join_path(dir, tarn::base_name(resolved));
            check(r == joined);
            tarn::release(dir);
            tarn::release(joined);
        }
        // An explicit volume reference is honoured.
        if (text.size() >= 4 && (text.compare(0, 4, "fs0:") == 0 || text.compare(0, 4, "fs1:") == 0))
            check(r.compare(0, 4, text.substr(0, 4)) == 0);
        if (text.compare(0, 4, "usb:") == 0) check(r.compare(0, 4, "fs1:") == 0);
    } else {
        // Only a missing volume or a missing current directory gives nothing.
        check(!cwd || cwd[2] == '9' || text.find(':') != std::string::npos);
    }
    tarn::release(resolved);
    check(fuzz::outstanding() == before);
    return 0;
}

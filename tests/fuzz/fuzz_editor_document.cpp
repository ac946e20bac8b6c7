// The text editor's document loader on arbitrary bytes: loading never reads past the
// input, saving a file with LF line ends gives back exactly its bytes, and a second
// load and save of any file changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "editors/document.h"
#include "fuzz_pool.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

std::string round_trip(const uint8_t* bytes, size_t size, bool* crlf) {
    tarn::Document doc;
    tarn::document_load(doc, bytes, size);
    check(!doc.lines.empty());
    *crlf = doc.crlf;
    tarn::StringBuffer out;
    tarn::document_encode(doc, out);
    return std::string(out.c_str(), out.length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool installed = false;
    if (!installed) {
        fuzz::install_pool();
        installed = true;
    }
    std::vector<uint8_t> owned(data, data + size);
    bool crlf = false;
    std::string once = round_trip(owned.data(), owned.size(), &crlf);
    // Without CR LF pairs every byte is kept; with them a bare LF may gain its CR.
    if (!crlf) check(once == std::string(owned.begin(), owned.end()));
    bool again_crlf = false;
    std::string twice = round_trip(reinterpret_cast<const uint8_t*>(once.data()), once.size(), &again_crlf);
    check(twice == once);
    check(fuzz::outstanding() == 0);
    return 0;
}

// Network address and URL parsers on arbitrary text. What parses as an IPv4 or IPv6
// address (with or without a prefix length) formats to text that parses back to the same
// bytes and fits its buffer; a parsed http:// address points inside the text; a local
// name never holds a separator, '?' or '#'.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/net_text.h"

namespace {

#define check(c) check_at(c, __LINE__)
void check_at(bool condition, int line) {
    if (!condition) {
        fprintf(stderr, "check failed at line %d\n", line);
        abort();
    }
}

void check_ipv4(const char* text) {
    tarn::efi::Ipv4Address a, b;
    if (!tarn::parse_ipv4(text, &a)) return;
    char out[tarn::kIpv4TextSize];
    tarn::format_ipv4(a, out, sizeof out);
    check(strlen(out) < sizeof out);
    check(tarn::parse_ipv4(out, &b));
    check(memcmp(a.addr, b.addr, 4) == 0);
}

void check_ipv6(const char* text) {
    tarn::efi::Ipv6Address a, b;
    uint8_t length = 200;
    bool has_length = false;
    if (!tarn::parse_ipv6_prefix(text, &a, &length, &has_length)) return;
    check(!has_length || length <= 128);
    char out[tarn::kIpv6TextSize];
    tarn::format_ipv6(a, out, sizeof out);
    check(strlen(out) < sizeof out - 1);
    check(tarn::parse_ipv6(out, &b));
    check(memcmp(a.addr, b.addr, 16) == 0);
}

void check_url(const char* text) {
    tarn::HttpUrl u;
    if (tarn::parse_http_url(text, &u) != tarn::UrlError::kOk) return;
    const char* end = text + strlen(text);
    check(u.host >= text && u.host + u.host_length <= end && u.host_length > 0);
    check(u.port != 0);
    check(u.path != nullptr && (u.path[0] == '/'));
    char name[64];
    tarn::url_local_name(u.path, name, sizeof name);
    check(name[0] != 0);
    check(!strpbrk(name, "/?#"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // up to the first NUL, as a command argument would be
    check_ipv4(text.c_str());
    check_ipv6(text.c_str());
    check_url(text.c_str());
    std::string url = "http://" + text;
    check_url(url.c_str());
    const char* local = tarn::tftp_local_name(text.c_str());
    check(!strpbrk(local, "/\\"));
    return 0;
}

#include "net/net_text.h"

#include "runtime/format.h"
#include "runtime/strings.h"

namespace tarn {
namespace {

int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool starts_with_nocase(const char* text, const char* prefix) {
    return compare_nocase_n(text, prefix, strlen(prefix)) == 0;
}

}  // namespace

bool parse_ipv4_n(const char* text, uint64_t n, efi::Ipv4Address* out) {
    efi::Ipv4Address a{};
    uint64_t at = 0;
    for (int part = 0; part < 4; part++) {
        if (part > 0) {
            if (at >= n || text[at] != '.') return false;
            at++;
        }
        uint32_t value = 0;
        int digits = 0;
        while (at < n && is_digit(text[at])) {
            if (++digits > 3) return false;
            value = value * 10 + static_cast<uint32_t>(text[at] - '0');
            at++;
        }
        if (digits == 0 || value > 255) return false;
        a.addr[part] = static_cast<uint8_t>(value);
    }
    if (at != n) return false;
    *out = a;
    return true;
}

bool parse_ipv4(const char* text, efi::Ipv4Address* out) {
    return text && parse_ipv4_n(text, strlen(text), out);
}

void format_ipv4(const efi::Ipv4Address& a, char* out, uint64_t size) {
    format_into(out, size, "%u.%u.%u.%u", a.addr[0], a.addr[1], a.addr[2], a.addr[3]);
}

bool parse_ipv6_n(const char* text, uint64_t n, efi::Ipv6Address* out) {
    uint16_t groups[8] = {};
    int count = 0;      // groups written
    int gap = -1;       // index in groups where "::" stands
    uint64_t at = 0;
    if (n >= 2 && text[0] == ':' && text[1] == ':') {
        gap = 0;
        at = 2;
    } else if (n >= 1 && text[0] == ':') {
        return false;
    }
    while (at < n) {
        // One group, or a dotted IPv4 tail.
        uint64_t end = at;
        while (end < n && text[end] != ':') end++;
        bool dotted = false;
        for (uint64_t k = at; k < end; k++)
            if (text[k] == '.') dotted = true;
        if (dotted) {
            efi::Ipv4Address v4;
            if (end != n || count > 6 || !parse_ipv4_n(text + at, end - at, &v4)) return false;
            groups[count++] = static_cast<uint16_t>(v4.addr[0] << 8 | v4.addr[1]);
            groups[count++] = static_cast<uint16_t>(v4.addr[2] << 8 | v4.addr[3]);
            at = end;
            break;
        }
        if (end == at || end - at > 4 || count >= 8) return false;
        uint32_t value = 0;
        for (uint64_t k = at; k < end; k++) {
            int h = hex_value(text[k]);
            if (h < 0) return false;
            value = value << 4 | static_cast<uint32_t>(h);
        }
        groups[count++] = static_cast<uint16_t>(value);
        at = end;
        if (at == n) break;
        at++;  // the ':'
        if (at < n && text[at] == ':') {
            if (gap >= 0) return false;
            gap = count;
            at++;
        } else if (at == n) {
            return false;  // a single trailing ':'
        }
    }
    if (gap < 0 && count != 8) return false;
    if (gap >= 0 && count > 7) return false;
    efi::Ipv6Address a{};
    int missing = 8 - count;
    int g = 0;
    for (int i = 0; i < count; i++) {
        if (gap >= 0 && i == gap) g += missing;
        a.addr[2 * g] = static_cast<uint8_t>(groups[i] >> 8);
        a.addr[2 * g + 1] = static_cast<uint8_t>(groups[i]);
        g++;
    }
    *out = a;
    return true;
}

bool parse_ipv6(const char* text, efi::Ipv6Address* out) {
    return text && parse_ipv6_n(text, strlen(text), out);
}

bool parse_ipv6_prefix(const char* text, efi::Ipv6Address* out, uint8_t* length, bool* has_length) {
    if (!text) return false;
    const char* slash = strchr(text, '/');
    if (!slash) {
        if (!parse_ipv6(text, out)) return false;
        *has_length = false;
        return true;
    }
    const char* digits = slash + 1;
    uint32_t value = 0;
    int count = 0;
    for (const char* p = digits; *p; p++) {
        if (!is_digit(*p) || ++count > 3) return false;
        value = value * 10 + static_cast<uint32_t>(*p - '0');
    }
    if (count == 0 || value > 128) return false;
    efi::Ipv6Address a;
    if (!parse_ipv6_n(text, static_cast<uint64_t>(slash - text), &a)) return false;
    *out = a;
    *length = static_cast<uint8_t>(value);
    *has_length = true;
    return true;
}

void format_ipv6(const efi::Ipv6Address& a, char* out, uint64_t size) {
    uint16_t groups[8];
    for (int i = 0; i < 8; i++) groups[i] = static_cast<uint16_t>(a.addr[2 * i] << 8 | a.addr[2 * i + 1]);
    int best = -1, best_length = 1;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            i++;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0) j++;
        if (j - i > best_length) {
            best = i;
            best_length = j - i;
        }
        i = j;
    }
    char text[kIpv6TextSize];
    uint64_t n = 0;
    for (int i = 0; i < 8; i++) {
        if (i == best) {
            n += format_into(text + n, sizeof text - n, i == 0 ? "::" : ":");
            i += best_length - 1;
            continue;
        }
        n += format_into(text + n, sizeof text - n, "%x%s", groups[i], i < 7 ? ":" : "");
    }
    format_into(out, size, "%s", text);
}

bool is_link_local(const efi::Ipv6Address& a) { return a.addr[0] == 0xfe && (a.addr[1] & 0xc0) == 0x80; }

namespace {

bool link_scope(const efi::Ipv6Address& a) {
    if (a.addr[0] == 0xff) return (a.addr[1] & 0x0f) <= 2;
    return is_link_local(a);
}

int common_prefix_bits(const efi::Ipv6Address& a, const efi::Ipv6Address& b) {
    int bits = 0;
    for (int i = 0; i < 16; i++) {
        uint8_t x = a.addr[i] ^ b.addr[i];
        if (!x) {
            bits += 8;
            continue;
        }
        while (!(x & 0x80)) {
            bits++;
            x = static_cast<uint8_t>(x << 1);
        }
        break;
    }
    return bits;
}

}  // namespace

int64_t choose_ipv6_source(const efi::Ip6AddressInfo* list, uint64_t count, const efi::Ipv6Address& target) {
    if (!list) return -1;
    const bool want_link = link_scope(target);
    int64_t best = -1;
    int best_bits = -1;
    for (uint64_t i = 0; i < count; i++) {
        const efi::Ipv6Address& a = list[i].address;
        bool unspecified = true;
        for (uint8_t byte : a.addr)
            if (byte) unspecified = false;
        if (unspecified || a.addr[0] == 0xff || is_link_local(a) != want_link) continue;
        int bits = common_prefix_bits(a, target);
        if (bits > best_bits) {
            best = static_cast<int64_t>(i);
            best_bits = bits;
        }
    }
    return best;
}

UrlError parse_http_url(const char* url, HttpUrl* out) {
    if (!url || !starts_with_nocase(url, "http://")) return UrlError::kNotHttp;
    HttpUrl u{};
    const char* p = url + 7;
    if (*p == '[') {
        const char* close = strchr(p, ']');
        if (!close) return UrlError::kBadIpv6;
        u.host = p + 1;
        u.host_length = static_cast<uint64_t>(close - p - 1);
        u.ipv6_host = true;
        if (!parse_ipv6_n(u.host, u.host_length, &u.ipv6)) return UrlError::kBadIpv6;
        p = close + 1;
    } else {
        u.host = p;
        while (*p && *p != ':' && *p != '/' && *p != '?' && *p != '#') p++;
        u.host_length = static_cast<uint64_t>(p - u.host);
    }
    if (u.host_length == 0) return UrlError::kNoHost;
    u.port = 80;
    if (*p == ':') {
        p++;
        uint32_t port = 0;
        int digits = 0;
        while (is_digit(*p)) {
            if (++digits > 5) return UrlError::kBadPort;
            port = port * 10 + static_cast<uint32_t>(*p - '0');
            p++;
        }
        if (digits == 0 || port == 0 || port > 65535) return UrlError::kBadPort;
        u.port = static_cast<uint16_t>(port);
    }
    if (*p && *p != '/' && *p != '?' && *p != '#') return u.ipv6_host ? UrlError::kBadIpv6 : UrlError::kBadPort;
    u.path = *p == '/' ? p : "/";
    *out = u;
    return UrlError::kOk;
}

void url_local_name(const char* path, char* out, uint64_t size) {
    uint64_t end = strcspn(path, "?#");
    uint64_t start = 0;
    for (uint64_t i = 0; i < end; i++)
        if (path[i] == '/') start = i + 1;
    if (start >= end) {
        format_into(out, size, "index.html");
        return;
    }
    format_into(out, size, "%.*s", static_cast<int>(min_of<uint64_t>(end - start, 0x7fffffff)), path + start);
}

const char* tftp_local_name(const char* remote) {
    const char* name = remote;
    for (const char* p = remote; *p; p++)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

void ping_count_reply(PingSummary* s, uint64_t rtt) {
    if (s->received == 0 || rtt < s->rtt_min) s->rtt_min = rtt;
    if (rtt > s->rtt_max) s->rtt_max = rtt;
    s->received++;
    s->rtt_total += rtt;
}

bool ping_loss_percent(const PingSummary& s, uint64_t* percent) {
    if (s.sent == 0) return false;
    uint64_t lost = s.received >= s.sent ? 0 : s.sent - s.received;
    *percent = lost * 100 / s.sent;
    return true;
}

uint64_t ping_rtt_average(const PingSummary& s) { return s.received ? s.rtt_total / s.received : 0; }

}  // namespace tarn

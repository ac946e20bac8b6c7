// http: download one file with a GET request through the firmware's HTTP protocol,
// streaming the body to the local file with a progress line.
#include "fs/paths.h"
#include "net/download.h"
#include "net/net_access.h"
#include "net/net_commands.h"
#include "net/net_text.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int http_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"http", http_command, "http [-i IF] [-t TIMEOUT_MS] [-s BUFSIZE] URL [LOCAL]",
     "Download a file from an HTTP server",
     "  -i IF          the interface (default: the first)\n"
     "  -t TIMEOUT_MS  how long to wait for each answer (default 5000)\n"
     "  -s BUFSIZE     the receive buffer (default 32768 bytes)\n"
     "  URL is http://HOST[:PORT]/PATH; a host in brackets is an IPv6 address. LOCAL\n"
     "  defaults to the last component of the path (index.html when it is empty).\n"
     "  A download that stops early is removed and gives exit code 1.\n",
     0},
};

struct HttpOptions {
    const char* interface = nullptr;
    const char* timeout = nullptr;
    const char* buffer = nullptr;
};

constexpr Option<HttpOptions> kOptions[] = {
    value_option("i", &HttpOptions::interface),
    value_option("t", &HttpOptions::timeout),
    value_option("s", &HttpOptions::buffer),
};

constexpr uint64_t kAddressWaitMs = 5000;
constexpr int64_t kMaxTimeoutMs = 600000;
constexpr int64_t kMaxBuffer = 16 * 1024 * 1024;
constexpr uint64_t kLocalNameSize = 256;

bool parse_range(const char* text, int64_t low, int64_t high, int64_t* out) {
    if (!text) return true;
    int64_t v = 0;
    if (!parse_integer_in_range(text, &v) || v < low || v > high) return false;
    *out = v;
    return true;
}

int status_number(uint32_t code) {
    return code < array_size(efi::kHttpStatusNumbers) ? efi::kHttpStatusNumbers[code] : 0;
}

// The headers a response brought, freed as the driver allocated them (each string and
// the array).
struct ResponseHeaders {
    efi::HttpHeader* list = nullptr;
    uint64_t count = 0;
    ResponseHeaders() = default;
    ResponseHeaders(const ResponseHeaders&) = delete;
    ResponseHeaders& operator=(const ResponseHeaders&) = delete;
    ~ResponseHeaders() {
        if (!list) return;
        efi::BootServices* bs = boot_services();
        for (uint64_t i = 0; i < count; i++) {
            if (list[i].name) bs->free_pool(list[i].name);
            if (list[i].value) bs->free_pool(list[i].value);
        }
        bs->free_pool(list);
    }
    // The Content-Length value; false when there is none (or it is not a number).
    bool content_length(uint64_t* out) const {
        for (uint64_t i = 0; i < count; i++) {
            if (!list[i].name || !list[i].value || !equal_nocase(list[i].name, "Content-Length")) continue;
            const char* p = list[i].value;
            while (*p == ' ') p++;
            uint64_t v = 0;
            int digits = 0;
            for (; is_digit(*p); p++) {
                if (++digits > 19) return false;
                v = v * 10 + static_cast<uint64_t>(*p - '0');
            }
            while (*p == ' ') p++;
            if (!digits || *p) return false;
            *out = v;
            return true;
        }
        return false;
    }
};

// An HTTP child, the tokens' event, and the waits on them.
class HttpSession {
public:
    explicit HttpSession(efi::Handle nic) : child_(nic, efi::kHttpServiceBindingProtocolGuid, efi::kHttpProtocolGuid) {
        http_ = static_cast<efi::Http*>(child_.protocol());
    }
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;
    ~HttpSession() {
        if (pending_) http_->cancel(http_, pending_);
        if (configured_) http_->configure(http_, nullptr);
    }
    efi::Status create_status() const {
        if (child_.status() != efi::kSuccess) return child_.status();
        return done_.event() ? efi::kSuccess : efi::kOutOfResources;
    }
    // An IPv4 access point on the interface's default address, or (with local6) an IPv6
    // one on that address.
    efi::Status configure(uint32_t timeout_ms, const efi::Ipv6Address* local6) {
        efi::Http4AccessPoint v4{};
        v4.use_default_address = 1;
        efi::Http6AccessPoint v6{};
        efi::HttpConfigData c{};
        c.version = efi::kHttpVersion11;
        c.timeout_ms = timeout_ms;
        if (local6) {
            v6.local_address = *local6;
            c.local_address_is_ipv6 = 1;
            c.access_point.ipv6 = &v6;
        } else {
            c.access_point.ipv4 = &v4;
        }
        efi::Status st = http_->configure(http_, &c);
        configured_ = st == efi::kSuccess;
        return st;
    }
    // Starts the call (request or response) and waits for its token: kTimeout when it
    // took longer than timeout_ms, kAborted when Ctrl-C came first.
    efi::Status call(bool request, efi::HttpMessage* message, uint64_t timeout_ms) {
        token_ = efi::HttpToken{};
        token_.event = done_.event();
        token_.message = message;
        done_.clear();
        efi::Status st = request ? http_->request(http_, &token_) : http_->response(http_, &token_);
        if (st != efi::kSuccess) return st;
        pending_ = &token_;
        uint64_t start = milliseconds();
        while (!done_.signaled()) {
            http_->poll(http_);
            if (done_.signaled()) break;
            if (milliseconds() - start >= timeout_ms) st = efi::kTimeout;
            else if (!sleep_interruptible(1)) st = efi::kAborted;
            if (st != efi::kSuccess) {
                http_->cancel(http_, &token_);
                pending_ = nullptr;
                return st;
            }
        }
        pending_ = nullptr;
        return token_.status;
    }

private:
    ServiceChild child_;
    efi::Http* http_ = nullptr;
    FlagEvent done_;
    efi::HttpToken token_{};
    efi::HttpToken* pending_ = nullptr;
    bool configured_ = false;
};

struct Transfer {
    const char* url;
    const HttpUrl* parts;
    const char* local_path;
    uint64_t timeout_ms;
    uint64_t buffer_size;
};

int fetch(HttpSession& session, const Transfer& t) {
    Owned<char16_t> url16(utf8_to_ucs2(t.url));
    char host[300];
    const char* open = t.parts->ipv6_host ? "[" : "";
    const char* close = t.parts->ipv6_host ? "]" : "";
    if (t.parts->port == 80)
        format_into(host, sizeof host, "%s%.*s%s", open, static_cast<int>(min_of<uint64_t>(t.parts->host_length, 256)),
                    t.parts->host, close);
    else
        format_into(host, sizeof host, "%s%.*s%s:%u", open,
                    static_cast<int>(min_of<uint64_t>(t.parts->host_length, 256)), t.parts->host, close, t.parts->port);
    char host_name[] = "Host", accept_name[] = "Accept", accept_value[] = "*/*", agent_name[] = "User-Agent",
         agent_value[] = "TARN/0.2.1";
    efi::HttpHeader headers[] = {{host_name, host}, {accept_name, accept_value}, {agent_name, agent_value}};
    efi::HttpRequestData request{efi::kHttpMethodGet, url16.get()};
    efi::HttpMessage message{};
    message.data.request = &request;
    message.header_count = array_size(headers);
    message.headers = headers;
    out_printf("Downloading %s\n", t.url);
    efi::Status st = session.call(true, &message, t.timeout_ms);
    if (st == efi::kAborted) return kExitInterrupted;
    if (st != efi::kSuccess) return report_error("http", "request failed: %s", status_message(st));

    Owned<uint8_t> buffer(static_cast<uint8_t*>(allocate(t.buffer_size)));
    if (!buffer) return report_error("http", "no response: %s", status_message(efi::kOutOfResources));
    efi::HttpResponseData response{};
    efi::HttpMessage answer{};
    answer.data.response = &response;
    answer.body_length = t.buffer_size;
    answer.body = buffer.get();
    st = session.call(false, &answer, t.timeout_ms);
    ResponseHeaders received;
    received.list = answer.headers;
    received.count = answer.headers ? answer.header_count : 0;
    if (st == efi::kAborted) return kExitInterrupted;
    // An error status from the server (4xx, 5xx) comes back as the HTTP error status,
    // with the status code filled in all the same.
    if (st == efi::kHttpError && response.status_code != 0) st = efi::kSuccess;
    if (st != efi::kSuccess) return report_error("http", "no response: %s", status_message(st));
    int number = status_number(response.status_code);
    if (number != 200) return report_error("http", "server answered %d", number);

    uint64_t length = 0;
    bool known = received.content_length(&length);
    DownloadFile file;
    ShellError fe = file.open(t.local_path);
    if (fe != kOk) return report_failure("http", t.local_path, fe);
    uint64_t total = 0;
    uint64_t shown_at = 0;  // when the progress line was last written
    bool shown = false;
    uint64_t chunk = answer.body_length <= t.buffer_size ? answer.body_length : 0;
    for (;;) {
        if (chunk) {
            fe = file.write(buffer.get(), chunk);
            if (fe != kOk) {
                out_text("\n");
                return report_failure("http", t.local_path, fe);
            }
            total += chunk;
        }
        // The progress line at most every 100 ms (a serial console is slow), and at the end.
        if (known && (!shown || total >= length || milliseconds() - shown_at >= 100)) {
            out_printf("\r  %zu / %llu bytes", static_cast<size_t>(total), static_cast<unsigned long long>(length));
            shown_at = milliseconds();
            shown = true;
        }
        if (known && total >= length) break;
        efi::HttpMessage more{};
        more.body_length = t.buffer_size;
        more.body = buffer.get();
        st = session.call(false, &more, t.timeout_ms);
        if (st == efi::kAborted) {
            out_text("\n");
            return kExitInterrupted;
        }
        // Without a length the body ends when the server closes the connection; one that
        // just stops sending has not said the body is complete.
        if (st == efi::kTimeout && !known) {
            out_text("\n");
            return report_error("http", "no response: %s", status_message(st));
        }
        if (st != efi::kSuccess) break;
        chunk = more.body_length <= t.buffer_size ? more.body_length : 0;
        if (!chunk && !known) break;
    }
    if (known && total < length) {
        out_printf("\ndownload incomplete (%zu of %llu bytes)", static_cast<size_t>(total),
                   static_cast<unsigned long long>(length));
        out_text("\n");
        return kExitFailure;
    }
    fe = file.keep();
    if (fe != kOk) {
        out_text("\n");
        return report_failure("http", t.local_path, fe);
    }
    out_printf("\n%zu bytes saved to %s\n", static_cast<size_t>(total), t.local_path);
    return kExitSuccess;
}

// The interface for an IPv4 host, once it has an address.
int ipv4_interface(const char* name, efi::Handle* nic) {
    Ip4InterfaceList list;
    NetInterface* e = select_ipv4_interface(list, "http", name);
    if (!e) return kExitFailure;
    WaitResult w = wait_for_ipv4_address(e->config, kAddressWaitMs);
    if (w == WaitResult::kInterrupted) return kExitInterrupted;
    if (w != WaitResult::kReady)
        return report_error("http", "%s has no IPv4 address (ifconfig -s %s dhcp)", e->name, e->name);
    *nic = e->handle;
    return kExitSuccess;
}

// The interface for a bracketed IPv6 host and its address that can reach the host.
int ipv6_interface(const HttpUrl& parts, const char* name, efi::Handle* nic, efi::Ipv6Address* local) {
    Ip6InterfaceList list;
    Net6Interface* e = select_ipv6_interface(list, "http", name);
    if (!e) return kExitFailure;
    WaitResult w = wait_for_ipv6_source(e->config, parts.ipv6, kAddressWaitMs, local);
    if (w == WaitResult::kInterrupted) return kExitInterrupted;
    if (w != WaitResult::kReady) {
        char host[kIpv6TextSize];
        format_ipv6(parts.ipv6, host, sizeof host);
        return report_error("http", "%s has no IPv6 address that can reach %s (ifconfig6 -s %s auto)", e->name, host,
                            e->name);
    }
    *nic = e->handle;
    return kExitSuccess;
}

int http_command(int count, char** vector) {
    HttpOptions o;
    int first = parse_options(count, vector, kOptions, 0, &o);
    if (first < 0) return kExitUsage;
    int operands = count - first;
    int64_t timeout = 5000, buffer = 32768;
    if ((operands != 1 && operands != 2) || !parse_range(o.timeout, 1, kMaxTimeoutMs, &timeout) ||
        !parse_range(o.buffer, 1, kMaxBuffer, &buffer))
        return report_usage("http");
    const char* url = vector[first];
    HttpUrl parts;
    switch (parse_http_url(url, &parts)) {
    case UrlError::kOk: break;
    case UrlError::kNotHttp:
        return report_error("http", "only http:// addresses are supported (https needs the firmware TLS driver)");
    case UrlError::kBadIpv6: return report_error("http", "%s is not a valid IPv6 address", url);
    case UrlError::kNoHost:
    case UrlError::kBadPort: return report_error("http", "%s is not a valid http:// address", url);
    }
    char name[kLocalNameSize];
    const char* local = operands == 2 ? vector[first + 1] : name;
    if (operands == 1) url_local_name(parts.path, name, sizeof name);
    Owned<char> path(resolve_path(local));
    if (!path) return report_error("http", "invalid local file");

    efi::Handle nic = nullptr;
    efi::Ipv6Address local6{};
    int code = parts.ipv6_host ? ipv6_interface(parts, o.interface, &nic, &local6)
                               : ipv4_interface(o.interface, &nic);
    if (code != kExitSuccess) return code;
    HttpSession session(nic);
    if (session.create_status() != efi::kSuccess)
        return report_error("http", "no HTTP service on this interface (HttpDxe not loaded?)");
    efi::Status st = session.configure(static_cast<uint32_t>(timeout), parts.ipv6_host ? &local6 : nullptr);
    if (st != efi::kSuccess) return report_error("http", "cannot configure HTTP: %s", status_message(st));
    Transfer t{url, &parts, path.get(), static_cast<uint64_t>(timeout), static_cast<uint64_t>(buffer)};
    return fetch(session, t);
}

}  // namespace

void register_http_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

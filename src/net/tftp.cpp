// tftp: download one file from a TFTP server through the firmware's MTFTP4 protocol (or
// MTFTP6 for a server with an IPv6 address), in octet mode, into a buffer of the size the server announces (the tsize option).
#include "fs/paths.h"
#include "net/download.h"
#include "net/net_access.h"
#include "net/net_commands.h"
#include "net/net_text.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int tftp_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"tftp", tftp_command,
     "tftp [-i IF] [-l PORT] [-r PORT] [-c TRIES] [-t TIMEOUT] [-s BLKSIZE] SERVER REMOTE [LOCAL]",
     "Download a file from a TFTP server",
     "  -i IF       the interface (default: the first)\n"
     "  -l PORT     the local UDP port (default: any)\n"
     "  -r PORT     the server's port (default 69)\n"
     "  -c TRIES    attempts per packet (default 6)\n"
     "  -t TIMEOUT  seconds to wait for each packet (default 4)\n"
     "  -s BLKSIZE  asks the server for blocks of this size\n"
     "  LOCAL defaults to the part of REMOTE after its last '/'.\n",
     0},
};

struct TftpOptions {
    const char* interface = nullptr;
    const char* local_port = nullptr;
    const char* remote_port = nullptr;
    const char* tries = nullptr;
    const char* timeout = nullptr;
    const char* block_size = nullptr;
    const char* window = nullptr;
};

constexpr Option<TftpOptions> kOptions[] = {
    value_option("i", &TftpOptions::interface),   value_option("l", &TftpOptions::local_port),
    value_option("r", &TftpOptions::remote_port), value_option("c", &TftpOptions::tries),
    value_option("t", &TftpOptions::timeout),     value_option("s", &TftpOptions::block_size),
    value_option("w", &TftpOptions::window),  // accepted and ignored
};

constexpr uint64_t kAddressWaitMs = 5000;
const uint8_t kOctet[] = "octet";
const uint8_t kTsize[] = "tsize";
const uint8_t kBlksize[] = "blksize";
const uint8_t kZero[] = "0";

// The numbers of the command line: local and server port, tries, timeout.
struct Ports {
    uint16_t local = 0;
    uint16_t remote = 69;
    uint16_t tries = 6;
    uint16_t timeout = 4;
};

// A number below 0x10000 (nullptr leaves the default).
bool parse_port_like(const char* text, uint16_t* out) {
    if (!text) return true;
    int64_t v = 0;
    if (!parse_integer_in_range(text, &v) || v < 0 || v >= 0x10000) return false;
    *out = static_cast<uint16_t>(v);
    return true;
}

// The fields MTFTP4 and MTFTP6 configurations share.
template <class Config, class Address>
Config common_config(const Address& server, const Ports& p) {
    Config c{};
    c.local_port = p.local;
    c.server_ip = server;
    c.initial_server_port = p.remote;
    c.try_count = p.tries;
    c.timeout_value = p.timeout;
    return c;
}

// What differs between MTFTP4 and MTFTP6: the protocol, its configuration and the
// words of the missing-service message.
struct Tftp4 {
    using Protocol = efi::Mtftp4;
    using Config = efi::Mtftp4ConfigData;
    using Address = efi::Ipv4Address;
    static constexpr const char* kSuffix = "";
    static constexpr int kNumber = 4;
    static const efi::Guid& binding() { return efi::kMtftp4ServiceBindingProtocolGuid; }
    static const efi::Guid& protocol() { return efi::kMtftp4ProtocolGuid; }
    static Config config(const Address& server, const Address&, const Ports& p) {
        Config c = common_config<Config>(server, p);
        c.use_default_setting = 1;
        return c;
    }
};

struct Tftp6 {
    using Protocol = efi::Mtftp6;
    using Config = efi::Mtftp6ConfigData;
    using Address = efi::Ipv6Address;
    static constexpr const char* kSuffix = "v6";
    static constexpr int kNumber = 6;
    static const efi::Guid& binding() { return efi::kMtftp6ServiceBindingProtocolGuid; }
    static const efi::Guid& protocol() { return efi::kMtftp6ProtocolGuid; }
    // The station is the interface address chosen for the server's scope.
    static Config config(const Address& server, const Address& station, const Ports& p) {
        Config c = common_config<Config>(server, p);
        c.station_ip = station;
        return c;
    }
};

// The tsize the server answered in its option acknowledgement.
template <class Protocol>
efi::Status announced_size(Protocol* tftp, const uint8_t* remote, efi::Mtftp4Option* options, uint8_t count,
                           uint64_t* size) {
    uint32_t length = 0;
    void* packet = nullptr;
    efi::Status st = tftp->get_info(tftp, nullptr, remote, kOctet, count, options, &length, &packet);
    if (st != efi::kSuccess) return st;
    uint32_t parsed = 0;
    efi::Mtftp4Option* answer = nullptr;
    st = packet ? tftp->parse_options(tftp, length, packet, &parsed, &answer) : efi::kProtocolError;
    bool found = false;
    if (st == efi::kSuccess && answer) {
        for (uint32_t i = 0; i < parsed && !found; i++) {
            if (!answer[i].name || !answer[i].value ||
                !equal_nocase(reinterpret_cast<const char*>(answer[i].name), "tsize"))
                continue;
            int64_t v = 0;
            const char* text = reinterpret_cast<const char*>(answer[i].value);
            if (strlen(text) <= 20 && parse_integer_in_range(text, &v) && v >= 0) {
                *size = static_cast<uint64_t>(v);
                found = true;
            }
        }
    }
    if (answer) boot_services()->free_pool(answer);
    if (packet) boot_services()->free_pool(packet);
    if (st != efi::kSuccess) return st;
    return found ? efi::kSuccess : efi::kUnsupported;
}

// ReadFile into buffer, polling the driver so that Ctrl-C can end the transfer.
template <class Protocol>
efi::Status read_file(Protocol* tftp, const uint8_t* remote, efi::Mtftp4Option* options, uint32_t count,
                      void* buffer, uint64_t* size) {
    FlagEvent done;
    if (!done.event()) return efi::kOutOfResources;
    efi::Mtftp4Token token{};
    token.event = done.event();
    token.filename = remote;
    token.mode = kOctet;
    token.option_count = count;
    token.options = count ? options : nullptr;
    token.buffer_size = *size;
    token.buffer = buffer;
    efi::Status st = tftp->read_file(tftp, &token);
    if (st != efi::kSuccess) return st;
    while (!done.signaled()) {
        tftp->poll(tftp);
        if (done.signaled()) break;
        if (!sleep_interruptible(1)) {
            tftp->configure(tftp, nullptr);  // aborts the transfer and signals the token
            return efi::kAborted;
        }
    }
    *size = token.buffer_size;
    return token.status;
}

template <class V>
int download(efi::Handle nic, const typename V::Address& server, const typename V::Address& station,
             const char* server_text, const char* remote, const char* local_path, const TftpOptions& o,
             const Ports& ports) {
    ServiceChild child(nic, V::binding(), V::protocol());
    if (child.status() != efi::kSuccess)
        return report_error("tftp", "no TFTP%s service on this interface (Mtftp%dDxe not loaded?)", V::kSuffix,
                            V::kNumber);
    auto* tftp = static_cast<typename V::Protocol*>(child.protocol());
    typename V::Config config = V::config(server, station, ports);
    efi::Status st = tftp->configure(tftp, &config);
    if (st != efi::kSuccess) return report_error("tftp", "cannot configure TFTP: %s", status_message(st));

    out_printf("Downloading %s from %s ...\n", remote, server_text);
    const auto* name = reinterpret_cast<const uint8_t*>(remote);
    efi::Mtftp4Option options[2] = {{kTsize, kZero}, {kBlksize, nullptr}};
    uint8_t count = 1;
    if (o.block_size) options[count++] = {kBlksize, reinterpret_cast<const uint8_t*>(o.block_size)};
    uint64_t size = 0;
    st = announced_size(tftp, name, options, count, &size);
    if (st != efi::kSuccess) {
        tftp->configure(tftp, nullptr);
        return report_error("tftp", "download failed: %s", status_message(st));
    }
    // The server decides the size: memory for it is asked for without the fatal allocator.
    Owned<uint8_t> buffer(static_cast<uint8_t*>(allocate(size ? size : 1)));
    if (!buffer) {
        tftp->configure(tftp, nullptr);
        return report_error("tftp", "download failed: %s (%llu bytes)", status_message(efi::kOutOfResources),
                            static_cast<unsigned long long>(size));
    }
    // The file transfer carries the block size only (tsize was for the size query).
    uint64_t got = size;
    st = read_file(tftp, name, options + 1, static_cast<uint32_t>(count - 1), buffer.get(), &got);
    tftp->configure(tftp, nullptr);
    if (st == efi::kAborted && poll_break()) return kExitInterrupted;
    if (st != efi::kSuccess) return report_error("tftp", "download failed: %s", status_message(st));
    if (got > size) return report_error("tftp", "download failed: %s", status_message(efi::kBadBufferSize));
    DownloadFile file;
    ShellError fe = file.open(local_path);
    if (fe == kOk) fe = file.write(buffer.get(), got);
    if (fe == kOk) fe = file.keep();
    if (fe != kOk) return report_failure("tftp", local_path, fe);
    out_printf("%llu bytes saved to %s\n", static_cast<unsigned long long>(got), local_path);
    return kExitSuccess;
}

int download_v4(const efi::Ipv4Address& server, const char* server_text, const char* remote, const char* path,
                const TftpOptions& o, const Ports& ports) {
    Ip4InterfaceList list;
    NetInterface* e = select_ipv4_interface(list, "tftp", o.interface);
    if (!e) return kExitFailure;
    WaitResult w = wait_for_ipv4_address(e->config, kAddressWaitMs);
    if (w == WaitResult::kInterrupted) return kExitInterrupted;
    if (w != WaitResult::kReady)
        return report_error("tftp", "%s has no IPv4 address (ifconfig -s %s dhcp)", e->name, e->name);
    return download<Tftp4>(e->handle, server, efi::Ipv4Address{}, server_text, remote, path, o, ports);
}

// The IPv6 path: the interface address that can reach the server is awaited as ping6
// does, and the transfer is sent from it.
int download_v6(const efi::Ipv6Address& server, const char* server_text, const char* remote, const char* path,
                const TftpOptions& o, const Ports& ports) {
    Ip6InterfaceList list;
    Net6Interface* e = select_ipv6_interface(list, "tftp", o.interface);
    if (!e) return kExitFailure;
    efi::Ipv6Address station{};
    WaitResult w = wait_for_ipv6_source(e->config, server, kAddressWaitMs, &station);
    if (w == WaitResult::kInterrupted) return kExitInterrupted;
    if (w != WaitResult::kReady)
        return report_error("tftp", "%s has no IPv6 address that can reach %s (ifconfig6 -s %s auto)", e->name,
                            server_text, e->name);
    return download<Tftp6>(e->handle, server, station, server_text, remote, path, o, ports);
}

int tftp_command(int count, char** vector) {
    TftpOptions o;
    int first = parse_options(count, vector, kOptions, 0, &o);
    if (first < 0) return kExitUsage;
    int operands = count - first;
    Ports ports;
    uint16_t block = 0;
    if ((operands != 2 && operands != 3) || !parse_port_like(o.local_port, &ports.local) ||
        !parse_port_like(o.remote_port, &ports.remote) || !parse_port_like(o.tries, &ports.tries) ||
        !parse_port_like(o.timeout, &ports.timeout) || !parse_port_like(o.block_size, &block) ||
        (o.block_size && block < 8))
        return report_usage("tftp");
    const char* server_text = vector[first];
    const char* remote = vector[first + 1];
    const char* local = operands == 3 ? vector[first + 2] : tftp_local_name(remote);
    efi::Ipv4Address server;
    efi::Ipv6Address v6;
    bool ipv4 = parse_ipv4(server_text, &server);
    if (!ipv4 && !parse_ipv6(server_text, &v6)) return report_error("tftp", "%s is not an IP address", server_text);
    Owned<char> path(*local ? resolve_path(local) : nullptr);
    if (!path) return report_error("tftp", "invalid local file");
    if (ipv4) return download_v4(server, server_text, remote, path.get(), o, ports);
    return download_v6(v6, server_text, remote, path.get(), o, ports);
}

}  // namespace

void register_tftp_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

// tftp: download one file from a TFTP server through the firmware's MTFTP4 protocol, in
// octet mode, into a buffer of the size the server announces (the tsize option).
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

// A number below 0x10000 (nullptr leaves the default).
bool parse_port_like(const char* text, uint16_t* out) {
    if (!text) return true;
    int64_t v = 0;
    if (!parse_integer_in_range(text, &v) || v < 0 || v >= 0x10000) return false;
    *out = static_cast<uint16_t>(v);
    return true;
}

// The tsize the server answered in its option acknowledgement.
efi::Status announced_size(efi::Mtftp4* tftp, const uint8_t* remote, efi::Mtftp4Option* options, uint8_t count,
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
efi::Status read_file(efi::Mtftp4* tftp, const uint8_t* remote, efi::Mtftp4Option* options, uint32_t count,
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

int download(NetInterface& e, const efi::Ipv4Address& server, const char* server_text, const char* remote,
             const char* local_path, const TftpOptions& o, const efi::Mtftp4ConfigData& base) {
    ServiceChild child(e.handle, efi::kMtftp4ServiceBindingProtocolGuid, efi::kMtftp4ProtocolGuid);
    if (child.status() != efi::kSuccess)
        return report_error("tftp", "no TFTP%s service on this interface (Mtftp%dDxe not loaded?)", "", 4);
    auto* tftp = static_cast<efi::Mtftp4*>(child.protocol());
    efi::Mtftp4ConfigData config = base;
    config.use_default_setting = 1;
    config.server_ip = server;
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

int tftp_command(int count, char** vector) {
    TftpOptions o;
    int first = parse_options(count, vector, kOptions, 0, &o);
    if (first < 0) return kExitUsage;
    int operands = count - first;
    efi::Mtftp4ConfigData config{};
    uint16_t remote_port = 69, tries = 6, timeout = 4, block = 0;
    if ((operands != 2 && operands != 3) || !parse_port_like(o.local_port, &config.local_port) ||
        !parse_port_like(o.remote_port, &remote_port) || !parse_port_like(o.tries, &tries) ||
        !parse_port_like(o.timeout, &timeout) || !parse_port_like(o.block_size, &block) ||
        (o.block_size && block < 8))
        return report_usage("tftp");
    config.initial_server_port = remote_port;
    config.try_count = tries;
    config.timeout_value = timeout;
    const char* server_text = vector[first];
    const char* remote = vector[first + 1];
    const char* local = operands == 3 ? vector[first + 2] : tftp_local_name(remote);
    efi::Ipv4Address server;
    efi::Ipv6Address v6;
    if (!parse_ipv4(server_text, &server)) {
        if (parse_ipv6(server_text, &v6))
            return report_error("tftp", "%s: IPv6 TFTP is not available yet", server_text);
        return report_error("tftp", "%s is not an IP address", server_text);
    }
    Owned<char> path(*local ? resolve_path(local) : nullptr);
    if (!path) return report_error("tftp", "invalid local file");
    Ip4InterfaceList list;
    NetInterface* e = select_ipv4_interface(list, "tftp", o.interface);
    if (!e) return kExitFailure;
    WaitResult w = wait_for_ipv4_address(e->config, kAddressWaitMs);
    if (w == WaitResult::kInterrupted) return kExitInterrupted;
    if (w != WaitResult::kReady)
        return report_error("tftp", "%s has no IPv4 address (ifconfig -s %s dhcp)", e->name, e->name);
    return download(*e, server, server_text, remote, path.get(), o, config);
}

}  // namespace

void register_tftp_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

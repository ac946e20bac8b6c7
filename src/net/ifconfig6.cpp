// ifconfig6: show the IPv6 configuration of the interfaces, or change it (automatic
// configuration, manual addresses, gateways and DNS servers, the duplicate-address
// detection count) through the firmware's IP6 Config protocol.
#include "net/net_access.h"
#include "net/net_commands.h"
#include "net/net_text.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int ifconfig6_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"ifconfig6", ifconfig6_command,
     "ifconfig6 [-l [NAME]] | -r [NAME] | -s NAME auto | -s NAME man [host ADDR[/LEN]...] [gw ADDR...] "
     "[dns ADDR...] | -s NAME dad COUNT",
     "Show or change the IPv6 configuration",
     "  -l [NAME]          lists every interface (or NAME): media, policy, addresses, routes,\n"
     "                     DNS servers and gateways (the default)\n"
     "  -r [NAME]          sets the interface (or every one) back to automatic configuration\n"
     "  -s NAME auto       automatic configuration (router advertisements, DHCPv6)\n"
     "  -s NAME man ...    manual configuration; the words host, gw and dns say what the\n"
     "                     addresses after them are; a host address without /LEN gets /64\n"
     "  -s NAME dad COUNT  duplicate-address-detection transmits, 0 to 10\n",
     kCommandStructuredOutput},
};

struct Ifconfig6Options {
    bool list = false;
    bool reset = false;
    bool set = false;
};

constexpr Option<Ifconfig6Options> kOptions[] = {
    switch_option("l", &Ifconfig6Options::list),
    switch_option("r", &Ifconfig6Options::reset),
    switch_option("s", &Ifconfig6Options::set),
};

constexpr uint64_t kSetWaitMs = 10000;
constexpr int kMaxPerKind = 8;
constexpr uint32_t kMaxDad = 10;
constexpr uint8_t kDefaultPrefix = 64;
constexpr const char* kLinkLocalMark = "  (link-local)";
constexpr const char* kManUsage = "usage: ifconfig6 -s NAME man [host ADDR[/LEN]...] [gw ADDR...] [dns ADDR...]\n";

int firmware_failure(efi::Status st) { return report_error("ifconfig6", "%s", status_message(st)); }

// The addresses of a list item (gateways, DNS servers).
struct Address6List {
    Owned<uint8_t> data;
    uint64_t count = 0;
    const efi::Ipv6Address& at(uint64_t i) const { return reinterpret_cast<const efi::Ipv6Address*>(data.get())[i]; }
};

void read_addresses(efi::Ip6Config* config, efi::Ip6ConfigDataType type, Address6List* out) {
    uint64_t size = 0;
    efi::Status st = ip6_get_data(config, type, &out->data, &size);
    out->count = st == efi::kSuccess ? size / sizeof(efi::Ipv6Address) : 0;
}

void mac_text(const efi::Ip6ConfigInterfaceInfo& info, char* out, uint64_t size) {
    uint64_t n = 0;
    out[0] = 0;
    for (uint32_t i = 0; i < info.hw_address_size && n < size; i++)
        n += format_into(out + n, size - n, "%s%02X", i ? "-" : "", info.hw_address.addr[i]);
}

// "ADDR/LEN" of one interface address.
void prefix_text(const efi::Ipv6Address& a, uint8_t length, char* out, uint64_t size) {
    char text[kIpv6TextSize];
    format_ipv6(a, text, sizeof text);
    format_into(out, size, "%s/%u", text, length);
}

// The addresses of a list joined by blanks into a growing buffer (for -data).
void join_addresses(StringBuffer& out, const Address6List& list) {
    for (uint64_t i = 0; i < list.count; i++) {
        char text[kIpv6TextSize];
        format_ipv6(list.at(i), text, sizeof text);
        if (i) append_text(out, " ");
        append_text(out, text);
    }
}

struct Interface6View {
    Owned<efi::Ip6ConfigInterfaceInfo> info;
    efi::Ip6ConfigPolicy policy = efi::kIp6PolicyAutomatic;
    uint32_t dad = 0;
    Address6List gateways, dns;
};

efi::Status read_view(Net6Interface& e, Interface6View* v) {
    efi::Status st;
    v->info = ip6_interface_info(e.config, &st);
    if (!v->info) return st;
    st = ip6_get_policy(e.config, &v->policy);
    if (st != efi::kSuccess) return st;
    if (ip6_get_dad_transmits(e.config, &v->dad) != efi::kSuccess) v->dad = 0;
    read_addresses(e.config, efi::kIp6ConfigGateway, &v->gateways);
    read_addresses(e.config, efi::kIp6ConfigDnsServer, &v->dns);
    return efi::kSuccess;
}

void print_record(const Net6Interface& e, const Interface6View& v, const char* media, const char* policy,
                  const char* mac) {
    const efi::Ip6ConfigInterfaceInfo& info = *v.info.get();
    record_begin();
    record_field("name", "%s", e.name);
    record_field("media", "%s", media);
    record_field("policy", "%s", policy);
    record_field("mac", "%s", mac);
    StringBuffer ips;
    for (uint32_t i = 0; i < info.address_info_count; i++) {
        char one[kIpv6TextSize + 8];
        prefix_text(info.address_info[i].address, info.address_info[i].prefix_length, one, sizeof one);
        if (i) append_text(ips, " ");
        append_text(ips, one);
    }
    record_field("ip", "%s", ips.c_str());
    StringBuffer gateways, dns;
    join_addresses(gateways, v.gateways);
    join_addresses(dns, v.dns);
    record_field("gateway", "%s", gateways.c_str());
    record_field("dns", "%s", dns.c_str());
    record_field("dad", "%u", v.dad);
}

int list_one(Net6Interface& e) {
    Interface6View v;
    efi::Status st = read_view(e, &v);
    if (st != efi::kSuccess) return firmware_failure(st);
    const efi::Ip6ConfigInterfaceInfo& info = *v.info.get();
    const char* policy = v.policy == efi::kIp6PolicyManual ? "manual" : "automatic";
    const char* media = media_state_text(media_state(e.handle));
    char mac[3 * 32 + 1];
    mac_text(info, mac, sizeof mac);
    if (data_mode()) {
        print_record(e, v, media, policy, mac);
        return kExitSuccess;
    }
    out_printf("name         : %s\n", e.name);
    out_printf("media state  : %s\n", media);
    out_printf("policy       : %s\n", policy);
    out_printf("dad transmits: %u\n", v.dad);
    out_printf("mac addr     : %s\n", mac);
    if (info.address_info_count == 0) out_text("ipv6 address : none\n");
    for (uint32_t i = 0; i < info.address_info_count; i++) {
        const efi::Ip6AddressInfo& a = info.address_info[i];
        char text[kIpv6TextSize];
        format_ipv6(a.address, text, sizeof text);
        out_printf("%s%s%s/%u%s\n", i ? "               " : "ipv6 address : ", text, "", a.prefix_length,
                   is_link_local(a.address) ? kLinkLocalMark : "");
    }
    out_text("route table  :\n");
    for (uint32_t i = 0; i < info.route_count; i++) {
        const efi::Ip6RouteTable& r = info.route_table[i];
        char destination[kIpv6TextSize], gateway[kIpv6TextSize];
        format_ipv6(r.destination, destination, sizeof destination);
        format_ipv6(r.gateway, gateway, sizeof gateway);
        out_printf("  %s/%u gateway %s\n", destination, r.prefix_length, gateway);
    }
    for (uint64_t i = 0; i < v.dns.count; i++) {
        char text[kIpv6TextSize];
        format_ipv6(v.dns.at(i), text, sizeof text);
        out_printf("dns server   : %s\n", text);
    }
    for (uint64_t i = 0; i < v.gateways.count; i++) {
        char text[kIpv6TextSize];
        format_ipv6(v.gateways.at(i), text, sizeof text);
        out_printf("gateway      : %s\n", text);
    }
    out_text("\n");
    return kExitSuccess;
}

int list_interfaces(Ip6InterfaceList& list, const char* name) {
    if (name) {
        Net6Interface* e = select_ipv6_interface(list, "ifconfig6", name);
        return e ? list_one(*e) : kExitFailure;
    }
    if (!select_ipv6_interface(list, "ifconfig6", nullptr)) return kExitFailure;
    int code = kExitSuccess;
    for (uint64_t i = 0; i < list.count(); i++) {
        if (poll_break()) return kExitInterrupted;
        if (list_one(list[i]) != kExitSuccess) code = kExitFailure;
    }
    return code;
}

efi::Status set_policy(Net6Interface& e, efi::Ip6ConfigPolicy policy) {
    uint32_t value = policy;
    return ip6_set_data(e.config, efi::kIp6ConfigPolicy, &value, sizeof value, kSetWaitMs);
}

int result_of(efi::Status st) {
    if (st == efi::kAborted) return kExitInterrupted;
    return st == efi::kSuccess ? kExitSuccess : firmware_failure(st);
}

int reset_to_automatic(Ip6InterfaceList& list, const char* name) {
    Net6Interface* one = select_ipv6_interface(list, "ifconfig6", name);
    if (!one) return kExitFailure;
    int code = kExitSuccess;
    for (uint64_t i = 0; i < list.count(); i++) {
        if (name && &list[i] != one) continue;
        efi::Status st = set_policy(list[i], efi::kIp6PolicyAutomatic);
        if (st == efi::kAborted) return kExitInterrupted;
        if (st != efi::kSuccess) code = firmware_failure(st);
    }
    return code;
}

// What `man` sets: host addresses with their prefix lengths, gateways, DNS servers.
struct ManualSettings {
    efi::Ip6ConfigManualAddress hosts[kMaxPerKind];
    efi::Ipv6Address gateways[kMaxPerKind];
    efi::Ipv6Address dns[kMaxPerKind];
    int host_count = 0, gateway_count = 0, dns_count = 0;
};

enum class Kind { kNone, kHost, kGateway, kDns };

Kind kind_of_word(const char* word) {
    if (equal_nocase(word, "host")) return Kind::kHost;
    if (equal_nocase(word, "gw")) return Kind::kGateway;
    if (equal_nocase(word, "dns")) return Kind::kDns;
    return Kind::kNone;
}

// Reads the words after `man`; prints the message and gives the exit code on a fault.
int parse_manual(int count, char** args, ManualSettings* out) {
    Kind kind = Kind::kNone;
    for (int i = 0; i < count; i++) {
        const char* word = args[i];
        if (Kind k = kind_of_word(word); k != Kind::kNone) {
            kind = k;
            continue;
        }
        if (kind == Kind::kNone)
            return report_error("ifconfig6", "%s: not a valid IPv6 %s", word, "setting (host, gw or dns)");
        if (kind == Kind::kHost) {
            efi::Ip6ConfigManualAddress a{};
            bool has_length = false;
            uint8_t length = kDefaultPrefix;
            if (!parse_ipv6_prefix(word, &a.address, &length, &has_length))
                return report_error("ifconfig6", "%s: not a valid IPv6 %s", word, "address (ADDR or ADDR/LEN)");
            a.prefix_length = has_length ? length : kDefaultPrefix;
            if (out->host_count == kMaxPerKind) {
                print_error("%s", kManUsage);
                return kExitUsage;
            }
            out->hosts[out->host_count++] = a;
            continue;
        }
        efi::Ipv6Address* list = kind == Kind::kGateway ? out->gateways : out->dns;
        int* n = kind == Kind::kGateway ? &out->gateway_count : &out->dns_count;
        efi::Ipv6Address a;
        if (!parse_ipv6(word, &a)) return report_error("ifconfig6", "%s: not a valid IPv6 %s", word, "address");
        if (*n == kMaxPerKind) {
            print_error("%s", kManUsage);
            return kExitUsage;
        }
        list[(*n)++] = a;
    }
    return kExitSuccess;
}

int set_manual(Net6Interface& e, int count, char** args) {
    ManualSettings m;
    int code = parse_manual(count, args, &m);
    if (code != kExitSuccess) return code;
    efi::Status st = set_policy(e, efi::kIp6PolicyManual);
    if (st == efi::kSuccess && m.host_count)
        st = ip6_set_data(e.config, efi::kIp6ConfigManualAddress, m.hosts,
                          static_cast<uint64_t>(m.host_count) * sizeof m.hosts[0], kSetWaitMs);
    if (st == efi::kSuccess && m.gateway_count)
        st = ip6_set_data(e.config, efi::kIp6ConfigGateway, m.gateways,
                          static_cast<uint64_t>(m.gateway_count) * sizeof m.gateways[0], kSetWaitMs);
    if (st == efi::kSuccess && m.dns_count)
        st = ip6_set_data(e.config, efi::kIp6ConfigDnsServer, m.dns,
                          static_cast<uint64_t>(m.dns_count) * sizeof m.dns[0], kSetWaitMs);
    return result_of(st);
}

int set_dad(Net6Interface& e, int count, char** args) {
    int64_t value = 0;
    if (count != 1 || !parse_integer_in_range(args[0], &value) || value < 0 || value > kMaxDad) {
        print_error("usage: ifconfig6 -s NAME dad COUNT (0-10)\n");
        return kExitUsage;
    }
    uint32_t transmits = static_cast<uint32_t>(value);
    return result_of(ip6_set_data(e.config, efi::kIp6ConfigDadTransmits, &transmits, sizeof transmits, kSetWaitMs));
}

int ifconfig6_command(int count, char** vector) {
    Ifconfig6Options o;
    int first = parse_options(count, vector, kOptions, kOptionsLeading, &o);
    if (first < 0) return kExitUsage;
    int operands = count - first;
    char** args = vector + first;
    if (int(o.list) + int(o.reset) + int(o.set) > 1) return report_usage("ifconfig6");
    Ip6InterfaceList list;
    if (o.set) {
        if (operands < 2) return report_usage("ifconfig6");
        Net6Interface* e = select_ipv6_interface(list, "ifconfig6", args[0]);
        if (!e) return kExitFailure;
        const char* what = args[1];
        if (equal_nocase(what, "auto")) {
            if (operands != 2) return report_usage("ifconfig6");
            return result_of(set_policy(*e, efi::kIp6PolicyAutomatic));
        }
        if (equal_nocase(what, "man")) return set_manual(*e, operands - 2, args + 2);
        if (equal_nocase(what, "dad")) return set_dad(*e, operands - 2, args + 2);
        return report_usage("ifconfig6");
    }
    if (operands > 1) return report_usage("ifconfig6");
    const char* name = operands == 1 ? args[0] : nullptr;
    if (o.reset) return reset_to_automatic(list, name);
    return list_interfaces(list, name);
}

}  // namespace

void register_ifconfig6_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

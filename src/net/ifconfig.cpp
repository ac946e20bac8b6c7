// ifconfig: show the IPv4 configuration of the interfaces, or change it (DHCP, a static
// address, DNS servers) through the firmware's IP4 Config2 protocol.
#include "net/net_access.h"
#include "net/net_commands.h"
#include "net/net_text.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int ifconfig_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"ifconfig", ifconfig_command,
     "ifconfig [-l [NAME]] | -r [NAME] | -s NAME dhcp | -s NAME static IP MASK GW | -s NAME dns IP...",
     "Show or change the IPv4 configuration",
     "  -l [NAME]               lists every interface (or NAME): media, policy, addresses,\n"
     "                          DNS servers and routes (the default)\n"
     "  -r [NAME]               sets the interface (or every one) back to DHCP\n"
     "  -s NAME dhcp            asks for an address by DHCP and waits up to 15 seconds\n"
     "  -s NAME static IP MASK GW  sets a fixed address, subnet mask and gateway\n"
     "  -s NAME dns IP...       sets 1 to 8 DNS servers\n",
     kCommandStructuredOutput},
};

struct IfconfigOptions {
    bool list = false;
    bool renew = false;
    bool set = false;
};

constexpr Option<IfconfigOptions> kOptions[] = {
    switch_option("l", &IfconfigOptions::list),
    switch_option("r", &IfconfigOptions::renew),
    switch_option("s", &IfconfigOptions::set),
};

constexpr uint64_t kDhcpWaitMs = 15000;
constexpr uint64_t kSetWaitMs = 5000;
constexpr int kMaxDns = 8;

int firmware_failure(efi::Status st) { return report_error("ifconfig", "%s", status_message(st)); }

void v4_text(const uint8_t* bytes, char* out) {
    efi::Ipv4Address a;
    memcpy(a.addr, bytes, 4);
    format_ipv4(a, out, kIpv4TextSize);
}

// The addresses of a list item (gateway, DNS servers) as a vector of texts.
struct AddressList {
    Owned<uint8_t> data;
    uint64_t count = 0;
    void text(uint64_t i, char* out) const { v4_text(data.get() + 4 * i, out); }
};

efi::Status read_addresses(efi::Ip4Config2* config, efi::Ip4Config2DataType type, AddressList* out) {
    uint64_t size = 0;
    efi::Status st = ip4_get_data(config, type, &out->data, &size);
    out->count = st == efi::kSuccess ? size / 4 : 0;
    return st;
}

void mac_text(const efi::Ip4Config2InterfaceInfo& info, char* out, uint64_t size) {
    uint64_t n = 0;
    out[0] = 0;
    for (uint32_t i = 0; i < info.hw_address_size && n < size; i++)
        n += format_into(out + n, size - n, "%s%02X", i ? "-" : "", info.hw_address.addr[i]);
}

int list_one(NetInterface& e) {
    efi::Status st;
    Owned<efi::Ip4Config2InterfaceInfo> info = ip4_interface_info(e.config, &st);
    if (!info) return firmware_failure(st);
    efi::Ip4Config2Policy policy = efi::kIp4PolicyDhcp;
    st = ip4_get_policy(e.config, &policy);
    if (st != efi::kSuccess) return firmware_failure(st);
    AddressList gateways, dns;
    read_addresses(e.config, efi::kIp4Config2Gateway, &gateways);
    read_addresses(e.config, efi::kIp4Config2DnsServer, &dns);
    const char* policy_text = policy == efi::kIp4PolicyStatic ? "static" : "dhcp";
    const char* media = media_state_text(media_state(e.handle));
    char mac[3 * 32 + 1], ip[kIpv4TextSize], mask[kIpv4TextSize], gw[kIpv4TextSize] = "0.0.0.0";
    mac_text(*info.get(), mac, sizeof mac);
    v4_text(info->station_address.addr, ip);
    v4_text(info->subnet_mask.addr, mask);
    if (gateways.count) gateways.text(0, gw);
    if (data_mode()) {
        record_begin();
        record_field("name", "%s", e.name);
        record_field("media", "%s", media);
        record_field("policy", "%s", policy_text);
        record_field("mac", "%s", mac);
        record_field("ip", "%s", ip);
        record_field("mask", "%s", mask);
        record_field("gateway", "%s", gw);
        char list[kMaxDns * kIpv4TextSize + 8] = "";
        uint64_t n = 0;
        for (uint64_t i = 0; i < dns.count && n < sizeof list; i++) {
            char one[kIpv4TextSize];
            dns.text(i, one);
            n += format_into(list + n, sizeof list - n, "%s%s", i ? " " : "", one);
        }
        record_field("dns", "%s", list);
        return kExitSuccess;
    }
    out_printf("name         : %s\n", e.name);
    out_printf("media state  : %s\n", media);
    out_printf("policy       : %s\n", policy_text);
    out_printf("mac addr     : %s\n", mac);
    out_printf("ipv4 address : %s\nsubnet mask  : %s\n", ip, mask);
    out_printf("gateway      : %s\n", gw);
    for (uint64_t i = 0; i < dns.count; i++) {
        char one[kIpv4TextSize];
        dns.text(i, one);
        out_printf("dns server   : %s\n", one);
    }
    out_text("route table  :\n");
    for (uint32_t i = 0; i < info->route_table_size; i++) {
        const efi::Ip4RouteTable& r = info->route_table[i];
        char s[kIpv4TextSize], m[kIpv4TextSize], g[kIpv4TextSize];
        v4_text(r.subnet.addr, s);
        v4_text(r.mask.addr, m);
        v4_text(r.gateway.addr, g);
        out_printf("  subnet %s netmask %s gateway %s\n", s, m, g);
    }
    out_text("\n");
    return kExitSuccess;
}

int list_interfaces(Ip4InterfaceList& list, const char* name) {
    if (name) {
        NetInterface* e = select_ipv4_interface(list, "ifconfig", name);
        return e ? list_one(*e) : kExitFailure;
    }
    if (!select_ipv4_interface(list, "ifconfig", nullptr)) return kExitFailure;
    int code = kExitSuccess;
    for (uint64_t i = 0; i < list.count(); i++) {
        if (poll_break()) return kExitInterrupted;
        if (list_one(list[i]) != kExitSuccess) code = kExitFailure;
    }
    return code;
}

efi::Status set_policy(NetInterface& e, efi::Ip4Config2Policy policy) {
    uint32_t value = policy;
    return ip4_set_data(e.config, efi::kIp4Config2Policy, &value, sizeof value, kSetWaitMs);
}

int renew(Ip4InterfaceList& list, const char* name) {
    NetInterface* one = select_ipv4_interface(list, "ifconfig", name);
    if (!one) return kExitFailure;
    int code = kExitSuccess;
    for (uint64_t i = 0; i < list.count(); i++) {
        if (name && &list[i] != one) continue;
        efi::Status st = set_policy(list[i], efi::kIp4PolicyDhcp);
        if (st != efi::kSuccess) code = firmware_failure(st);
    }
    return code;
}

int set_dhcp(NetInterface& e) {
    efi::Status st = set_policy(e, efi::kIp4PolicyDhcp);
    if (st != efi::kSuccess) return firmware_failure(st);
    out_printf("%s: waiting for DHCP...", e.name);
    switch (wait_for_ipv4_address(e.config, kDhcpWaitMs)) {
    case WaitResult::kReady: out_text(" done\n"); return kExitSuccess;
    case WaitResult::kTimedOut: out_text(" no answer yet (the address may arrive later)\n"); return kExitSuccess;
    case WaitResult::kInterrupted: out_text("\n"); return kExitInterrupted;
    }
    return kExitFailure;
}

bool parse_v4_argument(const char* text, efi::Ipv4Address* out) {
    if (parse_ipv4(text, out)) return true;
    report_error("ifconfig", "%s is not an IPv4 address", text);
    return false;
}

int set_static(NetInterface& e, int count, char** args) {
    if (count != 3) {
        print_error("usage: ifconfig -s NAME static IP MASK GATEWAY\n");
        return kExitUsage;
    }
    efi::Ip4Config2ManualAddress manual;
    efi::Ipv4Address gateway;
    if (!parse_v4_argument(args[0], &manual.address) || !parse_v4_argument(args[1], &manual.mask) ||
        !parse_v4_argument(args[2], &gateway))
        return kExitFailure;
    efi::Status st = set_policy(e, efi::kIp4PolicyStatic);
    if (st == efi::kSuccess) st = ip4_set_data(e.config, efi::kIp4Config2ManualAddress, &manual, sizeof manual, kSetWaitMs);
    if (st == efi::kSuccess) st = ip4_set_data(e.config, efi::kIp4Config2Gateway, &gateway, sizeof gateway, kSetWaitMs);
    if (st == efi::kAborted) return kExitInterrupted;
    return st == efi::kSuccess ? kExitSuccess : firmware_failure(st);
}

int set_dns(NetInterface& e, int count, char** args) {
    if (count < 1 || count > kMaxDns) {
        print_error("usage: ifconfig -s NAME dns IP [IP...]\n");
        return kExitUsage;
    }
    efi::Ipv4Address servers[kMaxDns];
    for (int i = 0; i < count; i++)
        if (!parse_v4_argument(args[i], &servers[i])) return kExitFailure;
    efi::Status st = ip4_set_data(e.config, efi::kIp4Config2DnsServer, servers,
                                  static_cast<uint64_t>(count) * sizeof servers[0], kSetWaitMs);
    if (st == efi::kAborted) return kExitInterrupted;
    return st == efi::kSuccess ? kExitSuccess : firmware_failure(st);
}

int ifconfig_command(int count, char** vector) {
    IfconfigOptions o;
    int first = parse_options(count, vector, kOptions, kOptionsLeading, &o);
    if (first < 0) return kExitUsage;
    int operands = count - first;
    char** args = vector + first;
    if (int(o.list) + int(o.renew) + int(o.set) > 1) return report_usage("ifconfig");
    Ip4InterfaceList list;
    if (o.set) {
        if (operands < 2) return report_usage("ifconfig");
        NetInterface* e = select_ipv4_interface(list, "ifconfig", args[0]);
        if (!e) return kExitFailure;
        const char* what = args[1];
        if (equal_nocase(what, "dhcp")) {
            if (operands != 2) return report_usage("ifconfig");
            return set_dhcp(*e);
        }
        if (equal_nocase(what, "static")) return set_static(*e, operands - 2, args + 2);
        if (equal_nocase(what, "dns")) return set_dns(*e, operands - 2, args + 2);
        return report_usage("ifconfig");
    }
    if (operands > 1) return report_usage("ifconfig");
    const char* name = operands == 1 ? args[0] : nullptr;
    if (o.renew) return renew(list, name);
    return list_interfaces(list, name);
}

}  // namespace

void register_ifconfig_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn

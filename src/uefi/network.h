// Network protocols: service binding, IP4 Config2, IP4, Simple Network (its mode, for the
// media state), Adapter Information (media state), MTFTP4 and HTTP, written from the
// published UEFI standard.
#pragma once
#include "uefi/base.h"

namespace tarn::efi {

struct Ipv4Address {
    uint8_t addr[4];
};
struct Ipv6Address {
    uint8_t addr[16];
};
struct MacAddress {
    uint8_t addr[32];
};

inline constexpr Guid kIp4Config2ProtocolGuid = {
    0x5b446ed1, 0xe30b, 0x4faa, {0x87, 0x1a, 0x36, 0x54, 0xec, 0xa3, 0x60, 0x80}};
inline constexpr Guid kIp4ServiceBindingProtocolGuid = {
    0xc51711e7, 0xb4bf, 0x404a, {0xbf, 0xb8, 0x0a, 0x04, 0x8e, 0xf1, 0xff, 0xe4}};
inline constexpr Guid kIp4ProtocolGuid = {
    0x41d94cd2, 0x35b6, 0x455a, {0x82, 0x58, 0xd4, 0xe5, 0x13, 0x34, 0xaa, 0xdd}};
inline constexpr Guid kIp6ConfigProtocolGuid = {
    0x937fe521, 0x95ae, 0x4d1a, {0x89, 0x29, 0x48, 0xbc, 0xd9, 0x0a, 0xd3, 0x1a}};
inline constexpr Guid kMtftp4ServiceBindingProtocolGuid = {
    0x2fe800be, 0x8f01, 0x4aa6, {0x94, 0x6b, 0xd7, 0x13, 0x88, 0xe1, 0x83, 0x3f}};
inline constexpr Guid kMtftp4ProtocolGuid = {
    0x78247c57, 0x63db, 0x4708, {0x99, 0xc2, 0xa8, 0xb4, 0xa9, 0xa6, 0x1f, 0x6b}};
inline constexpr Guid kHttpServiceBindingProtocolGuid = {
    0xbdc8e6af, 0xd9bc, 0x4379, {0xa7, 0x2a, 0xe0, 0xc4, 0xe7, 0x5d, 0xae, 0x1c}};
inline constexpr Guid kHttpProtocolGuid = {
    0x7a59b29b, 0x910b, 0x4171, {0x82, 0x42, 0xa8, 0x5a, 0x0d, 0xf2, 0x5b, 0x5b}};
inline constexpr Guid kSimpleNetworkProtocolGuid = {
    0xa19832b9, 0xac25, 0x11d3, {0x9a, 0x2d, 0x00, 0x90, 0x27, 0x3f, 0xc1, 0x4d}};
inline constexpr Guid kAdapterInformationProtocolGuid = {
    0xe5dd1403, 0xd622, 0xc24e, {0x84, 0x88, 0xc7, 0x1b, 0x17, 0xf5, 0xe8, 0x02}};
inline constexpr Guid kAdapterInfoMediaStateGuid = {
    0xd7c74207, 0xa831, 0x4a26, {0xb1, 0xf5, 0xd1, 0x93, 0x06, 0x5c, 0xe8, 0xb6}};

inline constexpr Guid kIp6ServiceBindingProtocolGuid = {
    0xec835dd3, 0xfe0f, 0x617b, {0xa6, 0x21, 0xb3, 0x50, 0xc3, 0xe1, 0x33, 0x88}};
inline constexpr Guid kIp6ProtocolGuid = {
    0x2c8759d5, 0x5c2d, 0x66ef, {0x92, 0x5f, 0xb6, 0x6c, 0x10, 0x19, 0x57, 0xe2}};
inline constexpr Guid kMtftp6ServiceBindingProtocolGuid = {
    0xd9760ff3, 0x3cca, 0x4267, {0x80, 0xf9, 0x75, 0x27, 0xfa, 0xfa, 0x42, 0x23}};
inline constexpr Guid kMtftp6ProtocolGuid = {
    0xbf0a78ba, 0xec29, 0x49cf, {0xa1, 0xc9, 0x7a, 0xe5, 0x4e, 0xab, 0x6a, 0x51}};

// ---- service binding (creates and destroys the children of a network driver)

struct ServiceBinding {
    Status(EFIAPI* create_child)(ServiceBinding* self, Handle* child);
    Status(EFIAPI* destroy_child)(ServiceBinding* self, Handle child);
};

// ---- IP4 Config2

enum Ip4Config2DataType : uint32_t {
    kIp4Config2InterfaceInfo,
    kIp4Config2Policy,
    kIp4Config2ManualAddress,
    kIp4Config2Gateway,
    kIp4Config2DnsServer,
};

enum Ip4Config2Policy : uint32_t { kIp4PolicyStatic, kIp4PolicyDhcp };

struct Ip4RouteTable {
    Ipv4Address subnet;
    Ipv4Address mask;
    Ipv4Address gateway;
};

constexpr uint64_t kInterfaceNameSize = 32;

struct Ip4Config2InterfaceInfo {
    Char16 name[kInterfaceNameSize];
    uint8_t if_type;
    uint32_t hw_address_size;
    MacAddress hw_address;
    Ipv4Address station_address;
    Ipv4Address subnet_mask;
    uint32_t route_table_size;
    Ip4RouteTable* route_table;
};
static_assert(offsetof(Ip4Config2InterfaceInfo, hw_address_size) == 68);
static_assert(offsetof(Ip4Config2InterfaceInfo, station_address) == 104);
static_assert(offsetof(Ip4Config2InterfaceInfo, route_table) == 120);

struct Ip4Config2ManualAddress {
    Ipv4Address address;
    Ipv4Address mask;
};

struct Ip4Config2 {
    Status(EFIAPI* set_data)(Ip4Config2* self, uint32_t type, uint64_t size, void* data);
    Status(EFIAPI* get_data)(Ip4Config2* self, uint32_t type, uint64_t* size, void* data);
    Status(EFIAPI* register_data_notify)(Ip4Config2* self, uint32_t type, Event event);
    Status(EFIAPI* unregister_data_notify)(Ip4Config2* self, uint32_t type, Event event);
};

// ---- IP4

struct Ip4ConfigData {
    uint8_t default_protocol;
    Boolean accept_any_protocol;
    Boolean accept_icmp_errors;
    Boolean accept_broadcast;
    Boolean accept_promiscuous;
    Boolean use_default_address;
    Ipv4Address station_address;
    Ipv4Address subnet_mask;
    uint8_t type_of_service;
    uint8_t time_to_live;
    Boolean do_not_fragment;
    Boolean raw_data;
    uint32_t receive_timeout;
    uint32_t transmit_timeout;
};
static_assert(sizeof(Ip4ConfigData) == 28);

struct Ip4Header {
    uint8_t version_length;  // header length (in 32-bit words) low, version high
    uint8_t type_of_service;
    uint8_t total_length[2];
    uint8_t identification[2];
    uint8_t fragmentation[2];
    uint8_t time_to_live;
    uint8_t protocol;
    uint8_t checksum[2];
    Ipv4Address source;
    Ipv4Address destination;
};
static_assert(sizeof(Ip4Header) == 20);

struct FragmentData {
    uint32_t length;
    void* buffer;
};

struct Ip4TransmitData {
    Ipv4Address destination;
    void* override_data;
    uint32_t options_length;
    void* options;
    uint32_t total_data_length;
    uint32_t fragment_count;
    FragmentData fragments[1];
};
static_assert(offsetof(Ip4TransmitData, fragments) == 40);

struct Ip4ReceiveData {
    Time time_stamp;
    Event recycle_signal;
    uint32_t header_length;
    Ip4Header* header;
    uint32_t options_length;
    void* options;
    uint32_t data_length;
    uint32_t fragment_count;
    FragmentData fragments[1];
};
static_assert(offsetof(Ip4ReceiveData, header) == 32);
static_assert(offsetof(Ip4ReceiveData, fragments) == 64);

struct Ip4CompletionToken {
    Event event;
    Status status;
    union {
        Ip4ReceiveData* rx;
        Ip4TransmitData* tx;
    } packet;
};

struct Ip4 {
    Status(EFIAPI* get_mode_data)(Ip4* self, void* ip4_mode, void* mnp_config, void* snp_mode);
    Status(EFIAPI* configure)(Ip4* self, Ip4ConfigData* config);
    Status(EFIAPI* groups)(Ip4* self, Boolean join, Ipv4Address* group);
    Status(EFIAPI* routes)(Ip4* self, Boolean remove, Ipv4Address* subnet, Ipv4Address* mask,
                           Ipv4Address* gateway);
    Status(EFIAPI* transmit)(Ip4* self, Ip4CompletionToken* token);
    Status(EFIAPI* receive)(Ip4* self, Ip4CompletionToken* token);
    Status(EFIAPI* cancel)(Ip4* self, Ip4CompletionToken* token);
    Status(EFIAPI* poll)(Ip4* self);
};

// ---- media state

struct AdapterInformation {
    Status(EFIAPI* get_information)(AdapterInformation* self, const Guid* type, void** block,
                                    uint64_t* size);
    Status(EFIAPI* set_information)(AdapterInformation* self, const Guid* type, void* block,
                                    uint64_t size);
    Status(EFIAPI* get_supported_types)(AdapterInformation* self, Guid** types, uint64_t* count);
};

struct SimpleNetworkMode {
    uint32_t state;
    uint32_t hw_address_size;
    uint32_t media_header_size;
    uint32_t max_packet_size;
    uint32_t nv_ram_size;
    uint32_t nv_ram_access_size;
    uint32_t receive_filter_mask;
    uint32_t receive_filter_setting;
    uint32_t max_mcast_filter_count;
    uint32_t mcast_filter_count;
    MacAddress mcast_filter[16];
    MacAddress current_address;
    MacAddress broadcast_address;
    MacAddress permanent_address;
    uint8_t if_type;
    Boolean mac_address_changeable;
    Boolean multiple_tx_supported;
    Boolean media_present_supported;
    Boolean media_present;
};
static_assert(offsetof(SimpleNetworkMode, media_present_supported) == 651);

// Only the mode pointer is read; the thirteen operations before it are opaque.
struct SimpleNetwork {
    uint64_t revision;
    void* operations[13];
    Event wait_for_packet;
    SimpleNetworkMode* mode;
};
static_assert(offsetof(SimpleNetwork, mode) == 120);

// ---- MTFTP4

struct Mtftp4ConfigData {
    Boolean use_default_setting;
    Ipv4Address station_ip;
    Ipv4Address subnet_mask;
    uint16_t local_port;
    Ipv4Address gateway_ip;
    Ipv4Address server_ip;
    uint16_t initial_server_port;
    uint16_t try_count;
    uint16_t timeout_value;
};
static_assert(offsetof(Mtftp4ConfigData, local_port) == 10);
static_assert(offsetof(Mtftp4ConfigData, server_ip) == 16);
static_assert(sizeof(Mtftp4ConfigData) == 26);

struct Mtftp4Option {
    const uint8_t* name;
    const uint8_t* value;
};

struct Mtftp4;
struct Mtftp4Token {
    Status status;
    Event event;
    void* override_data;
    const uint8_t* filename;
    const uint8_t* mode;
    uint32_t option_count;
    Mtftp4Option* options;
    uint64_t buffer_size;
    void* buffer;
    void* context;
    void* check_packet;
    void* timeout_callback;
    void* packet_needed;
};
static_assert(offsetof(Mtftp4Token, buffer_size) == 56);
static_assert(sizeof(Mtftp4Token) == 104);

struct Mtftp4 {
    Status(EFIAPI* get_mode_data)(Mtftp4* self, void* mode);
    Status(EFIAPI* configure)(Mtftp4* self, Mtftp4ConfigData* config);
    Status(EFIAPI* get_info)(Mtftp4* self, void* override_data, const uint8_t* filename, const uint8_t* mode,
                             uint8_t option_count, Mtftp4Option* options, uint32_t* packet_length,
                             void** packet);
    Status(EFIAPI* parse_options)(Mtftp4* self, uint32_t packet_length, void* packet, uint32_t* option_count,
                                  Mtftp4Option** options);
    Status(EFIAPI* read_file)(Mtftp4* self, Mtftp4Token* token);
    Status(EFIAPI* write_file)(Mtftp4* self, Mtftp4Token* token);
    Status(EFIAPI* read_directory)(Mtftp4* self, Mtftp4Token* token);
    Status(EFIAPI* poll)(Mtftp4* self);
};

// ---- HTTP

enum HttpVersion : uint32_t { kHttpVersion10, kHttpVersion11 };
enum HttpMethod : uint32_t { kHttpMethodGet };

struct Http4AccessPoint {
    Boolean use_default_address;
    Ipv4Address local_address;
    Ipv4Address local_subnet;
    uint16_t local_port;
};
static_assert(sizeof(Http4AccessPoint) == 12);

struct Http6AccessPoint {
    Ipv6Address local_address;
    uint16_t local_port;
};

struct HttpConfigData {
    uint32_t version;
    uint32_t timeout_ms;
    Boolean local_address_is_ipv6;
    union {
        Http4AccessPoint* ipv4;
        Http6AccessPoint* ipv6;
    } access_point;
};
static_assert(sizeof(HttpConfigData) == 24);

struct HttpRequestData {
    uint32_t method;
    Char16* url;
};

struct HttpResponseData {
    uint32_t status_code;  // the protocol's enumeration, not the number
};

struct HttpHeader {
    char* name;
    char* value;
};

struct HttpMessage {
    union {
        HttpRequestData* request;
        HttpResponseData* response;
    } data;
    uint64_t header_count;
    HttpHeader* headers;
    uint64_t body_length;
    void* body;
};
static_assert(sizeof(HttpMessage) == 40);

struct HttpToken {
    Event event;
    Status status;
    HttpMessage* message;
};

struct Http {
    Status(EFIAPI* get_mode_data)(Http* self, HttpConfigData* config);
    Status(EFIAPI* configure)(Http* self, HttpConfigData* config);
    Status(EFIAPI* request)(Http* self, HttpToken* token);
    Status(EFIAPI* cancel)(Http* self, HttpToken* token);
    Status(EFIAPI* response)(Http* self, HttpToken* token);
    Status(EFIAPI* poll)(Http* self);
};

// The status numbers in the order of the protocol's status code enumeration (0 stands
// for a status it does not know).
inline constexpr uint16_t kHttpStatusNumbers[] = {
    0,   100, 101, 200, 201, 202, 203, 204, 205, 206, 300, 301, 302, 303, 304, 305, 307, 400,
    401, 402, 403, 404, 405, 406, 407, 408, 409, 410, 411, 412, 413, 414, 415, 416, 417, 500,
    501, 502, 503, 504, 505, 308, 429,
};

// ---- IP6 Config (the IPv6 half: IP6 Config, IP6, MTFTP6)

enum Ip6ConfigDataType : uint32_t {
    kIp6ConfigInterfaceInfo,
    kIp6ConfigAltInterfaceId,
    kIp6ConfigPolicy,
    kIp6ConfigDadTransmits,
    kIp6ConfigManualAddress,
    kIp6ConfigGateway,
    kIp6ConfigDnsServer,
};

enum Ip6ConfigPolicy : uint32_t { kIp6PolicyManual, kIp6PolicyAutomatic };

struct Ip6AddressInfo {
    Ipv6Address address;
    uint8_t prefix_length;
};
static_assert(sizeof(Ip6AddressInfo) == 17);

struct Ip6RouteTable {
    Ipv6Address gateway;
    Ipv6Address destination;
    uint8_t prefix_length;
};
static_assert(sizeof(Ip6RouteTable) == 33);

struct Ip6ConfigInterfaceInfo {
    Char16 name[kInterfaceNameSize];
    uint8_t if_type;
    uint32_t hw_address_size;
    MacAddress hw_address;
    uint32_t address_info_count;
    Ip6AddressInfo* address_info;
    uint32_t route_count;
    Ip6RouteTable* route_table;
};
static_assert(offsetof(Ip6ConfigInterfaceInfo, hw_address_size) == 68);
static_assert(offsetof(Ip6ConfigInterfaceInfo, address_info_count) == 104);
static_assert(offsetof(Ip6ConfigInterfaceInfo, address_info) == 112);
static_assert(offsetof(Ip6ConfigInterfaceInfo, route_table) == 128);

struct Ip6ConfigManualAddress {
    Ipv6Address address;
    Boolean is_anycast;
    uint8_t prefix_length;
};
static_assert(sizeof(Ip6ConfigManualAddress) == 18);

struct Ip6Config {
    Status(EFIAPI* set_data)(Ip6Config* self, uint32_t type, uint64_t size, void* data);
    Status(EFIAPI* get_data)(Ip6Config* self, uint32_t type, uint64_t* size, void* data);
    Status(EFIAPI* register_data_notify)(Ip6Config* self, uint32_t type, Event event);
    Status(EFIAPI* unregister_data_notify)(Ip6Config* self, uint32_t type, Event event);
};

// ---- IP6

struct Ip6ConfigData {
    uint8_t default_protocol;
    Boolean accept_any_protocol;
    Boolean accept_icmp_errors;
    Boolean accept_promiscuous;
    Ipv6Address destination_address;
    Ipv6Address station_address;
    uint8_t traffic_class;
    uint8_t hop_limit;
    uint32_t flow_label;
    uint32_t receive_timeout;
    uint32_t transmit_timeout;
};
static_assert(offsetof(Ip6ConfigData, station_address) == 20);
static_assert(offsetof(Ip6ConfigData, flow_label) == 40);
static_assert(sizeof(Ip6ConfigData) == 52);

// Packed as on the wire: 40 bytes.
struct Ip6Header {
    uint8_t version_class_flow[4];
    uint8_t payload_length[2];
    uint8_t next_header;
    uint8_t hop_limit;
    Ipv6Address source;
    Ipv6Address destination;
};
static_assert(sizeof(Ip6Header) == 40);

struct Ip6TransmitData {
    Ipv6Address destination;
    void* override_data;
    uint32_t ext_headers_length;
    void* ext_headers;
    uint8_t next_header;
    uint32_t data_length;
    uint32_t fragment_count;
    FragmentData fragments[1];
};
static_assert(offsetof(Ip6TransmitData, next_header) == 40);
static_assert(offsetof(Ip6TransmitData, fragments) == 56);

struct Ip6ReceiveData {
    Time time_stamp;
    Event recycle_signal;
    uint32_t header_length;
    Ip6Header* header;
    uint32_t data_length;
    uint32_t fragment_count;
    FragmentData fragments[1];
};
static_assert(offsetof(Ip6ReceiveData, header) == 32);
static_assert(offsetof(Ip6ReceiveData, fragments) == 48);

struct Ip6CompletionToken {
    Event event;
    Status status;
    union {
        Ip6ReceiveData* rx;
        Ip6TransmitData* tx;
    } packet;
};

struct Ip6 {
    Status(EFIAPI* get_mode_data)(Ip6* self, void* ip6_mode, void* mnp_config, void* snp_mode);
    Status(EFIAPI* configure)(Ip6* self, Ip6ConfigData* config);
    Status(EFIAPI* groups)(Ip6* self, Boolean join, Ipv6Address* group);
    Status(EFIAPI* routes)(Ip6* self, Boolean remove, Ipv6Address* destination, uint8_t prefix_length,
                           Ipv6Address* gateway);
    Status(EFIAPI* neighbors)(Ip6* self, Boolean remove, Ipv6Address* target, MacAddress* link_address,
                              uint32_t timeout, Boolean override_entry);
    Status(EFIAPI* transmit)(Ip6* self, Ip6CompletionToken* token);
    Status(EFIAPI* receive)(Ip6* self, Ip6CompletionToken* token);
    Status(EFIAPI* cancel)(Ip6* self, Ip6CompletionToken* token);
    Status(EFIAPI* poll)(Ip6* self);
};

// ---- MTFTP6 (options, tokens and operations laid out as for MTFTP4)

struct Mtftp6ConfigData {
    Ipv6Address station_ip;
    uint16_t local_port;
    Ipv6Address server_ip;
    uint16_t initial_server_port;
    uint16_t try_count;
    uint16_t timeout_value;
};
static_assert(offsetof(Mtftp6ConfigData, server_ip) == 18);
static_assert(sizeof(Mtftp6ConfigData) == 40);

using Mtftp6Option = Mtftp4Option;
using Mtftp6Token = Mtftp4Token;

struct Mtftp6 {
    Status(EFIAPI* get_mode_data)(Mtftp6* self, void* mode);
    Status(EFIAPI* configure)(Mtftp6* self, Mtftp6ConfigData* config);
    Status(EFIAPI* get_info)(Mtftp6* self, void* override_data, const uint8_t* filename, const uint8_t* mode,
                             uint8_t option_count, Mtftp6Option* options, uint32_t* packet_length,
                             void** packet);
    Status(EFIAPI* parse_options)(Mtftp6* self, uint32_t packet_length, void* packet, uint32_t* option_count,
                                  Mtftp6Option** options);
    Status(EFIAPI* read_file)(Mtftp6* self, Mtftp6Token* token);
    Status(EFIAPI* write_file)(Mtftp6* self, Mtftp6Token* token);
    Status(EFIAPI* read_directory)(Mtftp6* self, Mtftp6Token* token);
    Status(EFIAPI* poll)(Mtftp6* self);
};

}  // namespace tarn::efi

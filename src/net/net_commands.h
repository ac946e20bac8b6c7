// The network commands.
#pragma once

namespace tarn {

// Registers every command of the network module.
void register_net_commands();

// One routine per command file.
void register_ifconfig_command();
void register_ping_command();
void register_tftp_command();
void register_http_command();
void register_ifconfig6_command();
void register_ping6_command();

}  // namespace tarn

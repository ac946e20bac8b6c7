#include "net/net_commands.h"

namespace tarn {

void register_net_commands() {
    register_ifconfig_command();
    register_ping_command();
    register_tftp_command();
    register_http_command();
    register_ifconfig6_command();
}

}  // namespace tarn

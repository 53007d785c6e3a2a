// "[HOST:]PORT" of the options that open a TCP server.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct HostPort {
    std::string host = "127.0.0.1";  // when left out
    uint16_t port = 0;               // 0: the system picks one
};

enum class HostPortError { kNone, kPort, kHost };

/// HOST a numeric IPv4 address, or IPv6 (in brackets) where `ipv6`, or
/// "localhost" (taken as 127.0.0.1); PORT 0 to 65535. `out` holds what was
/// read as far as it went; the caller names the option in its message.
HostPortError parse_host_port(const std::string& text, bool ipv6, HostPort& out);

}  // namespace sim

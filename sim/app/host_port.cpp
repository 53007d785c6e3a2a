#include "sim/app/host_port.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>

namespace sim {

HostPortError parse_host_port(const std::string& text, bool ipv6, HostPort& out) {
    std::string port = text;
    const auto colon = text.rfind(':');
    if (colon != std::string::npos) {
        out.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (ipv6 && out.host.size() > 2 && out.host.front() == '[' && out.host.back() == ']') {
            out.host = out.host.substr(1, out.host.size() - 2);
        }
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || value > 65535) {
        return HostPortError::kPort;
    }
    out.port = static_cast<uint16_t>(value);
    if (out.host == "localhost") {
        out.host = "127.0.0.1";
    }
    in6_addr address{};
    if (inet_pton(AF_INET, out.host.c_str(), &address) != 1 &&
        !(ipv6 && inet_pton(AF_INET6, out.host.c_str(), &address) == 1)) {
        return HostPortError::kHost;
    }
    return HostPortError::kNone;
}

}  // namespace sim

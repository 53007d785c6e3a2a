// The CAN buses for clients outside the process: a socketcand server (its
// text protocol over TCP, raw mode) and slcan (Lawicel's serial-line ASCII)
// on pseudo-terminals. Each bus gets one live node, which sends the clients'
// frames as any node on the bus, and every frame that completes on the bus
// goes out to the clients with its virtual time. All I/O is non-blocking
// and happens in poll(), between two slices of the run: the wall world's
// frames enter the board only there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/board/board.hpp"

namespace sim {

struct LiveCanOptions {
    std::string server_host;       // empty: no server
    uint16_t server_port = 0;      // 0: the system picks one
    std::vector<int> slcan_buses;  // 1 or 2, one pseudo-terminal each
    bool any() const { return !server_host.empty() || !slcan_buses.empty(); }
};

/// "[HOST:]PORT" of --can-server: HOST a numeric IPv4 or IPv6 address (IPv6
/// in brackets) or "localhost", 127.0.0.1 when left out; PORT 0 to 65535.
/// Throws ScenarioError naming what is wrong.
void parse_can_server(const std::string& text, LiveCanOptions& options);

class LiveCan {
  public:
    /// Opens the server's socket and the pseudo-terminals, each announced
    /// on standard error; throws std::runtime_error.
    explicit LiveCan(const LiveCanOptions& options);
    ~LiveCan();
    LiveCan(const LiveCan&) = delete;
    LiveCan& operator=(const LiveCan&) = delete;

    /// Joins both buses of the board: a node that only listens until a
    /// client sends, and the listeners that feed the clients.
    void attach(Board& board);
    /// Accepts, reads and writes whatever is ready, never waiting; the
    /// frames read go on their bus at the board's present time.
    void poll();

    class Node;
    class Client;

  private:
    std::vector<std::unique_ptr<Node>> nodes_;  // can1, can2
    std::vector<std::unique_ptr<Client>> clients_;
    int listener_ = -1;
    int next_client_id_ = 0;
};

}  // namespace sim

// One boot of a fresh virtual board in a child process: the board is made
// from a config, powered on with a test's reset code, run for a stretch of
// virtual time, and what the test noted comes back as JSON.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"

namespace sim::testing {

using nlohmann::json;

struct BoardRun {
    BoardConfig config = {};
    Picos run_for = 200 * kPsPerMs;  // virtual time at most
    unsigned wall_limit_s = 300;     // a child still running then is a hang
    /// Before power-on: listeners, sinks, scheduled events.
    std::function<void(Board&)> attach = {};
    /// The reset code: `bring_up` (e.g. `firmware_reset`), then `probe`,
    /// whose return halts the board ("probe done").
    std::function<void()> bring_up = {};
    std::function<void(json&)> probe = {};
    /// In the child once the run has ended: what the board ended with.
    std::function<void(json&)> after = {};
};

/// What USART1 sent in this child, in order, with the time each byte ended
/// (its stop bit): kept from power-on.
struct ConsoleByte {
    uint8_t byte;
    Picos at;
};
const std::vector<ConsoleByte>& console();
std::string console_text();

/// What the probe and `after` wrote, with "finished" (the probe returned)
/// and "halted" (null, or "where" and "at" of any other stop). A child that
/// fails is a test failure and gives an empty object.
json run_board(const BoardRun& run);

}  // namespace sim::testing

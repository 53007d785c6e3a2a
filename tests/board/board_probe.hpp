// A board test's boot in a child process (sim/testing/board_run.hpp), what
// it sends back, and how the parent reads it.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"
#include "sim/testing/board_run.hpp"

namespace board_test {

using nlohmann::json;
using sim::testing::run_board;

/// Console bytes and the time each ended, as numbers: the console may carry
/// bytes that are not UTF-8, which JSON text cannot hold.
inline json console_json() {
    json bytes = json::array();
    json at_ps = json::array();
    for (const sim::testing::ConsoleByte& b : sim::testing::console()) {
        bytes.push_back(b.byte);
        at_ps.push_back(b.at);
    }
    return {{"bytes", bytes}, {"at_ps", at_ps}};
}

inline std::string text_of(const json& bytes) {
    std::string text;
    for (const json& b : bytes) {
        text.push_back(static_cast<char>(b.get<int>()));
    }
    return text;
}

}  // namespace board_test

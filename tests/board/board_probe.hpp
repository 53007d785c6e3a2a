// What a board test sends back from its child process, and how the parent
// reads it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"
#include "sim/testing/fresh_process.hpp"

namespace board_test {

using nlohmann::json;

/// Console bytes and the time each ended, as numbers: the console may carry
/// bytes that are not UTF-8, which JSON text cannot hold.
inline json console_json(const sim::Board& board) {
    json bytes = json::array();
    json at_ps = json::array();
    for (const sim::ConsoleByte& b : board.console()) {
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

/// Runs `body` in a child process and parses the JSON it returns.
inline json in_child(const std::function<json()>& body) {
    const auto child = sim::testing::in_fresh_process([&] { return body().dump(); });
    EXPECT_TRUE(child.ok) << child.failure;
    return child.ok ? json::parse(child.payload) : json::object();
}

}  // namespace board_test

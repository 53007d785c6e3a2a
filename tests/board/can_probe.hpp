// CAN tests on the virtual board: the chip brought up as the firmware does
// it (clocks, pins, both CAN controllers), then a probe drives the CAN port
// while the buses, controllers and motors run; and a node the test scripts.
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "board_probe.hpp"
#include "can.h"
#include "gpio.h"
#include "main.h"
#include "sim/board/board.hpp"
#include "sim/platform.hpp"
#include "system_stm32f4xx.h"
#include "sim/testing/scripted_can_node.hpp"

namespace board_test {

/// A node on a bus that acknowledges and sends the frames it is given.
using ScriptedNode = sim::testing::ScriptedCanNode;

inline json frame_json(const sim::CanFrame& f, sim::Picos at) {
    json data = json::array();
    for (int i = 0; i < std::min<int>(f.dlc, 8); i++) {
        data.push_back(f.data[i]);
    }
    return {{"id", f.id}, {"dlc", f.dlc}, {"data", data}, {"at_ps", at}};
}

/// Boots a bare chip with `config`, brings up clocks and both CAN
/// controllers as the firmware's main does, then runs `probe` in the
/// start-up context. "can1"/"can2" hold every acknowledged frame per bus.
inline json with_can(const sim::BoardConfig& config, const std::function<void(json&)>& probe,
                     sim::Picos run_for = 5 * sim::kPsPerS) {
    json buses[2] = {json::array(), json::array()};  // filled in the child
    const auto log_frames = [&buses](sim::Board& board) {
        for (int n = 1; n <= 2; n++) {
            board.can_bus(n).add_listener([&log = buses[n - 1], &board](const sim::CanFrame& f,
                                                                        sim::Picos at,
                                                                        const sim::CanNode* from) {
                json frame = frame_json(f, at);
                frame["from_board"] = from == &board.can1() || from == &board.can2();
                log.push_back(frame);
            });
        }
    };
    return run_board({.config = config,
                      .run_for = run_for,
                      .attach = log_frames,
                      .bring_up =
                          [] {
                              sim::install_vectors();
                              SystemInit();
                              HAL_Init();
                              SystemClock_Config();
                              MX_GPIO_Init();
                              MX_CAN2_Init();
                              MX_CAN1_Init();
                          },
                      .probe = probe,
                      .after =
                          [&buses](json& out) {
                              out["can1"] = buses[0];
                              out["can2"] = buses[1];
                          }});
}

inline sim::Picos now() {
    return sim::Board::get().cpu().now();
}

}  // namespace board_test

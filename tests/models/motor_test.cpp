// The motor device on CAN2's bus of a bare board: what it answers, after how
// long, and how its shaft follows the speed commands.
#include <gtest/gtest.h>

#include <deque>

#include "model_probe.hpp"
#include "sim/testing/scripted_can_node.hpp"

namespace {

using model_test::board;
using model_test::json;
using model_test::on_board;

// Sends commands and keeps what comes back, with the time since its own frame went out.
struct Tester {
    explicit Tester(sim::CanBus& bus) : node(bus) {
        node.on_received = [this](const sim::CanFrame& f, sim::Picos at) {
            json data = json::array();
            for (int i = 0; i < 8; i++) {
                data.push_back(f.data[i]);
            }
            replies.push_back(
                {{"id", f.id}, {"data", data}, {"after_us", (at - node.sent_at) / sim::kPsPerUs}});
        };
    }
    void send(uint32_t id, std::initializer_list<uint8_t> bytes) { node.send(id, bytes); }

    sim::testing::ScriptedCanNode node;
    json replies = json::array();
};

void wait_ms(double ms) {
    model_test::idle_until(model_test::cpu().now() + static_cast<sim::Picos>(ms * 1e9));
}

TEST(Motor, AnswersAfterItsDelayAndFollowsTheSpeedCommand) {
    const json out = on_board(
        [](json& o) {
            Tester t(board().can_bus(2));
            sim::Mf4010Motor& m = *board().motor(0x141);
            t.send(0x141, {0x80});  // close
            wait_ms(1);
            t.send(0x141, {0xA2, 0, 0, 0, 0xA0, 0x8C, 0, 0});  // 360 deg/s while closed
            wait_ms(100);
            o["closed_angle"] = m.angle_deg(model_test::cpu().now());
            t.send(0x141, {0x88});  // running: follows the last command
            wait_ms(5);
            o["speed_5ms"] = m.speed_dps(model_test::cpu().now());
            wait_ms(995);
            o["speed_1s"] = m.speed_dps(model_test::cpu().now());
            const double a0 = m.angle_deg(model_test::cpu().now());
            wait_ms(500);
            o["turned"] = m.angle_deg(model_test::cpu().now()) - a0;
            t.send(0x141, {0x81});  // stop
            wait_ms(500);
            o["stopped"] = m.speed_dps(model_test::cpu().now());
            t.send(0x142, {0x30});  // not a command this model answers
            wait_ms(1);
            o["replies"] = t.replies;
        },
        5 * sim::kPsPerS);
    const json& r = out["replies"];
    ASSERT_EQ(r.size(), 4u) << r.dump();
    EXPECT_EQ(r[0]["data"], json({0x80, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r[0]["after_us"], 200 + 121);  // its delay, then its own 121 bits
    EXPECT_EQ(r[1]["data"][0], 0xA2);
    EXPECT_EQ(r[1]["data"][1], 32);  // temperature
    EXPECT_EQ(r[1]["data"][4], 0);   // still: closed
    EXPECT_EQ(out["closed_angle"], 0.0);
    EXPECT_EQ(r[2]["data"][0], 0x88);
    // Acceleration-limited at 20000 deg/s^2 from the end of the 121-bit command.
    EXPECT_NEAR(out["speed_5ms"].get<double>(), 20000.0 * (0.005 - 121e-6), 0.5);
    EXPECT_NEAR(out["speed_1s"].get<double>(), 360.0, 0.5);
    EXPECT_NEAR(out["turned"].get<double>(), 180.0, 0.5);
    EXPECT_EQ(r[3]["data"][0], 0x81);
    EXPECT_NEAR(out["stopped"].get<double>(), 0.0, 0.5);
}

TEST(Motor, AbsentOrSilentAndGarbageClose) {
    const json out = on_board([](json& o) {
        board().motor(0x141)->set_answers(false);
        board().motor(0x142)->set_close_garbage(true);
        Tester t(board().can_bus(2));
        t.send(0x141, {0x80});
        t.send(0x142, {0x80});
        wait_ms(2);
        o["replies"] = t.replies;
    });
    ASSERT_EQ(out["replies"].size(), 1u);
    EXPECT_EQ(out["replies"][0]["id"], 0x142);
    EXPECT_NE(out["replies"][0]["data"], json({0x80, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace

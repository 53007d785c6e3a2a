// The stabilisation thread on the whole firmware: start-up sequence and
// report, the 5 s wait, one speed frame per motor per IMU sample with the
// controller's output, and how it carries on when motors do not answer.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "named_case.hpp"
#include "app.h"
#include "board_probe.hpp"
#include "sim/board/board.hpp"
#include "sim/platform.hpp"
#include "stm32f4xx.h"

namespace {

using board_test::json;

struct Sample {
    double at_s;
    float roll;
    float pitch;
};

std::vector<Sample> g_samples;
std::size_t g_next = 0;

// Stands in for the sensor thread: puts one sample from an interrupt.
extern "C" void put_sample_irq(void) {
    imu_data_t imu{};
    imu.angle[0] = g_samples[g_next].roll;
    imu.angle[1] = g_samples[g_next].pitch;
    g_next++;
    osMessageQueuePut(g_imu_queue, &imu, 0, 0);
}

json boot(const sim::BoardConfig& config, const std::vector<Sample>& samples, double run_s) {
    json frames = json::array();  // filled in the child
    std::vector<std::unique_ptr<sim::FunctionEvent>> events;
    const auto attach = [&](sim::Board& board) {
        g_samples = samples;
        board.can_bus(2).add_listener(
            [&](const sim::CanFrame& f, sim::Picos at, const sim::CanNode* from) {
                json data = json::array();
                for (int i = 0; i < f.dlc; i++) {
                    data.push_back(f.data[i]);
                }
                frames.push_back({{"id", f.id},
                                  {"data", data},
                                  {"at_s", sim::to_seconds(at)},
                                  {"from_board", from == &board.can2()}});
            });
        for (const Sample& s : samples) {
            events.push_back(std::make_unique<sim::FunctionEvent>([&board](sim::Picos) {
                sim::Cpu& cpu = board.cpu();
                cpu.set_vector(EXTI0_IRQn, put_sample_irq);
                cpu.set_priority(EXTI0_IRQn, 6);
                cpu.enable_irq(EXTI0_IRQn);
                cpu.set_pending(EXTI0_IRQn);
            }));
            board.cpu().events().schedule(*events.back(), static_cast<sim::Picos>(s.at_s * 1e12));
        }
    };
    return board_test::run_board({.config = config,
                                  .run_for = static_cast<sim::Picos>(run_s * 1e12),
                                  .attach = attach,
                                  .bring_up = sim::firmware_reset,
                                  .after = [&frames](json& out) {
                                      out["console"] = sim::testing::console_text();
                                      out["frames"] = frames;
                                  }});
}

// The controller, computed here on its own in single precision.
struct Pid {
    float integral = 0.0f, prev = 0.0f;
    int32_t step(float measured) {
        const float error = 0.0f - measured;
        const float p = error * 200.0f;
        integral = integral + error;
        if (integral > 36000.0f) {
            integral = 36000.0f;
        } else if (integral < -36000.0f) {
            integral = -36000.0f;
        }
        const float i = 5.0f * integral;
        const float d = (error - prev) * 50.0f;
        prev = error;
        float out = (p + i) + d;
        if (out > 36000.0f) {
            out = 36000.0f;
        } else if (out < -36000.0f) {
            out = -36000.0f;
        }
        return static_cast<int32_t>(out);
    }
};

json speed_frame(int32_t speed) {
    const auto u = static_cast<uint32_t>(speed);
    return json::array({0xA2, 0, 0, 0, u & 0xFF, (u >> 8) & 0xFF, (u >> 16) & 0xFF, u >> 24});
}

json board_frames(const json& frames) {
    json out = json::array();
    for (const json& f : frames) {
        if (f["from_board"].get<bool>()) {
            out.push_back(f);
        }
    }
    return out;
}

sim::BoardConfig motors(bool present, bool answers, bool garbage = false) {
    sim::BoardConfig config;
    config.imu.present = false;  // the samples are the test's own
    for (sim::MotorConfig& m : config.motors) {
        m.present = present;
        m.answers = answers;
        m.close_garbage = garbage;
    }
    return config;
}

const json kClose = json::array({0x80, 0, 0, 0, 0, 0, 0, 0});
const json kRunning = json::array({0x88, 0, 0, 0, 0, 0, 0, 0});

TEST(ControlTask, StartsUpWaitsThenSendsEachSamplesPidOutputs) {
    std::vector<Sample> samples = {{5.3, 1.0f, -1.0f}, {5.6, 0.5f, 0.25f}};
    for (int n = 0; n < 8; n++) {  // a large tilt: saturation
        samples.push_back({5.9 + 0.3 * n, 170.0f, -170.0f});
    }
    samples.push_back({8.5, -0.37f, 12.9f});
    const json run = boot(motors(true, true), samples, 9.0);
    const json sent = board_frames(run["frames"]);

    json expected = json::array();
    expected.push_back({0x141, kClose});
    expected.push_back({0x142, kClose});
    expected.push_back({0x141, speed_frame(0)});
    expected.push_back({0x142, speed_frame(0)});
    expected.push_back({0x141, kRunning});
    expected.push_back({0x142, kRunning});
    Pid roll, pitch;
    std::vector<int32_t> roll_cmds, pitch_cmds;
    for (const Sample& s : samples) {
        roll_cmds.push_back(roll.step(s.roll));
        pitch_cmds.push_back(pitch.step(s.pitch));
        expected.push_back({0x141, speed_frame(roll_cmds.back())});
        expected.push_back({0x142, speed_frame(pitch_cmds.back())});
    }
    json got = json::array();
    for (const json& f : sent) {
        got.push_back({f["id"], f["data"]});
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(roll_cmds[0], -255);  // the worked example: +1 degree on fresh controllers
    EXPECT_EQ(pitch_cmds[0], 255);
    EXPECT_EQ(roll_cmds[9], -36000);  // saturated exactly
    EXPECT_EQ(pitch_cmds[9], 36000);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_GT(sent[2]["at_s"].get<double>() - sent[1]["at_s"].get<double>(), 5.0)
        << "nothing for 5 s";
    // Each sample is handled as soon as it arrives: the loop is waiting for it.
    for (std::size_t n = 0; n < samples.size(); n++) {
        const double latency = sent[6 + 2 * n]["at_s"].get<double>() - samples[n].at_s;
        EXPECT_LT(latency, 0.011) << "sample " << n;
    }
    const std::string console = run["console"];
    EXPECT_NE(console.find("[control_task] starting stabilization control (speed mode)\n"
                           "[control_task] PID: Roll(Kp=200.0 Ki=5.0 Kd=50.0) "
                           "Pitch(Kp=200.0 Ki=5.0 Kd=50.0)\n"
                           "[control_task] motor yaw   is fault: 0\n"
                           "[control_task] motor pitch is fault: 0\n"
                           "[control_task] stabilization enabled (speed mode)\n"),
              std::string::npos)
        << console;
    EXPECT_EQ(console.find("Error"), std::string::npos) << console;
}

TEST(ControlTask, SamplesQueuedDuringTheWaitAreTakenOldestFirstAndOnlyFour) {
    std::vector<Sample> samples;
    for (int n = 0; n < 6; n++) {
        samples.push_back({1.0 + 0.5 * n, static_cast<float>(n + 1), static_cast<float>(-n)});
    }
    const json run = boot(motors(true, true), samples, 6.0);
    const json sent = board_frames(run["frames"]);
    ASSERT_EQ(sent.size(), 6u + 2 * 4);  // the queue holds four; the other two were refused
    Pid roll, pitch;
    for (int n = 0; n < 4; n++) {
        EXPECT_EQ(sent[6 + 2 * n]["data"], speed_frame(roll.step(samples[n].roll))) << n;
        EXPECT_EQ(sent[7 + 2 * n]["data"], speed_frame(pitch.step(samples[n].pitch))) << n;
    }
}

TEST(ControlTask, WithoutSamplesNothingIsSentAfterStartUp) {
    const json run = boot(motors(true, true), {}, 8.0);
    EXPECT_EQ(board_frames(run["frames"]).size(), 6u);
}

struct ReportCase : named_case::Case {
    sim::BoardConfig config;
    int fault;
};

class StartUpReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(StartUpReport, ShowsWhetherEachMotorConfirmedItsClose) {
    const ReportCase& c = GetParam();
    const json run = boot(c.config, {}, 1.0);
    const std::string console = run["console"];
    const std::string report = "[control_task] motor yaw   is fault: " + std::to_string(c.fault) +
                               "\n[control_task] motor pitch is fault: " + std::to_string(c.fault) +
                               "\n";
    EXPECT_NE(console.find(report), std::string::npos) << console;
}

INSTANTIATE_TEST_SUITE_P(Motors, StartUpReport,
                         ::testing::Values(ReportCase{"echo", motors(true, true), 0},
                                           ReportCase{"garbage", motors(true, true, true), 1},
                                           ReportCase{"silent", motors(true, false), 1},
                                           ReportCase{"absent", motors(false, false), 1}),
                         named_case::by_name);

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        n++;
    }
    return n;
}

TEST(ControlTask, SilentMotorsTimeOutOnEveryCommandAndTheLoopGoesOn) {
    const std::vector<Sample> samples = {{5.5, 1.0f, 1.0f}, {6.0, 2.0f, 2.0f}, {6.5, 3.0f, 3.0f}};
    const json run = boot(motors(true, false), samples, 7.0);
    const std::string console = run["console"];
    // close, zero speed, running, then one speed command per sample.
    EXPECT_EQ(count(console, "Error: Timeout waiting for motor response (ID 0x141)\r\n"), 6u);
    EXPECT_EQ(count(console, "Error: Timeout waiting for motor response (ID 0x142)\r\n"), 6u);
    EXPECT_EQ(board_frames(run["frames"]).size(), 6u + 2 * samples.size());
}

TEST(ControlTask, MotorsOffTheBusFailEachSendAndTheLoopGoesOn) {
    const std::vector<Sample> samples = {{5.8, 1.0f, 1.0f}, {6.3, 2.0f, 2.0f}};
    const json run = boot(motors(false, false), samples, 7.0);
    const std::string console = run["console"];
    EXPECT_EQ(count(console, "Error: Failed to send CAN message (ID 0x141)\r\n"), 5u);
    EXPECT_EQ(count(console, "Error: Failed to send CAN message (ID 0x142)\r\n"), 5u);
    EXPECT_TRUE(run["frames"].empty());
    // Three sends wait out the 100 ms limit and fill the mailboxes (close 141,
    // close 142, zero speed 141); from then on every send fails at once, so the
    // start-up ends 5 s plus about 0.3 s after reset.
    EXPECT_NE(console.find("[control_task] stabilization enabled (speed mode)"), std::string::npos);
}

}  // namespace

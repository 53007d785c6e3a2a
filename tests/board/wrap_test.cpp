// Counters that wrap: the HAL tick and the kernel tick started near 2^32 by
// the scenario setting, so that the CAN transmit limit, the start-up wait and
// every thread delay run across the wrap; and the DWT cycle counter, which
// wraps every 25.6 s at 168 MHz on its own, under the bit-banged bus's bit
// timing and its acknowledge limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "board_probe.hpp"
#include "sim/board/board.hpp"
#include "sim/platform.hpp"

namespace {

using board_test::json;

sim::BoardConfig motors_present(bool present) {
    sim::BoardConfig config;
    for (sim::MotorConfig& m : config.motors) {
        m.present = present;
    }
    return config;
}

// Console bytes with their times and CAN2's frames with theirs.
json boot(const sim::BoardConfig& config, double run_s) {
    return board_test::in_child([&] {
        sim::Board& board = sim::Board::create(config);
        json frames = json::array();
        board.can_bus(2).add_listener(
            [&](const sim::CanFrame& f, sim::Picos at, const sim::CanNode*) {
                frames.push_back({{"id", f.id}, {"dlc", f.dlc}, {"b0", f.data[0]}, {"at_ps", at}});
            });
        board.power_on(sim::firmware_reset);
        board.run_until(static_cast<sim::Picos>(run_s * 1e12));
        return json{{"console", board_test::console_json(board)}, {"frames", frames}};
    });
}

struct TickStart {
    const char* name;
    uint32_t start;
};

class TicksNearTheWrap : public ::testing::TestWithParam<TickStart> {};

// The board behaves to the picosecond as with ticks from 0: the transmit
// limit is measured on the tick's difference, and the kernel orders its
// wake-ups across the wrap. With the motors off the bus every exchange waits
// out the limit; with them on, the start-up wait and the loop's delays run.
TEST_P(TicksNearTheWrap, EveryWaitLastsAsWithTicksFromZero) {
    for (const bool present : {false, true}) {
        SCOPED_TRACE(present ? "motors present" : "no node acknowledges");
        sim::BoardConfig from_zero = motors_present(present);
        sim::BoardConfig near_wrap = from_zero;
        near_wrap.tick_start = GetParam().start;
        const json a = boot(from_zero, 6.5);
        const json b = boot(near_wrap, 6.5);
        ASSERT_FALSE(a["console"]["bytes"].empty());
        const std::string text = board_test::text_of(a["console"]["bytes"]);
        if (!present) {
            EXPECT_NE(text.find("Error: Failed to send CAN message (ID 0x141)"), std::string::npos);
        } else {
            EXPECT_NE(text.find("stabilization enabled"), std::string::npos);
        }
        EXPECT_EQ(a["console"], b["console"]);
        EXPECT_EQ(a["frames"], b["frames"]);
    }
}

INSTANTIATE_TEST_SUITE_P(Starts, TicksNearTheWrap,
                         ::testing::Values(
                             // The first close's 100 ms transmit wait spans the wrap.
                             TickStart{"WrapInTheFirstTransmitWait", 0xFFFFFFFFU - 60},
                             // The control thread's 5000-tick wait spans it.
                             TickStart{"WrapInTheStartUpWait", 0xFFFFFFFFU - 2000},
                             // The loop's 10 and 20 ms waits and the sensor's 500 ms ones span it.
                             TickStart{"WrapInTheLoop", 0xFFFFFFFFU - 5800},
                             TickStart{"LastTickBeforeTheWrap", 0xFFFFFFFFU}),
                         [](const auto& info) { return std::string(info.param.name); });

// Start times of the sensor thread's bus transactions over `run_s`: a START
// after the bus has been idle for more than 100 ms.
std::vector<double> pass_starts_ms(const sim::BoardConfig& config, double run_s) {
    const json r = board_test::in_child([&] {
        sim::Board& board = sim::Board::create(config);
        json starts = json::array();
        int scl = 1, sda = 1;
        sim::Picos last_edge = 0;
        auto edge = [&](sim::Picos at) {
            if (at - last_edge > 100 * sim::kPsPerMs) {
                starts.push_back(sim::to_seconds(at) * 1e3);
            }
            last_edge = at;
        };
        board.i2c_scl().listen([&](int level, sim::Picos) { scl = level; });
        board.i2c_sda().listen([&](int level, sim::Picos at) {
            if (scl == 1 && sda == 1 && level == 0) {
                edge(at);
            }
            sda = level;
        });
        board.power_on(sim::firmware_reset);
        board.run_until(static_cast<sim::Picos>(run_s * 1e12));
        return json{{"starts", starts}};
    });
    return r.value("starts", std::vector<double>{});
}

struct CounterCase {
    const char* name;
    bool imu_present;
    double period_ms;  // nominal pass: 500 ms sleep plus the transfer (and printing)
};

class CycleCounterWraps : public ::testing::TestWithParam<CounterCase> {};

// Over more than two wraps of CYCCNT every pass of the sensor thread takes as
// long as the others: no bit delay and no acknowledge limit (10 ms, armed
// near a wrap in some passes) is cut short or stretched by one.
TEST_P(CycleCounterWraps, SensorPassesKeepTheirPeriod) {
    sim::BoardConfig config;
    config.imu.present = GetParam().imu_present;
    const std::vector<double> starts = pass_starts_ms(config, 60.0);
    ASSERT_GE(starts.size(), 100u);
    std::vector<double> periods;
    for (std::size_t i = 2; i < starts.size(); i++) {  // the first passes share with start-up
        periods.push_back(starts[i] - starts[i - 1]);
    }
    const auto [lo, hi] = std::minmax_element(periods.begin(), periods.end());
    std::printf("%s: %zu passes, period %.4f to %.4f ms\n", GetParam().name, periods.size(), *lo,
                *hi);
    EXPECT_NEAR(*lo, GetParam().period_ms, 15.0);
    EXPECT_LT(*hi - *lo, 0.05) << "a pass took longer or shorter than the others";
}

INSTANTIATE_TEST_SUITE_P(Bus, CycleCounterWraps,
                         ::testing::Values(CounterCase{"ImuAnswering", true, 505.0},
                                           // each pass waits out the acknowledge limit
                                           CounterCase{"ImuAbsent", false, 510.0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

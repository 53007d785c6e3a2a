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

#include "named_case.hpp"
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
    json frames = json::array();  // filled in the child
    return board_test::run_board(
        {.config = config,
         .run_for = static_cast<sim::Picos>(run_s * 1e12),
         .attach =
             [&frames](sim::Board& board) {
                 board.can_bus(2).add_listener(
                     [&frames](const sim::CanFrame& f, sim::Picos at, const sim::CanNode*) {
                         frames.push_back(
                             {{"id", f.id}, {"dlc", f.dlc}, {"b0", f.data[0]}, {"at_ps", at}});
                     });
             },
         .bring_up = sim::firmware_reset,
         .after =
             [&frames](json& out) {
                 out["console"] = board_test::console_json();
                 out["frames"] = frames;
             }});
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
        const json a = boot(from_zero, 6.5);
        sim::set_kernel_settings({.tick_start = GetParam().start});  // the child's
        const json b = boot(from_zero, 6.5);
        sim::set_kernel_settings({});
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
                         named_case::by_name);

struct Passes {
    std::vector<double> starts_ms;  // the first edge after more than 100 ms of quiet bus
    std::vector<double> busy_us;    // from there to the pass's last edge
};

// The sensor thread's passes on the bus over `run_s`.
Passes passes(const sim::BoardConfig& config, double run_s) {
    json starts = json::array(), busy = json::array();  // filled in the child
    sim::Picos first = 0, last = 0;
    const auto edge = [&](sim::Picos at) {
        if (at - last > 100 * sim::kPsPerMs) {
            if (first != 0) {
                busy.push_back(static_cast<double>(last - first) / sim::kPsPerUs);
            }
            starts.push_back(sim::to_seconds(at) * 1e3);
            first = at;
        }
        last = at;
    };
    const json r = board_test::run_board(
        {.config = config,
         .run_for = static_cast<sim::Picos>(run_s * 1e12),
         .attach =
             [&edge](sim::Board& board) {
                 board.i2c_scl().listen([&edge](int, sim::Picos at) { edge(at); });
                 board.i2c_sda().listen([&edge](int, sim::Picos at) { edge(at); });
             },
         .bring_up = sim::firmware_reset,
         .after =
             [&](json& out) {
                 out["starts"] = starts;
                 out["busy"] = busy;
             }});
    return {r.value("starts", std::vector<double>{}), r.value("busy", std::vector<double>{})};
}

struct CounterCase {
    const char* name;
    bool imu_present;
    double period_ms;  // nominal pass: 500 ms sleep plus the transfer (and printing)
    double run_s;      // CYCCNT wraps every 25.57 s
};

class CycleCounterWraps : public ::testing::TestWithParam<CounterCase> {};

// Over several wraps of CYCCNT every pass of the sensor thread takes as long
// as the others: no bit delay and no acknowledge limit (10 ms, armed near a
// wrap in some passes) is cut short or stretched by one. Passes of the first
// 6 s are left out: while the control thread waits at start-up the queue
// fills, and the puts that find it full wait their 20 ms.
TEST_P(CycleCounterWraps, SensorPassesKeepTheirPeriod) {
    sim::BoardConfig config;
    config.imu.present = GetParam().imu_present;
    const Passes p = passes(config, GetParam().run_s);
    ASSERT_GE(p.starts_ms.size(), 90u);
    std::vector<double> periods, busy;
    for (std::size_t i = 1; i < p.starts_ms.size(); i++) {
        if (p.starts_ms[i - 1] > 6000.0) {
            periods.push_back(p.starts_ms[i] - p.starts_ms[i - 1]);
            busy.push_back(p.busy_us[i - 1]);
        }
    }
    const auto [lo, hi] = std::minmax_element(periods.begin(), periods.end());
    const auto [busy_lo, busy_hi] = std::minmax_element(busy.begin(), busy.end());
    std::printf("%s: %zu passes, period %.4f to %.4f ms, on the bus %.3f to %.3f us\n",
                GetParam().name, periods.size(), *lo, *hi, *busy_lo, *busy_hi);
    EXPECT_NEAR(*lo, GetParam().period_ms, 1.0);
    EXPECT_LT(*hi - *lo, 0.05) << "a pass took longer or shorter than the others";
    // Passes start on a tick, so the interrupts fall alike in each: every
    // transfer lasts the same to well under a microsecond.
    EXPECT_LT(*busy_hi - *busy_lo, 0.5) << "a transfer's bit timing changed";
}

INSTANTIATE_TEST_SUITE_P(Bus, CycleCounterWraps,
                         ::testing::Values(CounterCase{"ImuAnswering", true, 512.0, 130.0},
                                           // each pass waits out the acknowledge limit
                                           CounterCase{"ImuAbsent", false, 510.0, 55.0}),
                         named_case::by_name);

}  // namespace

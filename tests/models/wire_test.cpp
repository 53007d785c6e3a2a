// A wire shared by GPIO pins, pulls and devices: wired AND, the edges devices see,
// and a port's IDR showing the wire's real level.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "model_probe.hpp"
#include "sim/models/wire.hpp"
#include "stm32f4xx_hal.h"

namespace {

using model_test::json;
using Drive = sim::Wire::Drive;

struct AndCase {
    const char* name;
    Drive a, b;
    int level;
};

TEST(Wire, AnyPullLowWinsElseAnyDriverOrPullUpTakesItHigh) {
    const AndCase cases[] = {
        {"nothing: reads low", {}, {}, 0},
        {"one pull-up", {.pull_up = true}, {}, 1},
        {"pull-up and an open-drain low", {.pull_up = true}, {.pulls_low = true}, 0},
        {"push-pull high and a device low", {.drives_high = true}, {.pulls_low = true}, 0},
        {"push-pull high alone", {.drives_high = true}, {}, 1},
        {"two pull-ups, one also low", {.pull_up = true}, {.pulls_low = true, .pull_up = true}, 0},
    };
    for (const AndCase& c : cases) {
        sim::Wire wire("w");
        const int a = wire.attach(), b = wire.attach();
        wire.set(a, c.a, 10);
        wire.set(b, c.b, 20);
        EXPECT_EQ(wire.level(), c.level) << c.name;
    }
}

TEST(Wire, ListenersSeeEachChangeOnceWithItsTime) {
    sim::Wire wire("w");
    std::vector<std::pair<int, sim::Picos>> seen;
    wire.listen([&](int level, sim::Picos at) { seen.emplace_back(level, at); });
    const int pin = wire.attach(), device = wire.attach();
    wire.set(pin, {.pull_up = true}, 5);                     // rises
    wire.set(device, {.pulls_low = true}, 7);                // falls
    wire.set(pin, {.pulls_low = true, .pull_up = true}, 9);  // still low: no edge
    wire.set(device, {}, 11);                                // still low (the pin): no edge
    wire.set(pin, {.pull_up = true}, 13);                    // rises
    EXPECT_EQ(seen, (std::vector<std::pair<int, sim::Picos>>{{1, 5}, {0, 7}, {1, 13}}));
    EXPECT_EQ(wire.changed_at(), 13u);
}

// A line only pull-ups take high is seen high when it charges past 0.7 VDD:
// tau ln(1 / 0.3) after its release, tau = C (R_board || 40 kOhm per pin pull-up),
// with tr (30 % to 70 %) = tau ln(7 / 3). A driver, or no capacitance, is instant.
struct RiseCase {
    const char* name;
    double board_ohms, farads;
    Drive release;  // what the releasing party does afterwards
    bool low_again_at_100ns;
    double tau_s;  // 0: instant
};

TEST(Wire, AReleasedLineRisesThroughItsPullUpsAndTheBusCapacitance) {
    const RiseCase cases[] = {
        {"board pull-up", 4700, 50e-12, {}, false, 4700 * 50e-12},
        {"and a pin's pull-up",
         4700,
         50e-12,
         {.pull_up = true},
         false,
         50e-12 / (1 / 4700.0 + 1 / 40e3)},
        {"pulled low again before the threshold: no edge", 10e3, 100e-12, {}, true, 10e3 * 100e-12},
        {"push-pull high", 4700, 50e-12, {.drives_high = true}, false, 0},
        {"ideal line", 4700, 0, {}, false, 0},
    };
    for (const RiseCase& c : cases) {
        sim::EventQueue events;
        sim::Wire wire("w", events, c.board_ohms, c.farads);
        EXPECT_EQ(wire.level(), 1) << c.name << ": high from power-on";
        std::vector<std::pair<int, sim::Picos>> seen;
        wire.listen([&](int level, sim::Picos at) { seen.emplace_back(level, at); });
        const int pin = wire.attach();
        wire.set(pin, {.pulls_low = true}, 1000);
        wire.set(pin, c.release, 2000);
        if (c.low_again_at_100ns) {
            events.run_due(102000);
            wire.set(pin, {.pulls_low = true}, 102000);
        }
        events.run_due(sim::kPsPerS);
        const auto seen_at =
            2000 + static_cast<sim::Picos>(std::llround(c.tau_s * std::log(1 / 0.3) * 1e12));
        const auto expected =
            c.low_again_at_100ns ? std::vector<std::pair<int, sim::Picos>>{{0, 1000}}
                                 : std::vector<std::pair<int, sim::Picos>>{{0, 1000}, {1, seen_at}};
        EXPECT_EQ(seen, expected) << c.name;
        if (!c.low_again_at_100ns) {
            EXPECT_NEAR(static_cast<double>(wire.rise_time()), c.tau_s * std::log(7 / 3.0) * 1e12,
                        1)
                << c.name;
        }
    }
}

// PF12 as the firmware sets it up: open-drain, pull-up, output bit 1 (released).
void sda_pin_as_at_start_up() {
    RCC->AHB1ENR |= RCC_AHB1ENR_GPIOFEN;
    GPIOF->BSRR = GPIO_PIN_12;
    GPIO_InitTypeDef pin = {};
    pin.Pin = GPIO_PIN_12;
    pin.Mode = GPIO_MODE_OUTPUT_OD;
    pin.Pull = GPIO_PULLUP;
    pin.Speed = GPIO_SPEED_FREQ_VERY_HIGH;
    HAL_GPIO_Init(GPIOF, &pin);
}

TEST(GpioOnAWire, IdrShowsTheLineADeviceHoldsLowInOutputMode) {
    const json r = model_test::on_board([](json& out) {
        sim::Board& b = model_test::board();
        out["before_setup"] = b.i2c_sda().level();  // input, no pull: the board's pull-up holds it
        sda_pin_as_at_start_up();
        out["released"] = (GPIOF->IDR >> 12) & 1U;
        const sim::Picos now = model_test::cpu().now();
        b.imu().hold_sda_low(now, now + sim::kPsPerUs);
        model_test::cpu().consume(1);
        out["held"] = (GPIOF->IDR >> 12) & 1U;
        out["odr"] = (GPIOF->ODR >> 12) & 1U;
        model_test::idle_until(now + 2 * sim::kPsPerUs);
        out["let_go"] = (GPIOF->IDR >> 12) & 1U;
        GPIOF->BSRR = GPIO_PIN_12 << 16U;  // the pin itself pulls low
        out["driven_low"] = b.i2c_sda().level();
        out["speed"] = b.gpio('F').speed(12);
        out["mode_bits"] = (GPIOF->MODER >> 24) & 3U;
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    EXPECT_EQ(r["before_setup"], 1);
    EXPECT_EQ(r["released"], 1u);
    EXPECT_EQ(r["held"], 0u);
    EXPECT_EQ(r["odr"], 1u);  // the pin still releases; the device holds the line
    EXPECT_EQ(r["let_go"], 1u);
    EXPECT_EQ(r["driven_low"], 0);
    EXPECT_EQ(r["speed"], 3u);
    EXPECT_EQ(r["mode_bits"], 1u);
}

TEST(GpioOnAWire, TogglePinMakesAnEdgeAtTheTimeOfItsWrite) {
    const json r = model_test::on_board([](json& out) {
        sim::Board& b = model_test::board();
        sda_pin_as_at_start_up();
        std::vector<std::pair<int, sim::Picos>> edges;
        b.i2c_sda().listen([&](int level, sim::Picos at) { edges.emplace_back(level, at); });
        for (int i = 0; i < 2; i++) {
            HAL_GPIO_TogglePin(GPIOF, GPIO_PIN_12);
            out["after"].push_back(b.i2c_sda().level());
            out["now"].push_back(model_test::cpu().now());
        }
        model_test::idle_until(model_test::cpu().now() + sim::kPsPerUs);
        for (const auto& [level, at] : edges) {
            out["edges"].push_back({level, at});
        }
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    EXPECT_EQ(r["after"], json({0, 0}));  // released, and still rising
    ASSERT_EQ(r["edges"].size(), 2u);
    // The BSRR store is the call's last register access: the fall is at the call's end,
    // the rise later by the charge through the board's and the pin's pull-ups.
    const sim::BoardConfig::I2cBus bus;
    const double tau_s = bus.capacitance_pf * 1e-12 / (1 / bus.pull_up_ohms + 1 / 40e3);
    EXPECT_EQ(r["edges"][0], json({0, r["now"][0]}));
    EXPECT_EQ(r["edges"][1][1].get<sim::Picos>(),
              r["now"][1].get<sim::Picos>() +
                  static_cast<sim::Picos>(std::llround(tau_s * std::log(1 / 0.3) * 1e12)));
}

}  // namespace

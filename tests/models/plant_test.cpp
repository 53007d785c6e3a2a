// The gimbal plant on a bare board (no firmware): what the IMU's registers
// say for a tilted base, a turning motor and a swaying base, when they
// change, and how angles are quantised.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <numbers>

#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"
#include "sim/testing/board_run.hpp"
#include "sim/testing/scripted_can_node.hpp"

namespace {

using nlohmann::json;

using Commander = sim::testing::ScriptedCanNode;

// Runs `probe` on a fresh board with this plant, in a child process.
json with_plant(const sim::PlantConfig& plant,
                const std::function<void(sim::Board&, json&)>& probe) {
    sim::BoardConfig config;
    config.plant = plant;
    return sim::testing::run_board({.config = config,
                                    .run_for = 30 * sim::kPsPerS,
                                    .probe = [&](json& out) { probe(sim::Board::get(), out); }});
}

void idle_until(sim::Board& b, double seconds) {
    static sim::FunctionEvent mark([](sim::Picos) {});
    const auto t = static_cast<sim::Picos>(seconds * 1e12);
    b.cpu().events().schedule(mark, t);
    while (b.cpu().now() < t) {
        b.cpu().spin_until_next_event();
    }
}

sim::PlantConfig quiet_plant() {
    sim::PlantConfig p;
    p.angle_noise_deg = p.rate_noise_dps = p.accel_noise_g = 0;
    return p;
}

double reg_deg(const sim::Board& b, int reg) {
    return const_cast<sim::Board&>(b).imu().reg(reg) * 180.0 / 32768.0;
}

// A tilted base with the motors closed (holding still): the IMU reads the
// tilt, and gravity shows in the acceleration registers accordingly.
TEST(Plant, TiltedBaseWithMotorsStillReadsTheTilt) {
    struct Case {
        double roll, pitch;
    };
    for (const Case c : {Case{10, -20}, Case{-45, 5}, Case{0, 0}}) {
        SCOPED_TRACE(testing::Message() << c.roll << "/" << c.pitch);
        sim::PlantConfig p = quiet_plant();
        p.roll.tilt_deg = c.roll;
        p.pitch.tilt_deg = c.pitch;
        const json o = with_plant(p, [](sim::Board& b, json& out) {
            Commander cmd(b.can_bus(2));
            cmd.send(0x141, {0x80});  // close: the shafts hold still
            cmd.send(0x142, {0x80});
            idle_until(b, 1.05);
            for (int r = 0x34; r <= 0x40; r++) {
                out[std::to_string(r)] = b.imu().reg(r);
            }
        });
        const double r = c.roll * std::numbers::pi / 180, q = c.pitch * std::numbers::pi / 180;
        EXPECT_EQ(o["61"], std::lround(c.roll / 180 * 32768));  // Roll
        EXPECT_EQ(o["62"], std::lround(c.pitch / 180 * 32768));
        EXPECT_EQ(o["64"], 2500);                                    // TEMP: 25 °C
        EXPECT_EQ(o["52"], std::lround(-std::sin(q) / 16 * 32768));  // AX, ±16 g
        EXPECT_EQ(o["53"], std::lround(std::sin(r) * std::cos(q) / 16 * 32768));
        EXPECT_EQ(o["54"], std::lround(std::cos(r) * std::cos(q) / 16 * 32768));
        EXPECT_EQ(o["55"], 0);  // no rate
    }
}

// A positive speed command turns the platform the positive way, at the
// commanded rate once the speed loop has settled; each motor its own axis.
TEST(Plant, MotorTurningAtAKnownSpeedTurnsItsAxis) {
    struct Case {
        uint32_t id;
        int32_t centi_dps;
    };
    for (const Case c : {Case{0x141, 3600}, Case{0x142, -1800}}) {
        SCOPED_TRACE(c.id);
        const json o = with_plant(quiet_plant(), [c](sim::Board& b, json& out) {
            Commander cmd(b.can_bus(2));
            const auto v = static_cast<uint32_t>(c.centi_dps);
            cmd.send(c.id, {0xA2, 0, 0, 0, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
            idle_until(b, 1.0);
            const sim::PlantState s0 = b.plant()->state(b.cpu().now());
            idle_until(b, 2.0);
            const sim::PlantState s1 = b.plant()->state(b.cpu().now());
            out["roll_turned"] = s1.roll.platform_deg - s0.roll.platform_deg;
            out["pitch_turned"] = s1.pitch.platform_deg - s0.pitch.platform_deg;
            out["roll_reg"] = reg_deg(b, sim::Imu::kRoll) - s1.roll.platform_deg;
            out["pitch_reg"] = reg_deg(b, sim::Imu::kPitch) - s1.pitch.platform_deg;
            out["rate_reg"] = b.imu().reg(c.id == 0x141 ? 0x37 : 0x38) * 2000.0 / 32768;
        });
        const double dps = c.centi_dps / 100.0;
        EXPECT_NEAR(o[c.id == 0x141 ? "roll_turned" : "pitch_turned"].get<double>(), dps, 1e-6);
        EXPECT_EQ(o[c.id == 0x141 ? "pitch_turned" : "roll_turned"].get<double>(), 0.0);
        EXPECT_NEAR(o["rate_reg"].get<double>(), dps, 0.1);
        // The registers hold the last refresh: at most one 10 Hz period old.
        EXPECT_NEAR(o[c.id == 0x141 ? "roll_reg" : "pitch_reg"].get<double>(), 0,
                    std::abs(dps) * 0.1 + 0.01);
    }
}

// The registers change only at the sensor's refresh rate, even while the
// base sways between refreshes.
TEST(Plant, RegistersChangeAtTheRefreshRate) {
    for (const double rate : {10.0, 50.0}) {
        SCOPED_TRACE(rate);
        sim::PlantConfig p = quiet_plant();
        p.imu_rate_hz = rate;
        p.roll.sway_amplitude_deg = 20;
        p.roll.sway_frequency_hz = 1;
        const json o = with_plant(p, [rate](sim::Board& b, json& out) {
            const double period = 1.0 / rate;
            idle_until(b, 3 * period + period * 0.1);
            const int first = b.imu().reg(sim::Imu::kRoll);
            idle_until(b, 3 * period + period * 0.9);
            out["same"] = b.imu().reg(sim::Imu::kRoll) == first;
            idle_until(b, 4 * period + period * 0.1);
            out["changed"] = b.imu().reg(sim::Imu::kRoll) != first;
            out["value"] = reg_deg(b, sim::Imu::kRoll);
            out["expected"] = 20 * std::sin(2 * std::numbers::pi * 4 * period);
        });
        EXPECT_TRUE(o["same"].get<bool>());
        EXPECT_TRUE(o["changed"].get<bool>());
        EXPECT_NEAR(o["value"].get<double>(), o["expected"].get<double>(), 180.0 / 32768);
    }
}

// A refresh that falls inside a transfer waits for its STOP, so that a read
// never gets the low byte of one refresh and the high byte of the next.
TEST(Plant, ARefreshDuringATransferWaitsForTheStop) {
    sim::PlantConfig p = quiet_plant();
    p.imu_rate_hz = 0.1;  // refreshed at power-on, then not for 10 s
    const json o = with_plant(p, [](sim::Board& b, json& out) {
        sim::Wire& scl = b.i2c_scl();
        sim::Wire& sda = b.i2c_sda();
        const int master_scl = scl.attach(), master_sda = sda.attach();
        idle_until(b, 0.001);
        const sim::Picos t = b.cpu().now();
        scl.set(master_scl, {.drives_high = true}, t);
        sda.set(master_sda, {.drives_high = true}, t);
        sda.set(master_sda, {.pulls_low = true}, t);  // START: SDA falls while SCL is high
        b.imu().update_registers({{sim::Imu::kRoll, 1234}});
        out["during"] = b.imu().reg(sim::Imu::kRoll);
        sda.set(master_sda, {.drives_high = true}, t + sim::kPsPerUs);  // STOP
        out["after"] = b.imu().reg(sim::Imu::kRoll);
        b.imu().update_registers({{sim::Imu::kRoll, 99}});
        out["between"] = b.imu().reg(sim::Imu::kRoll);
    });
    EXPECT_EQ(o["during"], 0);
    EXPECT_EQ(o["after"], 1234);
    EXPECT_EQ(o["between"], 99);
}

TEST(Plant, AngleRegistersWrapAndQuantise) {
    struct Case {
        double deg;
        int16_t raw;
    };
    const Case cases[] = {
        {0, 0},         {90, 16384},           {-90, -16384}, {179.9945, 32767},      {180, -32768},
        {-180, -32768}, {190, -30948},         {-190, 30948}, {720.0054931640625, 1}, {0.00274, 0},
        {0.00275, 1},   {-0.0054931640625, -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(sim::Plant::angle_register(c.deg), c.raw) << c.deg;
    }
}

}  // namespace

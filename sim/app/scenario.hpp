// A scenario: what the virtual board is and how long the firmware runs on it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/devices/disturbance.hpp"

namespace sim {

/// When a device's faults hold: from `from_s` until `until_s` (for ever when
/// absent), again every `every_s` seconds when that is set.
struct WindowSettings {
    double from_s = 0.0;
    std::optional<double> until_s;
    std::optional<double> every_s;
    bool operator==(const WindowSettings&) const = default;
};

/// One motor node on CAN2's bus.
struct MotorSettings {
    bool present = true;            // on the bus: acknowledges frames
    bool answers = true;            // replies to commands
    uint32_t reply_delay_us = 200;  // end of the command to the reply's send request
    bool close_garbage = false;     // "close_reply": "garbage" instead of "echo"
    /// The settings above hold inside the window only; outside it the motor is
    /// present, answering, echoing, with the default delay.
    std::optional<WindowSettings> window;
    /// Its bit rate; not windowed.
    uint32_t bit_rate_hz = 1000000;
};

struct Scenario {
    double duration_s = 10.0;
    uint64_t seed = 1;
    /// By 11-bit identifier; both motors are present and answering by default.
    std::map<uint32_t, MotorSettings> motors = {{0x141, {}}, {0x142, {}}};
    struct Faults {
        bool queue_create_fails = false;
        bool no_crystal = false;  // the HSE crystal does not start
    } faults;
    /// The IMU on the bit-banged bus.
    struct Imu {
        bool present = true;
        // Raw registers; the default is a level platform at 25 °C.
        int16_t roll = 0, pitch = 0, yaw = 0, temp = 2500;
        bool raw_given = false;      // registers held fixed: the plant does not feed the IMU
        double hold_sda_low_ms = 0;  // SDA held low from power-on
        double stretch_scl_us = 0;   // SCL held low after each address acknowledge
        double hold_scl_low_ms = 0;  // SCL held low from power-on
        /// The faults above (absence, stretching, held lines) hold inside the
        /// window only; held lines are held from each window's start.
        std::optional<WindowSettings> window;
    } imu;
    /// The gimbal the IMU measures (used unless `imu.raw` holds the registers).
    struct Plant {
        double imu_rate_hz = 10.0;
        double angle_noise_deg = 0.02;
        double rate_noise_dps = 0.05;
        double accel_noise_g = 0.002;
        double temperature_c = 25.0;
    } plant;
    /// Base motion per axis; the default is still.
    struct Disturbance {
        AxisMotion roll, pitch;
    } disturbance;
    /// Gains and limit instead of the firmware's constants (absent: the constants).
    struct Gains {
        double kp = 0, ki = 0, kd = 0;
    };
    struct Control {
        std::optional<Gains> roll, pitch;
        std::optional<double> output_max;
    } control;
    /// The HAL tick and the kernel tick at reset, as after long uptime: both
    /// count on from here and wrap past 2^32 - 1.
    uint32_t tick_start = 0;
};

/// A scenario that cannot be used; the message names the offending key.
class ScenarioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Longest run a scenario may ask for (a week of virtual time).
inline constexpr double kMaxDurationS = 7 * 24 * 3600.0;

/// Reads a scenario from JSON text; every key is checked, unknown ones refused.
Scenario parse_scenario(const std::string& json_text);
Scenario load_scenario_file(const std::string& path);
/// Checks a run length from the command line or a file.
void check_duration(double seconds, const std::string& what);

nlohmann::json to_json(const Scenario& scenario);

}  // namespace sim

// The two-axis gimbal: the base moves (the disturbance), each motor's shaft
// turns the platform relative to the base (0x141 roll, 0x142 pitch), and the
// IMU on the platform measures the platform's attitude. A positive shaft
// turn adds to the platform angle, so the firmware's negative speed command
// for a positive angle brings the platform back.
//
// The IMU's registers are refreshed at the sensor's own output rate with
// seeded noise and the registers' quantisation.
#pragma once

#include <cstdint>

#include "sim/core/cpu.hpp"
#include "sim/core/events.hpp"
#include "sim/core/settings.hpp"
#include "sim/devices/disturbance.hpp"
#include "sim/devices/imu.hpp"
#include "sim/devices/motor.hpp"

namespace sim {

struct PlantConfig {
    AxisMotion roll, pitch;         // base motion
    double imu_rate_hz = 10.0;      // register refresh rate
    double angle_noise_deg = 0.02;  // standard deviation, Roll/Pitch/Yaw
    double rate_noise_dps = 0.05;   // gyroscope registers
    double accel_noise_g = 0.002;   // acceleration registers
    double temperature_c = 25.0;    // TEMP
    uint64_t seed = 1;
    bool feeds_imu = true;  // false: the IMU's registers stay as set by hand
};

// clang-format off
inline const Field<PlantConfig> kPlantFields[] = {
    {"imu_rate_hz",     &PlantConfig::imu_rate_hz,     "Hz",  0.1, 1000, "how often the IMU refreshes its registers"},
    {"angle_noise_deg", &PlantConfig::angle_noise_deg, "deg", 0, 10,      "standard deviation of the noise on `Roll`, `Pitch`, `Yaw`"},
    {"rate_noise_dps",  &PlantConfig::rate_noise_dps,  "deg/s", 0, 100,   "the same on the rate registers (`GX`..`GZ`, 0x37 to 0x39)"},
    {"accel_noise_g",   &PlantConfig::accel_noise_g,   "g",   0, 1,       "the same on the acceleration registers (`AX`..`AZ`, 0x34 to 0x36)"},
    {"temperature_c",   &PlantConfig::temperature_c,   "°C",  -40, 85,    "`TEMP`"},
};
// clang-format on

/// One axis of the plant at an instant.
struct AxisState {
    double base_deg = 0, base_dps = 0;    // disturbance
    double motor_deg = 0, motor_dps = 0;  // shaft angle and speed
    double command_dps = 0;               // speed the motor was told to run at
    double platform_deg = 0, platform_dps = 0;
};

struct PlantState {
    AxisState roll, pitch;
};

class Plant {
  public:
    static constexpr uint32_t kRollMotor = 0x141, kPitchMotor = 0x142;
    // Register scales of the JY901 family: ±16 g, ±2000 degree/s, ±180 degree.
    static constexpr double kAccelFullScaleG = 16.0;
    static constexpr double kRateFullScaleDps = 2000.0;
    static constexpr uint8_t kAx = 0x34, kGx = 0x37;

    /// `roll_motor`, `pitch_motor` may be null (a motor not on the bus: its
    /// axis stays where the base puts it).
    Plant(Cpu& cpu, Imu& imu, Mf4010Motor* roll_motor, Mf4010Motor* pitch_motor,
          const PlantConfig& config);
    Plant(const Plant&) = delete;
    Plant& operator=(const Plant&) = delete;

    /// Starts refreshing the IMU's registers, the first time at `at`.
    void start(Picos at);
    PlantState state(Picos now);
    const PlantConfig& config() const { return config_; }

    /// Register value of an angle in degrees: wrapped to [-180, 180) and
    /// quantised to 180/32768 degree.
    static int16_t angle_register(double deg);

  private:
    void refresh(Picos now);
    AxisState axis(BaseMotion& base, Mf4010Motor* motor, Picos now);

    Cpu& cpu_;
    Imu& imu_;
    Mf4010Motor* motors_[2];
    PlantConfig config_;
    BaseMotion roll_base_, pitch_base_;
    SeededNoise noise_;
    Picos period_;
    FunctionEvent refresh_event_;
};

}  // namespace sim

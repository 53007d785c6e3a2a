#include "sim/devices/plant.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace sim {

namespace {
int16_t scaled(double value, double full_scale) {
    const double raw = std::round(value / full_scale * 32768.0);
    return static_cast<int16_t>(std::clamp(raw, -32768.0, 32767.0));
}
}  // namespace

Plant::Plant(Cpu& cpu, Imu& imu, Mf4010Motor* roll_motor, Mf4010Motor* pitch_motor,
             const PlantConfig& config)
    : cpu_(cpu),
      imu_(imu),
      motors_{roll_motor, pitch_motor},
      config_(config),
      roll_base_(config.roll, derive_seed(config.seed, 1)),
      pitch_base_(config.pitch, derive_seed(config.seed, 2)),
      noise_(derive_seed(config.seed, 3)),
      period_(static_cast<Picos>(std::llround(1e12 / config.imu_rate_hz))),
      refresh_event_([this](Picos now) { refresh(now); }) {}

void Plant::start(Picos at) {
    if (!config_.feeds_imu) {
        return;
    }
    cpu_.events().schedule(refresh_event_, at);
}

int16_t Plant::angle_register(double deg) {
    double wrapped = std::fmod(deg + 180.0, 360.0);
    if (wrapped < 0) {
        wrapped += 360.0;
    }
    const auto raw = std::lround((wrapped - 180.0) / 180.0 * 32768.0);
    return static_cast<int16_t>(raw >= 32768 ? raw - 65536 : raw);
}

AxisState Plant::axis(BaseMotion& base, Mf4010Motor* motor, Picos now) {
    const double t = to_seconds(now);
    AxisState s;
    s.base_deg = base.angle(t);
    s.base_dps = base.rate(t);
    if (motor != nullptr) {
        s.motor_deg = motor->angle_deg(now);
        s.motor_dps = motor->speed_dps(now);
        s.command_dps = motor->target_speed() / 100.0;
    }
    // An attitude: the shaft may have turned many times over.
    s.platform_deg = std::remainder(s.base_deg + s.motor_deg, 360.0);
    s.platform_dps = s.base_dps + s.motor_dps;
    return s;
}

PlantState Plant::state(Picos now) {
    return PlantState{axis(roll_base_, motors_[0], now), axis(pitch_base_, motors_[1], now)};
}

void Plant::refresh(Picos now) {
    const PlantState s = state(now);
    const double roll = s.roll.platform_deg + config_.angle_noise_deg * noise_.gaussian();
    const double pitch = s.pitch.platform_deg + config_.angle_noise_deg * noise_.gaussian();
    const double yaw = config_.angle_noise_deg * noise_.gaussian();
    // Gravity in the sensor's axes for that roll and pitch.
    const double r = roll * std::numbers::pi / 180.0, p = pitch * std::numbers::pi / 180.0;
    const double acc[3] = {-std::sin(p), std::sin(r) * std::cos(p), std::cos(r) * std::cos(p)};
    const double rate[3] = {s.roll.platform_dps, s.pitch.platform_dps, 0.0};
    std::vector<std::pair<int, int16_t>> regs;
    for (int i = 0; i < 3; i++) {
        regs.emplace_back(
            kAx + i, scaled(acc[i] + config_.accel_noise_g * noise_.gaussian(), kAccelFullScaleG));
        regs.emplace_back(kGx + i, scaled(rate[i] + config_.rate_noise_dps * noise_.gaussian(),
                                          kRateFullScaleDps));
    }
    regs.emplace_back(Imu::kRoll, angle_register(roll));
    regs.emplace_back(Imu::kPitch, angle_register(pitch));
    regs.emplace_back(Imu::kYaw, angle_register(yaw));
    regs.emplace_back(Imu::kTemp, static_cast<int16_t>(std::lround(config_.temperature_c * 100)));
    imu_.update_registers(regs);
    cpu_.events().schedule(refresh_event_, now + period_);
}

}  // namespace sim

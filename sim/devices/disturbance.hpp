// Motion of the gimbal's base about one axis: an initial tilt, steps, a
// sinusoidal sway and a random walk, added together. Deterministic for a seed.
#pragma once

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "sim/core/settings.hpp"

namespace sim {

struct AxisMotion {
    double tilt_deg = 0.0;                         // from power-on
    std::vector<std::pair<double, double>> steps;  // (at second, degrees added)
    double sway_amplitude_deg = 0.0;
    double sway_frequency_hz = 0.0;
    double sway_phase_deg = 0.0;
    double random_walk_deg_per_sqrt_s = 0.0;  // standard deviation after one second
};

// clang-format off
inline const Field<AxisMotion> kAxisMotionFields[] = {
    {"tilt_deg",                   &AxisMotion::tilt_deg,                   "deg", -90, 90, "initial tilt, from power-on"},
    {"random_walk_deg_per_sqrt_s", &AxisMotion::random_walk_deg_per_sqrt_s, "deg/√s", 0, 100, "random walk: standard deviation after one second, steps every 10 ms joined by straight lines, from the seed"},
    {"sway.amplitude_deg",         &AxisMotion::sway_amplitude_deg,         "deg", 0, 90,   "sinusoidal sway A sin(2π f t + φ): A"},
    {"sway.frequency_hz",          &AxisMotion::sway_frequency_hz,          "Hz",  0, 100,  "f (a period of 10 ms or longer)"},
    {"sway.phase_deg",             &AxisMotion::sway_phase_deg,             "deg", -360, 360, "φ"},
};
// clang-format on

/// Gaussian numbers from a seed, the same on every host (no library
/// distribution, whose algorithm is the library's choice).
class SeededNoise {
  public:
    explicit SeededNoise(uint64_t seed);
    double uniform();   // [0, 1)
    double gaussian();  // mean 0, standard deviation 1

  private:
    std::mt19937_64 engine_;
    bool spare_ready_ = false;
    double spare_ = 0.0;
};

/// A seed of its own for each user of a run's seed.
uint64_t derive_seed(uint64_t seed, uint64_t stream);

class BaseMotion {
  public:
    /// The random walk takes one step every this long, joined by straight lines.
    static constexpr double kWalkStepS = 0.01;

    BaseMotion(const AxisMotion& motion, uint64_t seed);
    /// Angle (degrees) and rate (degree/s) at `t` seconds. Times must not go
    /// back by more than one walk step between calls.
    double angle(double t);
    double rate(double t);

  private:
    double walk_at(double t, double* slope);

    AxisMotion motion_;
    SeededNoise noise_;
    // Walk points at walk_index_ and the next one.
    int64_t walk_index_ = 0;
    double walk_[2] = {0.0, 0.0};
};

}  // namespace sim

#include "sim/devices/disturbance.hpp"

#include <cmath>
#include <numbers>

namespace sim {

SeededNoise::SeededNoise(uint64_t seed) : engine_(seed) {}

double SeededNoise::uniform() {
    return static_cast<double>(engine_() >> 11) * 0x1.0p-53;
}

double SeededNoise::gaussian() {
    if (spare_ready_) {
        spare_ready_ = false;
        return spare_;
    }
    // Box-Muller; 1 - u keeps the logarithm finite.
    const double r = std::sqrt(-2.0 * std::log(1.0 - uniform()));
    const double a = 2.0 * std::numbers::pi * uniform();
    spare_ = r * std::sin(a);
    spare_ready_ = true;
    return r * std::cos(a);
}

uint64_t derive_seed(uint64_t seed, uint64_t stream) {
    // splitmix64 of the pair
    uint64_t z = seed + 0x9E3779B97F4A7C15ULL * (stream + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

BaseMotion::BaseMotion(const AxisMotion& motion, uint64_t seed) : motion_(motion), noise_(seed) {
    walk_[1] = motion_.random_walk_deg_per_sqrt_s * std::sqrt(kWalkStepS) * noise_.gaussian();
}

double BaseMotion::walk_at(double t, double* slope) {
    if (motion_.random_walk_deg_per_sqrt_s == 0.0) {
        *slope = 0.0;
        return 0.0;
    }
    const auto index = static_cast<int64_t>(std::floor(t / kWalkStepS));
    const double sigma = motion_.random_walk_deg_per_sqrt_s * std::sqrt(kWalkStepS);
    while (walk_index_ < index) {
        walk_[0] = walk_[1];
        walk_[1] += sigma * noise_.gaussian();
        walk_index_++;
    }
    const double frac = t / kWalkStepS - static_cast<double>(walk_index_);
    *slope = (walk_[1] - walk_[0]) / kWalkStepS;
    return walk_[0] + (walk_[1] - walk_[0]) * frac;
}

double BaseMotion::angle(double t) {
    double angle = motion_.tilt_deg;
    for (const auto& [at, deg] : motion_.steps) {
        if (t >= at) {
            angle += deg;
        }
    }
    const double w = 2.0 * std::numbers::pi * motion_.sway_frequency_hz;
    angle += motion_.sway_amplitude_deg *
             std::sin(w * t + motion_.sway_phase_deg * std::numbers::pi / 180.0);
    double slope = 0.0;
    return angle + walk_at(t, &slope);
}

double BaseMotion::rate(double t) {
    const double w = 2.0 * std::numbers::pi * motion_.sway_frequency_hz;
    double slope = 0.0;
    walk_at(t, &slope);
    return motion_.sway_amplitude_deg * w *
               std::cos(w * t + motion_.sway_phase_deg * std::numbers::pi / 180.0) +
           slope;
}

}  // namespace sim

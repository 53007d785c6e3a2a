#include "sim/app/metrics.hpp"

#include <algorithm>
#include <cmath>

namespace sim {

void Metrics::control_stepped(double t) {
    if (!settle_s_) {
        settle_s_ = t;
        window_start_ = t;
    }
}

void Metrics::sample(double t, const std::array<double, 2>& error_deg,
                     const std::array<double, 2>& base_deg) {
    if (!settle_s_) {
        if (t < fallback_settle_s_) {
            return;
        }
        settle_s_ = fallback_settle_s_;
        window_start_ = fallback_settle_s_;
    }
    if (t < *settle_s_) {
        return;
    }
    while (t >= window_start_ + kWindowS) {
        close_window();
    }
    for (std::size_t i = 0; i < 2; i++) {
        Axis& a = axes_[i];
        const double e = std::abs(error_deg[i]);
        a.n++;
        a.sum_sq += e * e;
        a.base_sum_sq += base_deg[i] * base_deg[i];
        a.peak = std::max(a.peak, e);
        a.window_peak = std::max(a.window_peak, e);
    }
}

void Metrics::close_window() {
    const double middle = window_start_ + kWindowS / 2;
    for (Axis& a : axes_) {
        if (a.window_peak >= kSaturatedDeg) {
            a.saturated = true;
        }
        // Once lost, the error is a limit cycle of the saturated loop: it
        // says nothing more about growth.
        if (!a.saturated && a.window_peak >= kNoiseFloorDeg) {
            const double y = std::log(a.window_peak);
            a.sx += middle;
            a.sy += y;
            a.sxx += middle * middle;
            a.sxy += middle * y;
            a.windows++;
        }
        a.window_peak = 0;
    }
    window_start_ += kWindowS;
}

double Metrics::Axis::growth() const {
    if (windows < 3) {
        return 0.0;
    }
    const double n = windows;
    const double denominator = n * sxx - sx * sx;
    return denominator > 0 ? (n * sxy - sx * sy) / denominator : 0.0;
}

AxisFigures Metrics::axis(int i) const {
    const Axis& a = axes_.at(static_cast<std::size_t>(i));
    if (a.n == 0) {
        return {};
    }
    return {std::sqrt(a.sum_sq / static_cast<double>(a.n)), a.peak};
}

StabilityFigures Metrics::stability() const {
    StabilityFigures s;
    double worst_peak = 0;
    for (std::size_t i = 0; i < axes_.size(); i++) {
        const Axis& a = axes_[i];
        s.growth_per_s = i == 0 ? a.growth() : std::max(s.growth_per_s, a.growth());
        s.saturated = s.saturated || a.saturated || a.window_peak >= kSaturatedDeg;
        if (a.n > 0 && a.base_sum_sq > 0) {
            s.attenuation = std::max(s.attenuation, std::sqrt(a.sum_sq / a.base_sum_sq));
        }
        worst_peak = std::max(worst_peak, a.peak);
    }
    if (s.saturated || s.growth_per_s > kFlatGrowthPerS) {
        s.verdict = "unstable";
    } else if (s.growth_per_s < -kFlatGrowthPerS || worst_peak < 2 * kNoiseFloorDeg ||
               (s.attenuation > 0 && s.attenuation <= 0.5)) {
        s.verdict = "stable";
    } else {
        s.verdict = "marginal";
    }
    return s;
}

}  // namespace sim

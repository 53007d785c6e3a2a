#include "sim/app/metrics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sim {

void Metrics::control_stepped(double t) {
    stepped_ = true;
    if (!settle_s_) {
        settle_s_ = t;
        window_start_ = t;
    }
}

void Metrics::sample(double t, const std::array<double, 2>& error_deg,
                     const std::array<double, 2>& base_deg) {
    last_t_ = t;
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
        a.window_base_min = std::min(a.window_base_min, base_deg[i]);
        a.window_base_max = std::max(a.window_base_max, base_deg[i]);
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
        a.last_peak = a.window_peak;
        a.last_base_swing =
            a.window_base_max >= a.window_base_min ? a.window_base_max - a.window_base_min : 0;
        a.window_peak = 0;
        a.window_base_min = 1e300;
        a.window_base_max = -1e300;
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
    bool settled = true;  // every axis's last window: noise, or within the base's swing
    for (std::size_t i = 0; i < axes_.size(); i++) {
        const Axis& a = axes_[i];
        s.growth_per_s = i == 0 ? a.growth() : std::max(s.growth_per_s, a.growth());
        s.saturated = s.saturated || a.saturated || a.window_peak >= kSaturatedDeg;
        if (a.n > 0 && a.base_sum_sq > 0) {
            s.attenuation = std::max(s.attenuation, std::sqrt(a.sum_sq / a.base_sum_sq));
        }
        if (a.last_peak > s.last_window_error_peak_deg) {
            s.last_window_error_peak_deg = a.last_peak;
            s.last_window_base_swing_deg = a.last_base_swing;
        }
        settled = settled && a.last_peak >= 0 &&
                  (a.last_peak < 2 * kNoiseFloorDeg || a.last_peak <= a.last_base_swing);
    }
    if (!no_figures_reason().empty()) {
        s.verdict.clear();
    } else if (!stepped_) {
        s.verdict = "no control";
    } else if (s.saturated || s.growth_per_s > kFlatGrowthPerS) {
        s.verdict = "unstable";
    } else if (s.growth_per_s < -kFlatGrowthPerS || settled) {
        s.verdict = "stable";
    } else {
        s.verdict = "marginal";
    }
    return s;
}

std::string Metrics::no_figures_reason() const {
    char text[160];
    if (axes_[0].n == 0) {
        std::snprintf(text, sizeof text,
                      "the run ended at %.3f s, before the figures' start (the control loop's "
                      "first step, or %g s if it has not stepped by then)",
                      last_t_, fallback_settle_s_);
        return text;
    }
    // A loop that lost the platform needs no window to say so.
    const bool saturated = std::any_of(axes_.begin(), axes_.end(), [](const Axis& a) {
        return a.saturated || a.window_peak >= kSaturatedDeg;
    });
    if (axes_[0].last_peak < 0 && !saturated) {
        std::snprintf(text, sizeof text,
                      "the run ended at %.3f s, before a complete %g s window after %.3f s: "
                      "no verdict",
                      last_t_, kWindowS, *settle_s_);
        return text;
    }
    return {};
}

void Metrics::write(nlohmann::json& m) const {
    const std::string reason = no_figures_reason();
    const bool none = axes_[0].n == 0;
    const auto figure = [none](double v) { return none ? nlohmann::json() : nlohmann::json(v); };
    const char* names[2] = {"roll", "pitch"};
    for (int i = 0; i < 2; i++) {
        const AxisFigures a = axis(i);
        m[names[i]] = {{"rms_error_deg", figure(a.rms_error_deg)},
                       {"peak_error_deg", figure(a.peak_error_deg)}};
    }
    m["settle_s"] = settle_s_ ? nlohmann::json(*settle_s_) : nullptr;
    const StabilityFigures s = stability();
    const bool judged = !s.verdict.empty();
    m["stability"] = judged ? nlohmann::json(s.verdict) : nullptr;
    m["oscillation_growth_per_s"] = judged ? nlohmann::json(s.growth_per_s) : nullptr;
    m["error_to_base_motion"] = figure(s.attenuation);
    m["saturated"] = none ? nlohmann::json() : nlohmann::json(s.saturated);
    m["last_window_error_peak_deg"] = s.last_window_error_peak_deg;
    m["last_window_base_swing_deg"] = s.last_window_base_swing_deg;
    m["no_figures_reason"] = reason.empty() ? nlohmann::json() : nlohmann::json(reason);
}

}  // namespace sim

// Figures of a run that a user compares between runs: the platform's error
// per axis after start-up, and whether its oscillation grows or decays.
// Fed on a fixed grid of virtual time; keeps no history (flat memory).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace sim {

struct AxisFigures {
    double rms_error_deg = 0;
    double peak_error_deg = 0;
};

struct StabilityFigures {
    /// "stable", "unstable", "marginal", "no control" (the loop never
    /// stepped), or empty: nothing to judge yet (`no_figures_reason` says why).
    std::string verdict;
    double growth_per_s = 0;  // of the error's envelope: e^(growth t); worst axis
    double attenuation = 0;   // error RMS / base motion RMS, worst axis (0: base still)
    bool saturated = false;   // the error reached kSaturatedDeg
    /// Worst axis, last complete window: the error's peak and the base's
    /// swing (largest minus smallest angle); -1: no complete window yet.
    double last_window_error_peak_deg = -1;
    double last_window_base_swing_deg = 0;
};

class Metrics {
  public:
    /// The error's envelope is its peak in windows of this length.
    static constexpr double kWindowS = 5.0;
    /// Windows whose peak is below this are noise, not oscillation.
    static constexpr double kNoiseFloorDeg = 0.2;
    /// An error this large means the loop has lost the platform.
    static constexpr double kSaturatedDeg = 90.0;
    /// Growth rates within ±this count as neither growing nor decaying; the
    /// verdict is then "stable" when the last window's error is noise or no
    /// larger than the base's swing in it (the loop follows a moving base),
    /// "marginal" when an oscillation stays that the base does not drive.
    static constexpr double kFlatGrowthPerS = 0.02;

    /// `fallback_settle_s`: where the error figures start if the control loop
    /// has not stepped by then.
    explicit Metrics(double fallback_settle_s) : fallback_settle_s_(fallback_settle_s) {}

    /// The control loop's first step: the error figures start here.
    void control_stepped(double t);
    /// The platform's error (its angle, the target being 0) and the base's angle.
    void sample(double t, const std::array<double, 2>& error_deg,
                const std::array<double, 2>& base_deg);

    /// When the error figures started (nullopt: not yet).
    std::optional<double> settle_s() const { return settle_s_; }
    AxisFigures axis(int i) const;
    StabilityFigures stability() const;
    /// Why some figures are absent (empty: none is): no sample after the
    /// figures' start, or no complete window to judge the loop by.
    std::string no_figures_reason() const;
    /// The figures as summary.json's `metrics` holds them: an absent figure is
    /// null, never a zero that reads as a perfect result.
    void write(nlohmann::json& m) const;

  private:
    struct Axis {
        uint64_t n = 0;
        double sum_sq = 0, peak = 0, base_sum_sq = 0;
        double window_peak = 0;
        double window_base_min = 1e300, window_base_max = -1e300;
        // The last complete window: the error's peak and the base's swing.
        double last_peak = -1, last_base_swing = 0;
        // Least squares of ln(window peak) over the window's middle.
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        int windows = 0;
        bool saturated = false;
        double growth() const;
    };
    void close_window();

    double fallback_settle_s_;
    bool stepped_ = false;
    double last_t_ = 0;
    std::optional<double> settle_s_;
    double window_start_ = 0;
    std::array<Axis, 2> axes_{};
};

}  // namespace sim

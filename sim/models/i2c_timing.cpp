#include "sim/models/i2c_timing.hpp"

#include <cstdint>

namespace sim {

// UM10204 rev. 7, Table 10 (characteristics of the SDA and SCL bus lines),
// Standard-mode and Fast-mode columns.
const std::array<I2cTimingMonitor::Limit, I2cTimingMonitor::kParameters> I2cTimingMonitor::kLimits{{
    {"tHD;STA", {4.0e-6, 0.6e-6}, false},
    {"tLOW", {4.7e-6, 1.3e-6}, false},
    {"tHIGH", {4.0e-6, 0.6e-6}, false},
    {"tSU;STA", {4.7e-6, 0.6e-6}, false},
    {"tHD;DAT", {0.0, 0.0}, false},
    {"tSU;DAT", {250e-9, 100e-9}, false},
    {"tSU;STO", {4.0e-6, 0.6e-6}, false},
    {"tBUF", {4.7e-6, 1.3e-6}, false},
    {"tr", {1000e-9, 300e-9}, true},
}};

I2cTimingMonitor::I2cTimingMonitor(Wire& scl, Wire& sda) : scl_(scl), sda_(sda) {
    scl.listen([this](int level, Picos at) { on_scl(level, at); });
    sda.listen([this](int level, Picos at) { on_sda(level, at); });
}

void I2cTimingMonitor::measure(Parameter p, double value_s, Picos at) {
    Figures& f = figures_[p];
    const Limit& limit = kLimits[p];
    if (f.measured == 0 || (limit.maximum ? value_s > f.worst_s : value_s < f.worst_s)) {
        f.worst_s = value_s;
    }
    f.measured++;
    for (int m = 0; m < kModes; m++) {
        if (limit.maximum ? value_s > limit.s[m] : value_s < limit.s[m]) {
            if (f.violations[m]++ == 0) {
                f.first[m] = at;
            }
        }
    }
}

// Signed: a hold can end before it began when a rise started early.
void I2cTimingMonitor::measure(Parameter p, Picos from, Picos to, Picos at) {
    measure(p, static_cast<double>(static_cast<int64_t>(to - from)) * 1e-12, at);
}

void I2cTimingMonitor::on_scl(int level, Picos at) {
    if (level == 0) {
        if (hold_start_) {
            measure(kHdSta, start_, at, at);
            hold_start_ = false;
        } else if (bus_.in_transfer() && clocked_ && !condition_in_high_) {
            measure(kHigh, scl_rose_, at, at);
        }
        clocked_ = bus_.in_transfer();
        scl_fell_ = at;
        data_changed_ = false;
        return;
    }
    // Seen at 70 %; the rise crossed 30 % rise_time() earlier.
    const Picos at30 = at - scl_.rise_time();
    if (bus_.in_transfer() && clocked_) {
        measure(kLow, scl_fell_, at30, at);
        if (data_changed_) {
            measure(kSuDat, data_settled_, at30, at);
        }
        if (scl_.rise_time() > 0) {
            measure(kRise, to_seconds(scl_.rise_time()), at);
        }
    }
    scl_rose_ = at;
    condition_in_high_ = false;
}

void I2cTimingMonitor::on_sda(int level, Picos at) {
    const Picos at30 = at - sda_.rise_time();  // the same as `at` for a fall
    const bool in_transfer = bus_.in_transfer();
    switch (bus_.sda(level, scl_.level())) {
        case I2cDecoder::Event::Start:
            transactions_++;
            if (stopped_) {
                measure(kBuf, stop_, at, at);
            }
            start_ = at;
            hold_start_ = true;
            condition_in_high_ = true;
            return;
        case I2cDecoder::Event::RepeatedStart:
            measure(kSuSta, scl_rose_, at, at);
            start_ = at;
            hold_start_ = true;
            condition_in_high_ = true;
            return;
        case I2cDecoder::Event::Stop:
            measure(kSuSto, scl_rose_, at30, at);
            if (sda_.rise_time() > 0) {
                measure(kRise, to_seconds(sda_.rise_time()), at);
            }
            stop_ = at;
            stopped_ = true;
            condition_in_high_ = true;
            clocked_ = false;
            return;
        default:
            break;
    }
    if (!in_transfer || !clocked_ || scl_.level() == 1) {
        return;
    }
    // Data changing while SCL is low: held from the fall until the change
    // begins; valid once a fall is done or a rise crossed 70 %.
    measure(kHdDat, scl_fell_, at30, at);
    data_settled_ = at;
    data_changed_ = true;
    if (level == 1 && sda_.rise_time() > 0) {
        measure(kRise, to_seconds(sda_.rise_time()), at);
    }
}

}  // namespace sim

#include "sim/models/wire.hpp"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
// An RC charge reaches the share v of VDD after tau * ln(1 / (1 - v)).
const double kToThreshold = std::log(1.0 / (1.0 - Wire::kHighThreshold));
const double kRise30To70 = std::log(0.7 / 0.3);  // from 30 % to 70 %
}  // namespace

Wire::Wire(std::string name, EventQueue& events, double pull_up_ohms, double capacitance_f)
    : name_(std::move(name)),
      events_(&events),
      board_pull_up_ohms_(pull_up_ohms),
      capacitance_f_(capacitance_f) {
    // The board's pull-up holds the line high from power-on.
    level_ = pull_up_ohms > 0 ? 1 : 0;
}

int Wire::attach() {
    parties_.push_back({});
    return static_cast<int>(parties_.size()) - 1;
}

void Wire::set(int party, Drive drive, Picos at) {
    Drive& d = parties_.at(static_cast<std::size_t>(party));
    if (d == drive) {
        return;
    }
    d = drive;
    update(at);
}

void Wire::update(Picos at) {
    bool low = false, driven = false;
    int pin_pulls = 0;
    for (const Drive& d : parties_) {
        low = low || d.pulls_low;
        driven = driven || d.drives_high;
        pin_pulls += d.pull_up ? 1 : 0;
    }
    const bool pulled_up = pin_pulls > 0 || board_pull_up_ohms_ > 0;
    if (low || driven || !pulled_up || capacitance_f_ <= 0) {
        if (rise_.armed()) {
            events_->cancel(rise_);
        }
        rise_time_ = 0;
        change(!low && (driven || pulled_up) ? 1 : 0, at);
        return;
    }
    if (level_ == 1) {
        return;  // already high: a change of pull-ups only moves the level's last volts
    }
    double conductance = pin_pulls / kPinPullUpOhms;
    if (board_pull_up_ohms_ > 0) {
        conductance += 1.0 / board_pull_up_ohms_;
    }
    const double tau_ps = capacitance_f_ / conductance * 1e12;
    if (rise_.armed()) {
        // Pull-ups changed during a rise: the charge so far carries on at the new rate.
        const double charged = static_cast<double>(at - rise_start_) / tau_ps_;
        rise_start_ = at - static_cast<Picos>(std::llround(charged * tau_ps));
    } else {
        rise_start_ = at;
    }
    tau_ps_ = tau_ps;
    rise_time_ = static_cast<Picos>(std::llround(tau_ps * kRise30To70));
    const Picos seen = rise_start_ + static_cast<Picos>(std::llround(tau_ps * kToThreshold));
    events_->schedule(rise_, std::max(at, seen));
}

void Wire::change(int level, Picos at) {
    if (level == level_) {
        return;
    }
    level_ = level;
    changed_at_ = at;
    // A listener may change the line again (a device answering at once):
    // iterate by index, the list itself does not change while running.
    for (std::size_t i = 0; i < listeners_.size(); i++) {
        listeners_[i](level, at);
    }
}

}  // namespace sim

#include "sim/models/wire.hpp"

namespace sim {

int Wire::attach() {
    parties_.push_back({});
    return static_cast<int>(parties_.size()) - 1;
}

int Wire::resolve() const {
    bool high = false;
    for (const Drive& d : parties_) {
        if (d.pulls_low) {
            return 0;
        }
        high = high || d.drives_high || d.pull_up;
    }
    return high ? 1 : 0;
}

void Wire::set(int party, Drive drive, Picos at) {
    Drive& d = parties_.at(static_cast<std::size_t>(party));
    if (d == drive) {
        return;
    }
    d = drive;
    const int level = resolve();
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

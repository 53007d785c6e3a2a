// A digital line shared by several parties: chip pins, pull resistors and
// devices outside the chip. Anything pulling low wins (wired AND); otherwise a
// push-pull driver or a pull-up takes the line high; with neither the line
// reads low, as a pin whose input has no pull does on this board.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/time.hpp"

namespace sim {

class Wire {
  public:
    /// What one party does to the line.
    struct Drive {
        bool pulls_low = false;    // output driving low (open-drain or push-pull)
        bool drives_high = false;  // push-pull output driving high
        bool pull_up = false;      // pull-up resistor
        bool operator==(const Drive&) const = default;
    };
    /// Called after every change of level, with the time of the change.
    using Listener = std::function<void(int level, Picos at)>;

    explicit Wire(std::string name) : name_(std::move(name)) {}
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    const std::string& name() const { return name_; }
    /// A new party, at first doing nothing to the line.
    int attach();
    /// Party `party` now acts as `drive`, from time `at` on.
    void set(int party, Drive drive, Picos at);
    int level() const { return level_; }
    /// When the line last changed level (0 before any change).
    Picos changed_at() const { return changed_at_; }
    void listen(Listener listener) { listeners_.push_back(std::move(listener)); }

  private:
    int resolve() const;

    std::string name_;
    std::vector<Drive> parties_;
    std::vector<Listener> listeners_;
    int level_ = 0;
    Picos changed_at_ = 0;
};

}  // namespace sim

// A digital line shared by several parties: chip pins, pull resistors and
// devices outside the chip. Anything pulling low wins (wired AND); otherwise a
// push-pull driver or a pull-up takes the line high; with neither the line
// reads low, as a pin whose input has no pull does on this board.
//
// A line may carry a pull-up fitted on the board and a bus capacitance: then
// it is high from power-on whenever nothing pulls it low, and a line that only
// pull-ups take high rises through their resistance and the capacitance, seen
// high when it crosses the receivers' input-high threshold (docs/design.md,
// "Bus electrical timing"). Falls, and rises a push-pull output drives, are
// instant.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/events.hpp"
#include "sim/core/time.hpp"

namespace sim {

class Wire {
  public:
    /// What one party does to the line.
    struct Drive {
        bool pulls_low = false;    // output driving low (open-drain or push-pull)
        bool drives_high = false;  // push-pull output driving high
        bool pull_up = false;      // a pin's own pull-up resistor (kPinPullUpOhms)
        bool operator==(const Drive&) const = default;
    };
    /// Called after every change of level, with the time of the change.
    using Listener = std::function<void(int level, Picos at)>;

    /// A GPIO pin's weak pull-up: RPU typical, DS8626 "I/O static characteristics".
    static constexpr double kPinPullUpOhms = 40e3;
    /// Input-high threshold of every receiver, as a share of VDD: VIH(min) of
    /// UM10204 Table 9 and of the STM32F407's I/Os (DS8626, I/O static characteristics).
    static constexpr double kHighThreshold = 0.7;

    /// An ideal line: edges are instant and only its parties pull it up.
    explicit Wire(std::string name) : name_(std::move(name)) {}
    /// A line with a pull-up of `pull_up_ohms` on the board (0: none) and a
    /// capacitance of `capacitance_f` (0: instant rises); rises end on `events`.
    Wire(std::string name, EventQueue& events, double pull_up_ohms, double capacitance_f);
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
    /// Rise time (30 % to 70 % of VDD, as UM10204 measures tr) of the last
    /// rise; 0 for an instant one. A rise is seen at its 70 % crossing, so it
    /// began `rise_time()` before that at the 30 % one.
    Picos rise_time() const { return rise_time_; }
    void listen(Listener listener) { listeners_.push_back(std::move(listener)); }

  private:
    void update(Picos at);
    void change(int level, Picos at);

    std::string name_;
    std::vector<Drive> parties_;
    std::vector<Listener> listeners_;
    int level_ = 0;
    Picos changed_at_ = 0;
    EventQueue* events_ = nullptr;
    double board_pull_up_ohms_ = 0;
    double capacitance_f_ = 0;
    // A rise under way: the charge began at rise_start_ with time constant tau_ps_.
    FunctionEvent rise_{[this](Picos at) { change(1, at); }};
    Picos rise_start_ = 0;
    double tau_ps_ = 0;
    Picos rise_time_ = 0;
};

}  // namespace sim

// Faults that come and go: a setting of a device switched on at the start of
// its window and off at its end, again every period if it repeats.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "sim/core/cpu.hpp"
#include "sim/core/events.hpp"

namespace sim {

struct FaultWindow {
    Picos from = 0;
    Picos until = kNever;
    Picos every = 0;  // 0: once
};

class FaultWindows {
  public:
    /// `apply(true, at)` at each window's start, `apply(false, at)` at its
    /// end; `apply(false, 0)` first when the first window starts later.
    using Apply = std::function<void(bool on, Picos at)>;

    explicit FaultWindows(Cpu& cpu) : cpu_(cpu) {}
    void add(const FaultWindow& window, Apply apply);

  private:
    struct Entry {
        Entry(FaultWindows& owner, const FaultWindow& w, Apply a);
        FaultWindow window;
        Apply apply;
        Picos start = 0;  // of the current window
        FunctionEvent on;
        FunctionEvent off;
    };
    Cpu& cpu_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace sim

// Faults that come and go: a setting of a device switched on at the start of
// its window and off at its end, again every period if it repeats.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/core/cpu.hpp"
#include "sim/core/events.hpp"
#include "sim/core/settings.hpp"

namespace sim {

struct FaultWindow {
    Duration from;
    Duration until = Duration::never();
    Duration every;  // 0: once
};

/// A window repeats at most every millisecond (a chosen value): its two
/// switches then come no more often than the kernel's own 1 kHz tick, so a
/// window cannot slow a run down more than the tick does (every 1 ns made a
/// 1 s run take 43 s of wall time). A window lasts at least a picosecond, the
/// board's resolution.
inline constexpr double kMinWindowPeriodS = 1e-3;

// clang-format off
inline const Field<FaultWindow> kWindowFields[] = {
    {"from_s", &FaultWindow::from, "s", 0, kMaxSettingS, "the settings above hold from this time on (absent: always)"},
    {.key = "until_s", .member = &FaultWindow::until, .unit = "s", .min = 0, .max = kMaxSettingS,
     .meaning = "until this time, later than `from_s` (absent: for ever)", .when_set = true, .default_text = "for ever"},
    {.key = "every_s", .member = &FaultWindow::every, .unit = "s", .min = kMinWindowPeriodS, .max = kMaxSettingS,
     .meaning = "again every this long, longer than the window; needs `until_s` (absent: once)", .when_set = true, .default_text = "once"},
};
// clang-format on

class FaultWindows {
  public:
    /// `apply(true, at)` at each window's start, `apply(false, at)` at its
    /// end; `apply(false, 0)` first when the first window starts later.
    using Apply = std::function<void(bool on, Picos at)>;

    explicit FaultWindows(Cpu& cpu) : cpu_(cpu) {}
    /// `name` is what the fault_window probe calls it; empty: not reported.
    void add(const FaultWindow& window, Apply apply, std::string name = {});

  private:
    struct Entry {
        Entry(FaultWindows& owner, const FaultWindow& w, Apply a, std::string n);
        FaultWindow window;
        std::string name;
        Apply apply;
        Picos start = 0;  // of the current window
        FunctionEvent on;
        FunctionEvent off;
    };
    Cpu& cpu_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace sim

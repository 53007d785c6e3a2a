// A wall-clock watchdog over a run: firmware code that loops without calling
// into the platform never lets virtual time move, and the board cannot see
// it from inside. This watches from another host thread instead.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "sim/core/cpu.hpp"

namespace sim {

class StuckWatch {
  public:
    /// Calls `on_stuck` (from the watchdog's thread) once virtual time has not
    /// moved for `limit_s` seconds of wall time; `on_stuck` must end the process.
    StuckWatch(const Cpu& cpu, double limit_s, std::function<void()> on_stuck);
    ~StuckWatch();
    StuckWatch(const StuckWatch&) = delete;
    StuckWatch& operator=(const StuckWatch&) = delete;

  private:
    void watch();

    const Cpu& cpu_;
    double limit_s_;
    std::function<void()> on_stuck_;
    std::mutex mutex_;
    std::condition_variable stop_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace sim

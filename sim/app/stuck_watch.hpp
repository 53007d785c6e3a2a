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
    /// moved for `limit_s` seconds of wall time, or for half a second (at
    /// most `limit_s`) once `cut_short` says the run is to stop; `on_stuck`
    /// must end the process. An exception from it ends the process too.
    StuckWatch(const Cpu& cpu, double limit_s, std::function<void()> on_stuck,
               std::function<bool()> cut_short = nullptr);
    ~StuckWatch();
    StuckWatch(const StuckWatch&) = delete;
    StuckWatch& operator=(const StuckWatch&) = delete;

  private:
    void watch();

    const Cpu& cpu_;
    double limit_s_;
    std::function<void()> on_stuck_;
    std::function<bool()> cut_short_;
    std::mutex mutex_;
    std::condition_variable stop_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace sim

#include "sim/app/stuck_watch.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace sim {

StuckWatch::StuckWatch(const Cpu& cpu, double limit_s, std::function<void()> on_stuck,
                       std::function<bool()> cut_short)
    : cpu_(cpu),
      limit_s_(limit_s),
      on_stuck_(std::move(on_stuck)),
      cut_short_(std::move(cut_short)),
      thread_([this] { watch(); }) {}

StuckWatch::~StuckWatch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    stop_.notify_all();
    thread_.join();
}

void StuckWatch::watch() {
    using Clock = std::chrono::steady_clock;
    const auto limit = std::chrono::duration<double>(limit_s_);
    const auto short_limit = std::min(limit, std::chrono::duration<double>(0.5));
    const auto period = std::min<Clock::duration>(
        std::chrono::duration_cast<Clock::duration>(limit / 4), std::chrono::milliseconds(250));
    Picos seen = cpu_.progress();
    auto since = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.wait_for(lock, period, [this] { return done_; })) {
        const Picos now = cpu_.progress();
        if (now != seen) {
            seen = now;
            since = Clock::now();
        } else if (Clock::now() - since >= limit ||
                   (cut_short_ && cut_short_() && Clock::now() - since >= short_limit)) {
            try {
                on_stuck_();
            } catch (...) {
            }
            std::fputs("stuck watch: the run could not be ended in order\n", stderr);
            std::_Exit(EXIT_FAILURE);
        }
    }
}

}  // namespace sim

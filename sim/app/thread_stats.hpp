// Where the core's time goes, from the probes: per context (start-up, idle,
// each thread) the time it ran outside interrupt handlers, how often it was
// switched in, and the longest it was ready but waited for the core.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/core/probes.hpp"

namespace sim {

class ThreadStats {
  public:
    explicit ThreadStats(BoardProbes& probes);

    /// Core time of a context (a thread id, kIdleThread or kStartupContext) up to `now`.
    Picos cpu_time(int context, Picos now) const;
    /// Core time spent in interrupt handlers up to `now`.
    Picos interrupt_time(Picos now) const;
    uint64_t switches(int thread) const;
    /// The longest wait between ready and running since the kernel started,
    /// a wait still under way at `now` included.
    Picos longest_ready_wait(int thread, Picos now) const;
    /// Threads created so far.
    int threads() const { return static_cast<int>(contexts_.size()) - kFirstThread; }

  private:
    static constexpr int kFirstThread = 2;  // startup, idle, then the threads
    struct Context {
        Picos ran = 0;
        uint64_t switches = 0;
        bool ready = false;
        Picos ready_since = 0;
        Picos longest_wait = 0;
    };
    Context& context(int id);
    const Context* find(int id) const;
    void charge(Picos now);

    std::vector<Context> contexts_;
    int running_ = kStartupContext;
    Picos since_ = 0;  // of the running context's current stretch
    int depth_ = 0;    // interrupt nesting
    Picos irq_since_ = 0, irq_time_ = 0;
    bool started_ = false;  // the kernel's first switch
};

}  // namespace sim

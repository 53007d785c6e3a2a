#include "sim/app/thread_stats.hpp"

#include <algorithm>

namespace sim {

ThreadStats::ThreadStats(BoardProbes& probes) : contexts_(kFirstThread) {
    probes.thread_switch.listen([this](int from, int to, Picos at) {
        charge(at);
        if (from == kStartupContext && !started_) {
            started_ = true;
            // Waits begin when the kernel does: before it nothing could run.
            for (Context& c : contexts_) {
                c.ready_since = std::max(c.ready_since, at);
            }
        }
        running_ = to;
        context(to).switches++;
    });
    probes.thread_state.listen([this](int thread, ThreadState state, Picos at) {
        Context& c = context(thread);
        if (state == ThreadState::Ready) {
            c.ready = true;
            c.ready_since = at;
        } else {
            if (c.ready && state == ThreadState::Running && started_) {
                c.longest_wait = std::max(c.longest_wait, at - c.ready_since);
            }
            c.ready = false;
        }
    });
    probes.irq_enter.listen([this](int, Picos at) {
        if (depth_ == 0) {
            charge(at);
            irq_since_ = at;
        }
        depth_++;
    });
    probes.irq_exit.listen([this](int, Picos at) {
        if (--depth_ == 0) {
            irq_time_ += at - irq_since_;
            since_ = at;
        }
    });
}

ThreadStats::Context& ThreadStats::context(int id) {
    const auto index = static_cast<std::size_t>(id + kFirstThread);
    if (index >= contexts_.size()) {
        contexts_.resize(index + 1);
    }
    return contexts_[index];
}

const ThreadStats::Context* ThreadStats::find(int id) const {
    const auto index = static_cast<std::size_t>(id + kFirstThread);
    return index < contexts_.size() ? &contexts_[index] : nullptr;
}

void ThreadStats::charge(Picos now) {
    if (depth_ == 0 && now > since_) {
        context(running_).ran += now - since_;
    }
    since_ = now;
}

Picos ThreadStats::cpu_time(int id, Picos now) const {
    const Context* c = find(id);
    if (c == nullptr) {
        return 0;
    }
    const bool running = id == running_ && depth_ == 0 && now > since_;
    return c->ran + (running ? now - since_ : 0);
}

Picos ThreadStats::interrupt_time(Picos now) const {
    return irq_time_ + (depth_ > 0 && now > irq_since_ ? now - irq_since_ : 0);
}

uint64_t ThreadStats::switches(int thread) const {
    const Context* c = find(thread);
    return c ? c->switches : 0;
}

Picos ThreadStats::longest_ready_wait(int thread, Picos now) const {
    const Context* c = find(thread);
    if (c == nullptr) {
        return 0;
    }
    const bool waiting = c->ready && started_ && now > c->ready_since;
    return std::max(c->longest_wait, waiting ? now - c->ready_since : 0);
}

}  // namespace sim

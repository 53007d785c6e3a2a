#include "sim/core/events.hpp"

#include <algorithm>

namespace sim {

Event::~Event() {
    if (queue_ != nullptr) {
        queue_->cancel(*this);
    }
}

EventQueue::~EventQueue() {
    // Events that outlive the queue must not reach back into it.
    for (const Entry& entry : pending_) {
        entry.event->armed_token_ = 0;
        entry.event->queue_ = nullptr;
    }
}

void EventQueue::schedule(Event& event, Picos when) {
    if (event.queue_ != nullptr) {
        event.queue_->cancel(event);
    }
    event.armed_token_ = next_token_++;
    event.queue_ = this;
    const Entry entry{when, event.armed_token_, &event};
    // Behind every entry that fires later.
    auto at = pending_.end();
    while (at != pending_.begin() && (at - 1)->before(entry)) {
        --at;
    }
    pending_.insert(at, entry);
}

void EventQueue::cancel(Event& event) {
    if (event.armed_token_ == 0 || event.queue_ != this) {
        return;
    }
    const uint64_t token = event.armed_token_;
    event.armed_token_ = 0;
    for (auto it = pending_.end(); it != pending_.begin();) {
        --it;
        if (it->token == token) {
            pending_.erase(it);
            return;
        }
    }
}

void EventQueue::run_due(Picos now) {
    while (!pending_.empty() && pending_.back().when <= now) {
        const Entry entry = pending_.back();
        pending_.pop_back();
        entry.event->armed_token_ = 0;
        entry.event->fire(entry.when);
    }
}

}  // namespace sim

#include "sim/core/events.hpp"

namespace sim {

Event::~Event() {
    if (queue_ != nullptr) {
        queue_->cancel(*this);
    }
}

EventQueue::~EventQueue() {
    // Events that outlive the queue must not reach back into it.
    while (!heap_.empty()) {
        if (live_.count(heap_.top().token) != 0) {
            heap_.top().event->armed_token_ = 0;
            heap_.top().event->queue_ = nullptr;
        }
        heap_.pop();
    }
}

void EventQueue::schedule(Event& event, Picos when) {
    cancel(event);
    event.armed_token_ = next_token_++;
    event.queue_ = this;
    live_.insert(event.armed_token_);
    heap_.push(Entry{when, event.armed_token_, &event});
}

void EventQueue::cancel(Event& event) {
    if (event.armed_token_ != 0) {
        live_.erase(event.armed_token_);
        event.armed_token_ = 0;
    }
}

void EventQueue::drop_stale() {
    while (!heap_.empty() && live_.count(heap_.top().token) == 0) {
        heap_.pop();
    }
}

Picos EventQueue::next_time() {
    drop_stale();
    return heap_.empty() ? kNever : heap_.top().when;
}

void EventQueue::run_due(Picos now) {
    for (;;) {
        drop_stale();
        if (heap_.empty() || heap_.top().when > now) {
            return;
        }
        const Entry entry = heap_.top();
        heap_.pop();
        live_.erase(entry.token);
        entry.event->armed_token_ = 0;
        entry.event->fire(entry.when);
    }
}

}  // namespace sim

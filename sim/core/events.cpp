#include "events.hpp"

namespace sim {

void EventQueue::schedule(Event& event, Picos when) {
    event.armed_token_ = next_token_++;
    heap_.push(Entry{when, event.armed_token_, &event});
}

void EventQueue::drop_stale() {
    while (!heap_.empty() && heap_.top().event->armed_token_ != heap_.top().token) {
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
        Entry entry = heap_.top();
        heap_.pop();
        entry.event->armed_token_ = 0;
        entry.event->fire(entry.when);
    }
}

}  // namespace sim

#include "sim/core/events.hpp"

namespace sim {

Event::~Event() {
    if (queue_ != nullptr) {
        queue_->cancel(*this);
    }
}

EventQueue::~EventQueue() {
    // Events that outlive the queue must not reach back into it.
    for (const Entry& entry : heap_) {
        entry.event->armed_token_ = 0;
        entry.event->queue_ = nullptr;
    }
}

void EventQueue::place(std::size_t i, const Entry& entry) {
    heap_[i] = entry;
    entry.event->heap_index_ = i;
}

void EventQueue::sift_up(std::size_t i) {
    const Entry entry = heap_[i];
    while (i > 0) {
        const std::size_t parent = (i - 1) / 2;
        if (!entry.before(heap_[parent])) {
            break;
        }
        place(i, heap_[parent]);
        i = parent;
    }
    place(i, entry);
}

void EventQueue::sift_down(std::size_t i) {
    const Entry entry = heap_[i];
    const std::size_t n = heap_.size();
    for (;;) {
        std::size_t child = 2 * i + 1;
        if (child >= n) {
            break;
        }
        if (child + 1 < n && heap_[child + 1].before(heap_[child])) {
            child++;
        }
        if (!heap_[child].before(entry)) {
            break;
        }
        place(i, heap_[child]);
        i = child;
    }
    place(i, entry);
}

void EventQueue::remove_at(std::size_t i) {
    heap_[i].event->armed_token_ = 0;
    const Entry last = heap_.back();
    heap_.pop_back();
    if (i < heap_.size()) {
        place(i, last);
        sift_down(i);
        sift_up(last.event->heap_index_);
    }
}

void EventQueue::schedule(Event& event, Picos when) {
    if (event.queue_ != nullptr) {
        event.queue_->cancel(event);
    }
    event.armed_token_ = next_token_++;
    event.queue_ = this;
    heap_.push_back(Entry{when, event.armed_token_, &event});
    event.heap_index_ = heap_.size() - 1;
    sift_up(heap_.size() - 1);
}

void EventQueue::cancel(Event& event) {
    if (event.armed_token_ != 0 && event.queue_ == this) {
        remove_at(event.heap_index_);
    }
}

void EventQueue::run_due(Picos now) {
    while (!heap_.empty() && heap_.front().when <= now) {
        const Entry entry = heap_.front();
        remove_at(0);
        entry.event->fire(entry.when);
    }
}

}  // namespace sim

// Discrete events of the virtual board, fired in (time, order of scheduling).
#pragma once

#include <cstdint>
#include <functional>
#include <cstddef>
#include <vector>

#include "sim/core/time.hpp"

namespace sim {

class EventQueue;

/// Something that happens at a moment of virtual time. Owned by whoever
/// schedules it; re-scheduling an armed event moves it, and destroying one
/// cancels it.
class Event {
  public:
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    virtual ~Event();
    virtual void fire(Picos now) = 0;
    bool armed() const { return armed_token_ != 0; }

  private:
    friend class EventQueue;
    uint64_t armed_token_ = 0;    // order of scheduling while armed, 0 otherwise
    std::size_t heap_index_ = 0;  // position in the queue's heap while armed
    EventQueue* queue_ = nullptr;
};

/// An event that runs a function.
class FunctionEvent final : public Event {
  public:
    explicit FunctionEvent(std::function<void(Picos)> fn) : fn_(std::move(fn)) {}
    void fire(Picos now) override { fn_(now); }

  private:
    std::function<void(Picos)> fn_;
};

class EventQueue {
  public:
    EventQueue() = default;
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;
    ~EventQueue();

    void schedule(Event& event, Picos when);
    void cancel(Event& event);
    /// Time of the earliest armed event, or kNever.
    Picos next_time() const { return pending_.empty() ? kNever : pending_.back().when; }
    /// Fires, in order, every event due at or before `now`; events that firing
    /// schedules at or before `now` fire too.
    void run_due(Picos now);

  private:
    struct Entry {
        Picos when;
        uint64_t token;
        Event* event;
        bool before(const Entry& other) const {
            return when != other.when ? when < other.when : token < other.token;
        }
    };
    // Armed events only, latest first: a board has a dozen at most, and the
    // next one to fire is taken off the back.
    std::vector<Entry> pending_;
    uint64_t next_token_ = 1;
};

}  // namespace sim

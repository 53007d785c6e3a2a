// The board's observation points, in one place: the core, the kernel
// stand-in and the models emit into them, the runner's writers, its metrics
// and the tests listen. A probe nobody listens to costs one emptiness test,
// so the emitting paths stay as fast as without them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/time.hpp"

namespace sim {

struct CanFrame;
struct CanError;
class CanBus;

/// Listeners of one kind of signal, called in the order they were added.
template <typename... Args>
class Probe {
  public:
    using Listener = std::function<void(Args...)>;
    void listen(Listener listener) { listeners_.push_back(std::move(listener)); }
    bool observed() const { return !listeners_.empty(); }
    template <typename... Values>
    void emit(Values&&... values) const {
        if (listeners_.empty()) [[likely]] {
            return;
        }
        for (const Listener& listener : listeners_) {
            listener(values...);
        }
    }

  private:
    std::vector<Listener> listeners_;
};

/// Threads by their order of creation from 0; the contexts that are no thread.
inline constexpr int kIdleThread = -1;
inline constexpr int kStartupContext = -2;

enum class ThreadState : uint8_t { Ready, Running, Blocked, Terminated };

struct QueueOp {
    int queue;         // by order of creation from 0
    int thread;        // the caller; kIdleThread from an interrupt
    uint64_t message;  // the message's number in its queue (from 1), 0 if none moved
    bool ok;           // a put queued it, a get took one
    bool timed_out;    // waited and gave up
    uint32_t depth;    // messages in the queue afterwards
    const void* msg;   // the caller's buffer
    uint32_t size;
    Picos at;
};

struct I2cTransaction {
    uint8_t address;  // the first byte after START: 7-bit address and R/W
    int bytes;        // bytes clocked, address bytes included
    bool acked;       // no byte refused but a read's last, as a read ends
    Picos from, until;
};

struct BoardProbes {
    Probe<int /*thread*/, const std::string& /*name*/, int /*priority*/> thread_created;
    Probe<int /*thread*/, ThreadState, Picos> thread_state;
    /// The core goes from one context to another (a thread, idle or start-up).
    Probe<int /*from*/, int /*to*/, Picos> thread_switch;
    /// Exception entry and exit, by IRQn (negative: the core's own exceptions).
    Probe<int /*irqn*/, Picos> irq_enter;
    Probe<int /*irqn*/, Picos> irq_exit;
    Probe<int /*queue*/, uint32_t /*capacity*/, uint32_t /*msg_size*/> queue_created;
    Probe<const QueueOp&> queue_put;
    Probe<const QueueOp&> queue_get;
    /// A controller step: axis 0 is the one stepped first (roll).
    Probe<int /*axis*/, float /*actual*/, float /*output*/, Picos> control_step;
    /// A motor driver call's exchange with a motor ended, answered or failed
    /// (a refused send or no reply, each of which the driver reports).
    Probe<uint32_t /*motor id*/, bool /*answered*/, Picos> motor_exchange;
    /// A frame acknowledged on a bus, at the end of its end-of-frame field.
    Probe<const CanBus&, const CanFrame&, Picos> can_frame;
    Probe<const CanBus&, const CanError&> can_error;
    Probe<const I2cTransaction&> i2c_transaction;
    /// A fault window of the scenario opens (true) or closes.
    Probe<const std::string& /*what*/, bool /*open*/, Picos> fault_window;
    Probe<const std::string& /*where*/, Picos> halt;
    /// A HAL function was called (each that spends the HAL's call cost), at
    /// its entry: its name.
    Probe<const char* /*function*/, Picos> hal_call;
    /// A byte USART1 (the console) finished on its TX pin, at its stop bit's end.
    Probe<uint8_t /*byte*/, Picos> console_tx;
};

}  // namespace sim

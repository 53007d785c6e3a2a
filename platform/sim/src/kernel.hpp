// The RTOS kernel on the virtual board: fixed-priority preemptive scheduling
// with time slicing, a 1 kHz tick, delays, message queues and heap accounting,
// with the semantics the firmware relies on from the real kernel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "cmsis_os2.h"
#include "sim/core/cpu.hpp"

namespace sim::rtos {

struct MessageQueue;
struct Thread;

/// The kernel's ready list of one priority: a ring with an end marker and an
/// index. A thread made ready goes in just behind the index, so it is the last
/// to come round; each switch takes the entry after the index. The running
/// thread stays in its list, so after a preemption the round goes on past it.
class ReadyList {
  public:
    bool empty() const { return items_.empty(); }
    std::size_t size() const { return items_.size(); }
    void insert_end(Thread* t) { items_.insert(index_, t); }
    void remove(Thread* t);
    Thread* next();

  private:
    std::list<Thread*> items_;
    std::list<Thread*>::iterator index_ = items_.end();  // end() is the marker
};

struct Thread {
    enum class State { Ready, Running, Blocked, Terminated };

    std::string name;
    int id = 0;  // order of creation, as the probes name it
    int priority = 0;
    uint32_t stack_size = 0;
    osThreadFunc_t func = nullptr;
    void* argument = nullptr;
    State state = State::Ready;
    std::unique_ptr<Fiber> fiber;

    // While blocked
    uint64_t wake_tick = 0;
    uint64_t wait_seq = 0;  // orders waits that end on the same tick
    bool timed = false;
    MessageQueue* queue = nullptr;
    void* get_buffer = nullptr;
    const void* put_buffer = nullptr;
    uint64_t handed = 0;  // number of the message a put handed straight to this reader
    osStatus_t result = osOK;
};

struct MessageQueue {
    uint32_t capacity = 0;
    uint32_t msg_size = 0;
    std::deque<std::vector<uint8_t>> messages;
    std::vector<Thread*> getters;  // waiting, most urgent first, FIFO among equals
    std::vector<Thread*> putters;
    // The probes' view: each message numbered in order of queueing.
    int id = 0;
    uint64_t queued = 0;
    std::deque<uint64_t> numbers;  // of `messages`, alike
};

/// Kernel heap use, modelled on the kernel's first-fit heap: each block
/// carries an 8-byte header and is rounded up to 8 bytes.
struct HeapModel {
    static constexpr std::size_t kBlockHeader = 8;
    static constexpr std::size_t kAlignment = 8;
    // Control blocks as the kernel lays them out for this configuration on
    // the Cortex-M4 (docs/design.md derives each). The task control block
    // holds the runtime library's per-thread record: newlib nano's, 96 bytes
    // aligned to 4, measured with arm-none-eabi-gcc and checked against the
    // linked library by the chip build (checks.py newlib).
    static constexpr std::size_t kReentBytes = 96;
    static constexpr std::size_t kTaskFieldsBefore = 84;  // stack top, lists, priority, name...
    static constexpr std::size_t kTaskFieldsAfter = 6;    // notification value, state, allocation
    static constexpr std::size_t kTaskControlBlock =
        (kTaskFieldsBefore + kReentBytes + kTaskFieldsAfter + 3) / 4 * 4;  // 188
    static constexpr std::size_t kQueueControlBlock = 80;

    std::size_t capacity = 0;
    std::size_t used = 0;
    bool allocate(std::size_t bytes);
};

class Kernel final : public Scheduler {
  public:
    static constexpr int kPriorities = 56;

    /// The kernel of this process's board (created on first use).
    static Kernel& get();

    osKernelState_t state() const { return state_; }
    osStatus_t initialize();
    osStatus_t start();

    Thread* create_thread(osThreadFunc_t func, void* argument, const osThreadAttr_t* attr);
    MessageQueue* create_queue(uint32_t count, uint32_t size);
    /// The kernel's task delay: `ticks` ticks (0 yields), never for ever.
    osStatus_t delay(uint32_t ticks);
    osStatus_t put(MessageQueue* q, const void* msg, uint32_t timeout);
    osStatus_t get(MessageQueue* q, void* msg, uint32_t timeout);
    void yield();
    /// The probes of the board this kernel runs on.
    BoardProbes& probes() { return cpu_.probes(); }
    /// True where a CMSIS-RTOS v2 call acts as from an interrupt: in a handler,
    /// or with interrupts masked once the kernel runs.
    bool in_isr() const;

    uint32_t tick_count() const { return static_cast<uint32_t>(ticks_); }
    Thread* running() const { return current_; }
    const std::vector<std::unique_ptr<Thread>>& threads() const { return threads_; }
    const HeapModel& heap() const { return heap_; }

    Fiber* pick_next() override;
    bool should_yield(Fiber* running) override;
    void preempted(Fiber* running) override;

  private:
    Kernel();
    static void systick_handler();
    void tick();
    void set_state(Thread* t, Thread::State state);
    osStatus_t put_message(MessageQueue* q, const void* msg, uint32_t timeout, uint64_t& number);
    osStatus_t get_message(MessageQueue* q, void* msg, uint32_t timeout, uint64_t& number);
    void make_ready(Thread* t);
    void unready(Thread* t);
    enum class Wait { ForTicks, UpToTimeout };
    void block_current(uint32_t timeout, Wait kind);
    void request_switch() {
        switch_pending_ = true;
        settled_ = nullptr;
    }
    void wake(Thread* t, osStatus_t result);
    void wake_by_call(Thread* t, osStatus_t result);
    int top_ready_priority() const;
    static void enqueue_waiter(std::vector<Thread*>& list, Thread* t);
    static void remove_waiter(std::vector<Thread*>& list, Thread* t);

    Cpu& cpu_;
    osKernelState_t state_ = osKernelInactive;
    std::vector<std::unique_ptr<Thread>> threads_;
    std::vector<std::unique_ptr<MessageQueue>> queues_;
    std::array<ReadyList, kPriorities> ready_;
    uint64_t ready_mask_ = 0;  // bit p: ready_[p] is not empty
    static_assert(kPriorities <= 64);
    // Timed waits by (wake tick, sequence): first come, first woken on a tick.
    std::set<std::tuple<uint64_t, uint64_t, Thread*>> delayed_;
    uint64_t next_wait_seq_ = 0;
    Thread* current_ = nullptr;
    int context_ = kStartupContext;  // what the probes last saw switched in
    uint64_t ticks_ = 0;
    bool switch_pending_ = false;  // PendSV: the next platform call switches
    bool started_ = false;         // the first switch runs current_ as chosen at creation
    HeapModel heap_;
};

}  // namespace sim::rtos

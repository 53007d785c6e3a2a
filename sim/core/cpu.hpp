// The Cortex-M4 core of the virtual board: virtual time and the cycle
// counter, the NVIC, PRIMASK, exception entry into the firmware's handlers,
// and the loop that hands the core to the start-up code, the RTOS threads or
// the idle loop.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sim/core/board_rules.hpp"
#include "sim/core/events.hpp"
#include "sim/core/fiber.hpp"
#include "sim/core/probes.hpp"
#include "sim/core/time.hpp"

namespace sim {

/// What the RTOS offers the core: which fiber runs next and when the running
/// one must give up the core. Implemented by the kernel stand-in.
class Scheduler {
  public:
    virtual ~Scheduler() = default;
    /// The thread to run next (made current), or null when none is ready.
    virtual Fiber* pick_next() = 0;
    /// Asked at every platform call of `running`: true if it must leave the
    /// core now (a higher-priority thread is ready, or its time slice ended).
    virtual bool should_yield(Fiber* running) = 0;
    /// `running` was switched out while still ready.
    virtual void preempted(Fiber* running) = 0;

    /// A fiber should_yield would answer false for until the scheduler next
    /// changes its mind (null: ask every time). The core's polls skip the
    /// question for it: most platform calls find nothing to do.
    Fiber* settled() const { return settled_; }

  protected:
    Fiber* settled_ = nullptr;
};

struct HaltInfo {
    std::string where;
    Picos at = 0;
};

class Cpu {
  public:
    static constexpr int kFirstException = -16;         // IRQn of exception number 0
    static constexpr uint32_t kResetCoreHz = 16000000;  // internal oscillator
    static constexpr int kVectors = 16 + 82;
    static constexpr int kResetIRQn = -15;  // exception 1
    using Handler = void (*)();

    Cpu();

    // ---- time ----
    Picos now() const { return now_; }
    /// Core cycles since power-on: a function of virtual time and of the core
    /// clock's history only, so the cycle counter never drifts from the clock.
    uint64_t cycles() const { return cycles_before_ + stretch_cycles_; }
    EventQueue& events() { return events_; }
    /// Core clock in Hz; follows the firmware's SystemCoreClock.
    uint32_t core_hz() const {
        const uint32_t hz = core_hz_source_ ? *core_hz_source_ : kResetCoreHz;
        return hz != 0 ? hz : kResetCoreHz;
    }
    void set_core_hz_source(const uint32_t* system_core_clock) {
        core_hz_source_ = system_core_clock;
    }

    /// A platform call: costs `cycles` core cycles, then lets events,
    /// interrupts and the scheduler act.
    void consume(uint32_t cycles) {
        wait_clean_ = false;
        wait_read_armed_ = false;
        advance_cycles(cycles);
        poll();
    }
    /// A register read whose value stays put until the board acts (a write,
    /// an event): costs like consume() but keeps a busy wait's run clean.
    void consume_steady(uint32_t cycles) {
        wait_read_armed_ = false;
        advance_cycles(cycles);
        poll();
    }
    /// A polling loop's wait: the core spins until the next event.
    void spin_until_next_event();
    /// Instructions that ran between platform calls (the ARM image's, on the
    /// emulated core): `cycles` pass and due events run, while interrupts
    /// and thread switches wait for the next platform call.
    void elapse(uint64_t cycles) {
        advance_cycles(cycles);
        progress_.store(now_, std::memory_order_relaxed);
        if (events_.next_time() <= now_) {
            wait_clean_ = false;
            events_.run_due(now_);
        }
    }
    /// True if the next platform call has work to do: an interrupt can be
    /// taken, the run's end has come, or the board has halted.
    bool wants_core() const {
        return now_ >= run_end_ || halted_ ||
               (pending_count_ > 0 && !primask_ && best_pending() >= 0);
    }

    // ---- busy waits on the cycle counter ----
    /// One comparison of a busy wait: CYCCNT - start against limit, with its
    /// result, from the call site `site`.
    struct BusyWait {
        uintptr_t site = 0;
        uint32_t start = 0, limit = 0;
        int op = 0;
        bool result = false;
        bool operator==(const BusyWait&) const = default;
    };
    /// Something other than a steady read happened: a busy wait's run ends.
    void not_steady() { wait_clean_ = false; }
    /// The cycle counter was read for a comparison (nothing may come between).
    void busy_wait_read() { wait_read_armed_ = true; }
    /// The comparison of that read. If the same comparison came last time and
    /// only steady reads happened since, the loop around it repeats exactly
    /// until an event: returns its period in cycles; 0 otherwise.
    uint64_t busy_wait_period(const BusyWait& wait);
    /// Whole periods of `period` cycles that pass before the next event or the
    /// end of the run (none of their polls would see anything happen).
    uint64_t quiet_periods(uint64_t period);
    /// Lets `cycles` pass at once, as the polls skipped would have.
    void skip_quiet(uint64_t cycles);
    /// __WFI: sleep until an interrupt; a core that can never be woken halts.
    void wait_for_interrupt(const char* where);
    /// The board stops for good (nothing the firmware can do changes that).
    void halt(const char* where);
    /// A chip rule is broken in a way that corrupts execution on the chip:
    /// halts with "board rule: <what>" (what names the values and the limit).
    void break_rule(const std::string& what) { halt(("board rule: " + what).c_str()); }
    /// Breaches the chip tolerates or that only degrade it.
    BoardRules& rules() { return rules_; }
    const BoardRules& rules() const { return rules_; }

    // ---- NVIC and PRIMASK ----
    void set_vector(int irqn, Handler handler) { vectors_[index(irqn)] = handler; }
    Handler reset_vector() const { return vectors_[index(kResetIRQn)]; }
    void enable_irq(int irqn) {
        enabled_[index(irqn)] = true;
        set_bit(enabled_bits_, index(irqn), true);
    }
    void disable_irq(int irqn) {
        enabled_[index(irqn)] = false;
        set_bit(enabled_bits_, index(irqn), false);
    }
    bool irq_enabled(int irqn) const { return enabled_[index(irqn)]; }
    void set_pending(int irqn);
    void clear_pending(int irqn);
    bool pending(int irqn) const { return pending_[index(irqn)]; }
    /// Priority as a 4-bit preemption level, 0 most urgent.
    void set_priority(int irqn, uint8_t level) { priority_[index(irqn)] = level; }
    uint8_t priority(int irqn) const { return priority_[index(irqn)]; }
    void set_priority_grouping(uint32_t group) { priority_grouping_ = group; }
    uint32_t priority_grouping() const { return priority_grouping_; }
    void set_primask(bool masked);
    bool primask() const { return primask_; }
    bool in_handler() const { return handler_depth_ > 0; }
    int active_exception() const { return active_exception_; }

    // ---- who runs ----
    void set_scheduler(Scheduler* scheduler) { scheduler_ = scheduler; }
    /// Creates the start-up context that runs `reset` (the reset vector).
    void power_on(std::function<void()> reset);
    /// The start-up context hands the core to the RTOS for good.
    [[noreturn]] void leave_startup();
    /// The running thread blocks: give the core back to the board.
    void switch_out();
    /// Runs the board until virtual time `end` or a halt.
    void run_until(Picos end);
    /// From an event or a listener: the current run_until ends here, at the
    /// next poll, as it does at its end (a scripted run's stop on a match).
    void end_run_here() {
        if (run_end_ > now_) {
            run_end_ = now_;
        }
    }

    const std::optional<HaltInfo>& halted() const { return halted_; }
    /// The board's observation points (sim/core/probes.hpp).
    BoardProbes& probes() { return probes_; }
    /// Virtual time as of the last platform call, readable from any host
    /// thread: a watchdog sees from it whether the firmware still calls in.
    Picos progress() const { return progress_.load(std::memory_order_relaxed); }

    /// Host stack of each firmware context: the firmware's 1 KiB stacks are
    /// sized for the chip, the host and its sanitizers need far more.
    static constexpr std::size_t kHostStackBytes = 512 * 1024;

  private:
    static constexpr int index(int irqn) { return irqn - kFirstException; }
    using VectorBits = std::array<uint64_t, (kVectors + 63) / 64>;
    static void set_bit(VectorBits& bits, int v, bool on) {
        const uint64_t mask = uint64_t{1} << (v % 64);
        bits[static_cast<std::size_t>(v / 64)] =
            on ? bits[static_cast<std::size_t>(v / 64)] | mask
               : bits[static_cast<std::size_t>(v / 64)] & ~mask;
    }
    void advance_cycles(uint64_t cycles) {
        if (core_hz() != clock_hz_ || cycles >= (uint64_t{1} << 32)) [[unlikely]] {
            advance_cycles_slow(cycles);
            return;
        }
        stretch_cycles_ += cycles;
        ps_q_ += cycles * ps_per_cycle_q_;
        ps_r_ += cycles * ps_per_cycle_r_;  // below 2^32 x 2^32
        if (ps_r_ >= clock_hz_) {
            ps_q_ += ps_r_ / clock_hz_;
            ps_r_ %= clock_hz_;
        }
        now_ = clock_since_ + static_cast<Picos>(ps_q_ + (ps_r_ != 0 ? 1 : 0));
    }
    void advance_cycles_slow(uint64_t cycles);
    void advance_to(Picos to);
    // Events due, interrupts to take, the run's end, a halt or a thread
    // switch; the common case, none of them, inline.
    void poll() {
        progress_.store(now_, std::memory_order_relaxed);
        if (events_.next_time() > now_ && pending_count_ == 0 && now_ < run_end_ && !halted_ &&
            scheduler_ != nullptr && Fiber::current() == scheduler_->settled()) [[likely]] {
            return;
        }
        poll_slow();
    }
    void poll_slow();
    void dispatch_interrupts();
    int best_pending() const;
    void run_handler(int vector);
    void idle_loop();

    void follow_core_clock();

    Picos now_ = 0;
    // The core clock's current stretch: since `clock_since_` it has run at
    // `clock_hz_`, and `cycles_before_` cycles had passed when it began.
    Picos clock_since_ = 0;
    uint64_t cycles_before_ = 0;
    uint32_t clock_hz_ = 0;
    // Where now_ is in the stretch, kept so that a platform call divides by
    // nothing wider than 64 bits: stretch_cycles_ = floor((now_ -
    // clock_since_) x f / 10^12), and stretch_cycles_ x 10^12 = ps_q_ x f + ps_r_.
    uint64_t stretch_cycles_ = 0;
    uint64_t ps_q_ = 0, ps_r_ = 0;
    uint64_t ps_per_cycle_q_ = 0, ps_per_cycle_r_ = 0;  // 10^12 = q x f + r
    void set_stretch_position();
    const uint32_t* core_hz_source_ = nullptr;
    EventQueue events_;

    std::array<Handler, kVectors> vectors_{};
    std::array<bool, kVectors> enabled_{};
    std::array<bool, kVectors> pending_{};
    std::array<uint8_t, kVectors> priority_{};
    int pending_count_ = 0;
    // The same flags as bit sets, so the search for the next interrupt only
    // looks at vectors both pending and enabled.
    VectorBits pending_bits_{};
    VectorBits enabled_bits_{};
    uint32_t priority_grouping_ = 0;
    bool primask_ = false;
    int handler_depth_ = 0;
    int active_level_ = 256;  // current execution priority; 256 = thread mode
    int active_exception_ = 0;

    Scheduler* scheduler_ = nullptr;
    std::unique_ptr<Fiber> startup_;
    bool startup_done_ = false;
    std::unique_ptr<Fiber> idle_;
    Fiber* interrupted_ = nullptr;  // stopped mid-way by the end of a run; resumes first
    Fiber* last_run_ = nullptr;
    Picos run_end_ = 0;
    std::optional<HaltInfo> halted_;
    BoardRules rules_;
    BoardProbes probes_;
    std::atomic<Picos> progress_{0};

    // Busy-wait tracking: the last comparison, its cycle, and whether only
    // steady reads happened since.
    BusyWait last_wait_{};
    uint64_t last_wait_cycle_ = 0;
    Fiber* last_wait_fiber_ = nullptr;
    bool wait_clean_ = false;
    bool wait_read_armed_ = false;
};

}  // namespace sim

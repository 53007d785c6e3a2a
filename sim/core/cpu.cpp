#include "sim/core/cpu.hpp"

#include <bit>

#include "sim/core/costs.hpp"

namespace sim {

Cpu::Cpu() {
    // Fixed-priority exceptions: NMI -2, HardFault -1, the rest default to 0.
    priority_.fill(0);
    follow_core_clock();
}

// Cycle k of a stretch at f Hz begins at ceil(k x 10^12 / f) ps into it, so
// the count at time t is floor(t x f / 10^12): exact over any length of run.
// The position is carried forward as a quotient and remainder; 128 bits only
// when time jumps, since t x f passes 2^64 within a second at 168 MHz.
void Cpu::set_stretch_position() {
    const unsigned __int128 scaled =
        static_cast<unsigned __int128>(now_ - clock_since_) * clock_hz_;
    stretch_cycles_ = static_cast<uint64_t>(scaled / kPsPerS);
    const unsigned __int128 ps = static_cast<unsigned __int128>(stretch_cycles_) * kPsPerS;
    ps_q_ = static_cast<uint64_t>(ps / clock_hz_);
    ps_r_ = static_cast<uint64_t>(ps % clock_hz_);
}

void Cpu::follow_core_clock() {
    const uint32_t hz = core_hz();
    if (hz != clock_hz_) {
        cycles_before_ = clock_hz_ != 0 ? cycles() : 0;
        clock_since_ = now_;
        clock_hz_ = hz;
        stretch_cycles_ = ps_q_ = ps_r_ = 0;
        ps_per_cycle_q_ = kPsPerS / hz;
        ps_per_cycle_r_ = kPsPerS % hz;
    }
}

void Cpu::advance_cycles_slow(uint64_t cycles) {
    follow_core_clock();
    now_ =
        clock_since_ +
        static_cast<Picos>(
            ((static_cast<unsigned __int128>(stretch_cycles_ + cycles)) * kPsPerS + clock_hz_ - 1) /
            clock_hz_);
    set_stretch_position();
}

void Cpu::advance_to(Picos to) {
    follow_core_clock();
    if (to <= now_) {
        return;
    }
    now_ = to;
    // From the current cycle's start, floor(delta x f / 10^12) more cycles
    // have begun by `to`, or one more (the start lies up to 1 ps after the
    // exact boundary): 64 bits while delta x f fits.
    const uint64_t begun = ps_q_ + (ps_r_ != 0 ? 1 : 0);
    const uint64_t delta = static_cast<uint64_t>(to - clock_since_) - begun;
    if (delta >= (uint64_t{1} << 35) || clock_hz_ >= (1u << 28)) {
        set_stretch_position();
        return;
    }
    const uint64_t more = delta * clock_hz_ / kPsPerS;
    stretch_cycles_ += more;
    ps_q_ += more * ps_per_cycle_q_;
    ps_r_ += more * ps_per_cycle_r_;
    ps_q_ += ps_r_ / clock_hz_;
    ps_r_ %= clock_hz_;
    uint64_t q = ps_q_ + ps_per_cycle_q_;
    uint64_t r = ps_r_ + ps_per_cycle_r_;
    if (r >= clock_hz_) {
        r -= clock_hz_;
        q++;
    }
    if (q + (r != 0 ? 1 : 0) <= static_cast<uint64_t>(to - clock_since_)) {
        stretch_cycles_++;
        ps_q_ = q;
        ps_r_ = r;
    }
}

uint64_t Cpu::busy_wait_period(const BusyWait& wait) {
    const bool armed = wait_read_armed_;
    wait_read_armed_ = false;
    const uint64_t now_cycles = cycles();
    const bool repeats = armed && wait_clean_ && last_wait_fiber_ == Fiber::current() &&
                         wait == last_wait_ && now_cycles > last_wait_cycle_;
    const uint64_t period = repeats ? now_cycles - last_wait_cycle_ : 0;
    last_wait_ = wait;
    last_wait_cycle_ = now_cycles;
    last_wait_fiber_ = Fiber::current();
    wait_clean_ = armed;
    return period;
}

uint64_t Cpu::quiet_periods(uint64_t period) {
    follow_core_clock();
    const Picos next = events_.next_time();
    const Picos limit = next < run_end_ ? next : run_end_;
    if (period == 0 || limit <= now_ || halted_) {
        return 0;
    }
    // The last skipped poll must come before `limit`: cycle k polls at
    // clock_since_ + ceil(k x 10^12 / f), which is < limit while
    // k <= floor((limit - clock_since_ - 1) x f / 10^12).
    const unsigned __int128 last =
        static_cast<unsigned __int128>(limit - clock_since_ - 1) * clock_hz_ / kPsPerS;
    const uint64_t here = stretch_cycles_;
    return last > here ? static_cast<uint64_t>((last - here) / period) : 0;
}

void Cpu::skip_quiet(uint64_t cycles) {
    advance_cycles(cycles);
    progress_.store(now_, std::memory_order_relaxed);
    last_wait_cycle_ += cycles;
}

void Cpu::poll_slow() {
    if (events_.next_time() <= now_) {
        wait_clean_ = false;
        events_.run_due(now_);
    }
    if (pending_count_ > 0) {
        dispatch_interrupts();
    }
    Fiber* self = Fiber::current();
    if (self == nullptr) {
        return;
    }
    if (halted_) {
        Fiber::suspend();  // never resumed
        return;
    }
    if (now_ >= run_end_) {
        interrupted_ = self;
        Fiber::suspend();
        return;
    }
    // Thread switches wait for thread mode with interrupts unmasked, as PendSV does.
    if (handler_depth_ == 0 && !primask_ && scheduler_ != nullptr && self != startup_.get() &&
        scheduler_->should_yield(self)) {
        if (self != idle_.get()) {
            scheduler_->preempted(self);
        }
        Fiber::suspend();
    }
}

void Cpu::spin_until_next_event() {
    const Picos next = events_.next_time();
    advance_to(next < run_end_ ? next : run_end_);
    poll();
}

void Cpu::wait_for_interrupt(const char* where) {
    // Masked, or inside a handler: nothing will ever take this core out of
    // its loop again. Otherwise sleep until the next event.
    if (primask_ || handler_depth_ > 0) {
        halt(where);
        return;
    }
    consume(cost::kIntrinsic);
    spin_until_next_event();
}

void Cpu::halt(const char* where) {
    if (!halted_) {
        halted_ = HaltInfo{where ? where : "?", now_};
        probes_.halt.emit(halted_->where, now_);
    }
    if (Fiber::current() != nullptr) {
        Fiber::suspend();
    }
}

void Cpu::set_pending(int irqn) {
    bool& p = pending_[index(irqn)];
    if (!p) {
        p = true;
        pending_count_++;
        set_bit(pending_bits_, index(irqn), true);
    }
}

void Cpu::clear_pending(int irqn) {
    bool& p = pending_[index(irqn)];
    if (p) {
        p = false;
        pending_count_--;
        set_bit(pending_bits_, index(irqn), false);
    }
}

void Cpu::set_primask(bool masked) {
    primask_ = masked;
    if (!masked) {
        dispatch_interrupts();
    }
}

int Cpu::best_pending() const {
    int best = -1;
    int best_level = 256;
    for (std::size_t w = 0; w < pending_bits_.size(); w++) {
        for (uint64_t bits = pending_bits_[w] & enabled_bits_[w]; bits != 0; bits &= bits - 1) {
            const int v = static_cast<int>(w * 64) + std::countr_zero(bits);
            if (priority_[v] < best_level) {
                best = v;
                best_level = priority_[v];
            }
        }
    }
    // Only the group-priority bits preempt; with 4 priority bits, grouping g
    // leaves the low g - 3 of them as subpriority.
    const int sub_bits = priority_grouping_ > 3 ? static_cast<int>(priority_grouping_) - 3 : 0;
    if (best >= 0 && (best_level >> sub_bits) >= (active_level_ >> sub_bits)) {
        return -1;
    }
    return best;
}

void Cpu::dispatch_interrupts() {
    while (pending_count_ > 0 && !primask_ && !halted_) {
        const int vector = best_pending();
        if (vector < 0) {
            return;
        }
        run_handler(vector);
    }
}

void Cpu::run_handler(int vector) {
    wait_clean_ = false;
    pending_[vector] = false;
    pending_count_--;
    set_bit(pending_bits_, vector, false);
    const int saved_level = active_level_;
    const int saved_exception = active_exception_;
    active_level_ = priority_[vector];
    active_exception_ = vector;
    handler_depth_++;
    const int irqn = vector + kFirstException;
    probes_.irq_enter.emit(irqn, now_);
    advance_cycles(cost::kInterruptEntry);
    if (Handler handler = vectors_[vector]) {
        handler();
    } else {
        halt("Default_Handler");
    }
    advance_cycles(cost::kInterruptExit);
    probes_.irq_exit.emit(irqn, now_);
    handler_depth_--;
    active_level_ = saved_level;
    active_exception_ = saved_exception;
}

void Cpu::power_on(std::function<void()> reset) {
    startup_ = std::make_unique<Fiber>(std::move(reset), kHostStackBytes);
    idle_ = std::make_unique<Fiber>([this] { idle_loop(); }, kHostStackBytes);
}

void Cpu::leave_startup() {
    startup_done_ = true;
    for (;;) {
        Fiber::suspend();
    }
}

void Cpu::switch_out() {
    Fiber::suspend();
}

void Cpu::idle_loop() {
    for (;;) {
        spin_until_next_event();
    }
}

void Cpu::run_until(Picos end) {
    run_end_ = end;
    while (!halted_ && now_ < run_end_) {
        Fiber* next = nullptr;
        if (interrupted_ != nullptr) {
            next = interrupted_;
            interrupted_ = nullptr;
        } else if (!startup_done_) {
            next = startup_.get();
        } else {
            next = scheduler_ ? scheduler_->pick_next() : nullptr;
            if (next == nullptr) {
                next = idle_.get();
            }
        }
        if (next == nullptr) {
            break;
        }
        if (last_run_ != nullptr && next != last_run_ && next != idle_.get() && startup_done_) {
            // The switch is PendSV's work on the chip: shown as that exception.
            constexpr int kPendSv = -2;
            probes_.irq_enter.emit(kPendSv, now_);
            advance_cycles(cost::kContextSwitch);
            probes_.irq_exit.emit(kPendSv, now_);
        }
        last_run_ = next;
        wait_clean_ = false;
        next->resume();
    }
    // A halted core runs nothing more, but the peripherals finish what they
    // were doing (a byte in a shift register still leaves).
    while (halted_ && now_ < run_end_) {
        const Picos next = events_.next_time();
        advance_to(next < run_end_ ? next : run_end_);
        events_.run_due(now_);
    }
}

}  // namespace sim

#include "sim/models/tim1.hpp"

namespace sim {

Tim1::Tim1(Cpu& cpu, Rcc& rcc, int update_irq)
    : GatedBlock(rcc, Rcc::APB2ENR, 1u << 0),
      cpu_(cpu),
      rcc_mut_(rcc),
      update_irq_(update_irq),
      update_event_([this](Picos at) { update(at); }) {
    rcc_mut_.on_change([this] { clock_changed(); });
}

void Tim1::reset() {
    cpu_.events().cancel(update_event_);
    timer_hz_ = rcc_.apb2_timer_hz();
}

Picos Tim1::period() const {
    const uint64_t counts = static_cast<uint64_t>(reg(PSC) + 1) * (reg(ARR) + 1);
    return static_cast<Picos>(static_cast<unsigned __int128>(counts) * kPsPerS / timer_hz_);
}

void Tim1::restart_period(Picos from) {
    period_start_ = from;
    if ((reg(CR1) & 1u) && clocked() && reg(ARR) != 0) {
        cpu_.events().schedule(update_event_, period_start_ + period());
    } else {
        cpu_.events().cancel(update_event_);
    }
}

void Tim1::clock_changed() {
    const uint32_t hz = rcc_.apb2_timer_hz();
    if (hz == timer_hz_) {
        return;
    }
    // The counts left in this period now go at the new rate.
    if (update_event_.armed()) {
        const Picos now = cpu_.now();
        const Picos old_period = period();
        const Picos elapsed = now - period_start_;
        const Picos left_old = old_period > elapsed ? old_period - elapsed : 0;
        timer_hz_ = hz;
        const Picos left_new = static_cast<Picos>(static_cast<unsigned __int128>(left_old) *
                                                  period() / (old_period ? old_period : 1));
        period_start_ = now + left_new - period();
        cpu_.events().schedule(update_event_, now + left_new);
    } else {
        timer_hz_ = hz;
    }
}

uint32_t Tim1::read(uint32_t offset, uint32_t& cell) {
    if (offset == CNT && update_event_.armed()) {
        const Picos per_count = period() / (reg(ARR) + 1);
        return per_count ? static_cast<uint32_t>((cpu_.now() - period_start_) / per_count) : 0;
    }
    return cell;
}

void Tim1::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    if (offset == SR) {
        cell &= value;  // flags clear by writing 0
        if (!(cell & 1u)) {
            cpu_.clear_pending(update_irq_);
        }
        return;
    }
    if (offset == EGR) {
        if (value & 1u) {  // update generation: restart the counter, flag the update
            reg(SR) |= 1u;
            restart_period(cpu_.now());
        }
        return;
    }
    const bool was_on = reg(CR1) & 1u;
    cell = value;
    if (offset == CR1 && was_on != static_cast<bool>(value & 1u)) {
        timer_hz_ = rcc_.apb2_timer_hz();
        restart_period(cpu_.now());
    }
}

void Tim1::update(Picos at) {
    reg(SR) |= 1u;
    if (reg(DIER) & 1u) {
        cpu_.set_pending(update_irq_);
    }
    restart_period(at);  // the counter wrapped at `at`, not when the core noticed
}

}  // namespace sim

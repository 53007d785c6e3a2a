#include "peripherals.hpp"

namespace sim {

namespace {
constexpr uint32_t kTxe = 1u << 7, kTc = 1u << 6;
constexpr uint32_t kUe = 1u << 13, kTe = 1u << 3, kM = 1u << 12;
}  // namespace

// ---------------------------------------------------------------- USART

Usart::Usart(Cpu& cpu, const Rcc& rcc, uintptr_t base, uint32_t enr_bit, bool on_apb2)
    : GatedBlock(rcc, on_apb2 ? Rcc::APB2ENR : Rcc::APB1ENR, enr_bit),
      cpu_(cpu),
      base_(base),
      on_apb2_(on_apb2),
      done_([this](Picos at) { shifted(at); }) {}

void Usart::reset() {
    reg(SR) = kTxe | kTc;
    shifting_ = false;
    tdr_full_ = false;
    cpu_.events().cancel(done_);
}

Picos Usart::frame_time() const {
    const uint32_t cr1 = reg(CR1);
    const uint32_t stop_code = (reg(CR2) >> 12) & 0x3;
    // Half-bit units: start 2, data 16 or 18, stop 1, 2, 3 or 4 (0.5, 1, 1.5, 2 bits).
    static constexpr uint32_t kStopHalves[4] = {2, 1, 4, 3};
    const uint32_t halves = 2 + ((cr1 & kM) ? 18 : 16) + kStopHalves[stop_code];
    // A parity bit takes the place of a data bit: M alone sets the length.
    const uint32_t pclk = on_apb2_ ? rcc_.pclk2_hz() : rcc_.pclk1_hz();
    const uint32_t brr = reg(BRR) & 0xFFFF;
    if (pclk == 0 || brr == 0) {
        return kPsPerMs;  // unconfigured: the frame never ends in any useful time
    }
    // PCLK periods a bit: 16 x (mantissa + BRR[3:0]/16) = BRR with 16-times
    // oversampling; 8 x (mantissa + BRR[2:0]/8) with 8-times (BRR[3] unused).
    const uint64_t clocks = (cr1 & (1u << 15)) ? ((brr >> 4) << 3) | (brr & 0x7) : brr;
    const unsigned __int128 ps =
        static_cast<unsigned __int128>(clocks) * halves * kPsPerS / (2 * uint64_t{pclk});
    return static_cast<Picos>(ps);
}

uint32_t Usart::read(uint32_t offset, uint32_t& cell) {
    if (offset == DR) {
        return 0;  // nothing is ever received on this board
    }
    return cell;
}

void Usart::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    if (offset == DR) {
        const uint32_t cr1 = reg(CR1);
        if (!(cr1 & kUe) || !(cr1 & kTe)) {
            return;
        }
        const uint8_t byte = static_cast<uint8_t>(value);
        if (!shifting_) {
            start_shift(byte, cpu_.now());
        } else {
            // Writing a full data register overwrites it, as on the chip.
            tdr_ = byte;
            tdr_full_ = true;
            reg(SR) &= ~kTxe;
        }
        reg(SR) &= ~kTc;
        return;
    }
    if (offset == SR) {
        // Only TC (and RXNE) can be cleared by software.
        cell = (cell & ~(kTc | (1u << 5))) | (cell & value & (kTc | (1u << 5)));
        return;
    }
    cell = value;
}

void Usart::start_shift(uint8_t byte, Picos from) {
    shifting_ = true;
    shift_byte_ = byte;
    cpu_.events().schedule(done_, from + frame_time());
}

void Usart::shifted(Picos at) {
    shifting_ = false;
    if (sink_) {
        sink_(shift_byte_, at);
    }
    if (tdr_full_) {
        tdr_full_ = false;
        reg(SR) |= kTxe;
        start_shift(tdr_, at);  // the next frame follows the stop bits at once
    } else {
        reg(SR) |= kTc;
    }
}

// ---------------------------------------------------------------- TIM1

Tim1::Tim1(Cpu& cpu, Rcc& rcc)
    : GatedBlock(rcc, Rcc::APB2ENR, 1u << 0),
      cpu_(cpu),
      rcc_mut_(rcc),
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
            cpu_.clear_pending(kUpdateIrq);
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
        cpu_.set_pending(kUpdateIrq);
    }
    restart_period(at);  // the counter wrapped at `at`, not when the core noticed
}

// ---------------------------------------------------------------- GPIO

GpioPort::GpioPort(const Rcc& rcc, uintptr_t base, int index)
    : GatedBlock(rcc, Rcc::AHB1ENR, 1u << index), base_(base), index_(index) {}

void GpioPort::reset() {
    // Port A and B come out of reset with their debug pins configured.
    reg(MODER) = index_ == 0 ? 0xA8000000 : (index_ == 1 ? 0x00000280 : 0);
    reg(PUPDR) = index_ == 0 ? 0x64000000 : (index_ == 1 ? 0x00000100 : 0);
    reg(0x08) = index_ == 1 ? 0x000000C0 : 0;
    reg(ODR) = 0;
}

int GpioPort::level(int pin) const {
    const uint32_t mode = (reg(MODER) >> (2 * pin)) & 0x3;
    const uint32_t pull = (reg(PUPDR) >> (2 * pin)) & 0x3;
    const bool open_drain = (reg(OTYPER) >> pin) & 1u;
    const bool driven_high = (reg(ODR) >> pin) & 1u;
    if (mode == 3) {
        return 0;  // analog: input buffer and pulls off, IDR reads 0
    }
    if (mode == 1 || mode == 2) {
        if (!open_drain || !driven_high) {
            return driven_high ? 1 : 0;
        }
    }
    // Released line or input: the pull resistor decides (no pull reads low).
    return pull == 1 ? 1 : 0;
}

uint32_t GpioPort::read(uint32_t offset, uint32_t& cell) {
    if (offset == IDR) {
        uint32_t idr = 0;
        for (int pin = 0; pin < 16; pin++) {
            idr |= static_cast<uint32_t>(level(pin)) << pin;
        }
        return idr;
    }
    if (offset == BSRR) {
        return 0;
    }
    return cell;
}

void GpioPort::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    if (offset == BSRR) {
        uint32_t& odr = reg(ODR);
        odr = (odr | (value & 0xFFFF)) & ~((value >> 16) & ~value & 0xFFFF);
        return;
    }
    if (offset == IDR) {
        return;  // read-only
    }
    cell = value;
}

// ---------------------------------------------------------------- CAN

CanController::CanController(const Rcc& rcc, uintptr_t base, uint32_t enr_bit)
    : GatedBlock(rcc, Rcc::APB1ENR, enr_bit, Rcc::APB1ENR, 1u << 25), base_(base) {}

void CanController::reset() {
    reg(MCR) = 0x00010002;
    reg(MSR) = 0x00000C02;
}

void CanController::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    cell = value;
    if (offset == MCR) {
        const bool init = value & 1u;
        const bool sleep = (value & 2u) && !init;
        reg(MSR) = (reg(MSR) & ~0x3u) | (init ? 1u : 0u) | (sleep ? 2u : 0u);
    }
}

}  // namespace sim

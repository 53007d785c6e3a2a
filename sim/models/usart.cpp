#include "sim/models/usart.hpp"

namespace sim {
namespace {
constexpr uint32_t kTxe = 1u << 7, kTc = 1u << 6;
constexpr uint32_t kUe = 1u << 13, kTe = 1u << 3, kM = 1u << 12;
}  // namespace

Usart::Usart(Cpu& cpu, const Rcc& rcc, uint32_t enr_bit, bool on_apb2)
    : GatedBlock(rcc, on_apb2 ? Rcc::APB2ENR : Rcc::APB1ENR, enr_bit),
      cpu_(cpu),
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

}  // namespace sim

#include "sim/models/i2c.hpp"

namespace sim {

I2cController::I2cController(Cpu& cpu, Rcc& rcc, uint32_t enr_bit)
    : GatedBlock(rcc, Rcc::APB1ENR, enr_bit),
      cpu_(cpu),
      start_done_([this](Picos) {
          reg(SR1) |= kSb;
          reg(SR2) |= kMsl | kBusy;
          reg(CR1) &= ~kStart;
      }),
      // Nine clocks: eight address bits and the acknowledge slot, left high.
      address_done_([this](Picos) { reg(SR1) |= kAf; }),
      stop_done_([this](Picos) {
          reg(SR2) &= ~kMsl;
          if (!held_) {
              reg(SR2) &= ~kBusy;
          }
          reg(CR1) &= ~kStop;
      }) {}

void I2cController::reset() {
    for (uint32_t offset = 0; offset <= 0x20; offset += 4) {
        reg(offset) = 0;
    }
    cpu_.events().cancel(start_done_);
    cpu_.events().cancel(address_done_);
    cpu_.events().cancel(stop_done_);
    if (held_) {
        reg(SR2) |= kBusy;
    }
}

Picos I2cController::scl_period() const {
    const uint32_t ccr = reg(CCR);
    const uint32_t pclk1 = rcc_.pclk1_hz();
    const uint32_t count = ccr & 0xFFFU;
    if (count == 0 || pclk1 == 0) {
        return 0;
    }
    // Standard mode: high = low = CCR; fast mode: 1 + 2 (duty 2) or 9 + 16.
    const uint32_t clocks = (ccr & (1U << 15)) == 0 ? 2 : ((ccr & (1U << 14)) != 0 ? 25 : 3);
    return static_cast<Picos>(clocks) * count * kPsPerS / pclk1;
}

void I2cController::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    switch (offset) {
        case CR1: {
            if ((value & kSwrst) != 0) {
                reset();
                reg(CR1) = value;
                return;
            }
            const uint32_t rising = value & ~cell;
            cell = value;
            const Picos period = scl_period();
            if ((value & kPe) == 0 || period == 0) {
                return;  // no clock: START and STOP stay pending
            }
            if ((rising & kStart) != 0 && !held_) {
                cpu_.events().schedule(start_done_, cpu_.now() + period / 2);
            }
            if ((rising & kStop) != 0 && (reg(SR2) & kMsl) != 0) {
                cpu_.events().cancel(address_done_);
                cpu_.events().schedule(stop_done_, cpu_.now() + period);
            }
            return;
        }
        case DR:
            cell = value;
            if ((reg(SR1) & kSb) != 0) {
                reg(SR1) &= ~kSb;
                cpu_.events().schedule(address_done_, cpu_.now() + 9 * scl_period());
            }
            return;
        case SR1:
            // Error flags clear by writing 0; the others are read-only.
            cell &= value | 0x00FFU;
            return;
        case SR2:
            return;  // read-only
        default:
            cell = value;
    }
}

void I2cController::hold_bus(bool held) {
    held_ = held;
    if (held) {
        reg(SR2) |= kBusy;
    } else if ((reg(SR2) & kMsl) == 0) {
        reg(SR2) &= ~kBusy;
    }
}

}  // namespace sim

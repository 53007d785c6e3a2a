// GPIO port.
#pragma once

#include <cstdint>

#include "sim/models/gated_block.hpp"

namespace sim {

/// A GPIO port. Input levels: driven outputs read back what they drive;
/// released open-drain lines and inputs follow their pull resistor.
class GpioPort final : public GatedBlock {
  public:
    static constexpr uint32_t MODER = 0x00, OTYPER = 0x04, PUPDR = 0x0C, IDR = 0x10, ODR = 0x14,
                              BSRR = 0x18;

    GpioPort(const Rcc& rcc, int index);
    void reset() override;
    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;
    /// Level of one pin as the outside world sees it.
    int level(int pin) const;

  private:
    int index_;
};

}  // namespace sim

// I2C controller (master side) on a bus with nothing attached.
#pragma once

#include <cstdint>

#include "sim/core/cpu.hpp"
#include "sim/models/gated_block.hpp"

namespace sim {

/// An I2C controller whose two lines are released (pulled high) and reach no
/// device: a START goes out, the address byte is shifted out at the
/// configured clock and nobody acknowledges it (AF), a STOP frees the bus.
/// Timing follows CCR and PCLK1; without a programmed clock nothing happens.
/// `hold_bus` stands for another master or a stuck line: BUSY stays set.
class I2cController final : public GatedBlock {
  public:
    static constexpr uint32_t CR1 = 0x00, CR2 = 0x04, DR = 0x10, SR1 = 0x14, SR2 = 0x18, CCR = 0x1C;
    // CR1
    static constexpr uint32_t kPe = 1U << 0, kStart = 1U << 8, kStop = 1U << 9, kSwrst = 1U << 15;
    // SR1, SR2
    static constexpr uint32_t kSb = 1U << 0, kAddr = 1U << 1, kAf = 1U << 10;
    static constexpr uint32_t kMsl = 1U << 0, kBusy = 1U << 1;

    I2cController(Cpu& cpu, Rcc& rcc, uint32_t enr_bit);
    void reset() override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

    void hold_bus(bool held);
    /// One SCL period at the programmed clock; 0 when none is programmed.
    Picos scl_period() const;

  private:
    Cpu& cpu_;
    bool held_ = false;
    FunctionEvent start_done_;
    FunctionEvent address_done_;
    FunctionEvent stop_done_;
};

}  // namespace sim

// TIM1 as a time base.
#pragma once

#include <cstdint>

#include "sim/core/cpu.hpp"
#include "sim/models/gated_block.hpp"

namespace sim {

/// TIM1 as a time base: counts the APB2 timer clock through PSC and ARR and
/// raises the update interrupt.
class Tim1 final : public GatedBlock {
  public:
    static constexpr uint32_t CR1 = 0x00, DIER = 0x0C, SR = 0x10, EGR = 0x14, CNT = 0x24,
                              PSC = 0x28, ARR = 0x2C;

    Tim1(Cpu& cpu, Rcc& rcc, int update_irq);
    void reset() override;
    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

  private:
    Picos period() const;
    void restart_period(Picos from);
    void clock_changed();
    void update(Picos at);

    Cpu& cpu_;
    Rcc& rcc_mut_;
    int update_irq_;
    Picos period_start_ = 0;
    uint32_t timer_hz_ = 0;
    FunctionEvent update_event_;
};

}  // namespace sim

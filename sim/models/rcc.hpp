// Reset and clock control: oscillators, PLL, bus dividers and clock gates.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/core/bus.hpp"
#include "sim/core/cpu.hpp"
#include "sim/core/settings.hpp"

namespace sim {

struct RccSettings {
    bool no_crystal = false;  // the HSE crystal does not start
};

inline const Field<RccSettings> kRccFields[] = {
    {"faults.no_crystal", &RccSettings::no_crystal, "", 0, 1,
     "the HSE crystal does not start: start-up ends in `Error_Handler`"},
};

class Rcc final : public RegisterBlock {
  public:
    static constexpr uint32_t kHsiHz = 16000000;
    static constexpr uint32_t kHseHz = 8000000;  // the board's crystal

    // Register offsets
    static constexpr uint32_t CR = 0x00, PLLCFGR = 0x04, CFGR = 0x08, AHB1ENR = 0x30,
                              APB1ENR = 0x40, APB2ENR = 0x44;

    Rcc(Cpu& cpu, bool crystal_fitted);
    void reset() override;

    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

    uint32_t sysclk_hz() const;
    uint32_t hclk_hz() const { return hclk_hz_; }
    uint32_t pclk1_hz() const;
    uint32_t pclk2_hz() const;
    /// Clock of the timers on APB2 (TIM1): twice PCLK2 when APB2 is divided.
    uint32_t apb2_timer_hz() const;
    bool gate(uint32_t enr_offset, uint32_t bit) const;
    const uint32_t* hclk_source() const { return &hclk_hz_; }
    /// Called after any change of the clock tree.
    void on_change(std::function<void()> listener) { listeners_.push_back(std::move(listener)); }

  private:
    void update();

    Cpu& cpu_;
    bool crystal_;
    uint32_t hclk_hz_ = kHsiHz;
    FunctionEvent hse_ready_;
    FunctionEvent pll_locked_;
    std::vector<std::function<void()>> listeners_;
};

}  // namespace sim

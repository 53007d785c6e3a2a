// Reset and clock control: oscillators, PLL, bus dividers and clock gates,
// with the clock tree's limits checked as each change takes effect; the
// FLASH interface's wait states and PWR's voltage scale take part in them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/bus.hpp"
#include "sim/core/cpu.hpp"
#include "sim/core/settings.hpp"

namespace sim {

struct RccSettings {
    bool no_crystal = false;  // the HSE crystal does not start
    double supply_v = 3.3;    // VDD: a chosen value (the board's regulator is not known)
};

inline const Field<RccSettings> kRccFields[] = {
    {"faults.no_crystal", &RccSettings::no_crystal, "", 0, 1,
     "the HSE crystal does not start: start-up ends in `Error_Handler`"},
    // RM0090 Table 10 covers 1.8 to 3.6 V.
    {"board.supply_v",
     &RccSettings::supply_v,
     "V",
     1.8,
     3.6,
     "the board's supply voltage VDD: the flash wait states HCLK needs depend on it (RM0090 "
     "Table 10); a chosen value, the board's regulator is not known",
     {nullptr, nullptr},
     false,
     /*when_set*/ true},
};

class FlashInterface;
class Pwr;

class Rcc final : public RegisterBlock {
  public:
    static constexpr uint32_t kHsiHz = 16000000;
    static constexpr uint32_t kHseHz = 8000000;  // the board's crystal

    // Register offsets
    static constexpr uint32_t CR = 0x00, PLLCFGR = 0x04, CFGR = 0x08, AHB1ENR = 0x30,
                              AHB2ENR = 0x34, APB1ENR = 0x40, APB2ENR = 0x44;

    /// `supply_v`: the board's VDD, which sets the flash wait states HCLK needs.
    Rcc(Cpu& cpu, bool crystal_fitted, double supply_v = 3.3);
    void reset() override;

    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

    uint32_t sysclk_hz() const;
    uint32_t hclk_hz() const { return hclk_hz_; }
    uint32_t pclk1_hz() const;
    uint32_t pclk2_hz() const;
    /// Clock of the timers on APB2 (TIM1): twice PCLK2 when APB2 is divided.
    uint32_t apb2_timer_hz() const;
    bool gate(uint32_t enr_offset, uint32_t bit) const { return (reg(enr_offset) & bit) != 0; }
    const uint32_t* hclk_source() const { return &hclk_hz_; }
    /// Called after any change of the clock tree.
    void on_change(std::function<void()> listener) { listeners_.push_back(std::move(listener)); }

    /// The blocks whose settings the running clocks must agree with.
    void attach(const FlashInterface& flash) { flash_ = &flash; }
    void attach(const Pwr& pwr) { pwr_ = &pwr; }
    /// Checks the running clocks against the chip's limits: a breach that
    /// corrupts execution halts the board.
    void check_limits();

  private:
    void update();
    /// Completes a requested switch of SYSCLK if its source is ready;
    /// `requested`: from a CFGR write (the one that breaks the rule).
    void switch_when_ready(bool requested);
    bool pll_starts();

    Cpu& cpu_;
    bool crystal_;
    double supply_v_;
    uint32_t hclk_hz_ = kHsiHz;
    const FlashInterface* flash_ = nullptr;
    const Pwr* pwr_ = nullptr;
    bool pll48_breach_ = false;
    FunctionEvent hse_ready_;
    FunctionEvent pll_locked_;
    std::vector<std::function<void()>> listeners_;
};

/// FLASH interface: ACR's LATENCY gives the wait states of every flash read;
/// the other registers are storage.
class FlashInterface final : public RegisterBlock {
  public:
    static constexpr uint32_t ACR = 0x00;
    explicit FlashInterface(Rcc& rcc) : rcc_(rcc) { rcc.attach(*this); }
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;
    uint32_t latency() const { return reg(ACR) & 0x7; }

  private:
    Rcc& rcc_;
};

/// Power control: CR's VOS selects the regulator's voltage scale, which
/// limits HCLK. Answers only while its APB1 clock is on.
class Pwr final : public RegisterBlock {
  public:
    static constexpr uint32_t CR = 0x00;
    static constexpr uint32_t kVos = 1u << 14;  // 1: scale 1, 0: scale 2
    explicit Pwr(Rcc& rcc) : rcc_(rcc) { rcc.attach(*this); }
    void reset() override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;
    bool clocked() const override { return rcc_.gate(Rcc::APB1ENR, 1u << 28); }
    bool scale1() const { return (reg(CR) & kVos) != 0; }

  private:
    Rcc& rcc_;
};

}  // namespace sim

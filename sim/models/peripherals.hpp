// Peripheral models of the STM32F407 used by the board: USART, the TIM1 time
// base, GPIO ports, and the blocks that only need storage behind a clock gate.
#pragma once

#include <cstdint>
#include <functional>

#include "../core/bus.hpp"
#include "../core/cpu.hpp"
#include "rcc.hpp"

namespace sim {

/// Storage registers that answer only while their clock gates are on.
class GatedBlock : public RegisterBlock {
  public:
    GatedBlock(const Rcc& rcc, uint32_t enr, uint32_t bit, uint32_t enr2 = 0, uint32_t bit2 = 0)
        : rcc_(rcc), enr_(enr), bit_(bit), enr2_(enr2), bit2_(bit2) {}
    bool clocked() const override {
        return rcc_.gate(enr_, bit_) && (bit2_ == 0 || rcc_.gate(enr2_, bit2_));
    }

  protected:
    const Rcc& rcc_;

  private:
    uint32_t enr_, bit_, enr2_, bit2_;
};

/// USART transmitter: a data register in front of a shift register; each
/// frame takes (start + data + stop bits) × BRR / PCLK.
class Usart final : public GatedBlock {
  public:
    using Sink = std::function<void(uint8_t byte, Picos done)>;
    static constexpr uint32_t SR = 0x00, DR = 0x04, BRR = 0x08, CR1 = 0x0C, CR2 = 0x10;

    Usart(Cpu& cpu, const Rcc& rcc, uintptr_t base, uint32_t enr_bit, bool on_apb2);
    void reset();
    void set_sink(Sink sink) { sink_ = std::move(sink); }

    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

    /// Time one frame takes with the current settings.
    Picos frame_time() const;

  private:
    uint32_t& reg(uint32_t offset) const { return *reinterpret_cast<uint32_t*>(base_ + offset); }
    void start_shift(uint8_t byte, Picos from);
    void shifted(Picos at);

    Cpu& cpu_;
    uintptr_t base_;
    bool on_apb2_;
    Sink sink_;
    bool shifting_ = false;
    uint8_t shift_byte_ = 0;
    bool tdr_full_ = false;
    uint8_t tdr_ = 0;
    FunctionEvent done_;
};

/// TIM1 as a time base: counts the APB2 timer clock through PSC and ARR and
/// raises the update interrupt.
class Tim1 final : public GatedBlock {
  public:
    static constexpr uintptr_t kBase = 0x40010000;
    static constexpr uint32_t CR1 = 0x00, DIER = 0x0C, SR = 0x10, EGR = 0x14, CNT = 0x24,
                              PSC = 0x28, ARR = 0x2C;
    static constexpr int kUpdateIrq = 25;

    Tim1(Cpu& cpu, Rcc& rcc);
    void reset();
    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

  private:
    uint32_t& reg(uint32_t offset) const { return *reinterpret_cast<uint32_t*>(kBase + offset); }
    Picos period() const;
    void restart_period(Picos from);
    void clock_changed();
    void update(Picos at);

    Cpu& cpu_;
    Rcc& rcc_mut_;
    Picos period_start_ = 0;
    uint32_t timer_hz_ = 0;
    FunctionEvent update_event_;
};

/// A GPIO port. Input levels: driven outputs read back what they drive;
/// released open-drain lines and inputs follow their pull resistor.
class GpioPort final : public GatedBlock {
  public:
    static constexpr uint32_t MODER = 0x00, OTYPER = 0x04, PUPDR = 0x0C, IDR = 0x10, ODR = 0x14,
                              BSRR = 0x18;

    GpioPort(const Rcc& rcc, uintptr_t base, int index);
    void reset();
    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;
    /// Level of one pin as the outside world sees it.
    int level(int pin) const;

  private:
    uint32_t& reg(uint32_t offset) const { return *reinterpret_cast<uint32_t*>(base_ + offset); }
    uintptr_t base_;
    int index_;
};

/// bxCAN controller, initialisation handshake only: requesting init or sleep
/// mode is acknowledged at once.
class CanController final : public GatedBlock {
  public:
    static constexpr uint32_t MCR = 0x00, MSR = 0x04;
    CanController(const Rcc& rcc, uintptr_t base, uint32_t enr_bit);
    void reset();
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

  private:
    uint32_t& reg(uint32_t offset) const { return *reinterpret_cast<uint32_t*>(base_ + offset); }
    uintptr_t base_;
};

}  // namespace sim

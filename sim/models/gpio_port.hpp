// GPIO port.
#pragma once

#include <array>
#include <cstdint>

#include "sim/core/cpu.hpp"
#include "sim/models/gated_block.hpp"
#include "sim/models/wire.hpp"

namespace sim {

/// A GPIO port. Input levels: driven outputs read back what they drive;
/// released open-drain lines and inputs follow their pull resistor. A pin
/// connected to a wire takes part in the wire's level (its output driving low
/// or high, its pull-up), and IDR shows the wire's real level, in output mode
/// too.
class GpioPort final : public GatedBlock {
  public:
    static constexpr uint32_t MODER = 0x00, OTYPER = 0x04, OSPEEDR = 0x08, PUPDR = 0x0C, IDR = 0x10,
                              ODR = 0x14, BSRR = 0x18;

    GpioPort(const Rcc& rcc, int index);
    void reset() override;
    uint32_t read(uint32_t offset, uint32_t& cell) override;
    // Levels change only by a write or a device's event.
    bool steady_read(uint32_t) const override { return true; }
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;
    /// Level of one pin as the outside world sees it.
    int level(int pin) const;
    /// Output speed code of one pin (0 low .. 3 very high). Edges are modelled
    /// as instantaneous at every speed.
    uint32_t speed(int pin) const { return (reg(OSPEEDR) >> (2 * pin)) & 0x3; }
    /// Puts `pin` on `wire`; its changes take the time of `cpu`.
    void connect(int pin, Wire& wire, const Cpu& cpu);

  private:
    Wire::Drive drive(int pin) const;
    void update_wires();

    int index_;
    const Cpu* cpu_ = nullptr;
    std::array<Wire*, 16> wires_{};
    std::array<int, 16> parties_{};
};

}  // namespace sim

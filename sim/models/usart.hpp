// USART: transmitter timing at the configured baud rate.
#pragma once

#include <cstdint>
#include <functional>

#include "sim/core/cpu.hpp"
#include "sim/models/gated_block.hpp"

namespace sim {

/// USART transmitter: a data register in front of a shift register; each
/// frame takes (start + data + stop bits) × BRR / PCLK.
class Usart final : public GatedBlock {
  public:
    using Sink = std::function<void(uint8_t byte, Picos done)>;
    static constexpr uint32_t SR = 0x00, DR = 0x04, BRR = 0x08, CR1 = 0x0C, CR2 = 0x10;

    Usart(Cpu& cpu, const Rcc& rcc, uint32_t enr_bit, bool on_apb2);
    void reset() override;
    void set_sink(Sink sink) { sink_ = std::move(sink); }

    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

    /// Time one frame takes with the current settings.
    Picos frame_time() const;

  private:
    void start_shift(uint8_t byte, Picos from);
    void shifted(Picos at);

    Cpu& cpu_;
    bool on_apb2_;
    Sink sink_;
    bool shifting_ = false;
    uint8_t shift_byte_ = 0;
    bool tdr_full_ = false;
    uint8_t tdr_ = 0;
    FunctionEvent done_;
};

}  // namespace sim

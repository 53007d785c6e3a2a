// bxCAN controller.
#pragma once

#include <cstdint>

#include "sim/models/gated_block.hpp"

namespace sim {

/// bxCAN controller, initialisation handshake only: requesting init or sleep
/// mode is acknowledged at once.
class CanController final : public GatedBlock {
  public:
    static constexpr uint32_t MCR = 0x00, MSR = 0x04;
    CanController(const Rcc& rcc, uint32_t enr_bit);
    void reset() override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

  private:
};

}  // namespace sim

// Register storage behind RCC clock gates.
#pragma once

#include <cstdint>

#include "sim/core/bus.hpp"
#include "sim/models/rcc.hpp"

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

}  // namespace sim

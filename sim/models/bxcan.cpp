#include "sim/models/bxcan.hpp"

namespace sim {

CanController::CanController(const Rcc& rcc, uint32_t enr_bit)
    : GatedBlock(rcc, Rcc::APB1ENR, enr_bit, Rcc::APB1ENR, 1u << 25) {}

void CanController::reset() {
    reg(MCR) = 0x00010002;
    reg(MSR) = 0x00000C02;
}

void CanController::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    cell = value;
    if (offset == MCR) {
        const bool init = value & 1u;
        const bool sleep = (value & 2u) && !init;
        reg(MSR) = (reg(MSR) & ~0x3u) | (init ? 1u : 0u) | (sleep ? 2u : 0u);
    }
}

}  // namespace sim

#include "sim/models/core_blocks.hpp"

namespace sim {

void Dwt::reset() {
    CoreBlock::reset();
    running_ = false;
    zero_at_ = 0;
}

uint32_t Dwt::read(uint32_t offset, uint32_t& cell) {
    if (offset == CYCCNT && running_) {
        return static_cast<uint32_t>(cpu_.cycles() - zero_at_);
    }
    return cell;
}

void Dwt::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    cell = value;
    if (offset == CYCCNT) {
        zero_at_ = cpu_.cycles() - value;
    } else if (offset == CTRL) {
        gate_changed();
    }
}

void Dwt::gate_changed() {
    const bool run = (reg(CTRL) & kCycCntEna) && debug_.trace_enabled();
    if (run == running_) {
        return;
    }
    if (running_) {
        reg(CYCCNT) = static_cast<uint32_t>(cpu_.cycles() - zero_at_);
    } else {
        zero_at_ = cpu_.cycles() - reg(CYCCNT);
    }
    running_ = run;
}

void CoreDebugBlock::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    cell = value;
    if (offset == DEMCR && dwt_ != nullptr) {
        dwt_->gate_changed();
    }
}

}  // namespace sim

#include "sim/models/core_blocks.hpp"

namespace sim {

void Scb::reset() {
    CoreBlock::reset();
    cpu_.set_priority_grouping(0);
}

uint32_t Scb::read(uint32_t offset, uint32_t& cell) {
    if (offset == AIRCR) {
        // Little-endian core (bit 15 clear); the reset request bits read 0.
        return kVectKeyStat | (cpu_.priority_grouping() << 8);
    }
    return cell;
}

void Scb::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    switch (offset) {
        case AIRCR:
            // Without the key the core ignores the whole write.
            if ((value & 0xFFFF0000u) == kVectKey) {
                cpu_.set_priority_grouping((value & kPriGroupMask) >> 8);
            }
            break;
        case CPACR:
            // Only CP10 and CP11 exist on the Cortex-M4F; the rest reads as zero.
            cell = value & kCp10Cp11Mask;
            break;
        default:
            cell = value;
    }
}

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

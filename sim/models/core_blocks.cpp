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

namespace {
// RM0090, "SysTick calibration value register": TENMS is 21000, 1 ms of
// HCLK / 8 at 168 MHz. NOREF and SKEW read 0 here: a chosen value.
constexpr uint32_t kCalibTenMs = 21000;
constexpr uint32_t kCount24 = 0x00FFFFFF;
}  // namespace

SysTick::SysTick(Cpu& cpu, Rcc& rcc)
    : cpu_(cpu), rcc_(rcc), wrap_([this](Picos) {
          wraps_++;
          next_++;
          regs_[CTRL / 4] |= kCountFlag;
          if (regs_[CTRL / 4] & kTickInt) {
              cpu_.set_pending(kIrqn);
          }
          schedule_next();
      }) {
    rcc.on_change([this] {
        if (hz_ != 0 && clock_hz() != hz_) {
            restart(value_now());
        }
    });
}

void SysTick::reset() {
    CoreBlock::reset();
    regs_[CALIB / 4] = kCalibTenMs;
    cpu_.events().cancel(wrap_);
    hz_ = 0;
    stopped_value_ = 0;
    wraps_ = 0;
}

uint32_t SysTick::clock_hz() const {
    if (!(regs_[CTRL / 4] & kEnable)) {
        return 0;
    }
    return (regs_[CTRL / 4] & kClkSource) ? cpu_.core_hz() : rcc_.hclk_hz() / 8;
}

uint32_t SysTick::value_now() const {
    if (hz_ == 0) {
        return stopped_value_;
    }
    const uint64_t clocks =
        static_cast<uint64_t>(static_cast<unsigned __int128>(cpu_.now() - since_) * hz_ / kPsPerS);
    if (clocks < first_) {
        return static_cast<uint32_t>(first_ - clocks);
    }
    const uint64_t period = uint64_t{regs_[LOAD / 4]} + 1;
    const uint64_t into = (clocks - first_) % period;
    return into == 0 ? 0 : static_cast<uint32_t>(period - into);
}

void SysTick::restart(uint32_t value) {
    cpu_.events().cancel(wrap_);
    stopped_value_ = value;
    hz_ = clock_hz();
    since_ = cpu_.now();
    next_ = 0;
    // From 0 the first clock reloads LOAD; LOAD 0 never counts from 1 to 0.
    first_ = value != 0 ? value : (regs_[LOAD / 4] != 0 ? uint64_t{regs_[LOAD / 4]} + 1 : 0);
    schedule_next();
}

void SysTick::schedule_next() {
    if (hz_ == 0 || first_ == 0 || (next_ > 0 && regs_[LOAD / 4] == 0)) {
        return;
    }
    const unsigned __int128 clocks =
        first_ + static_cast<unsigned __int128>(next_) * (uint64_t{regs_[LOAD / 4]} + 1);
    const auto ps = (clocks * kPsPerS + hz_ - 1) / hz_;
    cpu_.events().schedule(wrap_, since_ + static_cast<Picos>(ps));
}

uint32_t SysTick::read(uint32_t offset, uint32_t& cell) {
    if (offset == CTRL) {
        const uint32_t v = cell;
        cell &= ~kCountFlag;  // read clears it
        return v;
    }
    return offset == VAL ? value_now() : cell;
}

void SysTick::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    uint32_t count = value_now();  // a new LOAD waits for the next reload
    switch (offset) {
        case CTRL:
            cell = (cell & kCountFlag) | (value & (kEnable | kTickInt | kClkSource));
            break;
        case LOAD:
            cell = value & kCount24;
            break;
        case VAL:
            // Any write clears the counter and COUNTFLAG.
            regs_[CTRL / 4] &= ~kCountFlag;
            count = 0;
            break;
        default:
            return;  // CALIB is read-only
    }
    restart(count);
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

// Register blocks of the Cortex-M4 core the firmware touches: SCB, SysTick,
// DWT (the cycle counter) and CoreDebugBlock (DEMCR). They sit outside the peripheral
// region, so each keeps its own storage and the board attaches it there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/core/bus.hpp"
#include "sim/core/cpu.hpp"
#include "sim/models/rcc.hpp"

namespace sim {

/// A core block with its own register storage.
template <std::size_t Words>
class CoreBlock : public RegisterBlock {
  public:
    static constexpr std::size_t kBytes = Words * 4;
    void* storage() { return regs_.data(); }
    void reset() override { regs_.fill(0); }

  protected:
    std::array<uint32_t, Words> regs_{};
};

/// System control block. AIRCR takes a write only with its key and hands the
/// priority grouping to the core's NVIC; CPACR keeps only the FPU's fields.
/// The other registers are plain storage.
class Scb final : public CoreBlock<0x8C / 4> {
  public:
    static constexpr uint32_t AIRCR = 0x0C, CPACR = 0x88;
    static constexpr uint32_t kVectKey = 0x05FAu << 16;      // written to unlock AIRCR
    static constexpr uint32_t kVectKeyStat = 0xFA05u << 16;  // read back in its place
    static constexpr uint32_t kPriGroupMask = 7u << 8;
    static constexpr uint32_t kCp10Cp11Mask = 0xFu << 20;  // CP10 and CP11: the FPU

    explicit Scb(Cpu& cpu) : cpu_(cpu) {}
    void reset() override;
    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;
    /// True once CPACR grants full access to both FPU coprocessors.
    bool fpu_enabled() const { return (regs_[CPACR / 4] & kCp10Cp11Mask) == kCp10Cp11Mask; }

  private:
    Cpu& cpu_;
};

/// SysTick: a 24-bit counter down from LOAD, on the core clock (CLKSOURCE 1)
/// or on HCLK / 8 (CLKSOURCE 0: RM0090 Figure 21, "Clock tree"). Reaching 0
/// sets COUNTFLAG and, with TICKINT, pends the SysTick exception; the next
/// clock reloads LOAD, so the period is LOAD + 1 clocks. It follows every
/// change of HCLK.
class SysTick final : public CoreBlock<4> {
  public:
    static constexpr uint32_t CTRL = 0x00, LOAD = 0x04, VAL = 0x08, CALIB = 0x0C;
    static constexpr uint32_t kEnable = 1u << 0, kTickInt = 1u << 1, kClkSource = 1u << 2,
                              kCountFlag = 1u << 16;
    static constexpr int kIrqn = -1;

    SysTick(Cpu& cpu, Rcc& rcc);
    void reset() override;
    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;
    /// Times the counter has reached 0 since power-on.
    uint64_t wraps() const { return wraps_; }

  private:
    uint32_t clock_hz() const;
    uint32_t value_now() const;
    /// A new stretch from now, the counter at `value`.
    void restart(uint32_t value);
    void schedule_next();

    Cpu& cpu_;
    Rcc& rcc_;
    FunctionEvent wrap_;
    // Since `since_` the counter has run at `hz_` (0: stopped); it reaches 0
    // after `first_` clocks and then every LOAD + 1; `next_` wraps have passed.
    Picos since_ = 0;
    uint32_t hz_ = 0;
    uint64_t first_ = 0, next_ = 0;
    uint32_t stopped_value_ = 0;  // the counter while stopped
    uint64_t wraps_ = 0;
};

class CoreDebugBlock;

/// DWT: CYCCNT counts core cycles while CYCCNTENA and DEMCR.TRCENA are set,
/// read straight off the core's cycle count so it never drifts from time.
class Dwt final : public CoreBlock<8> {
  public:
    static constexpr uint32_t CTRL = 0x00, CYCCNT = 0x04;
    static constexpr uint32_t kCycCntEna = 1u << 0;

    Dwt(const Cpu& cpu, const CoreDebugBlock& debug) : cpu_(cpu), debug_(debug) {}
    void reset() override;
    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;
    // CYCCNT moves with time; the other registers are storage.
    bool steady_read(uint32_t offset) const override { return offset != CYCCNT || !running_; }
    /// True while CYCCNT counts.
    bool running() const { return running_; }
    /// CYCCNTENA or TRCENA changed: the count stops or goes on from where it is.
    void gate_changed();

  private:
    const Cpu& cpu_;
    const CoreDebugBlock& debug_;
    bool running_ = false;
    uint64_t zero_at_ = 0;  // core cycle count at which CYCCNT would read 0
};

class CoreDebugBlock final : public CoreBlock<4> {
  public:
    static constexpr uint32_t DEMCR = 0x0C;
    static constexpr uint32_t kTrcEna = 1u << 24;

    void watch(Dwt& dwt) { dwt_ = &dwt; }
    bool trace_enabled() const { return regs_[DEMCR / 4] & kTrcEna; }
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

  private:
    Dwt* dwt_ = nullptr;
};

}  // namespace sim

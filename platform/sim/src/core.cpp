// Core intrinsics, the core register blocks and the NVIC on the virtual board.
#include <algorithm>
#include <bit>

#include "sim/core/chip.hpp"
#include "sim/models/core_blocks.hpp"
#include "sim/core/costs.hpp"
#include "stm32f4xx.h"

namespace {

sim::Cpu& cpu() {
    return sim::Chip::get().cpu();
}

// A core block, looked up once: the board lives as long as the process.
template <class Block>
Block& block(const char* name) {
    static Block& found = sim::Chip::get().model<Block>(name);
    return found;
}

static_assert(sizeof(SCB_Type) <= sim::Scb::kBytes);
static_assert(sizeof(DWT_Type) <= sim::Dwt::kBytes);
static_assert(sizeof(CoreDebug_Type) <= sim::CoreDebugBlock::kBytes);

constexpr uint32_t kAircrKeyMask = 0xFFFF0000U;

// How many more turns, each adding `step` to `elapsed` (no wrap of the
// 32-bit difference), keep the comparison at `result`.
uint64_t turns_keeping(uint32_t elapsed, uint32_t limit, int op, bool result, uint64_t step) {
    uint64_t turns = (0xFFFFFFFFull - elapsed) / step;
    // Below the limit (or at it, for <= and >): the result holds while the
    // difference stays below (at) it.
    const bool below = op == GIMBAL_CYCLES_LT || op == GIMBAL_CYCLES_GE;
    const bool waiting_to_reach =
        (op == GIMBAL_CYCLES_LT || op == GIMBAL_CYCLES_LE) ? result : !result;
    if (waiting_to_reach) {
        const uint64_t room = below ? static_cast<uint64_t>(limit) - 1 - elapsed
                                    : static_cast<uint64_t>(limit) - elapsed;
        turns = std::min(turns, room / step);
    }
    return turns;
}

}  // namespace

extern "C" {

uint32_t gimbal_sim_reg_read(const void* reg) {
    sim::Chip& chip = sim::Chip::get();
    chip.cpu().consume_steady(sim::cost::kRegisterAccess);
    bool steady = false;
    const uint32_t value = chip.bus().read(reg, steady);
    if (!steady) {
        chip.cpu().not_steady();
    }
    return value;
}

uint32_t gimbal_sim_cyccnt_read(const void* reg) {
    sim::Chip& chip = sim::Chip::get();
    chip.cpu().consume_steady(sim::cost::kRegisterAccess);
    const uint32_t value = chip.bus().read(reg);
    chip.cpu().busy_wait_read();
    return value;
}

// A busy wait's comparison. When the loop around it has just run one whole
// turn of steady reads, the next turns do the same until an event: the ones
// whose result cannot differ and whose polls come before the next event pass
// at once, so the loop leaves at the very cycle it would have.
__attribute__((noinline)) bool gimbal_sim_cycles_compare(uint32_t start, uint32_t elapsed,
                                                         uint32_t limit, int op) {
    const bool result = gimbal_cycles_hold(elapsed, limit, op);
    sim::Cpu& c = cpu();
    const uintptr_t site = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
    const uint64_t period = c.busy_wait_period({site, start, limit, op, result});
    if (period == 0) {
        return result;
    }
    // While CYCCNT is stopped the comparison never changes.
    const uint64_t step = block<sim::Dwt>("DWT").running() ? period : 0;
    uint64_t turns = c.quiet_periods(period);
    if (step != 0 && turns != 0) {
        turns = std::min(turns, turns_keeping(elapsed, limit, op, result, step));
    }
    if (turns != 0) {
        c.skip_quiet(turns * period);
    }
    return result;
}

void gimbal_sim_reg_write(void* reg, uint32_t value) {
    sim::Chip& chip = sim::Chip::get();
    chip.cpu().consume(sim::cost::kRegisterAccess);
    chip.bus().write(reg, value);
}

SCB_Type* gimbal_sim_scb(void) {
    return static_cast<SCB_Type*>(block<sim::Scb>("SCB").storage());
}
DWT_Type* gimbal_sim_dwt(void) {
    return static_cast<DWT_Type*>(block<sim::Dwt>("DWT").storage());
}
CoreDebug_Type* gimbal_sim_coredebug(void) {
    return static_cast<CoreDebug_Type*>(block<sim::CoreDebugBlock>("CoreDebug").storage());
}

// Unmasking lets pending interrupts in, then a thread switch that was held
// back (PendSV) happens at once.
void __enable_irq(void) {
    cpu().set_primask(false);
    cpu().consume(sim::cost::kIntrinsic);
}

void __disable_irq(void) {
    cpu().set_primask(true);
    cpu().consume(sim::cost::kIntrinsic);
}

uint32_t __get_PRIMASK(void) {
    cpu().consume(sim::cost::kIntrinsic);
    return cpu().primask() ? 1U : 0U;
}

void __set_PRIMASK(uint32_t primask) {
    cpu().set_primask((primask & 1U) != 0);
    cpu().consume(sim::cost::kIntrinsic);
}

uint32_t __get_IPSR(void) {
    cpu().consume(sim::cost::kIntrinsic);
    return cpu().in_handler() ? static_cast<uint32_t>(cpu().active_exception()) : 0U;
}

void __NOP(void) {
    cpu().consume(sim::cost::kIntrinsic);
}
void __DSB(void) {
    cpu().consume(sim::cost::kIntrinsic);
}
void __ISB(void) {
    cpu().consume(sim::cost::kIntrinsic);
}
void __DMB(void) {
    cpu().consume(sim::cost::kIntrinsic);
}

void __WFI(const char* where) {
    cpu().wait_for_interrupt(where);
}

uint32_t __RBIT(uint32_t value) {
    cpu().consume(sim::cost::kIntrinsic);
    uint32_t r = 0;
    for (int i = 0; i < 32; i++) {
        r |= ((value >> i) & 1U) << (31 - i);
    }
    return r;
}

uint8_t __CLZ(uint32_t value) {
    cpu().consume(sim::cost::kIntrinsic);
    return static_cast<uint8_t>(std::countl_zero(value));
}

// Through AIRCR, whose model hands the grouping to the core: a write without
// the key would be lost, as on the chip.
void NVIC_SetPriorityGrouping(uint32_t PriorityGroup) {
    uint32_t value = SCB->AIRCR;
    value &= ~(kAircrKeyMask | SCB_AIRCR_PRIGROUP_Msk);
    value |= sim::Scb::kVectKey | ((PriorityGroup & 7U) << SCB_AIRCR_PRIGROUP_Pos);
    SCB->AIRCR = value;
}

uint32_t NVIC_GetPriorityGrouping(void) {
    return (SCB->AIRCR & SCB_AIRCR_PRIGROUP_Msk) >> SCB_AIRCR_PRIGROUP_Pos;
}

void NVIC_EnableIRQ(IRQn_Type IRQn) {
    // Enable first: an interrupt already pending is taken right after the store.
    if (IRQn >= 0) {
        cpu().enable_irq(IRQn);
    }
    cpu().consume(sim::cost::kRegisterAccess);
}

void NVIC_DisableIRQ(IRQn_Type IRQn) {
    if (IRQn >= 0) {
        cpu().disable_irq(IRQn);
    }
    cpu().consume(sim::cost::kRegisterAccess);
}

uint32_t NVIC_GetEnableIRQ(IRQn_Type IRQn) {
    cpu().consume(sim::cost::kRegisterAccess);
    return IRQn >= 0 && cpu().irq_enabled(IRQn) ? 1U : 0U;
}

void NVIC_SetPendingIRQ(IRQn_Type IRQn) {
    cpu().set_pending(IRQn);
    cpu().consume(sim::cost::kRegisterAccess);
}

void NVIC_ClearPendingIRQ(IRQn_Type IRQn) {
    cpu().clear_pending(IRQn);
    cpu().consume(sim::cost::kRegisterAccess);
}

uint32_t NVIC_GetPendingIRQ(IRQn_Type IRQn) {
    cpu().consume(sim::cost::kRegisterAccess);
    return cpu().pending(IRQn) ? 1U : 0U;
}

void NVIC_SetPriority(IRQn_Type IRQn, uint32_t priority) {
    cpu().consume(sim::cost::kRegisterAccess);
    cpu().set_priority(IRQn, static_cast<uint8_t>(priority & 0xFU));
}

uint32_t NVIC_GetPriority(IRQn_Type IRQn) {
    cpu().consume(sim::cost::kRegisterAccess);
    return cpu().priority(IRQn);
}

void NVIC_SystemReset(void) {
    cpu().halt("NVIC_SystemReset");
}
}

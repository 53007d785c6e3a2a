// Core intrinsics, the core register blocks and the NVIC on the virtual board.
#include <bit>

#include "sim/board/board.hpp"
#include "sim/core/costs.hpp"
#include "stm32f4xx.h"

namespace {

sim::Cpu& cpu() {
    return sim::Board::get().cpu();
}

static_assert(sizeof(SCB_Type) <= sim::Scb::kBytes);
static_assert(sizeof(DWT_Type) <= sim::Dwt::kBytes);
static_assert(sizeof(CoreDebug_Type) <= sim::CoreDebugBlock::kBytes);

constexpr uint32_t kAircrKeyMask = 0xFFFF0000U;

}  // namespace

extern "C" {

uint32_t gimbal_sim_reg_read(const void* reg) {
    sim::Board& board = sim::Board::get();
    board.cpu().consume(sim::cost::kRegisterAccess);
    return board.bus().read(reg);
}

void gimbal_sim_reg_write(void* reg, uint32_t value) {
    sim::Board& board = sim::Board::get();
    board.cpu().consume(sim::cost::kRegisterAccess);
    board.bus().write(reg, value);
}

SCB_Type* gimbal_sim_scb(void) {
    return static_cast<SCB_Type*>(sim::Board::get().scb().storage());
}
DWT_Type* gimbal_sim_dwt(void) {
    return static_cast<DWT_Type*>(sim::Board::get().dwt().storage());
}
CoreDebug_Type* gimbal_sim_coredebug(void) {
    return static_cast<CoreDebug_Type*>(sim::Board::get().core_debug().storage());
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

// Core intrinsics and core-block instances on the virtual board. Each intrinsic
// is a platform call: it costs its cycles and lets interrupts and the
// scheduler act, as the instruction would on the chip.
#pragma once

#include <cstdint>

#define __STATIC_INLINE static inline
#define __STATIC_FORCEINLINE static inline
#define __WEAK __attribute__((weak))
#define __ALIGNED(x) __attribute__((aligned(x)))
#define __PACKED __attribute__((packed))
#define __USED __attribute__((used))
#define __NO_RETURN __attribute__((__noreturn__))

extern "C" {
void __enable_irq(void);
void __disable_irq(void);
uint32_t __get_PRIMASK(void);
void __set_PRIMASK(uint32_t primask);
uint32_t __get_IPSR(void);
void __NOP(void);
void __DSB(void);
void __ISB(void);
void __DMB(void);
/// Waits for the next interrupt. With interrupts masked, or inside a handler
/// (where firmware only ever spins for good), the board has stopped: the
/// virtual board records `where` as the place it halted.
void __WFI(const char* where = __builtin_FUNCTION());
uint32_t __RBIT(uint32_t value);
uint8_t __CLZ(uint32_t value);

SCB_Type* gimbal_sim_scb(void);
DWT_Type* gimbal_sim_dwt(void);
CoreDebug_Type* gimbal_sim_coredebug(void);

void NVIC_SetPriorityGrouping(uint32_t PriorityGroup);
uint32_t NVIC_GetPriorityGrouping(void);
void NVIC_EnableIRQ(IRQn_Type IRQn);
void NVIC_DisableIRQ(IRQn_Type IRQn);
uint32_t NVIC_GetEnableIRQ(IRQn_Type IRQn);
void NVIC_SetPendingIRQ(IRQn_Type IRQn);
void NVIC_ClearPendingIRQ(IRQn_Type IRQn);
uint32_t NVIC_GetPendingIRQ(IRQn_Type IRQn);
void NVIC_SetPriority(IRQn_Type IRQn, uint32_t priority);
uint32_t NVIC_GetPriority(IRQn_Type IRQn);
void NVIC_SystemReset(void);
}

#define SCB (gimbal_sim_scb())
#define DWT (gimbal_sim_dwt())
#define CoreDebug (gimbal_sim_coredebug())

static inline uint32_t NVIC_EncodePriority(uint32_t PriorityGroup, uint32_t PreemptPriority,
                                           uint32_t SubPriority) {
    const uint32_t group = PriorityGroup & 0x07UL;
    const uint32_t preempt_bits = ((7UL - group) > 4U) ? 4U : (7UL - group);
    const uint32_t sub_bits = ((group + 4U) < 7UL) ? 0UL : (group - 7UL + 4U);
    return ((PreemptPriority & ((1UL << preempt_bits) - 1UL)) << sub_bits) |
           (SubPriority & ((1UL << sub_bits) - 1UL));
}

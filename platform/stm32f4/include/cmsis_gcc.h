// Core intrinsics, core-block instances and NVIC access on the chip: single
// instructions and plain accesses to the architectural registers. Same names
// as the virtual board's, so firmware code builds unchanged over either.
#pragma once

#include <cstdint>

#define __STATIC_INLINE static inline
#define __STATIC_FORCEINLINE __attribute__((always_inline)) static inline
#define __WEAK __attribute__((weak))
#define __ALIGNED(x) __attribute__((aligned(x)))
#define __PACKED __attribute__((packed))
#define __USED __attribute__((used))
#define __NO_RETURN __attribute__((__noreturn__))

// The "memory" clobbers keep the compiler from moving accesses across a mask
// change or a barrier.
__STATIC_FORCEINLINE void __enable_irq(void) {
    __asm volatile("cpsie i" : : : "memory");
}

__STATIC_FORCEINLINE void __disable_irq(void) {
    __asm volatile("cpsid i" : : : "memory");
}

__STATIC_FORCEINLINE uint32_t __get_PRIMASK(void) {
    uint32_t result;
    __asm volatile("mrs %0, primask" : "=r"(result)::"memory");
    return result;
}

__STATIC_FORCEINLINE void __set_PRIMASK(uint32_t primask) {
    __asm volatile("msr primask, %0" : : "r"(primask) : "memory");
}

/// Active exception number: 0 in thread mode, 16 + IRQn in an interrupt.
__STATIC_FORCEINLINE uint32_t __get_IPSR(void) {
    uint32_t result;
    __asm volatile("mrs %0, ipsr" : "=r"(result));
    return result;
}

__STATIC_FORCEINLINE void __NOP(void) {
    __asm volatile("nop");
}

__STATIC_FORCEINLINE void __DSB(void) {
    __asm volatile("dsb 0xF" : : : "memory");
}

__STATIC_FORCEINLINE void __ISB(void) {
    __asm volatile("isb 0xF" : : : "memory");
}

__STATIC_FORCEINLINE void __DMB(void) {
    __asm volatile("dmb 0xF" : : : "memory");
}

__STATIC_FORCEINLINE void __WFI(void) {
    __asm volatile("wfi" : : : "memory");
}

__STATIC_FORCEINLINE uint32_t __RBIT(uint32_t value) {
    uint32_t result;
    __asm("rbit %0, %1" : "=r"(result) : "r"(value));
    return result;
}

/// 32 for 0, as the instruction gives (the builtin leaves that undefined).
__STATIC_FORCEINLINE uint8_t __CLZ(uint32_t value) {
    uint32_t result;
    __asm("clz %0, %1" : "=r"(result) : "r"(value));
    return static_cast<uint8_t>(result);
}

typedef struct {
    gimbal_reg32_t ISER[8];    // 0x000 set-enable
    uint32_t RESERVED0[24];    //
    gimbal_reg32_t ICER[8];    // 0x080 clear-enable
    uint32_t RESERVED1[24];    //
    gimbal_reg32_t ISPR[8];    // 0x100 set-pending
    uint32_t RESERVED2[24];    //
    gimbal_reg32_t ICPR[8];    // 0x180 clear-pending
    uint32_t RESERVED3[24];    //
    gimbal_reg32_t IABR[8];    // 0x200 active
    uint32_t RESERVED4[56];    //
    volatile uint8_t IP[240];  // 0x300 priority, one byte per interrupt
    uint32_t RESERVED5[644];   //
    gimbal_reg32_t STIR;       // 0xE00 software trigger
} NVIC_Type;

typedef struct {
    gimbal_reg32_t CTRL;   // 0x000 control and status
    gimbal_reg32_t LOAD;   // 0x004 reload value
    gimbal_reg32_t VAL;    // 0x008 current value
    gimbal_reg32_t CALIB;  // 0x00C calibration
} SysTick_Type;

static_assert(sizeof(NVIC_Type) == 0xE04);
static_assert(sizeof(SysTick_Type) == 0x10);

#define SCB ((SCB_Type*)SCB_BASE)
#define DWT ((DWT_Type*)DWT_BASE)
#define CoreDebug ((CoreDebug_Type*)CoreDebug_BASE)
#define NVIC ((NVIC_Type*)NVIC_BASE)
#define SysTick ((SysTick_Type*)SysTick_BASE)

namespace gimbal_nvic {

// AIRCR ignores every write that does not carry this key in its upper half.
constexpr uint32_t aircr_key_mask = 0xFFFFUL << 16U;
constexpr uint32_t aircr_key = 0x05FAUL << 16U;
constexpr uint32_t aircr_sysresetreq = 1UL << 2U;

__STATIC_FORCEINLINE uint32_t word(IRQn_Type IRQn) {
    return static_cast<uint32_t>(IRQn) >> 5U;
}

__STATIC_FORCEINLINE uint32_t bit(IRQn_Type IRQn) {
    return 1UL << (static_cast<uint32_t>(IRQn) & 0x1FUL);
}

// Priority byte of a system exception. SCB_Type declares SHP as plain bytes;
// the access must not be cached or merged.
__STATIC_FORCEINLINE volatile uint8_t& shp(IRQn_Type IRQn) {
    return *static_cast<volatile uint8_t*>(&SCB->SHP[(static_cast<uint32_t>(IRQn) & 0xFUL) - 4UL]);
}

}  // namespace gimbal_nvic

__STATIC_INLINE void NVIC_SetPriorityGrouping(uint32_t PriorityGroup) {
    uint32_t reg = SCB->AIRCR;
    reg &= ~(gimbal_nvic::aircr_key_mask | SCB_AIRCR_PRIGROUP_Msk);
    reg |= gimbal_nvic::aircr_key | ((PriorityGroup & 0x07UL) << SCB_AIRCR_PRIGROUP_Pos);
    SCB->AIRCR = reg;
}

__STATIC_INLINE uint32_t NVIC_GetPriorityGrouping(void) {
    return (SCB->AIRCR & SCB_AIRCR_PRIGROUP_Msk) >> SCB_AIRCR_PRIGROUP_Pos;
}

// Set/clear registers: writing 0 bits changes nothing, so plain stores suffice.
__STATIC_INLINE void NVIC_EnableIRQ(IRQn_Type IRQn) {
    if (IRQn >= 0) {
        NVIC->ISER[gimbal_nvic::word(IRQn)] = gimbal_nvic::bit(IRQn);
    }
}

/// Returns once the interrupt can no longer be taken.
__STATIC_INLINE void NVIC_DisableIRQ(IRQn_Type IRQn) {
    if (IRQn >= 0) {
        NVIC->ICER[gimbal_nvic::word(IRQn)] = gimbal_nvic::bit(IRQn);
        __DSB();
        __ISB();
    }
}

__STATIC_INLINE uint32_t NVIC_GetEnableIRQ(IRQn_Type IRQn) {
    if (IRQn < 0) {
        return 0U;
    }
    return (NVIC->ISER[gimbal_nvic::word(IRQn)] & gimbal_nvic::bit(IRQn)) != 0U ? 1U : 0U;
}

__STATIC_INLINE void NVIC_SetPendingIRQ(IRQn_Type IRQn) {
    if (IRQn >= 0) {
        NVIC->ISPR[gimbal_nvic::word(IRQn)] = gimbal_nvic::bit(IRQn);
    }
}

__STATIC_INLINE void NVIC_ClearPendingIRQ(IRQn_Type IRQn) {
    if (IRQn >= 0) {
        NVIC->ICPR[gimbal_nvic::word(IRQn)] = gimbal_nvic::bit(IRQn);
    }
}

__STATIC_INLINE uint32_t NVIC_GetPendingIRQ(IRQn_Type IRQn) {
    if (IRQn < 0) {
        return 0U;
    }
    return (NVIC->ISPR[gimbal_nvic::word(IRQn)] & gimbal_nvic::bit(IRQn)) != 0U ? 1U : 0U;
}

/// `priority` 0 (most urgent) to 15; the chip implements the upper nibble only.
__STATIC_INLINE void NVIC_SetPriority(IRQn_Type IRQn, uint32_t priority) {
    const uint8_t value = static_cast<uint8_t>((priority << (8U - __NVIC_PRIO_BITS)) & 0xFFUL);
    if (IRQn >= 0) {
        NVIC->IP[static_cast<uint32_t>(IRQn)] = value;
    } else {
        gimbal_nvic::shp(IRQn) = value;
    }
}

__STATIC_INLINE uint32_t NVIC_GetPriority(IRQn_Type IRQn) {
    const uint32_t value =
        (IRQn >= 0) ? NVIC->IP[static_cast<uint32_t>(IRQn)] : gimbal_nvic::shp(IRQn);
    return value >> (8U - __NVIC_PRIO_BITS);
}

__NO_RETURN __STATIC_INLINE void NVIC_SystemReset(void) {
    __DSB();  // let pending writes complete before the reset
    SCB->AIRCR = gimbal_nvic::aircr_key | (SCB->AIRCR & SCB_AIRCR_PRIGROUP_Msk) |
                 gimbal_nvic::aircr_sysresetreq;
    __DSB();
    for (;;) {
        __NOP();  // the reset takes a few cycles to arrive
    }
}

/// Packs a pre-emption and a sub-priority for NVIC_SetPriority under the
/// given grouping; each part is cut to the bits the grouping leaves it.
__STATIC_INLINE uint32_t NVIC_EncodePriority(uint32_t PriorityGroup, uint32_t PreemptPriority,
                                             uint32_t SubPriority) {
    const uint32_t group = PriorityGroup & 0x07UL;
    const uint32_t preempt_bits =
        ((7UL - group) > __NVIC_PRIO_BITS) ? __NVIC_PRIO_BITS : (7UL - group);
    const uint32_t sub_bits =
        ((group + __NVIC_PRIO_BITS) < 7UL) ? 0UL : (group - 7UL + __NVIC_PRIO_BITS);
    return ((PreemptPriority & ((1UL << preempt_bits) - 1UL)) << sub_bits) |
           (SubPriority & ((1UL << sub_bits) - 1UL));
}

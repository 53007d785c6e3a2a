// Cortex-M4 core peripherals the firmware and the HAL touch: system control
// block, data watchpoint and trace unit, core debug. Instances, intrinsics and
// NVIC access come from the backend's cmsis_gcc.h.
#pragma once

#include <cstdint>

#include "gimbal_reg.h"

#ifndef __IO
#define __IO volatile
#endif
#define __I volatile const
#define __O volatile
#define __IM volatile const
#define __OM volatile
#define __IOM volatile

typedef struct {
    gimbal_reg32_t CPUID;      // 0x000
    gimbal_reg32_t ICSR;       // 0x004
    gimbal_reg32_t VTOR;       // 0x008
    gimbal_reg32_t AIRCR;      // 0x00C
    gimbal_reg32_t SCR;        // 0x010
    gimbal_reg32_t CCR;        // 0x014
    volatile uint8_t SHP[12];  // 0x018 system handler priorities
    gimbal_reg32_t SHCSR;      // 0x024
    gimbal_reg32_t CFSR;       // 0x028
    gimbal_reg32_t HFSR;       // 0x02C
    gimbal_reg32_t DFSR;       // 0x030
    gimbal_reg32_t MMFAR;      // 0x034
    gimbal_reg32_t BFAR;       // 0x038
    gimbal_reg32_t AFSR;       // 0x03C
    gimbal_reg32_t PFR[2];     // 0x040
    gimbal_reg32_t DFR;        // 0x048
    gimbal_reg32_t ADR;        // 0x04C
    gimbal_reg32_t MMFR[4];    // 0x050
    gimbal_reg32_t ISAR[5];    // 0x060
    uint32_t RESERVED0[5];     // 0x074
    gimbal_reg32_t CPACR;      // 0x088 coprocessor access control
} SCB_Type;

typedef struct {
    gimbal_reg32_t CTRL;      // 0x000
    gimbal_cyccnt_t CYCCNT;   // 0x004 cycle counter
    gimbal_reg32_t CPICNT;    // 0x008
    gimbal_reg32_t EXCCNT;    // 0x00C
    gimbal_reg32_t SLEEPCNT;  // 0x010
    gimbal_reg32_t LSUCNT;    // 0x014
    gimbal_reg32_t FOLDCNT;   // 0x018
    gimbal_reg32_t PCSR;      // 0x01C
} DWT_Type;

typedef struct {
    gimbal_reg32_t DHCSR;  // 0x000
    gimbal_reg32_t DCRSR;  // 0x004
    gimbal_reg32_t DCRDR;  // 0x008
    gimbal_reg32_t DEMCR;  // 0x00C
} CoreDebug_Type;

static_assert(sizeof(SCB_Type) == 0x8C);

#define SCS_BASE (0xE000E000UL)
#define DWT_BASE (0xE0001000UL)
#define CoreDebug_BASE (0xE000EDF0UL)
#define SysTick_BASE (SCS_BASE + 0x0010UL)
#define NVIC_BASE (SCS_BASE + 0x0100UL)
#define SCB_BASE (SCS_BASE + 0x0D00UL)

#define SCB_CPACR_CP10_Pos 20U
#define SCB_CPACR_CP11_Pos 22U
#define SCB_AIRCR_PRIGROUP_Pos 8U
#define SCB_AIRCR_PRIGROUP_Msk (7U << SCB_AIRCR_PRIGROUP_Pos)

#define DWT_CTRL_CYCCNTENA_Pos 0U
#define DWT_CTRL_CYCCNTENA_Msk (1U << DWT_CTRL_CYCCNTENA_Pos)
#define CoreDebug_DEMCR_TRCENA_Pos 24U
#define CoreDebug_DEMCR_TRCENA_Msk (1U << CoreDebug_DEMCR_TRCENA_Pos)

#include "cmsis_gcc.h"

// Reset-time system set-up and the core clock variable.
#include "stm32f4xx_hal.h"  // the configuration's HSE_VALUE and HSI_VALUE

uint32_t SystemCoreClock = 16000000;  // internal oscillator after reset
const uint8_t AHBPrescTable[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 6, 7, 8, 9};
const uint8_t APBPrescTable[8] = {0, 0, 0, 0, 1, 2, 3, 4};

extern "C" void SystemInit(void) {
    // Full access to coprocessors 10 and 11: the FPU.
    SCB->CPACR |= ((3UL << SCB_CPACR_CP10_Pos) | (3UL << SCB_CPACR_CP11_Pos));
}

extern "C" void SystemCoreClockUpdate(void) {
    // From the clock the switch reports: HSI, HSE or the PLL, then the AHB divider.
    const uint32_t cfgr = RCC->CFGR;
    switch ((cfgr & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos) {
        case 1U:
            SystemCoreClock = HSE_VALUE;
            break;
        case 2U: {
            const uint32_t pllcfgr = RCC->PLLCFGR;
            const uint32_t source = (pllcfgr & RCC_PLLCFGR_PLLSRC) != 0U ? HSE_VALUE : HSI_VALUE;
            const uint32_t pllm = pllcfgr & RCC_PLLCFGR_PLLM;
            const uint32_t plln = (pllcfgr & RCC_PLLCFGR_PLLN) >> RCC_PLLCFGR_PLLN_Pos;
            const uint32_t pllp =
                (((pllcfgr & RCC_PLLCFGR_PLLP) >> RCC_PLLCFGR_PLLP_Pos) + 1U) * 2U;
            SystemCoreClock = pllm == 0U ? 0U : source / pllm * plln / pllp;
            break;
        }
        default:
            SystemCoreClock = HSI_VALUE;
            break;
    }
    SystemCoreClock >>= AHBPrescTable[(cfgr & RCC_CFGR_HPRE) >> 4U];
}

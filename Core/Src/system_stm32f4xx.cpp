// Reset-time system set-up and the core clock variable.
#include "stm32f4xx.h"

uint32_t SystemCoreClock = 16000000;  // internal oscillator after reset
const uint8_t AHBPrescTable[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 6, 7, 8, 9};
const uint8_t APBPrescTable[8] = {0, 0, 0, 0, 1, 2, 3, 4};

extern "C" void SystemInit(void) {
    // Full access to coprocessors 10 and 11: the FPU.
    SCB->CPACR |= ((3UL << SCB_CPACR_CP10_Pos) | (3UL << SCB_CPACR_CP11_Pos));
}

extern "C" void SystemCoreClockUpdate(void) {
    // The HAL keeps SystemCoreClock current whenever it changes the clock tree.
}

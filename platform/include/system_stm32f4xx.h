// Core clock variable and the reset-time system set-up.
#pragma once

#include <cstdint>

extern "C" {
/// Core clock in Hz: 16 MHz after reset, set by the HAL when the clock tree changes.
extern uint32_t SystemCoreClock;
extern const uint8_t AHBPrescTable[16];
extern const uint8_t APBPrescTable[8];

void SystemInit(void);
void SystemCoreClockUpdate(void);
}

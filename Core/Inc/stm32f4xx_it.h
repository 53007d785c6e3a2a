// Exception and interrupt handlers, reached by name from the vector table.
#pragma once

#include "main.h"

extern TIM_HandleTypeDef htim1;  // HAL time base

extern "C" {
void NMI_Handler(void);
void HardFault_Handler(void);
void MemManage_Handler(void);
void BusFault_Handler(void);
void UsageFault_Handler(void);
void DebugMon_Handler(void);
void TIM1_UP_TIM10_IRQHandler(void);
void I2C2_EV_IRQHandler(void);
}

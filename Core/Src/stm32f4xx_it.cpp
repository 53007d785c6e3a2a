// Exception and interrupt handlers. Faults stop the core where it is; nothing
// is printed on the way.
#include "stm32f4xx_it.h"

#include "i2c.h"

extern "C" {

void NMI_Handler(void) {
    for (;;) {
        __WFI();
    }
}

void HardFault_Handler(void) {
    for (;;) {
        __WFI();
    }
}

void MemManage_Handler(void) {
    for (;;) {
        __WFI();
    }
}

void BusFault_Handler(void) {
    for (;;) {
        __WFI();
    }
}

void UsageFault_Handler(void) {
    for (;;) {
        __WFI();
    }
}

void DebugMon_Handler(void) {}

void TIM1_UP_TIM10_IRQHandler(void) {
    HAL_TIM_IRQHandler(&htim1);
}

void I2C2_EV_IRQHandler(void) {
    HAL_I2C_EV_IRQHandler(&hi2c2);
}
}

// HAL Cortex driver: NVIC priorities and enables.
#ifndef STM32F4XX_HAL_CORTEX_H
#define STM32F4XX_HAL_CORTEX_H

#ifndef HAL_CORTEX_MODULE_ENABLED
#error \
    "stm32f4xx_hal_cortex.h comes through stm32f4xx_hal.h, with HAL_CORTEX_MODULE_ENABLED in stm32f4xx_hal_conf.h"
#endif

#include "stm32f4xx_hal_def.h"

#define NVIC_PRIORITYGROUP_0 0x00000007U
#define NVIC_PRIORITYGROUP_1 0x00000006U
#define NVIC_PRIORITYGROUP_2 0x00000005U
#define NVIC_PRIORITYGROUP_3 0x00000004U
#define NVIC_PRIORITYGROUP_4 0x00000003U

extern "C" {
void HAL_NVIC_SetPriorityGrouping(uint32_t PriorityGroup);
void HAL_NVIC_SetPriority(IRQn_Type IRQn, uint32_t PreemptPriority, uint32_t SubPriority);
void HAL_NVIC_EnableIRQ(IRQn_Type IRQn);
void HAL_NVIC_DisableIRQ(IRQn_Type IRQn);
void HAL_NVIC_SystemReset(void);
uint32_t HAL_SYSTICK_Config(uint32_t TicksNumb);
}

#endif  // STM32F4XX_HAL_CORTEX_H

// HAL entry header: core services (init, time base, delay) and, through the
// board's configuration header, every enabled peripheral driver.
#pragma once

#include "stm32f4xx_hal_conf.h"

// The configuration file includes the header of every module it enables (the
// HAL's own template does); a module's definitions come only from there.
#if defined(HAL_RCC_MODULE_ENABLED) && !defined(STM32F4XX_HAL_RCC_H)
#error "HAL_RCC_MODULE_ENABLED without stm32f4xx_hal_rcc.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_GPIO_MODULE_ENABLED) && !defined(STM32F4XX_HAL_GPIO_H)
#error "HAL_GPIO_MODULE_ENABLED without stm32f4xx_hal_gpio.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_EXTI_MODULE_ENABLED) && !defined(STM32F4XX_HAL_EXTI_H)
#error "HAL_EXTI_MODULE_ENABLED without stm32f4xx_hal_exti.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_DMA_MODULE_ENABLED) && !defined(STM32F4XX_HAL_DMA_H)
#error "HAL_DMA_MODULE_ENABLED without stm32f4xx_hal_dma.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_CORTEX_MODULE_ENABLED) && !defined(STM32F4XX_HAL_CORTEX_H)
#error "HAL_CORTEX_MODULE_ENABLED without stm32f4xx_hal_cortex.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_CAN_MODULE_ENABLED) && !defined(STM32F4XX_HAL_CAN_H)
#error "HAL_CAN_MODULE_ENABLED without stm32f4xx_hal_can.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_FLASH_MODULE_ENABLED) && !defined(STM32F4XX_HAL_FLASH_H)
#error "HAL_FLASH_MODULE_ENABLED without stm32f4xx_hal_flash.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_I2C_MODULE_ENABLED) && !defined(STM32F4XX_HAL_I2C_H)
#error "HAL_I2C_MODULE_ENABLED without stm32f4xx_hal_i2c.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_PWR_MODULE_ENABLED) && !defined(STM32F4XX_HAL_PWR_H)
#error "HAL_PWR_MODULE_ENABLED without stm32f4xx_hal_pwr.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_TIM_MODULE_ENABLED) && !defined(STM32F4XX_HAL_TIM_H)
#error "HAL_TIM_MODULE_ENABLED without stm32f4xx_hal_tim.h in stm32f4xx_hal_conf.h"
#endif
#if defined(HAL_UART_MODULE_ENABLED) && !defined(STM32F4XX_HAL_UART_H)
#error "HAL_UART_MODULE_ENABLED without stm32f4xx_hal_uart.h in stm32f4xx_hal_conf.h"
#endif

typedef enum {
    HAL_TICK_FREQ_10HZ = 100U,
    HAL_TICK_FREQ_100HZ = 10U,
    HAL_TICK_FREQ_1KHZ = 1U,
    HAL_TICK_FREQ_DEFAULT = HAL_TICK_FREQ_1KHZ
} HAL_TickFreqTypeDef;

extern "C" {
extern __IO uint32_t uwTick;
extern uint32_t uwTickPrio;
extern HAL_TickFreqTypeDef uwTickFreq;

/// Caches on, priority grouping 4, `HAL_InitTick(TICK_INT_PRIORITY)`, then `HAL_MspInit`.
HAL_StatusTypeDef HAL_Init(void);
HAL_StatusTypeDef HAL_DeInit(void);
void HAL_MspInit(void);
void HAL_MspDeInit(void);
/// Weak default; the board's time base overrides it by name.
HAL_StatusTypeDef HAL_InitTick(uint32_t TickPriority);
void HAL_IncTick(void);
uint32_t HAL_GetTick(void);
uint32_t HAL_GetTickPrio(void);
void HAL_Delay(uint32_t Delay);
void HAL_SuspendTick(void);
void HAL_ResumeTick(void);
}

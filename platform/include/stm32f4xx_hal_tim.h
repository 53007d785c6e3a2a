// HAL TIM driver: the time-base subset.
#ifndef STM32F4XX_HAL_TIM_H
#define STM32F4XX_HAL_TIM_H

#ifndef HAL_TIM_MODULE_ENABLED
#error \
    "stm32f4xx_hal_tim.h comes through stm32f4xx_hal.h, with HAL_TIM_MODULE_ENABLED in stm32f4xx_hal_conf.h"
#endif

#include "stm32f4xx_hal_def.h"

typedef struct {
    uint32_t Prescaler;
    uint32_t CounterMode;
    uint32_t Period;
    uint32_t ClockDivision;
    uint32_t RepetitionCounter;
    uint32_t AutoReloadPreload;
} TIM_Base_InitTypeDef;

typedef enum {
    HAL_TIM_STATE_RESET = 0x00U,
    HAL_TIM_STATE_READY = 0x01U,
    HAL_TIM_STATE_BUSY = 0x02U,
    HAL_TIM_STATE_TIMEOUT = 0x03U,
    HAL_TIM_STATE_ERROR = 0x04U
} HAL_TIM_StateTypeDef;

typedef enum {
    HAL_TIM_ACTIVE_CHANNEL_CLEARED = 0x00U,
} HAL_TIM_ActiveChannel;

typedef struct __TIM_HandleTypeDef {
    TIM_TypeDef* Instance;
    TIM_Base_InitTypeDef Init;
    HAL_TIM_ActiveChannel Channel;
    DMA_HandleTypeDef* hdma[7];
    HAL_LockTypeDef Lock;
    __IO HAL_TIM_StateTypeDef State;
} TIM_HandleTypeDef;

#define TIM_COUNTERMODE_UP 0x00000000U
#define TIM_COUNTERMODE_DOWN TIM_CR1_DIR
#define TIM_CLOCKDIVISION_DIV1 0x00000000U
#define TIM_CLOCKDIVISION_DIV2 0x00000100U
#define TIM_CLOCKDIVISION_DIV4 0x00000200U
#define TIM_AUTORELOAD_PRELOAD_DISABLE 0x00000000U
#define TIM_AUTORELOAD_PRELOAD_ENABLE TIM_CR1_ARPE

extern "C" {
HAL_StatusTypeDef HAL_TIM_Base_Init(TIM_HandleTypeDef* htim);
HAL_StatusTypeDef HAL_TIM_Base_DeInit(TIM_HandleTypeDef* htim);
void HAL_TIM_Base_MspInit(TIM_HandleTypeDef* htim);
HAL_StatusTypeDef HAL_TIM_Base_Start_IT(TIM_HandleTypeDef* htim);
HAL_StatusTypeDef HAL_TIM_Base_Stop_IT(TIM_HandleTypeDef* htim);
/// Clears the update flag and calls `HAL_TIM_PeriodElapsedCallback`.
void HAL_TIM_IRQHandler(TIM_HandleTypeDef* htim);
void HAL_TIM_PeriodElapsedCallback(TIM_HandleTypeDef* htim);
}

#endif  // STM32F4XX_HAL_TIM_H

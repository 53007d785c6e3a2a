// HAL time base on TIM1: SysTick belongs to the RTOS.
#include "stm32f4xx_it.h"

TIM_HandleTypeDef htim1;

extern "C" HAL_StatusTypeDef HAL_InitTick(uint32_t TickPriority) {
    __HAL_RCC_TIM1_CLK_ENABLE();

    // APB2 runs at half of HCLK, so its timers see twice PCLK2.
    const uint32_t timer_clock = 2U * HAL_RCC_GetPCLK2Freq();
    const uint32_t prescaler = (timer_clock / 1000000U) - 1U;  // 1 MHz count

    htim1.Instance = TIM1;
    htim1.Init.Period = (1000000U / 1000U) - 1U;  // update every 1 ms
    htim1.Init.Prescaler = prescaler;
    htim1.Init.ClockDivision = TIM_CLOCKDIVISION_DIV1;
    htim1.Init.CounterMode = TIM_COUNTERMODE_UP;
    htim1.Init.RepetitionCounter = 0;
    htim1.Init.AutoReloadPreload = TIM_AUTORELOAD_PRELOAD_DISABLE;

    HAL_StatusTypeDef status = HAL_TIM_Base_Init(&htim1);
    if (status != HAL_OK) {
        return status;
    }
    status = HAL_TIM_Base_Start_IT(&htim1);
    if (status != HAL_OK) {
        return status;
    }
    HAL_NVIC_EnableIRQ(TIM1_UP_TIM10_IRQn);
    if (TickPriority > 15U) {
        return HAL_ERROR;
    }
    HAL_NVIC_SetPriority(TIM1_UP_TIM10_IRQn, TickPriority, 0U);
    uwTickPrio = TickPriority;
    return HAL_OK;
}

extern "C" void HAL_TIM_PeriodElapsedCallback(TIM_HandleTypeDef* htim) {
    if (htim->Instance == TIM1) {
        HAL_IncTick();
    }
}

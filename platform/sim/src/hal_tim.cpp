// HAL TIM time base on the timer registers.
#include "hal_internal.hpp"

using namespace sim::hal;

extern "C" {

__attribute__((weak)) void HAL_TIM_Base_MspInit(TIM_HandleTypeDef* htim) {
    (void)htim;
}
__attribute__((weak)) void HAL_TIM_PeriodElapsedCallback(TIM_HandleTypeDef* htim) {
    (void)htim;
}

HAL_StatusTypeDef HAL_TIM_Base_Init(TIM_HandleTypeDef* htim) {
    enter(cost::kHalInit);
    if (htim == nullptr) {
        return HAL_ERROR;
    }
    if (htim->State == HAL_TIM_STATE_RESET) {
        htim->Lock = HAL_UNLOCKED;
        HAL_TIM_Base_MspInit(htim);
    }
    htim->State = HAL_TIM_STATE_BUSY;
    TIM_TypeDef* tim = htim->Instance;
    MODIFY_REG(tim->CR1, TIM_CR1_DIR | TIM_CR1_CKD | TIM_CR1_ARPE,
               htim->Init.CounterMode | htim->Init.ClockDivision | htim->Init.AutoReloadPreload);
    tim->ARR = htim->Init.Period;
    tim->PSC = htim->Init.Prescaler;
    tim->RCR = htim->Init.RepetitionCounter;
    // Load the prescaler now; the update flag this raises is not a period.
    tim->EGR = TIM_EGR_UG;
    tim->SR = ~TIM_SR_UIF;
    htim->State = HAL_TIM_STATE_READY;
    return HAL_OK;
}

HAL_StatusTypeDef HAL_TIM_Base_DeInit(TIM_HandleTypeDef* htim) {
    enter();
    CLEAR_BIT(htim->Instance->CR1, TIM_CR1_CEN);
    htim->State = HAL_TIM_STATE_RESET;
    return HAL_OK;
}

HAL_StatusTypeDef HAL_TIM_Base_Start_IT(TIM_HandleTypeDef* htim) {
    enter();
    if (htim->State != HAL_TIM_STATE_READY) {
        return HAL_ERROR;
    }
    htim->State = HAL_TIM_STATE_BUSY;
    SET_BIT(htim->Instance->DIER, TIM_DIER_UIE);
    SET_BIT(htim->Instance->CR1, TIM_CR1_CEN);
    return HAL_OK;
}

HAL_StatusTypeDef HAL_TIM_Base_Stop_IT(TIM_HandleTypeDef* htim) {
    enter();
    CLEAR_BIT(htim->Instance->DIER, TIM_DIER_UIE);
    CLEAR_BIT(htim->Instance->CR1, TIM_CR1_CEN);
    htim->State = HAL_TIM_STATE_READY;
    return HAL_OK;
}

void HAL_TIM_IRQHandler(TIM_HandleTypeDef* htim) {
    enter();
    TIM_TypeDef* tim = htim->Instance;
    if ((tim->SR & TIM_SR_UIF) != 0U && (tim->DIER & TIM_DIER_UIE) != 0U) {
        tim->SR = ~TIM_SR_UIF;
        HAL_TIM_PeriodElapsedCallback(htim);
    }
}
}

// HAL I2C: controller initialisation on the I2C registers.
#include "hal_internal.hpp"

using namespace sim::hal;

namespace {
constexpr uint32_t kPe = 1U << 0, kSwrst = 1U << 15;
}

extern "C" {

__attribute__((weak)) void HAL_I2C_MspInit(I2C_HandleTypeDef* hi2c) {
    (void)hi2c;
}
__attribute__((weak)) void HAL_I2C_MspDeInit(I2C_HandleTypeDef* hi2c) {
    (void)hi2c;
}

HAL_StatusTypeDef HAL_I2C_Init(I2C_HandleTypeDef* hi2c) {
    enter(cost::kHalInit);
    if (hi2c == nullptr || hi2c->Init.ClockSpeed == 0U || hi2c->Init.ClockSpeed > 400000U) {
        return HAL_ERROR;
    }
    if (hi2c->State == HAL_I2C_STATE_RESET) {
        hi2c->Lock = HAL_UNLOCKED;
        HAL_I2C_MspInit(hi2c);
    }
    hi2c->State = HAL_I2C_STATE_BUSY;
    I2C_TypeDef* i2c = hi2c->Instance;
    CLEAR_BIT(i2c->CR1, kPe);
    SET_BIT(i2c->CR1, kSwrst);
    CLEAR_BIT(i2c->CR1, kSwrst);
    const uint32_t pclk1 = HAL_RCC_GetPCLK1Freq();
    const uint32_t mhz = pclk1 / 1000000U;
    if (mhz < 2U) {
        return HAL_ERROR;
    }
    WRITE_REG(i2c->CR2, mhz);
    const bool fast = hi2c->Init.ClockSpeed > 100000U;
    WRITE_REG(i2c->TRISE, fast ? (mhz * 300U / 1000U) + 1U : mhz + 1U);
    uint32_t ccr;
    if (!fast) {
        ccr = pclk1 / (hi2c->Init.ClockSpeed * 2U);
        ccr = ccr < 4U ? 4U : ccr;
    } else if (hi2c->Init.DutyCycle == I2C_DUTYCYCLE_2) {
        ccr = (pclk1 / (hi2c->Init.ClockSpeed * 3U)) | (1U << 15);
    } else {
        ccr = (pclk1 / (hi2c->Init.ClockSpeed * 25U)) | (1U << 15) | (1U << 14);
    }
    WRITE_REG(i2c->CCR, ccr);
    WRITE_REG(i2c->CR1, hi2c->Init.GeneralCallMode | hi2c->Init.NoStretchMode);
    WRITE_REG(i2c->OAR1, hi2c->Init.AddressingMode | hi2c->Init.OwnAddress1);
    WRITE_REG(i2c->OAR2, hi2c->Init.DualAddressMode | hi2c->Init.OwnAddress2);
    SET_BIT(i2c->CR1, kPe);
    hi2c->ErrorCode = HAL_I2C_ERROR_NONE;
    hi2c->State = HAL_I2C_STATE_READY;
    hi2c->Mode = HAL_I2C_MODE_NONE;
    return HAL_OK;
}

// Nothing on this board starts an interrupt-driven I2C2 transfer.
void HAL_I2C_EV_IRQHandler(I2C_HandleTypeDef* hi2c) {
    (void)hi2c;
}
void HAL_I2C_ER_IRQHandler(I2C_HandleTypeDef* hi2c) {
    (void)hi2c;
}

HAL_I2C_StateTypeDef HAL_I2C_GetState(I2C_HandleTypeDef* hi2c) {
    enter(cost::kHalQuery);
    return hi2c->State;
}
}

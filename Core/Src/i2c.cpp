// Hardware I2C2 (PF0/PF1), configured for fast mode; the IMU is on the bit-banged bus.
#include "i2c.h"

#include "gpio.h"

I2C_HandleTypeDef hi2c2;

void MX_I2C2_Init(void) {
    hi2c2.Instance = I2C2;
    hi2c2.Init.ClockSpeed = 400000;
    hi2c2.Init.DutyCycle = I2C_DUTYCYCLE_2;
    hi2c2.Init.OwnAddress1 = 0;
    hi2c2.Init.AddressingMode = I2C_ADDRESSINGMODE_7BIT;
    hi2c2.Init.DualAddressMode = I2C_DUALADDRESS_DISABLE;
    hi2c2.Init.OwnAddress2 = 0;
    hi2c2.Init.GeneralCallMode = I2C_GENERALCALL_DISABLE;
    hi2c2.Init.NoStretchMode = I2C_NOSTRETCH_DISABLE;
    if (HAL_I2C_Init(&hi2c2) != HAL_OK) {
        Error_Handler();
    }
}

extern "C" void HAL_I2C_MspInit(I2C_HandleTypeDef* i2cHandle) {
    if (i2cHandle->Instance != I2C2) {
        return;
    }
    __HAL_RCC_GPIOF_CLK_ENABLE();
    gpio_init_alternate(GPIOF, GPIO_PIN_0 | GPIO_PIN_1, GPIO_MODE_AF_OD,
                        GPIO_AF4_I2C2);  // PF0 SDA, PF1 SCL

    __HAL_RCC_I2C2_CLK_ENABLE();
    HAL_NVIC_SetPriority(I2C2_EV_IRQn, 5, 0);
    HAL_NVIC_EnableIRQ(I2C2_EV_IRQn);
}

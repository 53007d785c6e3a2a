// Port clocks and the pins driven directly: LEDs and the bit-banged I2C bus.
#include "gpio.h"

#include "main.h"

void MX_GPIO_Init(void) {
    GPIO_InitTypeDef pin = {};

    __HAL_RCC_GPIOE_CLK_ENABLE();
    __HAL_RCC_GPIOF_CLK_ENABLE();
    __HAL_RCC_GPIOH_CLK_ENABLE();
    __HAL_RCC_GPIOB_CLK_ENABLE();
    __HAL_RCC_GPIOC_CLK_ENABLE();
    __HAL_RCC_GPIOA_CLK_ENABLE();
    __HAL_RCC_GPIOD_CLK_ENABLE();
    __HAL_RCC_GPIOG_CLK_ENABLE();

    // Levels first, so each pin comes up driving its idle level.
    HAL_GPIO_WritePin(GPIOE, LED0_Pin | LED1_Pin, GPIO_PIN_RESET);
    HAL_GPIO_WritePin(GPIOF, SDA_Pin | SCL_Pin, GPIO_PIN_SET);
    HAL_GPIO_WritePin(LED2_GPIO_Port, LED2_Pin, GPIO_PIN_RESET);

    pin.Pin = LED0_Pin | LED1_Pin;
    pin.Mode = GPIO_MODE_OUTPUT_PP;
    pin.Pull = GPIO_NOPULL;
    pin.Speed = GPIO_SPEED_FREQ_LOW;
    HAL_GPIO_Init(GPIOE, &pin);

    pin.Pin = SDA_Pin | SCL_Pin;
    pin.Mode = GPIO_MODE_OUTPUT_OD;
    pin.Pull = GPIO_PULLUP;
    pin.Speed = GPIO_SPEED_FREQ_VERY_HIGH;
    HAL_GPIO_Init(GPIOF, &pin);

    pin.Pin = LED2_Pin;
    pin.Mode = GPIO_MODE_OUTPUT_PP;
    pin.Pull = GPIO_NOPULL;
    pin.Speed = GPIO_SPEED_FREQ_LOW;
    HAL_GPIO_Init(LED2_GPIO_Port, &pin);
}

void gpio_init_alternate(GPIO_TypeDef* port, uint32_t pins, uint32_t mode, uint8_t alternate) {
    GPIO_InitTypeDef pin = {};
    pin.Pin = pins;
    pin.Mode = mode;
    pin.Pull = GPIO_NOPULL;
    pin.Speed = GPIO_SPEED_FREQ_VERY_HIGH;
    pin.Alternate = alternate;
    HAL_GPIO_Init(port, &pin);
}

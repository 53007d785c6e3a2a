// Board pin names and the bring-up entry points shared by Core sources.
#pragma once

#include "stm32f4xx_hal.h"

#define LED0_Pin GPIO_PIN_3
#define LED0_GPIO_Port GPIOE
#define LED1_Pin GPIO_PIN_4
#define LED1_GPIO_Port GPIOE
#define LED2_Pin GPIO_PIN_9
#define LED2_GPIO_Port GPIOG
#define SDA_Pin GPIO_PIN_12
#define SDA_GPIO_Port GPIOF
#define SCL_Pin GPIO_PIN_14
#define SCL_GPIO_Port GPIOF

extern "C" {
/// Fatal bring-up error: interrupts off, then the core stops for good.
void Error_Handler(void);
}
void SystemClock_Config(void);
void MX_FREERTOS_Init(void);

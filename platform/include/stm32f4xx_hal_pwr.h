// HAL PWR driver: the regulator's voltage scaling. (The chip maker's HAL
// keeps it in stm32f4xx_hal_pwr_ex.h, which stm32f4xx_hal_pwr.h includes.)
#ifndef STM32F4XX_HAL_PWR_H
#define STM32F4XX_HAL_PWR_H

#ifndef HAL_PWR_MODULE_ENABLED
#error \
    "stm32f4xx_hal_pwr.h comes through stm32f4xx_hal.h, with HAL_PWR_MODULE_ENABLED in stm32f4xx_hal_conf.h"
#endif

#include "stm32f4xx_hal_def.h"

// On the STM32F405/407 VOS is one bit: 1 scale 1, 0 scale 2 (RM0090, PWR_CR).
#define PWR_REGULATOR_VOLTAGE_SCALE1 PWR_CR_VOS
#define PWR_REGULATOR_VOLTAGE_SCALE2 0x00000000U
// Written, then read back so the write has taken effect.
#define __HAL_PWR_VOLTAGESCALING_CONFIG(__REGULATOR__)    \
    do {                                                  \
        __IO uint32_t tmpreg = 0x00U;                     \
        MODIFY_REG(PWR->CR, PWR_CR_VOS, (__REGULATOR__)); \
        tmpreg = READ_BIT(PWR->CR, PWR_CR_VOS);           \
        UNUSED(tmpreg);                                   \
    } while (0U)

#endif  // STM32F4XX_HAL_PWR_H

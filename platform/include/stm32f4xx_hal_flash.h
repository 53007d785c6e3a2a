// HAL FLASH driver: wait states and the ART accelerator's switches. (The
// chip maker's HAL keeps the rest of the flash API here and in
// stm32f4xx_hal_flash_ex.h; the firmware uses only these.)
#ifndef STM32F4XX_HAL_FLASH_H
#define STM32F4XX_HAL_FLASH_H

#ifndef HAL_FLASH_MODULE_ENABLED
#error \
    "stm32f4xx_hal_flash.h comes through stm32f4xx_hal.h, with HAL_FLASH_MODULE_ENABLED in stm32f4xx_hal_conf.h"
#endif

#include "stm32f4xx_hal_def.h"

// Wait states: FLASH_ACR LATENCY (RM0090, flash access control register).
#define FLASH_LATENCY_0 0x00000000U
#define FLASH_LATENCY_1 0x00000001U
#define FLASH_LATENCY_2 0x00000002U
#define FLASH_LATENCY_3 0x00000003U
#define FLASH_LATENCY_4 0x00000004U
#define FLASH_LATENCY_5 0x00000005U
#define FLASH_LATENCY_6 0x00000006U
#define FLASH_LATENCY_7 0x00000007U

#define __HAL_FLASH_SET_LATENCY(__LATENCY__) \
    MODIFY_REG(FLASH->ACR, FLASH_ACR_LATENCY, (__LATENCY__))
#define __HAL_FLASH_GET_LATENCY() READ_BIT(FLASH->ACR, FLASH_ACR_LATENCY)

#define __HAL_FLASH_PREFETCH_BUFFER_ENABLE() (FLASH->ACR |= FLASH_ACR_PRFTEN)
#define __HAL_FLASH_PREFETCH_BUFFER_DISABLE() (FLASH->ACR &= (~FLASH_ACR_PRFTEN))
#define __HAL_FLASH_INSTRUCTION_CACHE_ENABLE() (FLASH->ACR |= FLASH_ACR_ICEN)
#define __HAL_FLASH_INSTRUCTION_CACHE_DISABLE() (FLASH->ACR &= (~FLASH_ACR_ICEN))
#define __HAL_FLASH_DATA_CACHE_ENABLE() (FLASH->ACR |= FLASH_ACR_DCEN)
#define __HAL_FLASH_DATA_CACHE_DISABLE() (FLASH->ACR &= (~FLASH_ACR_DCEN))

#endif  // STM32F4XX_HAL_FLASH_H

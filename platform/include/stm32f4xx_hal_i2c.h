// HAL I2C driver (master, blocking).
#ifndef STM32F4XX_HAL_I2C_H
#define STM32F4XX_HAL_I2C_H

#ifndef HAL_I2C_MODULE_ENABLED
#error \
    "stm32f4xx_hal_i2c.h comes through stm32f4xx_hal.h, with HAL_I2C_MODULE_ENABLED in stm32f4xx_hal_conf.h"
#endif

#include "stm32f4xx_hal_def.h"

typedef struct {
    uint32_t ClockSpeed;
    uint32_t DutyCycle;
    uint32_t OwnAddress1;
    uint32_t AddressingMode;
    uint32_t DualAddressMode;
    uint32_t OwnAddress2;
    uint32_t GeneralCallMode;
    uint32_t NoStretchMode;
} I2C_InitTypeDef;

typedef enum {
    HAL_I2C_STATE_RESET = 0x00U,
    HAL_I2C_STATE_READY = 0x20U,
    HAL_I2C_STATE_BUSY = 0x24U,
    HAL_I2C_STATE_BUSY_TX = 0x21U,
    HAL_I2C_STATE_BUSY_RX = 0x22U,
    HAL_I2C_STATE_ERROR = 0xE0U
} HAL_I2C_StateTypeDef;

typedef enum {
    HAL_I2C_MODE_NONE = 0x00U,
    HAL_I2C_MODE_MASTER = 0x10U,
    HAL_I2C_MODE_SLAVE = 0x20U,
    HAL_I2C_MODE_MEM = 0x40U
} HAL_I2C_ModeTypeDef;

typedef struct __I2C_HandleTypeDef {
    I2C_TypeDef* Instance;
    I2C_InitTypeDef Init;
    uint8_t* pBuffPtr;
    uint16_t XferSize;
    __IO uint16_t XferCount;
    __IO uint32_t XferOptions;
    __IO uint32_t PreviousState;
    DMA_HandleTypeDef* hdmatx;
    DMA_HandleTypeDef* hdmarx;
    HAL_LockTypeDef Lock;
    __IO HAL_I2C_StateTypeDef State;
    __IO HAL_I2C_ModeTypeDef Mode;
    __IO uint32_t ErrorCode;
    __IO uint32_t Devaddress;
    __IO uint32_t Memaddress;
    __IO uint32_t MemaddSize;
    __IO uint32_t EventCount;
} I2C_HandleTypeDef;

#define I2C_DUTYCYCLE_2 0x00000000U
#define I2C_DUTYCYCLE_16_9 0x00004000U
#define I2C_ADDRESSINGMODE_7BIT 0x00004000U
#define I2C_ADDRESSINGMODE_10BIT 0x0000C000U
#define I2C_DUALADDRESS_DISABLE 0x00000000U
#define I2C_DUALADDRESS_ENABLE 0x00000001U
#define I2C_GENERALCALL_DISABLE 0x00000000U
#define I2C_GENERALCALL_ENABLE 0x00000040U
#define I2C_NOSTRETCH_DISABLE 0x00000000U
#define I2C_NOSTRETCH_ENABLE 0x00000080U
#define I2C_MEMADD_SIZE_8BIT 0x00000001U
#define I2C_MEMADD_SIZE_16BIT 0x00000010U

#define HAL_I2C_ERROR_NONE 0x00000000U
#define HAL_I2C_ERROR_BERR 0x00000001U
#define HAL_I2C_ERROR_ARLO 0x00000002U
#define HAL_I2C_ERROR_AF 0x00000004U
#define HAL_I2C_ERROR_OVR 0x00000008U
#define HAL_I2C_ERROR_TIMEOUT 0x00000020U
#define HAL_I2C_WRONG_START 0x00000200U

extern "C" {
HAL_StatusTypeDef HAL_I2C_Init(I2C_HandleTypeDef* hi2c);
HAL_StatusTypeDef HAL_I2C_DeInit(I2C_HandleTypeDef* hi2c);
void HAL_I2C_MspInit(I2C_HandleTypeDef* hi2c);
void HAL_I2C_MspDeInit(I2C_HandleTypeDef* hi2c);
HAL_StatusTypeDef HAL_I2C_Master_Transmit(I2C_HandleTypeDef* hi2c, uint16_t DevAddress,
                                          uint8_t* pData, uint16_t Size, uint32_t Timeout);
HAL_StatusTypeDef HAL_I2C_Master_Receive(I2C_HandleTypeDef* hi2c, uint16_t DevAddress,
                                         uint8_t* pData, uint16_t Size, uint32_t Timeout);
HAL_StatusTypeDef HAL_I2C_Mem_Write(I2C_HandleTypeDef* hi2c, uint16_t DevAddress,
                                    uint16_t MemAddress, uint16_t MemAddSize, uint8_t* pData,
                                    uint16_t Size, uint32_t Timeout);
HAL_StatusTypeDef HAL_I2C_Mem_Read(I2C_HandleTypeDef* hi2c, uint16_t DevAddress,
                                   uint16_t MemAddress, uint16_t MemAddSize, uint8_t* pData,
                                   uint16_t Size, uint32_t Timeout);
void HAL_I2C_EV_IRQHandler(I2C_HandleTypeDef* hi2c);
void HAL_I2C_ER_IRQHandler(I2C_HandleTypeDef* hi2c);
HAL_I2C_StateTypeDef HAL_I2C_GetState(I2C_HandleTypeDef* hi2c);
}

#endif  // STM32F4XX_HAL_I2C_H

// HAL DMA driver: the stream handle that the UART, I2C and timer handles
// link to. No stream is linked on this board; the types are here so that
// those handles have the HAL's shape.
#ifndef STM32F4XX_HAL_DMA_H
#define STM32F4XX_HAL_DMA_H

#ifndef HAL_DMA_MODULE_ENABLED
#error \
    "stm32f4xx_hal_dma.h comes through stm32f4xx_hal.h, with HAL_DMA_MODULE_ENABLED in stm32f4xx_hal_conf.h"
#endif

#include "stm32f4xx_hal_def.h"

typedef struct {
    uint32_t Channel;
    uint32_t Direction;
    uint32_t PeriphInc;
    uint32_t MemInc;
    uint32_t PeriphDataAlignment;
    uint32_t MemDataAlignment;
    uint32_t Mode;
    uint32_t Priority;
    uint32_t FIFOMode;
    uint32_t FIFOThreshold;
    uint32_t MemBurst;
    uint32_t PeriphBurst;
} DMA_InitTypeDef;

typedef enum {
    HAL_DMA_STATE_RESET = 0x00U,
    HAL_DMA_STATE_READY = 0x01U,
    HAL_DMA_STATE_BUSY = 0x02U,
    HAL_DMA_STATE_TIMEOUT = 0x03U,
    HAL_DMA_STATE_ERROR = 0x04U,
    HAL_DMA_STATE_ABORT = 0x05U
} HAL_DMA_StateTypeDef;

typedef enum {
    HAL_DMA_FULL_TRANSFER = 0x00U,
    HAL_DMA_HALF_TRANSFER = 0x01U
} HAL_DMA_LevelCompleteTypeDef;

typedef struct __DMA_HandleTypeDef {
    DMA_Stream_TypeDef* Instance;
    DMA_InitTypeDef Init;
    HAL_LockTypeDef Lock;
    __IO HAL_DMA_StateTypeDef State;
    void* Parent;
    void (*XferCpltCallback)(struct __DMA_HandleTypeDef* hdma);
    void (*XferHalfCpltCallback)(struct __DMA_HandleTypeDef* hdma);
    void (*XferM1CpltCallback)(struct __DMA_HandleTypeDef* hdma);
    void (*XferM1HalfCpltCallback)(struct __DMA_HandleTypeDef* hdma);
    void (*XferErrorCallback)(struct __DMA_HandleTypeDef* hdma);
    void (*XferAbortCallback)(struct __DMA_HandleTypeDef* hdma);
    __IO uint32_t ErrorCode;
    uint32_t StreamBaseAddress;
    uint32_t StreamIndex;
} DMA_HandleTypeDef;

extern "C" {
HAL_StatusTypeDef HAL_DMA_Init(DMA_HandleTypeDef* hdma);
HAL_StatusTypeDef HAL_DMA_DeInit(DMA_HandleTypeDef* hdma);
HAL_StatusTypeDef HAL_DMA_Start(DMA_HandleTypeDef* hdma, uint32_t SrcAddress, uint32_t DstAddress,
                                uint32_t DataLength);
HAL_StatusTypeDef HAL_DMA_Start_IT(DMA_HandleTypeDef* hdma, uint32_t SrcAddress,
                                   uint32_t DstAddress, uint32_t DataLength);
HAL_StatusTypeDef HAL_DMA_Abort(DMA_HandleTypeDef* hdma);
HAL_StatusTypeDef HAL_DMA_Abort_IT(DMA_HandleTypeDef* hdma);
HAL_StatusTypeDef HAL_DMA_PollForTransfer(DMA_HandleTypeDef* hdma,
                                          HAL_DMA_LevelCompleteTypeDef CompleteLevel,
                                          uint32_t Timeout);
void HAL_DMA_IRQHandler(DMA_HandleTypeDef* hdma);
HAL_DMA_StateTypeDef HAL_DMA_GetState(DMA_HandleTypeDef* hdma);
uint32_t HAL_DMA_GetError(DMA_HandleTypeDef* hdma);
}

#endif  // STM32F4XX_HAL_DMA_H

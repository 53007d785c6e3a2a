// HAL CAN driver (bxCAN).
#ifndef STM32F4XX_HAL_CAN_H
#define STM32F4XX_HAL_CAN_H

#ifndef HAL_CAN_MODULE_ENABLED
#error \
    "stm32f4xx_hal_can.h comes through stm32f4xx_hal.h, with HAL_CAN_MODULE_ENABLED in stm32f4xx_hal_conf.h"
#endif

#include "stm32f4xx_hal_def.h"

typedef enum {
    HAL_CAN_STATE_RESET = 0x00U,
    HAL_CAN_STATE_READY = 0x01U,
    HAL_CAN_STATE_LISTENING = 0x02U,
    HAL_CAN_STATE_SLEEP_PENDING = 0x03U,
    HAL_CAN_STATE_SLEEP_ACTIVE = 0x04U,
    HAL_CAN_STATE_ERROR = 0x05U
} HAL_CAN_StateTypeDef;

typedef struct {
    uint32_t Prescaler;
    uint32_t Mode;
    uint32_t SyncJumpWidth;
    uint32_t TimeSeg1;
    uint32_t TimeSeg2;
    FunctionalState TimeTriggeredMode;
    FunctionalState AutoBusOff;
    FunctionalState AutoWakeUp;
    FunctionalState AutoRetransmission;
    FunctionalState ReceiveFifoLocked;
    FunctionalState TransmitFifoPriority;
} CAN_InitTypeDef;

typedef struct {
    uint32_t FilterIdHigh;
    uint32_t FilterIdLow;
    uint32_t FilterMaskIdHigh;
    uint32_t FilterMaskIdLow;
    uint32_t FilterFIFOAssignment;
    uint32_t FilterBank;
    uint32_t FilterMode;
    uint32_t FilterScale;
    uint32_t FilterActivation;
    uint32_t SlaveStartFilterBank;
} CAN_FilterTypeDef;

typedef struct {
    uint32_t StdId;
    uint32_t ExtId;
    uint32_t IDE;
    uint32_t RTR;
    uint32_t DLC;
    FunctionalState TransmitGlobalTime;
} CAN_TxHeaderTypeDef;

typedef struct {
    uint32_t StdId;
    uint32_t ExtId;
    uint32_t IDE;
    uint32_t RTR;
    uint32_t DLC;
    uint32_t Timestamp;
    uint32_t FilterMatchIndex;
} CAN_RxHeaderTypeDef;

typedef struct __CAN_HandleTypeDef {
    CAN_TypeDef* Instance;
    CAN_InitTypeDef Init;
    __IO HAL_CAN_StateTypeDef State;
    __IO uint32_t ErrorCode;
} CAN_HandleTypeDef;

#define CAN_MODE_NORMAL 0x00000000U
#define CAN_MODE_LOOPBACK 0x40000000U
#define CAN_MODE_SILENT 0x80000000U
#define CAN_MODE_SILENT_LOOPBACK 0xC0000000U

#define CAN_SJW_1TQ 0x00000000U
#define CAN_SJW_2TQ 0x01000000U
#define CAN_SJW_3TQ 0x02000000U
#define CAN_SJW_4TQ 0x03000000U

#define CAN_BS1_1TQ 0x00000000U
#define CAN_BS1_2TQ 0x00010000U
#define CAN_BS1_3TQ 0x00020000U
#define CAN_BS1_4TQ 0x00030000U
#define CAN_BS1_5TQ 0x00040000U
#define CAN_BS1_6TQ 0x00050000U
#define CAN_BS1_7TQ 0x00060000U
#define CAN_BS1_8TQ 0x00070000U
#define CAN_BS1_9TQ 0x00080000U
#define CAN_BS1_10TQ 0x00090000U
#define CAN_BS1_11TQ 0x000A0000U
#define CAN_BS1_12TQ 0x000B0000U
#define CAN_BS1_13TQ 0x000C0000U
#define CAN_BS1_14TQ 0x000D0000U
#define CAN_BS1_15TQ 0x000E0000U
#define CAN_BS1_16TQ 0x000F0000U

#define CAN_BS2_1TQ 0x00000000U
#define CAN_BS2_2TQ 0x00100000U
#define CAN_BS2_3TQ 0x00200000U
#define CAN_BS2_4TQ 0x00300000U
#define CAN_BS2_5TQ 0x00400000U
#define CAN_BS2_6TQ 0x00500000U
#define CAN_BS2_7TQ 0x00600000U
#define CAN_BS2_8TQ 0x00700000U

#define CAN_ID_STD 0x00000000U
#define CAN_ID_EXT 0x00000004U
#define CAN_RTR_DATA 0x00000000U
#define CAN_RTR_REMOTE 0x00000002U

#define CAN_RX_FIFO0 0x00000000U
#define CAN_RX_FIFO1 0x00000001U
#define CAN_FILTER_FIFO0 0x00000000U
#define CAN_FILTER_FIFO1 0x00000001U
#define CAN_FILTERMODE_IDMASK 0x00000000U
#define CAN_FILTERMODE_IDLIST 0x00000001U
#define CAN_FILTERSCALE_16BIT 0x00000000U
#define CAN_FILTERSCALE_32BIT 0x00000001U
#define CAN_FILTER_DISABLE 0x00000000U
#define CAN_FILTER_ENABLE 0x00000001U

#define CAN_TX_MAILBOX0 0x00000001U
#define CAN_TX_MAILBOX1 0x00000002U
#define CAN_TX_MAILBOX2 0x00000004U

#define HAL_CAN_ERROR_NONE 0x00000000U
#define HAL_CAN_ERROR_TIMEOUT 0x00020000U
#define HAL_CAN_ERROR_NOT_INITIALIZED 0x00040000U
#define HAL_CAN_ERROR_NOT_READY 0x00080000U
#define HAL_CAN_ERROR_NOT_STARTED 0x00100000U
#define HAL_CAN_ERROR_PARAM 0x00200000U
#define HAL_CAN_ERROR_INTERNAL 0x00800000U

extern "C" {
HAL_StatusTypeDef HAL_CAN_Init(CAN_HandleTypeDef* hcan);
HAL_StatusTypeDef HAL_CAN_DeInit(CAN_HandleTypeDef* hcan);
void HAL_CAN_MspInit(CAN_HandleTypeDef* hcan);
void HAL_CAN_MspDeInit(CAN_HandleTypeDef* hcan);
HAL_StatusTypeDef HAL_CAN_ConfigFilter(CAN_HandleTypeDef* hcan,
                                       const CAN_FilterTypeDef* sFilterConfig);
HAL_StatusTypeDef HAL_CAN_Start(CAN_HandleTypeDef* hcan);
HAL_StatusTypeDef HAL_CAN_Stop(CAN_HandleTypeDef* hcan);
HAL_StatusTypeDef HAL_CAN_AddTxMessage(CAN_HandleTypeDef* hcan, const CAN_TxHeaderTypeDef* pHeader,
                                       const uint8_t aData[], uint32_t* pTxMailbox);
HAL_StatusTypeDef HAL_CAN_AbortTxRequest(CAN_HandleTypeDef* hcan, uint32_t TxMailboxes);
uint32_t HAL_CAN_GetTxMailboxesFreeLevel(const CAN_HandleTypeDef* hcan);
uint32_t HAL_CAN_IsTxMessagePending(const CAN_HandleTypeDef* hcan, uint32_t TxMailboxes);
HAL_StatusTypeDef HAL_CAN_GetRxMessage(CAN_HandleTypeDef* hcan, uint32_t RxFifo,
                                       CAN_RxHeaderTypeDef* pHeader, uint8_t aData[]);
uint32_t HAL_CAN_GetRxFifoFillLevel(const CAN_HandleTypeDef* hcan, uint32_t RxFifo);
HAL_CAN_StateTypeDef HAL_CAN_GetState(const CAN_HandleTypeDef* hcan);
uint32_t HAL_CAN_GetError(const CAN_HandleTypeDef* hcan);
}

#endif  // STM32F4XX_HAL_CAN_H

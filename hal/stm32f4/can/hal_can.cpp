// CAN port of the STM32F4 board. Polling only: no CAN interrupt, no callback.
#include "hal_can.h"

#include "bsp_can.h"
#include "can_if.h"
#include "stm32f4xx_hal.h"

namespace {

constexpr uint32_t CAN_TX_TIMEOUT_MS = 100U;
constexpr uint32_t kMaxDataLength = 8U;
constexpr uint32_t kStdIdMask = 0x7FFU;
// The HAL fills StdId only for standard frames. An extended frame reports its
// 29-bit identifier with this bit set, so it never equals an 11-bit one.
constexpr uint32_t kExtendedIdFlag = 0x80000000U;

// The 28 shared banks split evenly: 0 to 13 filter for CAN1, 14 to 27 for
// CAN2. Each channel's accept-all filter sits in the first bank it owns, so
// initialising one channel never takes the other's filter away.
constexpr uint32_t kSlaveStartFilterBank = 14U;
constexpr uint32_t kAcceptAllBank[] = {0U, kSlaveStartFilterBank};

CAN_HandleTypeDef* lookup(int ch) {
    bsp_can_t* bsp = bsp_can_get_handle(ch);
    return bsp == nullptr ? nullptr : bsp->hcan;
}

// Whether the frame that left `mailbox` was acknowledged. Without automatic
// retransmission (channel 0) a frame also leaves its mailbox when it failed.
bool transmitted(const CAN_HandleTypeDef* hcan, uint32_t mailbox) {
    const uint32_t txok = mailbox == CAN_TX_MAILBOX0   ? CAN_TSR_TXOK0
                          : mailbox == CAN_TX_MAILBOX1 ? CAN_TSR_TXOK1
                                                       : CAN_TSR_TXOK2;
    return (hcan->Instance->TSR & txok) != 0U;
}

int hal_can_init(int ch) {
    CAN_HandleTypeDef* hcan = lookup(ch);
    if (hcan == nullptr) {
        return -1;
    }
    CAN_FilterTypeDef filter;
    filter.FilterIdHigh = 0;
    filter.FilterIdLow = 0;
    filter.FilterMaskIdHigh = 0;
    filter.FilterMaskIdLow = 0;
    filter.FilterFIFOAssignment = CAN_FILTER_FIFO0;
    filter.FilterBank = kAcceptAllBank[ch];
    filter.FilterMode = CAN_FILTERMODE_IDMASK;
    filter.FilterScale = CAN_FILTERSCALE_32BIT;
    filter.FilterActivation = CAN_FILTER_ENABLE;
    filter.SlaveStartFilterBank = kSlaveStartFilterBank;
    if (HAL_CAN_ConfigFilter(hcan, &filter) != HAL_OK) {
        return -1;
    }
    // A started controller refuses a second start and keeps working.
    if (HAL_CAN_Start(hcan) != HAL_OK) {
        return -1;
    }
    return 0;
}

int hal_can_send(int ch, const can_message_t* msg) {
    if (msg == nullptr || msg->length > kMaxDataLength) {
        return -1;
    }
    CAN_HandleTypeDef* hcan = lookup(ch);
    if (hcan == nullptr) {
        return -1;
    }
    CAN_TxHeaderTypeDef header;
    header.StdId = msg->id & kStdIdMask;
    header.ExtId = 0;
    header.IDE = CAN_ID_STD;
    header.RTR = CAN_RTR_DATA;
    header.DLC = msg->length;
    header.TransmitGlobalTime = DISABLE;
    uint32_t mailbox = 0;
    if (HAL_CAN_AddTxMessage(hcan, &header, msg->data, &mailbox) != HAL_OK) {
        return -1;
    }
    // On time-out the frame is not aborted: it stays queued and may go out later.
    const uint32_t tickstart = HAL_GetTick();
    while (HAL_CAN_IsTxMessagePending(hcan, mailbox) != 0U) {
        if (HAL_GetTick() - tickstart > CAN_TX_TIMEOUT_MS) {
            return -1;
        }
    }
    return transmitted(hcan, mailbox) ? 0 : -1;
}

int hal_can_recv(int ch, can_message_t* msg) {
    if (msg == nullptr) {
        return -1;
    }
    CAN_HandleTypeDef* hcan = lookup(ch);
    if (hcan == nullptr) {
        return -1;
    }
    if (HAL_CAN_GetRxFifoFillLevel(hcan, CAN_RX_FIFO0) == 0U) {
        return -1;
    }
    CAN_RxHeaderTypeDef header;
    if (HAL_CAN_GetRxMessage(hcan, CAN_RX_FIFO0, &header, msg->data) != HAL_OK) {
        return -1;
    }
    msg->id = header.IDE == CAN_ID_STD ? header.StdId : (header.ExtId | kExtendedIdFlag);
    msg->length = static_cast<uint8_t>(header.DLC);
    return 0;
}

int hal_can_filter_config(int ch, uint8_t filter_id, uint32_t id, uint32_t mask) {
    CAN_HandleTypeDef* hcan = lookup(ch);
    if (hcan == nullptr) {
        return -1;
    }
    // Two 16-bit id/mask pairs: low halves and high halves, already in the
    // controller's layout.
    CAN_FilterTypeDef filter;
    filter.FilterBank = filter_id;
    filter.FilterMode = CAN_FILTERMODE_IDMASK;
    filter.FilterScale = CAN_FILTERSCALE_16BIT;
    filter.FilterIdHigh = id >> 16;
    filter.FilterIdLow = id & 0xFFFFU;
    filter.FilterMaskIdHigh = mask >> 16;
    filter.FilterMaskIdLow = mask & 0xFFFFU;
    filter.FilterFIFOAssignment = CAN_FILTER_FIFO0;
    filter.FilterActivation = CAN_FILTER_ENABLE;
    filter.SlaveStartFilterBank = kSlaveStartFilterBank;
    return HAL_CAN_ConfigFilter(hcan, &filter) == HAL_OK ? 0 : -1;
}

constexpr can_ops_t ops = {
    hal_can_init,
    hal_can_send,
    hal_can_recv,
    hal_can_filter_config,
};

}  // namespace

void hal_can_init_all(void) {
    can_register_ops(&ops);
}

// HAL CAN on the bxCAN registers: initialisation, filters, start, transmit
// mailboxes and receive FIFOs, with the handle states and refusals the
// library documents (a call in the wrong state sets an error bit and fails).
//
// Every call costs cost::kHalCall plus its register accesses, but the two
// status queries that the port polls cost cost::kHalCanQuery: they bound the
// motor driver's reply window (without the firmware's share of the loop when
// its code is timed by its own instructions).
#include "hal_internal.hpp"
#include "sim/platform.hpp"

using namespace sim::hal;

namespace {

bool g_firmware_timed = false;

uint32_t can_query_cost() {
    return cost::kHalCanQuery - (g_firmware_timed ? cost::kHalCanQueryFirmware : 0);
}
// MCR
constexpr uint32_t kInrq = 1U << 0, kSleep = 1U << 1, kTxfp = 1U << 2, kRflm = 1U << 3,
                   kNart = 1U << 4, kAwum = 1U << 5, kAbom = 1U << 6, kTtcm = 1U << 7;
// MSR
constexpr uint32_t kInak = 1U << 0, kSlak = 1U << 1;
// TSR
constexpr uint32_t kTsrCodePos = 24U, kTsrCode = 3U << kTsrCodePos, kTsrTmePos = 26U,
                   kTsrTme = 7U << kTsrTmePos;
// TIxR / RIxR
constexpr uint32_t kTxrq = 1U << 0, kStidPos = 21U, kExidPos = 3U, kIde = 1U << 2, kRtr = 1U << 1;
constexpr uint32_t kTgt = 1U << 8;
// RFxR
constexpr uint32_t kFmp = 3U, kRfom = 1U << 5;
// FMR
constexpr uint32_t kFinit = 1U << 0, kCan2sbPos = 8U, kCan2sb = 0x3FU << kCan2sbPos;
constexpr uint32_t kModeTimeoutMs = 10;

void set_if(gimbal_reg32_t& reg, uint32_t bit, bool on) {
    if (on) {
        SET_BIT(reg, bit);
    } else {
        CLEAR_BIT(reg, bit);
    }
}

bool configured(const CAN_HandleTypeDef* hcan) {
    return hcan->State == HAL_CAN_STATE_READY || hcan->State == HAL_CAN_STATE_LISTENING;
}

gimbal_reg32_t& rfr(CAN_TypeDef* can, uint32_t fifo) {
    return fifo == CAN_RX_FIFO0 ? can->RF0R : can->RF1R;
}
// The controller acknowledges a mode request in MSR; a request it does not
// acknowledge within the HAL's limit leaves the handle in error.
bool mode_reached(CAN_HandleTypeDef* hcan, uint32_t msr_bit, bool set) {
    CAN_TypeDef* can = hcan->Instance;
    if (wait_until([can, msr_bit, set] { return ((can->MSR & msr_bit) != 0U) == set; },
                   HAL_GetTick(), kModeTimeoutMs) == HAL_OK) {
        return true;
    }
    hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_TIMEOUT;
    hcan->State = HAL_CAN_STATE_ERROR;
    return false;
}
}  // namespace

extern "C" {

__attribute__((weak)) void HAL_CAN_MspInit(CAN_HandleTypeDef* hcan) {
    (void)hcan;
}
__attribute__((weak)) void HAL_CAN_MspDeInit(CAN_HandleTypeDef* hcan) {
    (void)hcan;
}

HAL_StatusTypeDef HAL_CAN_Init(CAN_HandleTypeDef* hcan) {
    enter(cost::kHalInit);
    if (hcan == nullptr) {
        return HAL_ERROR;
    }
    if (hcan->State == HAL_CAN_STATE_RESET) {
        HAL_CAN_MspInit(hcan);
    }
    CAN_TypeDef* can = hcan->Instance;
    CLEAR_BIT(can->MCR, kSleep);
    if (!mode_reached(hcan, kSlak, false)) {
        return HAL_ERROR;
    }
    SET_BIT(can->MCR, kInrq);
    if (!mode_reached(hcan, kInak, true)) {
        return HAL_ERROR;
    }
    const CAN_InitTypeDef& init = hcan->Init;
    set_if(can->MCR, kTtcm, init.TimeTriggeredMode == ENABLE);
    set_if(can->MCR, kAbom, init.AutoBusOff == ENABLE);
    set_if(can->MCR, kAwum, init.AutoWakeUp == ENABLE);
    set_if(can->MCR, kNart, init.AutoRetransmission != ENABLE);
    set_if(can->MCR, kRflm, init.ReceiveFifoLocked == ENABLE);
    set_if(can->MCR, kTxfp, init.TransmitFifoPriority == ENABLE);
    WRITE_REG(can->BTR, init.Mode | init.SyncJumpWidth | init.TimeSeg1 | init.TimeSeg2 |
                            (init.Prescaler - 1U));
    hcan->ErrorCode = HAL_CAN_ERROR_NONE;
    hcan->State = HAL_CAN_STATE_READY;
    return HAL_OK;
}

// The 28 banks belong to the first controller's registers whichever handle
// is given; every call rewrites the slave start bank from the record.
HAL_StatusTypeDef HAL_CAN_ConfigFilter(CAN_HandleTypeDef* hcan,
                                       const CAN_FilterTypeDef* sFilterConfig) {
    enter();
    if (!configured(hcan)) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_NOT_INITIALIZED;
        return HAL_ERROR;
    }
    CAN_TypeDef* can = CAN1;
    const CAN_FilterTypeDef& f = *sFilterConfig;
    SET_BIT(can->FMR, kFinit);
    CLEAR_BIT(can->FMR, kCan2sb);
    SET_BIT(can->FMR, f.SlaveStartFilterBank << kCan2sbPos);
    const uint32_t pos = 1U << (f.FilterBank & 0x1FU);
    const uint32_t bank = f.FilterBank & 0x1FU;
    CLEAR_BIT(can->FA1R, pos);
    if (f.FilterScale == CAN_FILTERSCALE_16BIT) {
        CLEAR_BIT(can->FS1R, pos);
        can->sFilterRegister[bank].FR1 =
            ((0x0000FFFFU & f.FilterMaskIdLow) << 16U) | (0x0000FFFFU & f.FilterIdLow);
        can->sFilterRegister[bank].FR2 =
            ((0x0000FFFFU & f.FilterMaskIdHigh) << 16U) | (0x0000FFFFU & f.FilterIdHigh);
    } else {
        SET_BIT(can->FS1R, pos);
        can->sFilterRegister[bank].FR1 =
            ((0x0000FFFFU & f.FilterIdHigh) << 16U) | (0x0000FFFFU & f.FilterIdLow);
        can->sFilterRegister[bank].FR2 =
            ((0x0000FFFFU & f.FilterMaskIdHigh) << 16U) | (0x0000FFFFU & f.FilterMaskIdLow);
    }
    set_if(can->FM1R, pos, f.FilterMode != CAN_FILTERMODE_IDMASK);
    set_if(can->FFA1R, pos, f.FilterFIFOAssignment != CAN_FILTER_FIFO0);
    if (f.FilterActivation == CAN_FILTER_ENABLE) {
        SET_BIT(can->FA1R, pos);
    }
    CLEAR_BIT(can->FMR, kFinit);
    return HAL_OK;
}

HAL_StatusTypeDef HAL_CAN_Start(CAN_HandleTypeDef* hcan) {
    enter();
    if (hcan->State != HAL_CAN_STATE_READY) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_NOT_READY;
        return HAL_ERROR;
    }
    hcan->State = HAL_CAN_STATE_LISTENING;
    CAN_TypeDef* can = hcan->Instance;
    CLEAR_BIT(can->MCR, kInrq);
    if (!mode_reached(hcan, kInak, false)) {
        return HAL_ERROR;
    }
    hcan->ErrorCode = HAL_CAN_ERROR_NONE;
    return HAL_OK;
}

HAL_StatusTypeDef HAL_CAN_Stop(CAN_HandleTypeDef* hcan) {
    enter();
    if (hcan->State != HAL_CAN_STATE_LISTENING) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_NOT_STARTED;
        return HAL_ERROR;
    }
    CAN_TypeDef* can = hcan->Instance;
    SET_BIT(can->MCR, kInrq);
    if (!mode_reached(hcan, kInak, true)) {
        return HAL_ERROR;
    }
    CLEAR_BIT(can->MCR, kSleep);
    hcan->State = HAL_CAN_STATE_READY;
    return HAL_OK;
}

// Also accepted before the start: the frame then waits in its mailbox until
// the controller leaves initialisation mode.
HAL_StatusTypeDef HAL_CAN_AddTxMessage(CAN_HandleTypeDef* hcan, const CAN_TxHeaderTypeDef* pHeader,
                                       const uint8_t aData[], uint32_t* pTxMailbox) {
    enter();
    if (!configured(hcan)) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_NOT_INITIALIZED;
        return HAL_ERROR;
    }
    CAN_TypeDef* can = hcan->Instance;
    const uint32_t tsr = can->TSR;
    if ((tsr & kTsrTme) == 0U) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_PARAM;
        return HAL_ERROR;
    }
    const uint32_t mailbox = (tsr & kTsrCode) >> kTsrCodePos;
    if (mailbox > 2U) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_INTERNAL;
        return HAL_ERROR;
    }
    *pTxMailbox = 1U << mailbox;
    CAN_TxMailBox_TypeDef& box = can->sTxMailBox[mailbox];
    if (pHeader->IDE == CAN_ID_STD) {
        box.TIR = (pHeader->StdId << kStidPos) | pHeader->RTR;
    } else {
        box.TIR = (pHeader->ExtId << kExidPos) | pHeader->IDE | pHeader->RTR;
    }
    box.TDTR = pHeader->DLC;
    if (pHeader->TransmitGlobalTime == ENABLE) {
        SET_BIT(box.TDTR, kTgt);
    }
    box.TDHR = (static_cast<uint32_t>(aData[7]) << 24U) | (static_cast<uint32_t>(aData[6]) << 16U) |
               (static_cast<uint32_t>(aData[5]) << 8U) | static_cast<uint32_t>(aData[4]);
    box.TDLR = (static_cast<uint32_t>(aData[3]) << 24U) | (static_cast<uint32_t>(aData[2]) << 16U) |
               (static_cast<uint32_t>(aData[1]) << 8U) | static_cast<uint32_t>(aData[0]);
    SET_BIT(box.TIR, kTxrq);
    return HAL_OK;
}

uint32_t HAL_CAN_GetTxMailboxesFreeLevel(const CAN_HandleTypeDef* hcan) {
    enter();
    if (!configured(hcan)) {
        return 0;
    }
    const uint32_t tme = (hcan->Instance->TSR & kTsrTme) >> kTsrTmePos;
    return (tme & 1U) + ((tme >> 1U) & 1U) + ((tme >> 2U) & 1U);
}

uint32_t HAL_CAN_IsTxMessagePending(const CAN_HandleTypeDef* hcan, uint32_t TxMailboxes) {
    enter(can_query_cost());
    if (!configured(hcan)) {
        return 0;
    }
    const uint32_t want = TxMailboxes << kTsrTmePos;
    return (hcan->Instance->TSR & want) != want ? 1U : 0U;
}

uint32_t HAL_CAN_GetRxFifoFillLevel(const CAN_HandleTypeDef* hcan, uint32_t RxFifo) {
    enter(can_query_cost());
    if (!configured(hcan)) {
        return 0;
    }
    return rfr(hcan->Instance, RxFifo) & kFmp;
}

HAL_StatusTypeDef HAL_CAN_GetRxMessage(CAN_HandleTypeDef* hcan, uint32_t RxFifo,
                                       CAN_RxHeaderTypeDef* pHeader, uint8_t aData[]) {
    enter();
    if (!configured(hcan)) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_NOT_INITIALIZED;
        return HAL_ERROR;
    }
    CAN_TypeDef* can = hcan->Instance;
    if ((rfr(can, RxFifo) & kFmp) == 0U) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_PARAM;
        return HAL_ERROR;
    }
    CAN_FIFOMailBox_TypeDef& box = can->sFIFOMailBox[RxFifo == CAN_RX_FIFO0 ? 0 : 1];
    const uint32_t rir = box.RIR;
    pHeader->IDE = rir & kIde;
    // Only the field of the frame's own format is written.
    if (pHeader->IDE == CAN_ID_STD) {
        pHeader->StdId = rir >> kStidPos;
    } else {
        pHeader->ExtId = rir >> kExidPos;
    }
    pHeader->RTR = rir & kRtr;
    const uint32_t rdtr = box.RDTR;
    pHeader->DLC = rdtr & 0xFU;
    pHeader->FilterMatchIndex = (rdtr >> 8U) & 0xFFU;
    pHeader->Timestamp = rdtr >> 16U;
    const uint32_t low = box.RDLR;
    const uint32_t high = box.RDHR;
    for (int i = 0; i < 4; i++) {
        aData[i] = static_cast<uint8_t>(low >> (8 * i));
        aData[4 + i] = static_cast<uint8_t>(high >> (8 * i));
    }
    SET_BIT(rfr(can, RxFifo), kRfom);
    return HAL_OK;
}

HAL_CAN_StateTypeDef HAL_CAN_GetState(const CAN_HandleTypeDef* hcan) {
    enter(cost::kHalQuery);
    return hcan->State;
}

uint32_t HAL_CAN_GetError(const CAN_HandleTypeDef* hcan) {
    enter(cost::kHalQuery);
    return hcan->ErrorCode;
}
}

void sim::set_firmware_code_timed(bool timed) {
    g_firmware_timed = timed;
}

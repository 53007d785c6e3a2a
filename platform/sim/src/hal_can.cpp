// HAL CAN: controller initialisation on the bxCAN registers.
#include "hal_internal.hpp"

using namespace sim::hal;

namespace {
constexpr uint32_t kInrq = 1U << 0, kSleep = 1U << 1, kTxfp = 1U << 2, kRflm = 1U << 3,
                   kNart = 1U << 4, kAwum = 1U << 5, kAbom = 1U << 6, kTtcm = 1U << 7;
constexpr uint32_t kInak = 1U << 0, kSlak = 1U << 1;
constexpr uint32_t kModeTimeoutMs = 10;

void set_if(gimbal_reg32_t& reg, uint32_t bit, bool on) {
    if (on) {
        SET_BIT(reg, bit);
    } else {
        CLEAR_BIT(reg, bit);
    }
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
    if (wait_until([can] { return (can->MSR & kSlak) == 0U; }, HAL_GetTick(), kModeTimeoutMs) !=
        HAL_OK) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_TIMEOUT;
        hcan->State = HAL_CAN_STATE_ERROR;
        return HAL_ERROR;
    }
    SET_BIT(can->MCR, kInrq);
    if (wait_until([can] { return (can->MSR & kInak) != 0U; }, HAL_GetTick(), kModeTimeoutMs) !=
        HAL_OK) {
        hcan->ErrorCode = hcan->ErrorCode | HAL_CAN_ERROR_TIMEOUT;
        hcan->State = HAL_CAN_STATE_ERROR;
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

HAL_CAN_StateTypeDef HAL_CAN_GetState(const CAN_HandleTypeDef* hcan) {
    enter(cost::kHalQuery);
    return hcan->State;
}

uint32_t HAL_CAN_GetError(const CAN_HandleTypeDef* hcan) {
    enter(cost::kHalQuery);
    return hcan->ErrorCode;
}
}

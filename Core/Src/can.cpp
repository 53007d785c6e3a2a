// Both bxCAN controllers at 1 Mbit/s: 42 MHz / 6 = 7 MHz quanta, 1 + 2 + 4 per bit.
#include "can.h"

#include "gpio.h"

CAN_HandleTypeDef hcan1;
CAN_HandleTypeDef hcan2;
uint32_t HAL_RCC_CAN1_CLK_ENABLED = 0;

namespace {

void can_init(CAN_HandleTypeDef* hcan, CAN_TypeDef* instance, FunctionalState retransmit) {
    hcan->Instance = instance;
    hcan->Init.Prescaler = 6;
    hcan->Init.Mode = CAN_MODE_NORMAL;
    hcan->Init.SyncJumpWidth = CAN_SJW_1TQ;
    hcan->Init.TimeSeg1 = CAN_BS1_2TQ;
    hcan->Init.TimeSeg2 = CAN_BS2_4TQ;
    hcan->Init.TimeTriggeredMode = DISABLE;
    hcan->Init.AutoBusOff = DISABLE;
    hcan->Init.AutoWakeUp = DISABLE;
    hcan->Init.AutoRetransmission = retransmit;
    hcan->Init.ReceiveFifoLocked = DISABLE;
    hcan->Init.TransmitFifoPriority = DISABLE;
    if (HAL_CAN_Init(hcan) != HAL_OK) {
        Error_Handler();
    }
}

void can1_clock_ref(void) {
    HAL_RCC_CAN1_CLK_ENABLED++;
    if (HAL_RCC_CAN1_CLK_ENABLED == 1) {
        __HAL_RCC_CAN1_CLK_ENABLE();
    }
}

}  // namespace

void MX_CAN1_Init(void) {
    can_init(&hcan1, CAN1, DISABLE);
}

void MX_CAN2_Init(void) {
    can_init(&hcan2, CAN2, ENABLE);
}

extern "C" void HAL_CAN_MspInit(CAN_HandleTypeDef* canHandle) {
    if (canHandle->Instance == CAN1) {
        can1_clock_ref();
        __HAL_RCC_GPIOD_CLK_ENABLE();
        gpio_init_alternate(GPIOD, GPIO_PIN_0 | GPIO_PIN_1, GPIO_MODE_AF_PP,
                            GPIO_AF9_CAN1);  // PD0 RX, PD1 TX
    } else if (canHandle->Instance == CAN2) {
        __HAL_RCC_CAN2_CLK_ENABLE();
        can1_clock_ref();  // CAN2 works only with the CAN1 clock running
        __HAL_RCC_GPIOB_CLK_ENABLE();
        gpio_init_alternate(GPIOB, GPIO_PIN_12 | GPIO_PIN_13, GPIO_MODE_AF_PP,
                            GPIO_AF9_CAN2);  // PB12 RX, PB13 TX
    }
}

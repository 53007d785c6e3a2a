#pragma once

#include "main.h"

extern CAN_HandleTypeDef hcan1;
extern CAN_HandleTypeDef hcan2;
/// How many controllers asked for the CAN1 clock (CAN2 needs it too).
extern uint32_t HAL_RCC_CAN1_CLK_ENABLED;

void MX_CAN1_Init(void);
void MX_CAN2_Init(void);

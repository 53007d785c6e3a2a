// CAN channels of the board: channel number to HAL handle.
#pragma once

#include "stm32f4xx_hal.h"

typedef struct {
    CAN_HandleTypeDef* hcan;
} bsp_can_t;

/// The table's own entry for channel `ch` (0: CAN1, 1: CAN2), or null outside the table.
bsp_can_t* bsp_can_get_handle(int ch);

// UART channels of the board: channel number to HAL handle.
#pragma once

#include "stm32f4xx_hal.h"

typedef struct {
    UART_HandleTypeDef* huart;
} bsp_uart_t;

/// The table's own entry for channel `ch` (0, 1), or null outside the table.
bsp_uart_t* bsp_uart_get_handle(int ch);

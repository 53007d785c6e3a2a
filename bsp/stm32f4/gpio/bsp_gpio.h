// Single GPIO channels of the board: channel number to port and pin.
#pragma once

#include "stm32f4xx_hal.h"

typedef struct {
    GPIO_TypeDef* port;
    uint16_t pin;  ///< one-bit pin mask
} bsp_gpio_t;

/// The table's own entry for channel `ch` (0, 1), or null outside the table.
bsp_gpio_t* bsp_gpio_get_handle(int ch);

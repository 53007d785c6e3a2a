// LEDs of the board: LED number to port and pin.
#pragma once

#include "stm32f4xx_hal.h"

typedef struct {
    GPIO_TypeDef* port;
    uint16_t pin;  ///< one-bit pin mask
} bsp_led_t;

/// The table's own entry for LED `id` (0 to 2), or null outside the table.
bsp_led_t* bsp_led_get(int id);

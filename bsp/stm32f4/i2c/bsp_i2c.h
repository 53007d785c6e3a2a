// Hardware I2C channels of the board: channel number to HAL handle.
#pragma once

#include "stm32f4xx_hal.h"

typedef struct {
    I2C_HandleTypeDef* i2c;  ///< may be null: no controller on that channel
} bsp_i2c_t;

/// The table's own entry for channel `ch` (0, 1), or null outside the table.
/// Test the handle inside the record too.
bsp_i2c_t* bsp_i2c_get_handle(int ch);

// Board table of the bit-banged I2C buses.
#pragma once

#include <cstdint>

#include "stm32f4xx_hal.h"

/// One bit-banged bus: both ports first, then both pins, clock before data in each pair.
typedef struct {
    GPIO_TypeDef* scl_port;  ///< port of the clock line
    GPIO_TypeDef* sda_port;  ///< port of the data line
    uint16_t scl_pin;        ///< one-bit pin mask of the clock line
    uint16_t sda_pin;        ///< one-bit pin mask of the data line
} bsp_soft_i2c_t;

/// The table entry itself for channel `ch` (valid: 0), or null outside the table.
bsp_soft_i2c_t* bsp_soft_i2c_get_handle(int ch);

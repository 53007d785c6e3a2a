// Bit-banged I2C port of the STM32F4 board.
#pragma once

/// Registers the bit-banged I2C operation table with the interface layer; touches no pin.
void hal_soft_i2c_init_all(void);

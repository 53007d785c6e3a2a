// Hardware I2C port of the STM32F4 board.
#pragma once

/// Registers the hardware I2C operation table with the interface layer; touches no hardware.
void hal_i2c_init_all(void);

// GPIO port of the STM32F4 board.
#pragma once

/// Registers the GPIO operation table with the interface layer; touches no hardware.
void hal_gpio_init_all(void);

// LED port of the STM32F4 board.
#pragma once

/// Registers the LED operation table with the interface layer; touches no hardware.
void hal_led_init_all(void);

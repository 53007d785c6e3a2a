// UART port of the STM32F4 board.
#pragma once

/// Registers the UART operation table with the interface layer; touches no hardware.
void hal_uart_init_all(void);

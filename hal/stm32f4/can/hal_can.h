// CAN port of the STM32F4 board: the CAN operation table over the HAL, by polling.
#pragma once

/// Registers the CAN operation table with the interface layer; touches no hardware.
void hal_can_init_all(void);

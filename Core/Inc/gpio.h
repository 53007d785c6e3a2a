#pragma once

#include "main.h"

void MX_GPIO_Init(void);

/// Hands `pins` of `port` to a peripheral: alternate function `alternate`,
/// `mode` GPIO_MODE_AF_PP or GPIO_MODE_AF_OD, no pull, very high speed.
void gpio_init_alternate(GPIO_TypeDef* port, uint32_t pins, uint32_t mode, uint8_t alternate);

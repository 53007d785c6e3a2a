#pragma once

void MX_GPIO_Init(void);

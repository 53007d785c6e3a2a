#pragma once

#include "main.h"

extern I2C_HandleTypeDef hi2c2;

void MX_I2C2_Init(void);

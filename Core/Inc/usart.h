#pragma once

#include "main.h"

extern UART_HandleTypeDef huart1;  // console
extern UART_HandleTypeDef huart6;

void MX_USART1_UART_Init(void);
void MX_USART6_UART_Init(void);

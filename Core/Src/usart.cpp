// USART1 is the console (PA9/PA10); USART6 (PC6/PC7) is configured but unused.
#include "usart.h"

#include "gpio.h"

UART_HandleTypeDef huart1;
UART_HandleTypeDef huart6;

namespace {

void uart_init(UART_HandleTypeDef* huart, USART_TypeDef* instance) {
    huart->Instance = instance;
    huart->Init.BaudRate = 115200;
    huart->Init.WordLength = UART_WORDLENGTH_8B;
    huart->Init.StopBits = UART_STOPBITS_1;
    huart->Init.Parity = UART_PARITY_NONE;
    huart->Init.Mode = UART_MODE_TX_RX;
    huart->Init.HwFlowCtl = UART_HWCONTROL_NONE;
    huart->Init.OverSampling = UART_OVERSAMPLING_16;
    if (HAL_UART_Init(huart) != HAL_OK) {
        Error_Handler();
    }
}

}  // namespace

void MX_USART1_UART_Init(void) {
    uart_init(&huart1, USART1);
}

void MX_USART6_UART_Init(void) {
    uart_init(&huart6, USART6);
}

extern "C" void HAL_UART_MspInit(UART_HandleTypeDef* uartHandle) {
    if (uartHandle->Instance == USART1) {
        __HAL_RCC_USART1_CLK_ENABLE();
        __HAL_RCC_GPIOA_CLK_ENABLE();
        gpio_init_alternate(GPIOA, GPIO_PIN_9 | GPIO_PIN_10, GPIO_MODE_AF_PP, GPIO_AF7_USART1);
    } else if (uartHandle->Instance == USART6) {
        __HAL_RCC_USART6_CLK_ENABLE();
        __HAL_RCC_GPIOC_CLK_ENABLE();
        gpio_init_alternate(GPIOC, GPIO_PIN_6 | GPIO_PIN_7, GPIO_MODE_AF_PP, GPIO_AF8_USART6);
    }
}

extern "C" void HAL_UART_MspDeInit(UART_HandleTypeDef* uartHandle) {
    if (uartHandle->Instance == USART1) {
        __HAL_RCC_USART1_CLK_DISABLE();
        HAL_GPIO_DeInit(GPIOA, GPIO_PIN_9 | GPIO_PIN_10);
    } else if (uartHandle->Instance == USART6) {
        __HAL_RCC_USART6_CLK_DISABLE();
        HAL_GPIO_DeInit(GPIOC, GPIO_PIN_6 | GPIO_PIN_7);
    }
}

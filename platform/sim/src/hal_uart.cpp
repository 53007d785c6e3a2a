// HAL UART, blocking transmit, on the USART registers.
#include "hal_internal.hpp"

using namespace sim::hal;

namespace {
constexpr uint32_t kCr1Config =
    USART_CR1_M | USART_CR1_PCE | USART_CR1_PS | USART_CR1_TE | USART_CR1_RE | USART_CR1_OVER8;

bool on_apb2(const USART_TypeDef* usart) {
    return usart == USART1 || usart == USART6;
}

// The board stops there, saying why; the status is never seen.
HAL_StatusTypeDef not_modelled(const char* where) {
    cpu().halt(where);
    return HAL_ERROR;
}
}  // namespace

extern "C" {

__attribute__((weak)) void HAL_UART_MspInit(UART_HandleTypeDef* huart) {
    (void)huart;
}
__attribute__((weak)) void HAL_UART_MspDeInit(UART_HandleTypeDef* huart) {
    (void)huart;
}

HAL_StatusTypeDef HAL_UART_Init(UART_HandleTypeDef* huart) {
    enter(cost::kHalInit);
    if (huart == nullptr || huart->Init.BaudRate == 0U) {
        return HAL_ERROR;
    }
    if (huart->gState == HAL_UART_STATE_RESET) {
        huart->Lock = HAL_UNLOCKED;
        HAL_UART_MspInit(huart);
    }
    huart->gState = HAL_UART_STATE_BUSY;
    USART_TypeDef* usart = huart->Instance;
    CLEAR_BIT(usart->CR1, USART_CR1_UE);
    MODIFY_REG(usart->CR2, USART_CR2_STOP, huart->Init.StopBits);
    MODIFY_REG(
        usart->CR1, kCr1Config,
        huart->Init.WordLength | huart->Init.Parity | huart->Init.Mode | huart->Init.OverSampling);
    MODIFY_REG(usart->CR3, USART_CR3_RTSE | USART_CR3_CTSE, huart->Init.HwFlowCtl);
    const uint32_t pclk = on_apb2(usart) ? HAL_RCC_GetPCLK2Freq() : HAL_RCC_GetPCLK1Freq();
    const uint32_t baud = huart->Init.BaudRate;
    uint32_t brr;
    if (huart->Init.OverSampling == UART_OVERSAMPLING_8) {
        const uint32_t div = (2U * pclk + baud / 2U) / baud;  // in eighths
        brr = (div & 0xFFF0U) | ((div & 0x000FU) >> 1U);
    } else {
        brr = (pclk + baud / 2U) / baud;  // mantissa and sixteenths, rounded
    }
    usart->BRR = brr;
    SET_BIT(usart->CR1, USART_CR1_UE);
    huart->ErrorCode = HAL_UART_ERROR_NONE;
    huart->gState = HAL_UART_STATE_READY;
    huart->RxState = HAL_UART_STATE_READY;
    return HAL_OK;
}

HAL_StatusTypeDef HAL_UART_DeInit(UART_HandleTypeDef* huart) {
    enter();
    if (huart == nullptr) {
        return HAL_ERROR;
    }
    huart->gState = HAL_UART_STATE_BUSY;
    CLEAR_BIT(huart->Instance->CR1, USART_CR1_UE);
    HAL_UART_MspDeInit(huart);
    huart->ErrorCode = HAL_UART_ERROR_NONE;
    huart->gState = HAL_UART_STATE_RESET;
    huart->RxState = HAL_UART_STATE_RESET;
    huart->Lock = HAL_UNLOCKED;
    return HAL_OK;
}

HAL_StatusTypeDef HAL_UART_Transmit(UART_HandleTypeDef* huart, const uint8_t* pData, uint16_t Size,
                                    uint32_t Timeout) {
    enter();
    // No lock beyond the state: a second caller finds the handle busy.
    if (huart->gState != HAL_UART_STATE_READY) {
        return HAL_BUSY;
    }
    if (pData == nullptr || Size == 0U) {
        return HAL_ERROR;
    }
    huart->ErrorCode = HAL_UART_ERROR_NONE;
    huart->gState = HAL_UART_STATE_BUSY_TX;
    const uint32_t tickstart = HAL_GetTick();
    huart->TxXferSize = Size;
    huart->TxXferCount = Size;
    USART_TypeDef* usart = huart->Instance;
    while (huart->TxXferCount > 0U) {
        if (wait_until([usart] { return (usart->SR & USART_SR_TXE) != 0U; }, tickstart, Timeout) !=
            HAL_OK) {
            huart->gState = HAL_UART_STATE_READY;
            return HAL_TIMEOUT;
        }
        usart->DR = *pData++;
        huart->TxXferCount = static_cast<uint16_t>(huart->TxXferCount - 1U);
    }
    if (wait_until([usart] { return (usart->SR & USART_SR_TC) != 0U; }, tickstart, Timeout) !=
        HAL_OK) {
        huart->gState = HAL_UART_STATE_READY;
        return HAL_TIMEOUT;
    }
    huart->gState = HAL_UART_STATE_READY;
    return HAL_OK;
}

HAL_StatusTypeDef HAL_UART_Receive(UART_HandleTypeDef* huart, uint8_t* pData, uint16_t Size,
                                   uint32_t Timeout) {
    enter();
    if (huart->RxState != HAL_UART_STATE_READY) {
        return HAL_BUSY;
    }
    if (pData == nullptr || Size == 0U) {
        return HAL_ERROR;
    }
    // Nothing drives the receive lines of this board: wait out the timeout.
    huart->RxState = HAL_UART_STATE_BUSY_RX;
    const HAL_StatusTypeDef status = wait_until(
        [huart] { return (huart->Instance->SR & USART_SR_RXNE) != 0U; }, HAL_GetTick(), Timeout);
    huart->RxState = HAL_UART_STATE_READY;
    return status == HAL_OK ? HAL_ERROR : status;
}

// The firmware starts no interrupt- or DMA-driven transfer (the board links
// no DMA stream and no UART interrupt). Rather than answer with a status the
// chip's HAL would not give, the board halts and says where.
HAL_StatusTypeDef HAL_UART_Transmit_IT(UART_HandleTypeDef*, const uint8_t*, uint16_t) {
    return not_modelled("HAL_UART_Transmit_IT (not modelled)");
}

HAL_StatusTypeDef HAL_UART_Receive_IT(UART_HandleTypeDef*, uint8_t*, uint16_t) {
    return not_modelled("HAL_UART_Receive_IT (not modelled)");
}

HAL_StatusTypeDef HAL_UART_Transmit_DMA(UART_HandleTypeDef*, const uint8_t*, uint16_t) {
    return not_modelled("HAL_UART_Transmit_DMA (not modelled)");
}

HAL_StatusTypeDef HAL_UART_Receive_DMA(UART_HandleTypeDef*, uint8_t*, uint16_t) {
    return not_modelled("HAL_UART_Receive_DMA (not modelled)");
}

HAL_StatusTypeDef HAL_UART_Abort(UART_HandleTypeDef* huart) {
    enter();
    huart->gState = HAL_UART_STATE_READY;
    huart->RxState = HAL_UART_STATE_READY;
    return HAL_OK;
}

void HAL_UART_IRQHandler(UART_HandleTypeDef* huart) {
    (void)huart;
}

HAL_UART_StateTypeDef HAL_UART_GetState(UART_HandleTypeDef* huart) {
    enter(cost::kHalQuery);
    return static_cast<HAL_UART_StateTypeDef>(huart->gState | huart->RxState);
}
}

// UART port of the STM32F4 board: blocking transfers through the HAL. The
// console does not come through here; it drives USART1 directly.
#include "hal_uart.h"

#include "bsp_uart.h"
#include "stm32f4xx_hal.h"
#include "uart_if.h"

namespace {

UART_HandleTypeDef* lookup(int ch) {
    const bsp_uart_t* bsp = bsp_uart_get_handle(ch);
    return bsp == nullptr ? nullptr : bsp->huart;
}

// The register block each channel's handle belongs to, as in the board table.
USART_TypeDef* instance_of(int ch) {
    return ch == 0 ? USART1 : USART6;
}

int result(HAL_StatusTypeDef status) {
    return status == HAL_OK ? 0 : -1;
}

// The HAL counts bytes in 16 bits: larger sizes keep their low 16 bits.
uint16_t count(size_t size) {
    return static_cast<uint16_t>(size);
}

int hal_uart_init(int ch, const uart_config_t* cfg) {
    UART_HandleTypeDef* huart = lookup(ch);
    if (huart == nullptr || cfg == nullptr) {
        return -1;
    }
    // Set up at start-up already: keep the line settings that are in use.
    if (huart->gState != HAL_UART_STATE_RESET) {
        return 0;
    }
    huart->Instance = instance_of(ch);
    huart->Init.BaudRate = cfg->baud_rate;
    huart->Init.WordLength = cfg->word_length;
    huart->Init.StopBits = cfg->stop_bits;
    huart->Init.Parity = cfg->parity;
    huart->Init.Mode = UART_MODE_TX_RX;
    huart->Init.HwFlowCtl = UART_HWCONTROL_NONE;
    huart->Init.OverSampling = UART_OVERSAMPLING_16;
    return result(HAL_UART_Init(huart));
}

int hal_uart_deinit(int ch) {
    UART_HandleTypeDef* huart = lookup(ch);
    if (huart == nullptr) {
        return -1;
    }
    return result(HAL_UART_DeInit(huart));
}

int hal_uart_send(int ch, const uint8_t* data, size_t size, uint32_t timeout) {
    UART_HandleTypeDef* huart = lookup(ch);
    if (huart == nullptr || data == nullptr) {
        return -1;
    }
    return result(HAL_UART_Transmit(huart, data, count(size), timeout));
}

int hal_uart_receive(int ch, uint8_t* data, size_t size, uint32_t timeout) {
    UART_HandleTypeDef* huart = lookup(ch);
    if (huart == nullptr || data == nullptr) {
        return -1;
    }
    return result(HAL_UART_Receive(huart, data, count(size), timeout));
}

// No DMA stream is linked to either handle and both UART interrupts go to the
// default handler, so a transfer started here could never complete: the
// handle would stay busy and refuse every later transfer (for USART1, the
// console), and the HAL's DMA start would follow a null stream handle.
// These operations therefore refuse until that set-up exists.
int hal_uart_send_it(int ch, const uint8_t* data, size_t size) {
    (void)ch;
    (void)data;
    (void)size;
    return -1;
}

int hal_uart_receive_it(int ch, uint8_t* data, size_t size) {
    (void)ch;
    (void)data;
    (void)size;
    return -1;
}

int hal_uart_send_dma(int ch, const uint8_t* data, size_t size) {
    (void)ch;
    (void)data;
    (void)size;
    return -1;
}

int hal_uart_receive_dma(int ch, uint8_t* data, size_t size) {
    (void)ch;
    (void)data;
    (void)size;
    return -1;
}

int hal_uart_abort(int ch) {
    UART_HandleTypeDef* huart = lookup(ch);
    if (huart == nullptr) {
        return -1;
    }
    return result(HAL_UART_Abort(huart));
}

int hal_uart_putc(int ch, uint8_t c) {
    UART_HandleTypeDef* huart = lookup(ch);
    if (huart == nullptr) {
        return -1;
    }
    return result(HAL_UART_Transmit(huart, &c, 1, HAL_MAX_DELAY));
}

int hal_uart_getc(int ch, uint8_t* c) {
    UART_HandleTypeDef* huart = lookup(ch);
    if (huart == nullptr || c == nullptr) {
        return -1;
    }
    return result(HAL_UART_Receive(huart, c, 1, HAL_MAX_DELAY));
}

constexpr uart_ops_t ops = {
    hal_uart_init,    hal_uart_deinit,     hal_uart_send,     hal_uart_receive,
    hal_uart_send_it, hal_uart_receive_it, hal_uart_send_dma, hal_uart_receive_dma,
    hal_uart_abort,   hal_uart_putc,       hal_uart_getc,
};

}  // namespace

void hal_uart_init_all(void) {
    uart_register_ops(&ops);
}

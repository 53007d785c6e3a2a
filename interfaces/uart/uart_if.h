// UART class of the peripheral interface layer: line settings and the port's table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stm32f4xx_hal.h"

/// Line settings for the `init` slot; the last three fields hold the HAL's own codes
/// (`UART_WORDLENGTH_*`, `UART_STOPBITS_*`, `UART_PARITY_*`), copied unchanged.
typedef struct {
    uint32_t baud_rate;
    uint32_t word_length;
    uint32_t stop_bits;
    uint32_t parity;
} uart_config_t;
static_assert(sizeof(uart_config_t) == 16, "four 32-bit fields");

/// 115200 baud, 8 data bits, 1 stop bit, no parity.
#define UART_CONFIG_DEFAULT \
    { 115200, UART_WORDLENGTH_8B, UART_STOPBITS_1, UART_PARITY_NONE }

/// UART operations, filled by the UART port; `ch` is the board's UART channel.
/// Each returns 0 or a negative code.
typedef struct {
    int (*init)(int ch, const uart_config_t* cfg);
    int (*deinit)(int ch);
    int (*send)(int ch, const uint8_t* data, size_t size, uint32_t timeout);  ///< Blocking.
    int (*receive)(int ch, uint8_t* data, size_t size, uint32_t timeout);     ///< Blocking.
    int (*send_it)(int ch, const uint8_t* data, size_t size);
    int (*receive_it)(int ch, uint8_t* data, size_t size);
    int (*send_dma)(int ch, const uint8_t* data, size_t size);
    int (*receive_dma)(int ch, uint8_t* data, size_t size);
    int (*abort)(int ch);
    int (*putc)(int ch, uint8_t c);
    int (*getc)(int ch, uint8_t* c);
} uart_ops_t;

/// Stores `ops` as it is (not checked); a later call replaces it.
void uart_register_ops(const uart_ops_t* ops);

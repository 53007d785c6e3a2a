// UART channel table.
#include "bsp_uart.h"

#include <iterator>

#include "usart.h"

namespace {
bsp_uart_t uarts[] = {
    {&huart1},  // channel 0: USART1, PA9 (console)
    {&huart6},  // channel 1: USART6
};
}  // namespace

bsp_uart_t* bsp_uart_get_handle(int ch) {
    if (ch < 0 || ch >= static_cast<int>(std::size(uarts))) {
        return nullptr;
    }
    return &uarts[ch];
}

// UART port of the STM32F4 board.
//
// Not wired to the hardware yet: the registered table has no operations.
#include "hal_uart.h"

#include "uart_if.h"

namespace {
constexpr uart_ops_t ops = {};
}  // namespace

void hal_uart_init_all(void) {
    uart_register_ops(&ops);
}

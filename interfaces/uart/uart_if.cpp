// Registered UART port; no module calls through it yet (the console uses the HAL directly).
#include "uart_if.h"

namespace {
const uart_ops_t* g_uart_ops = nullptr;
}  // namespace

void uart_register_ops(const uart_ops_t* ops) {
    g_uart_ops = ops;
}

// GPIO port of the STM32F4 board.
//
// Not wired to the hardware yet: the registered table has no operations.
#include "hal_gpio.h"

#include "gpio_if.h"

namespace {
constexpr gpio_ops_t ops = {};
}  // namespace

void hal_gpio_init_all(void) {
    gpio_register_ops(&ops);
}

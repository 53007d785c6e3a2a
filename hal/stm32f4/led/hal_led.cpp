// LED port of the STM32F4 board.
//
// Not wired to the hardware yet: the registered table has no operations, so every
// guarded led_if_* call fails with -1.
#include "hal_led.h"

#include "led_if.h"

namespace {
constexpr led_ops_t ops = {};
}  // namespace

void hal_led_init_all(void) {
    led_register_ops(&ops);
}

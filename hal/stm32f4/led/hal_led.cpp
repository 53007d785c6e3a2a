// LED port of the STM32F4 board: one GPIO pin per LED, high is lit.
#include "hal_led.h"

#include "bsp_led.h"
#include "led_if.h"
#include "stm32f4xx_hal.h"

namespace {

int hal_led_init(int id) {
    // The pin was set up by the board's GPIO initialisation.
    return bsp_led_get(id) != nullptr ? 0 : -1;
}

int hal_led_write(int id, int state) {
    const bsp_led_t* led = bsp_led_get(id);
    if (led == nullptr) {
        return -1;
    }
    HAL_GPIO_WritePin(led->port, led->pin, state != 0 ? GPIO_PIN_SET : GPIO_PIN_RESET);
    return 0;
}

int hal_led_read(int id) {
    const bsp_led_t* led = bsp_led_get(id);
    if (led == nullptr) {
        return -1;
    }
    return HAL_GPIO_ReadPin(led->port, led->pin) == GPIO_PIN_SET ? 1 : 0;
}

int hal_led_toggle(int id) {
    const bsp_led_t* led = bsp_led_get(id);
    if (led == nullptr) {
        return -1;
    }
    HAL_GPIO_TogglePin(led->port, led->pin);
    return 0;
}

constexpr led_ops_t ops = {
    hal_led_init,
    hal_led_write,
    hal_led_read,
    hal_led_toggle,
};

}  // namespace

void hal_led_init_all(void) {
    led_register_ops(&ops);
}

// GPIO port of the STM32F4 board: single pins of the board's GPIO table.
#include "hal_gpio.h"

#include "bsp_gpio.h"
#include "gpio_if.h"
#include "stm32f4xx_hal.h"

namespace {

int hal_gpio_init(int ch) {
    // The pin was set up by the board's GPIO initialisation.
    return bsp_gpio_get_handle(ch) != nullptr ? 0 : -1;
}

int hal_gpio_write(int ch, int val) {
    const bsp_gpio_t* gpio = bsp_gpio_get_handle(ch);
    if (gpio == nullptr) {
        return -1;
    }
    HAL_GPIO_WritePin(gpio->port, gpio->pin, val != 0 ? GPIO_PIN_SET : GPIO_PIN_RESET);
    return 0;
}

int hal_gpio_read(int ch) {
    const bsp_gpio_t* gpio = bsp_gpio_get_handle(ch);
    if (gpio == nullptr) {
        return -1;
    }
    return static_cast<int>(HAL_GPIO_ReadPin(gpio->port, gpio->pin));
}

constexpr gpio_ops_t ops = {
    hal_gpio_init,
    hal_gpio_write,
    hal_gpio_read,
};

}  // namespace

void hal_gpio_init_all(void) {
    gpio_register_ops(&ops);
}

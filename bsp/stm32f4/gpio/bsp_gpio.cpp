// GPIO channel table: the two wires of the bit-banged I2C bus.
#include "bsp_gpio.h"

#include <iterator>

#include "main.h"

namespace {
bsp_gpio_t gpios[] = {
    {SDA_GPIO_Port, SDA_Pin},  // channel 0: PF12, bus data
    {SCL_GPIO_Port, SCL_Pin},  // channel 1: PF14, bus clock
};
}  // namespace

bsp_gpio_t* bsp_gpio_get_handle(int ch) {
    if (ch < 0 || ch >= static_cast<int>(std::size(gpios))) {
        return nullptr;
    }
    return &gpios[ch];
}

// LED table.
#include "bsp_led.h"

#include <iterator>

#include "main.h"

namespace {
bsp_led_t leds[] = {
    {LED0_GPIO_Port, LED0_Pin},  // PE3
    {LED1_GPIO_Port, LED1_Pin},  // PE4
    {LED2_GPIO_Port, LED2_Pin},  // PG9
};
}  // namespace

bsp_led_t* bsp_led_get(int id) {
    if (id < 0 || id >= static_cast<int>(std::size(leds))) {
        return nullptr;
    }
    return &leds[id];
}

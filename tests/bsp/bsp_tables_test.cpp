// The six board tables: bounds of every lookup and the board's wiring.
#include <gtest/gtest.h>

#include "bsp_can.h"
#include "bsp_gpio.h"
#include "bsp_i2c.h"
#include "bsp_led.h"
#include "bsp_soft_i2c.h"
#include "bsp_uart.h"

// The handles are the bring-up's; here they only need an address.
CAN_HandleTypeDef hcan1;
CAN_HandleTypeDef hcan2;
I2C_HandleTypeDef hi2c2;
UART_HandleTypeDef huart1;
UART_HandleTypeDef huart6;

namespace {

struct Table {
    const char* name;
    int entries;
    const void* (*get)(int ch);
};

const Table kTables[] = {
    {"can", 2, [](int ch) -> const void* { return bsp_can_get_handle(ch); }},
    {"led", 3, [](int ch) -> const void* { return bsp_led_get(ch); }},
    {"i2c", 2, [](int ch) -> const void* { return bsp_i2c_get_handle(ch); }},
    {"gpio", 2, [](int ch) -> const void* { return bsp_gpio_get_handle(ch); }},
    {"soft_i2c", 1, [](int ch) -> const void* { return bsp_soft_i2c_get_handle(ch); }},
    {"uart", 2, [](int ch) -> const void* { return bsp_uart_get_handle(ch); }},
};

TEST(BspTables, EveryLookupIsBoundedAndReturnsTheTableItself) {
    for (const Table& t : kTables) {
        EXPECT_EQ(t.get(-1), nullptr) << t.name;
        EXPECT_EQ(t.get(t.entries), nullptr) << t.name;
        EXPECT_EQ(t.get(INT32_MIN), nullptr) << t.name;
        for (int ch = 0; ch < t.entries; ch++) {
            ASSERT_NE(t.get(ch), nullptr) << t.name << " " << ch;
            EXPECT_EQ(t.get(ch), t.get(ch)) << "same entry, not a copy";
        }
    }
}

TEST(BspTables, HandlesAreTheBoardsControllers) {
    EXPECT_EQ(bsp_can_get_handle(0)->hcan, &hcan1);
    EXPECT_EQ(bsp_can_get_handle(1)->hcan, &hcan2);
    EXPECT_EQ(bsp_i2c_get_handle(0)->i2c, nullptr);  // a record whose handle is null
    EXPECT_EQ(bsp_i2c_get_handle(1)->i2c, &hi2c2);
    EXPECT_EQ(bsp_uart_get_handle(0)->huart, &huart1);
    EXPECT_EQ(bsp_uart_get_handle(1)->huart, &huart6);
}

TEST(BspTables, PinsAreTheBoardsWiring) {
    struct Pin {
        const GPIO_TypeDef* port;
        uint16_t mask;
    };
    const Pin leds[] = {{GPIOE, 0x0008}, {GPIOE, 0x0010}, {GPIOG, 0x0200}};
    for (int id = 0; id < 3; id++) {
        EXPECT_EQ(bsp_led_get(id)->port, leds[id].port) << id;
        EXPECT_EQ(bsp_led_get(id)->pin, leds[id].mask) << id;
    }
    EXPECT_EQ(bsp_gpio_get_handle(0)->port, GPIOF);  // bus data
    EXPECT_EQ(bsp_gpio_get_handle(0)->pin, 0x1000);
    EXPECT_EQ(bsp_gpio_get_handle(1)->port, GPIOF);  // bus clock
    EXPECT_EQ(bsp_gpio_get_handle(1)->pin, 0x4000);
    const bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(0);
    EXPECT_EQ(bus->scl_port, GPIOF);
    EXPECT_EQ(bus->sda_port, GPIOF);
    EXPECT_EQ(bus->scl_pin, 0x4000);
    EXPECT_EQ(bus->sda_pin, 0x1000);
}

}  // namespace

// The application's one-time set-up: what it calls, in which order, and what
// it prints, with every callee replaced by a recording stand-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app.h"
#include "hal_can.h"
#include "hal_gpio.h"
#include "hal_i2c.h"
#include "hal_led.h"
#include "hal_soft_i2c.h"
#include "hal_uart.h"
#include "led.h"
#include "task.h"

namespace {
std::vector<std::string> g_calls;
bool g_queue_fails = false;
int g_queue_storage;
}  // namespace

// ---- stand-ins ----

void hal_i2c_init_all(void) {
    g_calls.push_back("hal_i2c_init_all");
}
void hal_led_init_all(void) {
    g_calls.push_back("hal_led_init_all");
}
void hal_can_init_all(void) {
    g_calls.push_back("hal_can_init_all");
}
void hal_gpio_init_all(void) {
    g_calls.push_back("hal_gpio_init_all");
}
void hal_soft_i2c_init_all(void) {
    g_calls.push_back("hal_soft_i2c_init_all");
}
void hal_uart_init_all(void) {
    g_calls.push_back("hal_uart_init_all");
}

int led_init(led_t* led, int id) {
    led->id = id;
    led->state = 0;
    g_calls.push_back("led_init " + std::to_string(id));
    return -1;  // failures are ignored
}
int led_on(led_t* led) {
    g_calls.push_back("led_on " + std::to_string(led->id));
    return -1;
}
int led_off(led_t* led) {
    g_calls.push_back("led_off " + std::to_string(led->id));
    return -1;
}

extern "C" {
osMessageQueueId_t osMessageQueueNew(uint32_t count, uint32_t size,
                                     const osMessageQueueAttr_t* attr) {
    g_calls.push_back("osMessageQueueNew " + std::to_string(count) + " " + std::to_string(size) +
                      (attr == nullptr ? " default" : " attr"));
    return g_queue_fails ? nullptr : &g_queue_storage;
}
int gimbal_rt_puts(const char* text) {
    g_calls.push_back(std::string("puts ") + text);
    return 1;
}
void vTaskDelay(const TickType_t ticks) {
    g_calls.push_back("vTaskDelay " + std::to_string(ticks));
}
// The thread bodies in the same library are not under test.
osStatus_t osMessageQueueGet(osMessageQueueId_t, void*, uint8_t*, uint32_t) {
    return osError;
}
osStatus_t osDelay(uint32_t) {
    return osOK;
}
}

namespace {

const std::vector<std::string> kSetUp = {
    "hal_i2c_init_all",
    "hal_led_init_all",
    "hal_can_init_all",
    "hal_gpio_init_all",
    "hal_soft_i2c_init_all",
    "hal_uart_init_all",
    "led_init 0",
    "led_init 1",
    "led_init 2",
    "led_on 0",
    "led_on 1",
    "led_on 2",
    "led_off 0",
    "osMessageQueueNew 4 36 default",
};

class AppInit : public ::testing::Test {
  protected:
    void SetUp() override {
        g_calls.clear();
        g_queue_fails = false;
        g_imu_queue = nullptr;
    }
};

TEST_F(AppInit, RegistersTablesThenSetsLedsThenCreatesTheQueue) {
    app_init();
    std::vector<std::string> expected = kSetUp;
    expected.push_back("puts [app_init] Hardware initialized\r");
    EXPECT_EQ(g_calls, expected);
    EXPECT_EQ(g_imu_queue, &g_queue_storage);
}

TEST_F(AppInit, AFailedQueueIsReportedBeforeTheReadyLine) {
    g_queue_fails = true;
    app_init();
    std::vector<std::string> expected = kSetUp;
    expected.push_back("puts [app_init] ERROR: Failed to create IMU queue\r");
    expected.push_back("puts [app_init] Hardware initialized\r");
    EXPECT_EQ(g_calls, expected);
    EXPECT_EQ(g_imu_queue, nullptr);
}

}  // namespace

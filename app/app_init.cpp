// Application start-up and the monitor thread.
#include <cstdio>

#include "FreeRTOS.h"
#include "task.h"

#include "app.h"
#include "hal_can.h"
#include "hal_gpio.h"
#include "hal_i2c.h"
#include "hal_led.h"
#include "hal_soft_i2c.h"
#include "hal_uart.h"
#include "led.h"

osMessageQueueId_t g_imu_queue = NULL;

namespace {
led_t led0;
led_t led1;
led_t led2;
}  // namespace

void app_init(void) {
    // Tables first: the LED calls below go through the registered LED table.
    hal_i2c_init_all();
    hal_led_init_all();
    hal_can_init_all();
    hal_gpio_init_all();
    hal_soft_i2c_init_all();
    hal_uart_init_all();

    led_init(&led0, 0);
    led_init(&led1, 1);
    led_init(&led2, 2);
    led_on(&led0);
    led_on(&led1);
    led_on(&led2);
    led_off(&led0);

    g_imu_queue = osMessageQueueNew(4, sizeof(imu_data_t), NULL);
    if (g_imu_queue == NULL) {
        puts("[app_init] ERROR: Failed to create IMU queue\r");
    }
    puts("[app_init] Hardware initialized\r");
}

void monitor_task(void) {
    for (;;) {
        vTaskDelay(1000);
    }
}

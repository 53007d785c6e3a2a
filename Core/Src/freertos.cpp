// Thread table: three threads for the life of the device.
#include "cmsis_os2.h"
#include "main.h"

#include "app.h"

osThreadId_t monitorTaskHandle;
osThreadId_t controlTaskHandle;
osThreadId_t sensorTaskHandle;

const osThreadAttr_t monitorTask_attributes = {
    .name = "monitorTask",
    .attr_bits = 0,
    .cb_mem = nullptr,
    .cb_size = 0,
    .stack_mem = nullptr,
    .stack_size = 256 * 4,
    .priority = static_cast<osPriority_t>(osPriorityLow),
    .tz_module = 0,
    .reserved = 0,
};
// Twice the others: its first float print alone takes over 600 bytes of the
// runtime library's stack (measured), too close to 1024 once it is switched out.
const osThreadAttr_t controlTask_attributes = {
    .name = "controlTask",
    .attr_bits = 0,
    .cb_mem = nullptr,
    .cb_size = 0,
    .stack_mem = nullptr,
    .stack_size = 512 * 4,
    .priority = static_cast<osPriority_t>(osPriorityNormal),
    .tz_module = 0,
    .reserved = 0,
};
const osThreadAttr_t sensorTask_attributes = {
    .name = "sensorTask",
    .attr_bits = 0,
    .cb_mem = nullptr,
    .cb_size = 0,
    .stack_mem = nullptr,
    .stack_size = 256 * 4,
    .priority = static_cast<osPriority_t>(osPriorityHigh),
    .tz_module = 0,
    .reserved = 0,
};

extern "C" {

void StartMonitorTask(void* argument) {
    (void)argument;
    monitor_task();
}

void StartControlTask(void* argument) {
    (void)argument;
    control_task();
}

void StartSensorTask(void* argument) {
    (void)argument;
    sensor_task();
}
}

void MX_FREERTOS_Init(void) {
    app_init();
    // Handles are kept for a debugger; a null one means that thread never runs.
    monitorTaskHandle = osThreadNew(StartMonitorTask, NULL, &monitorTask_attributes);
    controlTaskHandle = osThreadNew(StartControlTask, NULL, &controlTask_attributes);
    sensorTaskHandle = osThreadNew(StartSensorTask, NULL, &sensorTask_attributes);
}

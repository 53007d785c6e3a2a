// Kernel task API: the direct calls the firmware makes.
#pragma once

#include <cstddef>

#include "FreeRTOS.h"

extern "C" {
/// Blocks the calling task for `xTicksToDelay` ticks counted from the current tick.
void vTaskDelay(const TickType_t xTicksToDelay);
TickType_t xTaskGetTickCount(void);
size_t xPortGetFreeHeapSize(void);
}

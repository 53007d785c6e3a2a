// Application entry points and the IMU sample shared by the two working threads.
#pragma once

#include "cmsis_os2.h"

/// One IMU sample; only `angle` (roll, pitch, yaw in degrees) is filled.
typedef struct {
    float acc[3];
    float gyro[3];
    float angle[3];
} imu_data_t;
static_assert(sizeof(imu_data_t) == 36, "the queue carries 36-byte messages");

/// Sensor thread puts, control thread gets; null if its creation failed.
extern osMessageQueueId_t g_imu_queue;

/// One-time set-up before any thread exists: operation tables, LEDs, queue.
void app_init(void);
void monitor_task(void);
void control_task(void);
void sensor_task(void);

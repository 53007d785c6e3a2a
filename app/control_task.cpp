// Stabilisation loop. Until the motor driver and the control law exist it only
// drains the sample queue at the loop's pace.
#include "app.h"

void control_task(void) {
    imu_data_t imu;
    for (;;) {
        if (osMessageQueueGet(g_imu_queue, &imu, NULL, 20) != osOK) {
            osDelay(10);
            continue;
        }
        osDelay(10);
    }
}

// IMU reader. Until the bus and the IMU library exist it sleeps at the
// reader's pace and posts nothing.
#include "app.h"

void sensor_task(void) {
    for (;;) {
        osDelay(500);
    }
}

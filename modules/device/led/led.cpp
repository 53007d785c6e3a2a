// LED device module.
#include "led.h"

#include "led_if.h"

namespace {
int led_set(led_t* led, int state) {
    if (led == nullptr) {
        return -1;
    }
    const int rc = led_if_write(led->id, state);
    if (rc == 0) {
        led->state = state;
    }
    return rc;
}
}  // namespace

int led_init(led_t* led, int id) {
    if (led == nullptr) {
        return -1;
    }
    led->id = id;
    led->state = 0;
    const int rc = led_if_init(id);
    if (rc != 0) {
        return rc;
    }
    led->state = led_if_read(id) > 0 ? 1 : 0;
    return 0;
}

int led_on(led_t* led) {
    return led_set(led, 1);
}

int led_off(led_t* led) {
    return led_set(led, 0);
}

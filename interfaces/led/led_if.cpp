// Forwarders from the LED module to the registered LED port.
#include "led_if.h"

namespace {
const led_ops_t* g_led_ops = nullptr;
}  // namespace

void led_register_ops(const led_ops_t* ops) {
    g_led_ops = ops;
}

int led_if_init(int id) {
    if (g_led_ops == nullptr || g_led_ops->init == nullptr) {
        return -1;
    }
    return g_led_ops->init(id);
}

int led_if_write(int id, int state) {
    if (g_led_ops == nullptr || g_led_ops->write == nullptr) {
        return -1;
    }
    return g_led_ops->write(id, state);
}

int led_if_read(int id) {
    if (g_led_ops == nullptr || g_led_ops->read == nullptr) {
        return -1;
    }
    return g_led_ops->read(id);
}

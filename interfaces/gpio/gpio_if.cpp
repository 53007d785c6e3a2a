// Registered GPIO port; no module calls through it yet.
#include "gpio_if.h"

namespace {
const gpio_ops_t* g_gpio_ops = nullptr;
}  // namespace

void gpio_register_ops(const gpio_ops_t* ops) {
    g_gpio_ops = ops;
}

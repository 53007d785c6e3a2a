// Registered hardware I2C port; no module calls through it yet.
#include "i2c_if.h"

namespace {
const i2c_ops_t* g_i2c_ops = nullptr;
}  // namespace

void i2c_register_ops(const i2c_ops_t* ops) {
    g_i2c_ops = ops;
}

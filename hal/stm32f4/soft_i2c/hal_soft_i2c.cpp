// Bit-banged I2C port of the STM32F4 board.
//
// Not wired to the hardware yet: the registered table has no operations, so
// soft_i2c_if_init fails with -1. The byte-level forwarders do not test their slots:
// nothing may call them until the engine is in.
#include "hal_soft_i2c.h"

#include "soft_i2c_if.h"

namespace {
constexpr soft_i2c_ops_t ops = {};
}  // namespace

void hal_soft_i2c_init_all(void) {
    soft_i2c_register_ops(&ops);
}

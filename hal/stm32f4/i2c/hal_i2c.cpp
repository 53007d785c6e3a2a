// Hardware I2C port of the STM32F4 board.
//
// Not wired to the hardware yet: the registered table has no operations.
#include "hal_i2c.h"

#include "i2c_if.h"

namespace {
constexpr i2c_ops_t ops = {};
}  // namespace

void hal_i2c_init_all(void) {
    i2c_register_ops(&ops);
}

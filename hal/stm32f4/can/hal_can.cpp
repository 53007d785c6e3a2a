// CAN port of the STM32F4 board.
//
// Not wired to the hardware yet: the registered table has no operations, so every
// guarded can_if_* call fails with -1.
#include "hal_can.h"

#include "can_if.h"

namespace {
constexpr can_ops_t ops = {};
}  // namespace

void hal_can_init_all(void) {
    can_register_ops(&ops);
}

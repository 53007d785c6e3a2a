// Shared by the HAL drivers of the virtual board.
#pragma once

#include "sim/core/chip.hpp"
#include "sim/models/core_blocks.hpp"
#include "sim/models/rcc.hpp"
#include "sim/core/costs.hpp"
#include "stm32f4xx_hal.h"

namespace cost = sim::cost;

namespace sim::hal {

inline Cpu& cpu() {
    return Chip::get().cpu();
}

/// One HAL call's own cost, after its probe (the caller's name).
inline void enter(uint32_t cycles = cost::kHalCall, const char* function = __builtin_FUNCTION()) {
    Cpu& c = cpu();
    c.probes().hal_call.emit(function, c.now());
    c.consume(cycles);
}

/// The HAL's flag-polling loop: spins until `ready()` or until more than
/// `timeout` ms of HAL tick have passed since `tickstart`.
template <class Ready>
HAL_StatusTypeDef wait_until(Ready ready, uint32_t tickstart, uint32_t timeout) {
    for (;;) {
        if (ready()) {
            return HAL_OK;
        }
        if (timeout != HAL_MAX_DELAY && (timeout == 0U || (HAL_GetTick() - tickstart) > timeout)) {
            return ready() ? HAL_OK : HAL_TIMEOUT;
        }
        cpu().consume(cost::kHalPoll);
        cpu().spin_until_next_event();
    }
}

}  // namespace sim::hal

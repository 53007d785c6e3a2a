// The bridged calls of the firmware's ARM image served before the kernel
// starts: the HAL's start-up calls with their callbacks into the firmware,
// the console's bytes, and the kernel's set-up calls, up to osKernelStart,
// which stops the core. A bridge not served yet halts it by name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/arm/machine.hpp"

namespace sim::arm {

struct BootBoard {
    std::function<void(uint8_t)> console;  // USART1's bytes
    std::vector<std::string> threads;      // names as created, in order
    uint32_t queues = 0;
    uint32_t tick = 0;  // the HAL's millisecond tick
};

/// Registers a handler for every bridge of platform/vb/bridges.def.
void serve_boot(Machine& machine, BootBoard& board);

}  // namespace sim::arm

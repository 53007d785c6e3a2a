// The bridged calls of the firmware's ARM image, served by the same
// platform/sim code that serves the host build: each reads its arguments
// from the guest's registers and stack, copies the records it takes between
// the image's layout and the host's (layouts.hpp), calls the host function
// and hands its result back in r0. The HAL's handles live twice: the
// image's, and a host record of each that the host HAL keeps its state in.
// The HAL's callbacks into the firmware (bridges.def's callback lines) and
// each thread's entry become guest calls.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/arm/layouts.hpp"
#include "sim/arm/machine.hpp"

namespace sim::arm {

struct BridgeOptions {
    /// Halt the board at osKernelStart (a boot only) instead of starting the kernel.
    bool stop_at_kernel_start = false;
    /// Stack bytes by thread name in place of what the image asks for (a
    /// stack made too small on purpose, to see the board halt on it).
    std::map<std::string, uint32_t> stack_bytes;
};

/// Registers a handler for every bridge of platform/vb/bridges.def; a bridge
/// with none halts the board naming it. Once per process.
void serve_bridges(Machine& machine, const Layouts& layouts, const BridgeOptions& options);

/// True once the image has called osKernelStart.
bool kernel_start_reached();

/// A thread's stack in the image, painted when it is created: the bytes of
/// it ever written (its high-water mark), of `bytes`; and the instructions
/// the thread ran, and their cycles. In the order the threads were created.
struct StackUse {
    std::string thread;
    uint32_t bytes = 0;
    uint32_t used = 0;
    uint64_t instructions = 0;
    uint64_t cycles = 0;
};
std::vector<StackUse> stack_use();

/// Names of the BridgeOptions::stack_bytes threads the image never created.
std::vector<std::string> unknown_stack_threads();

}  // namespace sim::arm

// What the virtual board's platform layer offers the runner and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

/// Power-on of the firmware on the virtual board: the vector table is put in
/// place and the core jumps through its reset entry to `Reset_Handler`, the
/// board's rendering of the start-up file's (SystemInit, then main).
void firmware_reset();
/// Points the core's vectors at the firmware's handlers, as firmware_reset
/// does first: a test's own reset vector needs them before it enables one.
void install_vectors();

struct ThreadInfo {
    std::string name;
    int priority;
    uint32_t stack_size;
    bool blocked = false;
    std::optional<uint64_t> wake_tick;  // while in a timed wait: the tick it ends on
};

/// Threads the firmware created, in creation order.
std::vector<ThreadInfo> created_threads();
/// Bytes of the kernel heap in use.
std::size_t kernel_heap_used();
/// Size of the kernel heap as configured.
std::size_t kernel_heap_size();
/// Bytes of the runtime library's heap handed out by the firmware's _sbrk.
std::size_t runtime_heap_used();
/// Ticks since the kernel started.
uint32_t kernel_ticks();
/// What the core is running: "start-up code", "thread NAME", "idle" or
/// "an interrupt handler".
std::string running_context();

}  // namespace sim

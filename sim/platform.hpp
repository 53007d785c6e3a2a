// What the virtual board's platform layer offers the runner and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

namespace sim {

/// PID gains and limit a run uses instead of the firmware's constants. The
/// firmware's sources keep their constants; the virtual board writes these
/// into each controller record before every step (the runner's link wraps
/// the controller step, see sim/app/CMakeLists.txt).
struct PidGains {
    float kp = 0, ki = 0, kd = 0;
};
struct ControlOverride {
    std::optional<PidGains> roll, pitch;
    std::optional<float> output_max;
};
void set_control_override(const ControlOverride& control);

/// Each controller step: axis 0 is the controller stepped first (roll, as
/// the control task steps it first), 1 the other; the measurement and the output.
void set_control_observer(std::function<void(int axis, float actual, float output)> observer);

/// After each put on a message queue: the message, its size and whether it
/// was queued (false: refused or timed out, the message is lost).
void set_queue_put_observer(
    std::function<void(const void* msg, uint32_t size, bool queued)> observer);

}  // namespace sim

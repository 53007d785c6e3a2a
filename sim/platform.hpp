// What the virtual board's platform layer offers the runner and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/settings.hpp"

namespace sim {

/// Power-on of the firmware on the virtual board: the vector table is put in
/// place and the core jumps through its reset entry to `Reset_Handler`, the
/// board's rendering of the start-up file's (SystemInit, then main).
void firmware_reset();
/// Points the core's vectors at the firmware's handlers, as firmware_reset
/// does first: a test's own reset vector needs them before it enables one.
void install_vectors();
/// The handler's name of an IRQn as the start-up file names it, without
/// "_IRQHandler" for the chip's own ("SysTick", "PendSV", "TIM1_UP_TIM10").
const char* vector_name(int irqn);

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

/// What a scenario sets of the kernel stand-in; set before power-on.
struct KernelSettings {
    bool queue_create_fails = false;  // the kernel refuses every message queue
    /// The HAL tick and the kernel tick at reset, as after long uptime: both
    /// count on from here and wrap past 2^32 - 1.
    uint32_t tick_start = 0;
};

// clang-format off
inline const Field<KernelSettings> kKernelFields[] = {
    {"faults.queue_create_fails", &KernelSettings::queue_create_fails, "", 0, 1, "the kernel refuses to create message queues"},
    {.key = "ticks.start", .member = &KernelSettings::tick_start, .unit = "", .min = 0, .max = 4294967295.0,
     .meaning = "the HAL tick and the kernel tick at reset, as after long uptime: both wrap past 2^32 - 1", .when_set = true},
};
// clang-format on

void set_kernel_settings(const KernelSettings& settings);
const KernelSettings& kernel_settings();

/// PID gains and limit a run uses instead of the firmware's constants. The
/// firmware's sources keep their constants; the virtual board writes these
/// into each controller record before every step (the host firmware's link
/// wraps the controller step, see cmake/sim.cmake; the ARM image's step is
/// watched, sim/arm/watches.cpp).
struct PidGains {
    float kp = 0, ki = 0, kd = 0;
};
struct ControlOverride {
    std::optional<PidGains> roll, pitch;
    std::optional<float> output_max;
};
void set_control_override(const ControlOverride& control);
const ControlOverride& control_override();
/// The firmware's own code takes the cycles of its instructions (the ARM
/// image on the emulated core): the platform's costs that stand in for the
/// firmware's code around a call (sim/core/costs.hpp) are left out.
void set_firmware_code_timed(bool timed);

/// The axis of the controller record at `pid`, in the order the firmware
/// first steps them (0 roll, 1 pitch); -1 for a third, which is left alone.
int controller_axis(uintptr_t pid);
/// The run's gains and limit for that axis into a controller record (the
/// firmware's PIDController_t), before its step.
template <class Pid>
void apply_control_override(int axis, Pid& pid) {
    const std::optional<PidGains>& gains =
        axis == 0 ? control_override().roll : control_override().pitch;
    if (gains) {
        pid.Kp = gains->kp;
        pid.Ki = gains->ki;
        pid.Kd = gains->kd;
    }
    if (control_override().output_max) {
        pid.output_max = *control_override().output_max;
    }
}

}  // namespace sim

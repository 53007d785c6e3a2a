// What-if gains and the probe of each controller step, around the firmware's
// own controller step (linked with --wrap, so the firmware is unchanged).
#include <optional>
#include <utility>

#include "sim/core/chip.hpp"
#include "sim/platform.hpp"

// The controller record as the firmware lays it out (six floats).
struct PIDController_t {
    float Kp, Ki, Kd, integral, prev_error, output_max;
};

// The controller step's C++ name, and the names --wrap gives it.
float wrap_pid_compute(PIDController_t* pid, float target, float actual) __asm__(
    "__wrap__Z21PIDController_ComputeP15PIDController_tff");
float real_pid_compute(PIDController_t* pid, float target, float actual) __asm__(
    "__real__Z21PIDController_ComputeP15PIDController_tff");

namespace {
sim::ControlOverride g_override;
const PIDController_t* g_seen[2] = {nullptr, nullptr};

int axis_of(const PIDController_t* pid) {
    for (int i = 0; i < 2; i++) {
        if (g_seen[i] == nullptr) {
            g_seen[i] = pid;
        }
        if (g_seen[i] == pid) {
            return i;
        }
    }
    return -1;  // a third controller: left alone
}
}  // namespace

float wrap_pid_compute(PIDController_t* pid, float target, float actual) {
    const int axis = pid != nullptr ? axis_of(pid) : -1;
    if (axis >= 0) {
        const std::optional<sim::PidGains>& gains = axis == 0 ? g_override.roll : g_override.pitch;
        if (gains) {
            pid->Kp = gains->kp;
            pid->Ki = gains->ki;
            pid->Kd = gains->kd;
        }
        if (g_override.output_max) {
            pid->output_max = *g_override.output_max;
        }
    }
    const float output = real_pid_compute(pid, target, actual);
    if (axis >= 0) {
        sim::Cpu& cpu = sim::Chip::get().cpu();
        cpu.probes().control_step.emit(axis, actual, output, cpu.now());
    }
    return output;
}

namespace sim {

void set_control_override(const ControlOverride& control) {
    g_override = control;
}

}  // namespace sim

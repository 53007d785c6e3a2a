// Hooks around the firmware's own functions, linked with --wrap so the
// firmware is unchanged: the controller step (what-if gains, and the probe of
// each step) and the motor driver's exchanges (their probe). --wrap reaches
// calls between object files only, so the driver's calls from the
// application are wrapped, not its exchange inside.
#include <optional>
#include <utility>

#include "mf4010v2.h"
#include "pid.h"
#include "sim/core/chip.hpp"
#include "sim/platform.hpp"

// The functions' C++ names, and the names --wrap gives them.
float wrap_pid_compute(PIDController_t* pid, float target, float actual) __asm__(
    "__wrap__Z21PIDController_ComputeP15PIDController_tff");
float real_pid_compute(PIDController_t* pid, float target, float actual) __asm__(
    "__real__Z21PIDController_ComputeP15PIDController_tff");
// The motor driver's three calls the application makes, one exchange each.
int wrap_set_speed(mf4010v2_t* motor,
                   int32_t speed) __asm__("__wrap__Z18mf4010v2_set_speedP10mf4010v2_ti");
int real_set_speed(mf4010v2_t* motor,
                   int32_t speed) __asm__("__real__Z18mf4010v2_set_speedP10mf4010v2_ti");
void wrap_run(mf4010v2_t* motor) __asm__("__wrap__Z12mf4010v2_runP10mf4010v2_t");
void real_run(mf4010v2_t* motor) __asm__("__real__Z12mf4010v2_runP10mf4010v2_t");
void wrap_close(mf4010v2_t* motor) __asm__("__wrap__Z14mf4010v2_closeP10mf4010v2_t");
void real_close(mf4010v2_t* motor) __asm__("__real__Z14mf4010v2_closeP10mf4010v2_t");

float wrap_pid_compute(PIDController_t* pid, float target, float actual) {
    const int axis = pid != nullptr ? sim::controller_axis(reinterpret_cast<uintptr_t>(pid)) : -1;
    if (axis >= 0) {
        sim::apply_control_override(axis, *pid);
    }
    const float output = real_pid_compute(pid, target, actual);
    if (axis >= 0) {
        sim::Cpu& cpu = sim::Chip::get().cpu();
        cpu.probes().control_step.emit(axis, actual, output, cpu.now());
    }
    return output;
}

namespace {
// The driver counts each failed exchange (refused send, no reply) in the
// record, as it reports it on the console: the probe says which call failed.
uint16_t errors(const mf4010v2_t* motor) {
    return motor != nullptr ? motor->error_count : 0;
}

void exchanged(const mf4010v2_t* motor, uint16_t errors_before) {
    if (motor != nullptr) {
        sim::Cpu& cpu = sim::Chip::get().cpu();
        cpu.probes().motor_exchange.emit(motor->id, motor->error_count == errors_before, cpu.now());
    }
}
}  // namespace

int wrap_set_speed(mf4010v2_t* motor, int32_t speed) {
    const uint16_t before = errors(motor);
    const int result = real_set_speed(motor, speed);
    exchanged(motor, before);
    return result;
}
void wrap_run(mf4010v2_t* motor) {
    const uint16_t before = errors(motor);
    real_run(motor);
    exchanged(motor, before);
}
void wrap_close(mf4010v2_t* motor) {
    const uint16_t before = errors(motor);
    real_close(motor);
    exchanged(motor, before);
}

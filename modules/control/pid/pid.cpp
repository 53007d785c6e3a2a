// PID step in single precision, rounding after every operation (no fused
// multiply-add; the build sets -ffp-contract=off).
#include "pid.h"

#include <cstddef>

namespace {
constexpr float kDefaultOutputMax = 204800.0f;
}  // namespace

void PIDController_Init(PIDController_t* pid) {
    if (pid == NULL) {
        return;
    }
    pid->Kp = 0.0f;
    pid->Ki = 0.0f;
    pid->Kd = 0.0f;
    pid->integral = 0.0f;
    pid->prev_error = 0.0f;
    pid->output_max = kDefaultOutputMax;
}

float PIDController_Compute(PIDController_t* pid, float target, float actual) {
    if (pid == NULL) {
        return 0.0f;
    }
    const float error = target - actual;
    const float p_term = error * pid->Kp;

    // Anti-windup bounds the accumulated error itself, not Ki * integral.
    pid->integral = pid->integral + error;
    if (pid->integral > pid->output_max) {
        pid->integral = pid->output_max;
    } else if (pid->integral < -pid->output_max) {
        pid->integral = -pid->output_max;
    }
    const float i_term = pid->Ki * pid->integral;

    const float derivative = error - pid->prev_error;
    const float d_term = derivative * pid->Kd;
    pid->prev_error = error;

    float output = (p_term + i_term) + d_term;
    if (output > pid->output_max) {
        output = pid->output_max;
    } else if (output < -pid->output_max) {
        output = -pid->output_max;
    }
    return output;
}

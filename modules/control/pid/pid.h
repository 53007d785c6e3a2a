// Discrete PID controller for one axis, evaluated once per sample.
#pragma once

/// Gains, state and limit of one controller; storage belongs to the caller.
typedef struct {
    float Kp;
    float Ki;
    float Kd;
    float integral;    ///< Running sum of the errors, kept within +/- output_max.
    float prev_error;  ///< Error of the previous call.
    float output_max;  ///< Symmetric limit of the output and of `integral`.
} PIDController_t;
static_assert(sizeof(PIDController_t) == 24, "six single-precision fields");

/// Zeroes gains and state and sets `output_max` to 204800; null does nothing.
void PIDController_Init(PIDController_t* pid);

/// One step with error = target - actual; updates the state and returns the
/// limited output. Null returns 0 and touches nothing.
float PIDController_Compute(PIDController_t* pid, float target, float actual);

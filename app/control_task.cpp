// Stabilisation loop: one roll and one pitch PID per IMU sample, each output
// sent as a speed command to its motor on CAN channel 1.
#include <cstdint>
#include <cstdio>

#include "app.h"
#include "mf4010v2.h"
#include "pid.h"

namespace {

constexpr float SPEED_OUTPUT_MAX = 36000.0f;  // 0.01 deg/s: 360 deg/s
constexpr float ROLL_KP = 200.0f;
constexpr float ROLL_KI = 5.0f;
constexpr float ROLL_KD = 50.0f;
constexpr float PITCH_KP = 200.0f;
constexpr float PITCH_KI = 5.0f;
constexpr float PITCH_KD = 50.0f;

constexpr uint16_t kYawMotorId = 0x141;
constexpr uint16_t kPitchMotorId = 0x142;
constexpr int kMotorCanChannel = 1;
constexpr uint32_t kSampleWaitTicks = 20;
constexpr uint32_t kLoopDelayTicks = 10;
constexpr uint32_t kStartupWaitTicks = 5000;

float g_target_roll = 0.0f;
float g_target_pitch = 0.0f;
// The motor at 0x141 compensates roll, whatever its name says.
mf4010v2_t motor_yaw;
mf4010v2_t motor_pitch;
PIDController_t g_roll_pid;
PIDController_t g_pitch_pid;

void pid_setup(PIDController_t* pid, float kp, float ki, float kd) {
    PIDController_Init(pid);
    pid->Kp = kp;
    pid->Ki = ki;
    pid->Kd = kd;
    pid->output_max = SPEED_OUTPUT_MAX;
}

// Truncation toward zero. The limits keep the value in range; a NaN (which
// the limits let through) gives 0, as the FPU's conversion does, instead of
// undefined behaviour.
int32_t to_speed_cmd(float speed) {
    return speed != speed ? 0 : static_cast<int32_t>(speed);
}

void startup(void) {
    puts("[control_task] starting stabilization control (speed mode)");
    pid_setup(&g_roll_pid, ROLL_KP, ROLL_KI, ROLL_KD);
    pid_setup(&g_pitch_pid, PITCH_KP, PITCH_KI, PITCH_KD);
    printf("[control_task] PID: Roll(Kp=%.1f Ki=%.1f Kd=%.1f) Pitch(Kp=%.1f Ki=%.1f Kd=%.1f)\n",
           static_cast<double>(ROLL_KP), static_cast<double>(ROLL_KI), static_cast<double>(ROLL_KD),
           static_cast<double>(PITCH_KP), static_cast<double>(PITCH_KI),
           static_cast<double>(PITCH_KD));

    (void)mf4010v2_init(&motor_yaw, kYawMotorId, kMotorCanChannel);
    (void)mf4010v2_init(&motor_pitch, kPitchMotorId, kMotorCanChannel);
    mf4010v2_close(&motor_yaw);
    mf4010v2_close(&motor_pitch);
    printf("[control_task] motor yaw   is fault: %d\n", mf4010v2_is_fault(&motor_yaw) ? 1 : 0);
    printf("[control_task] motor pitch is fault: %d\n", mf4010v2_is_fault(&motor_pitch) ? 1 : 0);

    osDelay(kStartupWaitTicks);

    (void)mf4010v2_set_speed(&motor_yaw, 0);
    (void)mf4010v2_set_speed(&motor_pitch, 0);
    mf4010v2_run(&motor_yaw);
    mf4010v2_run(&motor_pitch);
    puts("[control_task] stabilization enabled (speed mode)");
}

}  // namespace

void control_task(void) {
    startup();
    for (;;) {
        imu_data_t imu;
        const osStatus_t qstat = osMessageQueueGet(g_imu_queue, &imu, NULL, kSampleWaitTicks);
        if (qstat != osOK) {
            osDelay(kLoopDelayTicks);
            continue;
        }
        // Both loops are computed before either motor is commanded.
        const float roll_speed = PIDController_Compute(&g_roll_pid, g_target_roll, imu.angle[0]);
        const int32_t yaw_speed_cmd = to_speed_cmd(roll_speed);
        const float pitch_speed = PIDController_Compute(&g_pitch_pid, g_target_pitch, imu.angle[1]);
        const int32_t pitch_speed_cmd = to_speed_cmd(pitch_speed);

        (void)mf4010v2_set_speed(&motor_yaw, yaw_speed_cmd);
        (void)mf4010v2_set_speed(&motor_pitch, pitch_speed_cmd);
        osDelay(kLoopDelayTicks);
    }
}

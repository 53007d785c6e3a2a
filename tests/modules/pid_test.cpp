// The PID controller's worked sequences, bit for bit in single precision.
#include <gtest/gtest.h>

#include <cmath>

#include "pid.h"

namespace {

PIDController_t tuned() {
    PIDController_t pid;
    PIDController_Init(&pid);
    pid.Kp = 200.0f;
    pid.Ki = 5.0f;
    pid.Kd = 50.0f;
    pid.output_max = 36000.0f;
    return pid;
}

TEST(PidTest, NullControllerIsHarmless) {
    PIDController_Init(nullptr);
    EXPECT_EQ(PIDController_Compute(nullptr, 1.0f, 0.0f), 0.0f);
}

TEST(PidTest, InitZeroesEverythingButTheLimit) {
    PIDController_t pid = {1, 2, 3, 4, 5, 6};
    PIDController_Init(&pid);
    EXPECT_EQ(pid.Kp, 0.0f);
    EXPECT_EQ(pid.Ki, 0.0f);
    EXPECT_EQ(pid.Kd, 0.0f);
    EXPECT_EQ(pid.integral, 0.0f);
    EXPECT_EQ(pid.prev_error, 0.0f);
    EXPECT_EQ(pid.output_max, 204800.0f);
}

TEST(PidTest, ZeroGainsGiveZeroButKeepTheState) {
    PIDController_t pid;
    PIDController_Init(&pid);
    EXPECT_EQ(PIDController_Compute(&pid, 2.5f, 0.5f), 0.0f);
    EXPECT_EQ(pid.integral, 2.0f);
    EXPECT_EQ(pid.prev_error, 2.0f);
}

TEST(PidTest, ConstantErrorFollowsTheWorkedSequence) {
    PIDController_t pid = tuned();
    EXPECT_EQ(PIDController_Compute(&pid, 1.0f, 0.0f), 255.0f);  // 200 + 5 + 50
    EXPECT_EQ(PIDController_Compute(&pid, 1.0f, 0.0f), 210.0f);  // 200 + 10 + 0
    for (int n = 3; n <= 50; n++) {
        EXPECT_EQ(PIDController_Compute(&pid, 1.0f, 0.0f), 200.0f + 5.0f * static_cast<float>(n))
            << "call " << n;
    }
}

TEST(PidTest, SustainedErrorSaturatesSumAndOutputExactly) {
    for (const float sign : {1.0f, -1.0f}) {
        PIDController_t pid = tuned();
        float out = 0.0f;
        for (int n = 0; n < 400; n++) {
            out = PIDController_Compute(&pid, sign * 100.0f, 0.0f);
        }
        EXPECT_EQ(pid.integral, sign * 36000.0f);
        EXPECT_EQ(pid.Ki * pid.integral, sign * 180000.0f);
        EXPECT_EQ(out, sign * 36000.0f);
    }
}

TEST(PidTest, OutputExactlyAtTheLimitPassesUnchanged) {
    PIDController_t pid;
    PIDController_Init(&pid);
    pid.Kp = 1.0f;
    pid.output_max = 10.0f;
    EXPECT_EQ(PIDController_Compute(&pid, 10.0f, 0.0f), 10.0f);
    EXPECT_EQ(pid.integral, 10.0f);
}

TEST(PidTest, DerivativeActsOnTheErrorAndKicksOnATargetStep) {
    PIDController_t pid;
    PIDController_Init(&pid);
    pid.Kd = 1.0f;
    EXPECT_EQ(PIDController_Compute(&pid, 0.0f, 0.0f), 0.0f);
    EXPECT_EQ(PIDController_Compute(&pid, 3.0f, 0.0f), 3.0f);
    EXPECT_EQ(PIDController_Compute(&pid, 3.0f, 0.0f), 0.0f);
}

TEST(PidTest, NanPropagatesUntilInit) {
    PIDController_t pid = tuned();
    EXPECT_TRUE(std::isnan(PIDController_Compute(&pid, 0.0f, NAN)));
    EXPECT_TRUE(std::isnan(pid.integral));
    EXPECT_TRUE(std::isnan(PIDController_Compute(&pid, 0.0f, 1.0f)));
    pid = tuned();
    EXPECT_EQ(PIDController_Compute(&pid, 1.0f, 0.0f), 255.0f);
}

// Rounding after every operation: with a fused multiply-add the sum
// p + i would be formed from the unrounded product and differ here.
TEST(PidTest, RoundsAfterEveryOperation) {
    PIDController_t pid;
    PIDController_Init(&pid);
    pid.Kp = 0.1f;
    pid.Ki = 0.3f;
    pid.Kd = 0.7f;
    const float error = 1.0f / 3.0f;
    volatile float p = error * 0.1f;
    volatile float i = 0.3f * error;
    volatile float d = error * 0.7f;
    volatile float expected = (p + i) + d;
    EXPECT_EQ(PIDController_Compute(&pid, error, 0.0f), expected);
}

}  // namespace

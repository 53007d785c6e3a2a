// The LED module over a stand-in LED port with three pins.
#include <gtest/gtest.h>

#include "named_case.hpp"
#include "led.h"
#include "led_if.h"

namespace {

constexpr int kFromPin = 100;  // g_read_result: report the pin level

int g_pin[3];
int g_calls;         // port calls of any kind
int g_init_result;   // for an existing LED
int g_read_result;   // for an existing LED
int g_write_result;  // for an existing LED; the pin changes only on 0

bool exists(int id) {
    return id >= 0 && id < 3;
}

constexpr led_ops_t kPort = {
    [](int id) {
        ++g_calls;
        return exists(id) ? g_init_result : -1;
    },
    [](int id, int state) {
        ++g_calls;
        if (exists(id) && g_write_result == 0) {
            g_pin[id] = state != 0;
        }
        return exists(id) ? g_write_result : -1;
    },
    [](int id) {
        ++g_calls;
        return !exists(id) ? -1 : g_read_result == kFromPin ? g_pin[id] : g_read_result;
    },
    nullptr};

class LedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_pin[0] = g_pin[1] = g_pin[2] = 0;
        g_calls = g_init_result = g_write_result = 0;
        g_read_result = kFromPin;
        led_register_ops(&kPort);
    }
};

TEST_F(LedTest, NullObjectFailsAndCallsNothing) {
    EXPECT_EQ(led_init(nullptr, 0), -1);
    EXPECT_EQ(led_on(nullptr), -1);
    EXPECT_EQ(led_off(nullptr), -1);
    EXPECT_EQ(g_calls, 0);
}

TEST_F(LedTest, OnThenOffLeavesPinLowAndStateOff) {
    led_t led;
    ASSERT_EQ(led_init(&led, 1), 0);
    EXPECT_EQ(led_on(&led), 0);
    EXPECT_EQ(g_pin[1], 1);
    EXPECT_EQ(led.state, 1);
    EXPECT_EQ(led_off(&led), 0);
    EXPECT_EQ(g_pin[1], 0);
    EXPECT_EQ(led.state, 0);
}

struct InitCase : named_case::Case {
    int id, pin, init_result, read_result, rc, state;
};

class LedInitTest : public LedTest, public ::testing::WithParamInterface<InitCase> {};

TEST_P(LedInitTest, TakesStateFromThePinOnlyOnSuccess) {
    const InitCase& c = GetParam();
    if (exists(c.id)) {
        g_pin[c.id] = c.pin;
    }
    g_init_result = c.init_result;
    g_read_result = c.read_result;
    led_t led = {99, 1};
    EXPECT_EQ(led_init(&led, c.id), c.rc);
    EXPECT_EQ(led.id, c.id);
    EXPECT_EQ(led.state, c.state);
}

INSTANTIATE_TEST_SUITE_P(Cases, LedInitTest,
                         ::testing::Values(InitCase{"PinLow", 1, 0, 0, kFromPin, 0, 0},
                                           InitCase{"PinHigh", 2, 1, 0, kFromPin, 0, 1},
                                           InitCase{"ReadErrorIsOff", 0, 1, 0, -1, 0, 0},
                                           InitCase{"BeyondTheBoard", 3, 1, 0, kFromPin, -1, 0},
                                           InitCase{"PortCodeKept", 0, 1, -5, kFromPin, -5, 0}),
                         ::testing::PrintToStringParamName());

struct WriteCase : named_case::Case {
    int (*op)(led_t*);
    led_t led;
    int write_result, rc;
};

class LedWriteFailureTest : public LedTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(LedWriteFailureTest, KeepsStateAndReturnsPortCode) {
    const WriteCase& c = GetParam();
    g_write_result = c.write_result;
    led_t led = c.led;
    EXPECT_EQ(c.op(&led), c.rc);
    EXPECT_EQ(led.state, c.led.state);
}

INSTANTIATE_TEST_SUITE_P(Cases, LedWriteFailureTest,
                         ::testing::Values(WriteCase{"OnRefused", led_on, {0, 0}, -1, -1},
                                           WriteCase{"OffOtherCode", led_off, {2, 1}, -3, -3},
                                           WriteCase{"OffBeyondTheBoard", led_off, {3, 1}, 0, -1}),
                         ::testing::PrintToStringParamName());

}  // namespace

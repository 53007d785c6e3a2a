// The soft I2C bus module over a recording stand-in port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "named_case.hpp"
#include "sim/testing/fresh_process.hpp"
#include "soft_i2c.h"
#include "soft_i2c_if.h"

namespace {

std::vector<std::string> g_calls;
int g_init_result = 0;

constexpr soft_i2c_ops_t kPort = {
    [](int ch) {
        g_calls.push_back("init " + std::to_string(ch));
        return g_init_result;
    },
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    [](int ch) {
        g_calls.push_back("start " + std::to_string(ch));
        return -7;
    },
    [](int ch, uint8_t byte) {
        g_calls.push_back("send " + std::to_string(ch) + " " + std::to_string(byte));
        return -8;
    },
    [](int ch) {
        g_calls.push_back("wait_ack " + std::to_string(ch));
        return -2;
    },
    [](int ch) {
        g_calls.push_back("stop " + std::to_string(ch));
        return -9;
    },
    [](int ch, int ack) {
        g_calls.push_back("read " + std::to_string(ch) + " " + std::to_string(ack));
        return 255;
    },
    nullptr,
};

class SoftI2cModule : public ::testing::Test {
  protected:
    void SetUp() override {
        g_calls.clear();
        g_init_result = 0;
        soft_i2c_register_ops(&kPort);
    }
};

TEST_F(SoftI2cModule, NullObjectFailsAndCallsNothing) {
    EXPECT_EQ(soft_i2c_init(nullptr, 0), -1);
    EXPECT_TRUE(g_calls.empty());
}

struct InitCase {
    const char* name;
    int port_result;
    int rc;
    int initialized;
};

class SoftI2cInit : public SoftI2cModule, public ::testing::WithParamInterface<InitCase> {};

TEST_P(SoftI2cInit, BindsTheChannelAndMapsAnyPortFailureToMinusTwo) {
    g_init_result = GetParam().port_result;
    soft_i2c_t bus = {-5, 7};
    EXPECT_EQ(soft_i2c_init(&bus, 3), GetParam().rc);
    EXPECT_EQ(bus.ch, 3);
    EXPECT_EQ(bus.initialized, GetParam().initialized);
    EXPECT_EQ(g_calls, std::vector<std::string>{"init 3"});
}

INSTANTIATE_TEST_SUITE_P(Cases, SoftI2cInit,
                         ::testing::Values(InitCase{"Free", 0, 0, 1}, InitCase{"NoBus", -1, -2, 0},
                                           InitCase{"OddCode", 5, -2, 0}),
                         named_case::by_name);

TEST_F(SoftI2cModule, FramesForwardOnTheBoundChannelWithResultsUnchanged) {
    soft_i2c_t bus;
    g_init_result = -1;
    soft_i2c_init(&bus, 2);  // failed, yet the frames still go out
    EXPECT_EQ(soft_i2c_start_frame(&bus), -7);
    EXPECT_EQ(soft_i2c_send_frame(&bus, 0xA1), -8);
    EXPECT_EQ(soft_i2c_wait_ack_frame(&bus), -2);
    EXPECT_EQ(soft_i2c_read_frame(&bus, 1), 255);
    EXPECT_EQ(soft_i2c_read_frame(&bus, 0), 255);
    EXPECT_EQ(soft_i2c_stop_frame(&bus), -9);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"init 2", "start 2", "send 2 161", "wait_ack 2",
                                                 "read 2 1", "read 2 0", "stop 2"}));
}

TEST(SoftI2cUnregistered, InitFailsWithMinusTwo) {
    const auto child = sim::testing::in_fresh_process([] {
        soft_i2c_t bus = {9, 9};
        const int rc = soft_i2c_init(&bus, 0);
        return std::to_string(rc) + " " + std::to_string(bus.ch) + " " +
               std::to_string(bus.initialized);
    });
    ASSERT_TRUE(child.ok) << child.failure;
    EXPECT_EQ(child.payload, "-2 0 0");
}

}  // namespace

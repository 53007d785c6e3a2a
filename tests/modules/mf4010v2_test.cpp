// The motor driver over a scripted CAN port: frames sent, replies offered
// poll by poll, and the console messages.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "can_if.h"
#include "mf4010v2.h"

namespace {
std::string g_console;
}  // namespace

// The runtime library's printf as the firmware sees it.
extern "C" int gimbal_rt_printf(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    g_console += text;
    return n;
}

namespace {

struct Port {
    int init_calls = 0;
    int send_result = 0;
    std::vector<can_message_t> sent;
    std::deque<can_message_t> rx;  // offered one per poll, front first
    int polls = 0;
    int reply_after_polls = 0;  // rx is visible only from this poll on
} g_port;

can_message_t frame(uint32_t id, std::initializer_list<uint8_t> bytes) {
    can_message_t m{};
    m.id = id;
    m.length = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), m.data);
    return m;
}

constexpr can_ops_t kPort = {
    [](int) {
        ++g_port.init_calls;
        return g_port.init_calls == 1 ? 0 : -1;
    },
    [](int, const can_message_t* msg) {
        g_port.sent.push_back(*msg);
        return g_port.send_result;
    },
    [](int, can_message_t* msg) {
        ++g_port.polls;
        if (g_port.rx.empty() || g_port.polls <= g_port.reply_after_polls) {
            return -1;
        }
        *msg = g_port.rx.front();
        g_port.rx.pop_front();
        return 0;
    },
    nullptr};

class MotorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_port = Port{};
        can_register_ops(&kPort);
        ASSERT_EQ(mf4010v2_init(&motor, 0x141, 1), MF4010_OK);
        g_console.clear();
    }
    std::string console() { return std::exchange(g_console, std::string()); }
    mf4010v2_t motor;
};

TEST_F(MotorTest, InitSetsTheRecordAndSendsNothing) {
    EXPECT_EQ(console(), "");
    EXPECT_EQ(motor.can_ch, 1);
    EXPECT_EQ(motor.id, 0x141);
    EXPECT_EQ(motor.flags, MF4010_FLAG_ENABLED);
    EXPECT_EQ(motor.error_count, 0);
    EXPECT_EQ(motor.success_count, 0);
    for (uint8_t b : motor.last_response) {
        EXPECT_EQ(b, 0);
    }
    EXPECT_TRUE(g_port.sent.empty());
    EXPECT_EQ(g_port.init_calls, 1);
}

TEST_F(MotorTest, InitChecksTheIdentifierAndNull) {
    mf4010v2_t m;
    EXPECT_EQ(mf4010v2_init(&m, 0x7FF, 1), MF4010_OK);
    std::memset(&m, 0xA5, sizeof(m));
    EXPECT_EQ(mf4010v2_init(&m, 0x800, 1), MF4010_ERR_INVALID_ID);
    mf4010v2_t untouched;
    std::memset(&untouched, 0xA5, sizeof(untouched));
    EXPECT_EQ(std::memcmp(&m, &untouched, sizeof(m)), 0);
    EXPECT_EQ(mf4010v2_init(nullptr, 0x141, 1), MF4010_ERR_INVALID_PARAM);
    EXPECT_EQ(console(), "Error: Invalid CAN ID 0x800 (must be 0x000-0x7FF)\r\n");
}

TEST_F(MotorTest, SpeedCommandsAreLittleEndianTwosComplement) {
    struct Case {
        int32_t speed;
        uint8_t bytes[8];
    };
    const Case cases[] = {
        {0, {0xA2, 0, 0, 0, 0, 0, 0, 0}},
        {36000, {0xA2, 0, 0, 0, 0xA0, 0x8C, 0x00, 0x00}},
        {-100, {0xA2, 0, 0, 0, 0x9C, 0xFF, 0xFF, 0xFF}},
        {INT32_MIN, {0xA2, 0, 0, 0, 0x00, 0x00, 0x00, 0x80}},
    };
    for (const Case& c : cases) {
        g_port.rx.push_back(frame(0x141, {0xA2}));
        g_port.sent.clear();
        EXPECT_EQ(mf4010v2_set_speed(&motor, c.speed), MF4010_OK);
        ASSERT_EQ(g_port.sent.size(), 1u);
        EXPECT_EQ(g_port.sent[0].id, 0x141u);
        EXPECT_EQ(g_port.sent[0].length, 8);
        EXPECT_EQ(std::memcmp(g_port.sent[0].data, c.bytes, 8), 0) << c.speed;
    }
    EXPECT_EQ(motor.success_count, 4);
    EXPECT_EQ(console(), "");
}

TEST_F(MotorTest, OtherIdentifiersAreConsumedAndDoNotEndTheExchange) {
    g_port.rx = {frame(0x142, {0x80}), frame(0x7FF, {1}), frame(0x141, {0x55, 1, 2, 3, 4, 5, 6, 7}),
                 frame(0x141, {0x66})};
    EXPECT_EQ(mf4010v2_set_speed(&motor, 5), MF4010_OK);
    EXPECT_EQ(g_port.polls, 3);
    EXPECT_EQ(g_port.rx.size(), 1u);  // the next one stays for the next exchange
    const uint8_t want[8] = {0x55, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(std::memcmp(motor.last_response, want, 8), 0);
    EXPECT_EQ(MF4010_GET_RESPONSE_CMD(&motor), 0x55);
    EXPECT_EQ(MF4010_GET_RESPONSE_DATA(&motor, 6), 7);
}

TEST_F(MotorTest, OnlyForeignFramesTimeOutAfterAllPolls) {
    for (int i = 0; i < 2500; i++) {
        g_port.rx.push_back(frame(0x142, {0x80}));
    }
    EXPECT_EQ(mf4010v2_set_speed(&motor, 5), MF4010_ERR_NO_RESPONSE);
    EXPECT_EQ(g_port.polls, MF4010_RECV_RETRIES);
    EXPECT_EQ(motor.error_count, 1);
    EXPECT_EQ(console(), "Error: Timeout waiting for motor response (ID 0x141)\r\n");
}

TEST_F(MotorTest, ReplyOnTheLastPollIsTakenOneLaterIsNot) {
    g_port.rx.push_back(frame(0x141, {0xA2}));
    g_port.reply_after_polls = MF4010_RECV_RETRIES - 1;
    EXPECT_EQ(mf4010v2_set_speed(&motor, 1), MF4010_OK);
    g_port.polls = 0;
    g_port.reply_after_polls = MF4010_RECV_RETRIES;
    g_port.rx.push_back(frame(0x141, {0xA2}));
    EXPECT_EQ(mf4010v2_set_speed(&motor, 1), MF4010_ERR_NO_RESPONSE);
}

TEST_F(MotorTest, RefusedSendCountsAndReports) {
    g_port.send_result = -1;
    motor.error_count = 65535;
    EXPECT_EQ(mf4010v2_set_speed(&motor, 1), MF4010_ERR_CAN_SEND);
    EXPECT_EQ(motor.error_count, 0);  // wraps
    EXPECT_EQ(g_port.polls, 0);
    EXPECT_EQ(console(), "Error: Failed to send CAN message (ID 0x141)\r\n");
}

TEST_F(MotorTest, CloseOutcomesSetTheFlags) {
    struct Case {
        const char* what;
        int send_result;
        std::vector<can_message_t> replies;
        uint8_t flags;
    };
    const Case cases[] = {
        {"exact echo", 0, {frame(0x141, {0x80, 0, 0, 0, 0, 0, 0, 0})}, 0x00},
        {"other reply", 0, {frame(0x141, {0x80, 0, 0, 0, 0, 0, 0, 1})}, 0x06},
        {"no reply", 0, {}, 0x06},
        {"send refused", -1, {}, 0x06},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(mf4010v2_init(&motor, 0x141, 1), MF4010_OK);
        g_port.send_result = c.send_result;
        g_port.rx.assign(c.replies.begin(), c.replies.end());
        mf4010v2_close(&motor);
        EXPECT_EQ(motor.flags, c.flags) << c.what;
        EXPECT_EQ(mf4010v2_is_fault(&motor), c.flags != 0) << c.what;
    }
    console();
}

TEST_F(MotorTest, TimedOutCloseAfterAnEchoCountsAsConfirmed) {
    g_port.rx.push_back(frame(0x141, {0x80, 0, 0, 0, 0, 0, 0, 0}));
    mf4010v2_close(&motor);
    motor.flags = MF4010_FLAG_ENABLED;
    mf4010v2_close(&motor);
    EXPECT_EQ(motor.flags, 0x00);
    console();
}

TEST_F(MotorTest, RunSetsRunningEvenWithoutReply) {
    mf4010v2_run(&motor);
    EXPECT_EQ(motor.flags, MF4010_FLAG_ENABLED | MF4010_FLAG_RUNNING);
    ASSERT_EQ(g_port.sent.size(), 1u);
    EXPECT_EQ(g_port.sent[0].data[0], 0x88);
    console();
}

TEST_F(MotorTest, NullArgumentsAreRefused) {
    EXPECT_EQ(mf4010v2_send_command(nullptr, COMMAND_MOTOR_CLOSE), MF4010_ERR_INVALID_PARAM);
    EXPECT_EQ(mf4010v2_send_command(&motor, nullptr), MF4010_ERR_INVALID_PARAM);
    EXPECT_EQ(mf4010v2_set_speed(nullptr, 1), MF4010_ERR_INVALID_PARAM);
    mf4010v2_run(nullptr);
    mf4010v2_close(nullptr);
    EXPECT_FALSE(mf4010v2_is_fault(nullptr));
    EXPECT_TRUE(g_port.sent.empty());
    EXPECT_EQ(console(), "");
}

}  // namespace

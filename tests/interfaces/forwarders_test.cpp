// The forwarders of the interface layer against stand-in port tables.
#include <gtest/gtest.h>

#include "named_case.hpp"
#include "can_if.h"
#include "led_if.h"
#include "soft_i2c_if.h"

namespace {

// The last stand-in slot that ran, and what reached it.
struct Call {
    int count;
    const char* slot;
    int ch;
    int arg;
    const void* msg;
};

Call g_call;
int g_result;  // what every stand-in returns

int record(const char* slot, int ch, int arg = 0, const void* msg = nullptr) {
    g_call = {g_call.count + 1, slot, ch, arg, msg};
    return g_result;
}

constexpr led_ops_t kLed = {[](int id) { return record("led.init", id); },
                            [](int id, int state) { return record("led.write", id, state); },
                            [](int id) { return record("led.read", id); }, nullptr};

constexpr can_ops_t kCan = {
    [](int ch) { return record("can.init", ch); },
    [](int ch, const can_message_t* m) { return record("can.send", ch, 0, m); },
    [](int ch, can_message_t* m) { return record("can.recv", ch, 0, m); }, nullptr};

constexpr soft_i2c_ops_t kSoftI2c = {
    [](int ch) { return record("si.init", ch); },
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    [](int ch) { return record("si.start", ch); },
    [](int ch, uint8_t byte) { return record("si.send", ch, byte); },
    [](int ch) { return record("si.wait_ack", ch); },
    [](int ch) { return record("si.stop", ch); },
    [](int ch, int ack) { return record("si.read", ch, ack); },
    nullptr};

enum class Table { kFull, kNone, kWithoutSlot };

// Registers the full stand-in table, no table, or a copy of it without `Slot`.
template <auto Register, const auto& Full, auto Slot>
void install(Table t) {
    static auto holey = Full;
    holey.*Slot = nullptr;
    Register(t == Table::kNone ? nullptr : t == Table::kFull ? &Full : &holey);
}

struct Forwarder : named_case::Case {
    const char* slot;  // stand-in that must run
    int arg;           // second argument that must reach it
    bool passes_msg;
    void (*install)(Table);
    int (*call)();
};

constexpr int kCh = 7;  // on no board: the layer must not interpret channels
can_message_t g_msg;

const Forwarder kGuarded[] = {
    {"led_if_init", "led.init", 0, false, install<led_register_ops, kLed, &led_ops_t::init>,
     [] { return led_if_init(kCh); }},
    {"led_if_write", "led.write", 2, false, install<led_register_ops, kLed, &led_ops_t::write>,
     [] { return led_if_write(kCh, 2); }},
    {"led_if_read", "led.read", 0, false, install<led_register_ops, kLed, &led_ops_t::read>,
     [] { return led_if_read(kCh); }},
    {"can_if_init", "can.init", 0, false, install<can_register_ops, kCan, &can_ops_t::init>,
     [] { return can_if_init(kCh); }},
    {"can_if_send", "can.send", 0, true, install<can_register_ops, kCan, &can_ops_t::send>,
     [] { return can_if_send(kCh, &g_msg); }},
    {"can_if_recv", "can.recv", 0, true, install<can_register_ops, kCan, &can_ops_t::recv>,
     [] { return can_if_recv(kCh, &g_msg); }},
    {"soft_i2c_if_init", "si.init", 0, false,
     install<soft_i2c_register_ops, kSoftI2c, &soft_i2c_ops_t::init>,
     [] { return soft_i2c_if_init(kCh); }},
};

const Forwarder kByteLevel[] = {
    {"soft_i2c_if_start_frame", "si.start", 0, false,
     install<soft_i2c_register_ops, kSoftI2c, &soft_i2c_ops_t::__start_frame>,
     [] { return soft_i2c_if_start_frame(kCh); }},
    {"soft_i2c_if_send_frame", "si.send", 0xA5, false,
     install<soft_i2c_register_ops, kSoftI2c, &soft_i2c_ops_t::__send_frame>,
     [] { return soft_i2c_if_send_frame(kCh, 0xA5); }},
    {"soft_i2c_if_wait_ack_frame", "si.wait_ack", 0, false,
     install<soft_i2c_register_ops, kSoftI2c, &soft_i2c_ops_t::__wait_ack_frame>,
     [] { return soft_i2c_if_wait_ack_frame(kCh); }},
    {"soft_i2c_if_stop_frame", "si.stop", 0, false,
     install<soft_i2c_register_ops, kSoftI2c, &soft_i2c_ops_t::__stop_frame>,
     [] { return soft_i2c_if_stop_frame(kCh); }},
    {"soft_i2c_if_read_frame", "si.read", 2, false,
     install<soft_i2c_register_ops, kSoftI2c, &soft_i2c_ops_t::__read_frame>,
     [] { return soft_i2c_if_read_frame(kCh, 2); }},
};

class ForwarderTest : public ::testing::TestWithParam<Forwarder> {
  protected:
    void SetUp() override { g_call = {}; }
};

TEST_P(ForwarderTest, PassesArgumentsAndResultThroughUnchanged) {
    const Forwarder& f = GetParam();
    f.install(Table::kFull);
    // Other failure codes than -1, and both ends of the byte range.
    for (const int result : {-7, -2, -1, 0, 1, 255}) {
        g_result = result;
        const int before = g_call.count;
        EXPECT_EQ(f.call(), result);
        EXPECT_EQ(g_call.count, before + 1);
        EXPECT_STREQ(g_call.slot, f.slot);
        EXPECT_EQ(g_call.ch, kCh);
        EXPECT_EQ(g_call.arg, f.arg);
        EXPECT_EQ(g_call.msg, f.passes_msg ? &g_msg : nullptr);
    }
}

TEST_P(ForwarderTest, FailsWithoutCallingOnceTheTableIsWithdrawn) {
    const Forwarder& f = GetParam();
    f.install(Table::kFull);
    f.install(Table::kNone);
    EXPECT_EQ(f.call(), -1);
    EXPECT_EQ(g_call.count, 0);
}

INSTANTIATE_TEST_SUITE_P(Guarded, ForwarderTest, ::testing::ValuesIn(kGuarded),
                         ::testing::PrintToStringParamName());
INSTANTIATE_TEST_SUITE_P(ByteLevel, ForwarderTest, ::testing::ValuesIn(kByteLevel),
                         ::testing::PrintToStringParamName());

using GuardedSlotTest = ForwarderTest;

TEST_P(GuardedSlotTest, MissingSlotFailsWithoutCalling) {
    const Forwarder& f = GetParam();
    f.install(Table::kFull);
    f.install(Table::kWithoutSlot);
    EXPECT_EQ(f.call(), -1);
    EXPECT_EQ(g_call.count, 0);
}

INSTANTIATE_TEST_SUITE_P(Guarded, GuardedSlotTest, ::testing::ValuesIn(kGuarded),
                         ::testing::PrintToStringParamName());

}  // namespace

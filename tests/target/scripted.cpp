#include "scripted.hpp"

#include <cstring>

#include "FreeRTOS.h"
#include "soft_i2c_if.h"
#include "task.h"

namespace target_suite {

Digest* g_out = nullptr;
ImuScript g_imu;
Reply g_reply = Reply::echo;
SampleScript g_samples;
volatile uint32_t g_call_sp = 0;

namespace {

std::jmp_buf* g_pass_end = nullptr;

void record(uint32_t tag, uint32_t value) {
    if (g_out != nullptr) {
        g_out->u32(tag);
        g_out->u32(value);
    }
}

[[noreturn]] void end_pass() {
    std::longjmp(*g_pass_end, 1);
}

// Bus state of the scripted IMU.
struct {
    int byte_no = 0;
    bool reading = false;
    bool addressed = false;
    uint32_t pointer = 0;
} g_bus;

int imu_init(int ch) {
    record(1, static_cast<uint32_t>(ch));
    return g_imu.init_result;
}

int imu_start(int ch) {
    record(2, static_cast<uint32_t>(ch));
    g_bus.byte_no = 0;
    return 0;
}

int imu_send(int ch, uint8_t byte) {
    record(3, static_cast<uint32_t>(ch << 8 | byte));
    if (g_bus.byte_no == 0) {
        g_bus.reading = (byte & 1U) != 0;
        g_bus.addressed = g_imu.present && (byte >> 1) == 0x50;
    } else if (!g_bus.reading && g_bus.byte_no == 1) {
        g_bus.pointer = 2U * byte;
    }
    g_bus.byte_no++;
    return 0;
}

int imu_wait_ack(int ch) {
    record(4, static_cast<uint32_t>(ch));
    return g_bus.addressed ? 0 : -2;
}

int imu_stop(int ch) {
    record(5, static_cast<uint32_t>(ch));
    return 0;
}

int imu_read(int ch, int ack) {
    record(6, static_cast<uint32_t>(ch << 8 | ack));
    const uint8_t b = g_bus.pointer < sizeof g_imu.image ? g_imu.image[g_bus.pointer] : 0xFF;
    g_bus.pointer++;
    return b;
}

const soft_i2c_ops_t kImuTable = {
    .init = imu_init,
    .mem_write = nullptr,
    .mem_read = nullptr,
    .write = nullptr,
    .read = nullptr,
    .__start_frame = imu_start,
    .__send_frame = imu_send,
    .__wait_ack_frame = imu_wait_ack,
    .__stop_frame = imu_stop,
    .__read_frame = imu_read,
    .__send_ack_frame = nullptr,
};

// At most one reply waits: the driver sends, then polls.
bool g_reply_waiting = false;
can_message_t g_reply_frame;

void record_frame(uint32_t tag, const can_message_t& m) {
    record(tag, m.id);
    if (g_out != nullptr) {
        g_out->byte(m.length);
        g_out->bytes(m.data, sizeof m.data);
    }
}

int can_init(int ch) {
    record(10, static_cast<uint32_t>(ch));
    return g_reply == Reply::init_fails ? -1 : 0;
}

int can_send(int ch, const can_message_t* msg) {
    record(11, static_cast<uint32_t>(ch));
    record_frame(12, *msg);
    if (g_reply == Reply::refuse_send) {
        return -1;
    }
    g_reply_frame = *msg;
    g_reply_waiting = g_reply == Reply::echo || g_reply == Reply::garbage;
    if (g_reply == Reply::garbage) {
        g_reply_frame.data[0] = static_cast<uint8_t>(~msg->data[0]);
    }
    return 0;
}

int can_recv(int ch, can_message_t* msg) {
    (void)ch;
    if (!g_reply_waiting) {
        return -1;
    }
    g_reply_waiting = false;
    *msg = g_reply_frame;
    return 0;
}

const can_ops_t kCanTable = {
    .init = can_init,
    .send = can_send,
    .recv = can_recv,
    .filter_config = nullptr,
};

}  // namespace

void ImuScript::set_reg(uint32_t reg, int16_t value) {
    const auto v = static_cast<uint16_t>(value);
    image[2 * reg] = static_cast<uint8_t>(v);
    image[2 * reg + 1] = static_cast<uint8_t>(v >> 8);
}

void register_imu_table() {
    soft_i2c_register_ops(&kImuTable);
}

void register_can_table() {
    can_register_ops(&kCanTable);
}

void run_pass(void (*body)()) {
    std::jmp_buf here;
    std::jmp_buf* outer = g_pass_end;
    g_pass_end = &here;
    if (setjmp(here) == 0) {
        TARGET_SUITE_MARK_SP();
        body();
    }
    g_pass_end = outer;
}

}  // namespace target_suite

// The kernel calls of the thread bodies. A thread's next wait for the outside
// world ends its pass.
// Not null: the sensor thread queues only when the queue exists.
int g_queue_token;
osMessageQueueId_t g_imu_queue = &g_queue_token;

extern "C" {

osStatus_t osDelay(uint32_t ticks) {
    target_suite::record(20, ticks);
    return osOK;
}

osStatus_t osMessageQueuePut(osMessageQueueId_t mq_id, const void* msg_ptr, uint8_t msg_prio,
                             uint32_t timeout) {
    (void)mq_id;
    target_suite::record(21, static_cast<uint32_t>(msg_prio) << 16 | timeout);
    imu_data_t sample;
    std::memcpy(&sample, msg_ptr, sizeof sample);
    if (target_suite::g_out != nullptr) {
        for (float a : sample.angle) {
            target_suite::g_out->f32(a);
        }
    }
    if (target_suite::g_imu.next_sample == nullptr || !target_suite::g_imu.next_sample()) {
        target_suite::end_pass();
    }
    return osOK;
}

osStatus_t osMessageQueueGet(osMessageQueueId_t mq_id, void* msg_ptr, uint8_t* msg_prio,
                             uint32_t timeout) {
    (void)mq_id;
    (void)msg_prio;
    target_suite::record(22, timeout);
    auto& s = target_suite::g_samples;
    if (s.chunk != 0 && s.taken != 0 && s.taken % s.chunk == 0 && s.chunk_done != nullptr) {
        s.chunk_done(s.taken);
    }
    if (s.taken >= s.count) {
        target_suite::end_pass();
    }
    std::memcpy(msg_ptr, &s.samples[s.taken++], sizeof(imu_data_t));
    return osOK;
}

void vTaskDelay(const TickType_t xTicksToDelay) {
    target_suite::record(23, xTicksToDelay);
    target_suite::end_pass();
}
}

#include "suite.hpp"

#include <cstring>
#include <iterator>

#include "app.h"
#include "can_if.h"
#include "led.h"
#include "led_if.h"
#include "mf4010v2.h"
#include "pid.h"
#include "scripted.hpp"
#include "soft_i2c.h"
#include "soft_i2c_if.h"
#include "wit_c_sdk.h"

namespace target_suite {

namespace {

NanCount g_nans = {0, 0};

// xorshift32: the same sequence on every compiler.
struct Rng {
    uint32_t s;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    uint32_t below(uint32_t n) { return next() % n; }
    int32_t range(int32_t lo, int32_t hi) {
        return lo + static_cast<int32_t>(below(static_cast<uint32_t>(hi - lo + 1)));
    }
};

float from_bits(uint32_t u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

uint32_t to_bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

bool is_nan(float v) {
    return v != v;
}

// The control thread's conversion of a speed to a command: truncation, NaN 0.
int32_t speed_command(float v) {
    return is_nan(v) ? 0 : static_cast<int32_t>(v);
}

struct Chunker {
    const char* group;
    uint32_t per_chunk;
    Sink sink;
    void* context;
    Digest digest;
    uint32_t index = 0;
    uint32_t items = 0;
    void item_done() {
        if (++items == per_chunk) {
            flush();
        }
    }
    void flush() {
        if (items != 0) {
            sink(Result{group, index++, items, digest.h}, context);
        }
        digest = Digest();
        items = 0;
    }
};

// ---- interface layer: forwarders without a table, with empty slots, full.

int zero_i(int) {
    return 0;
}

void run_interfaces(Sink sink, void* context) {
    Chunker c{"interfaces", 1000, sink, context, {}};
    g_out = &c.digest;
    can_message_t m = {};
    const led_ops_t empty_led = {nullptr, nullptr, nullptr, nullptr};
    const can_ops_t empty_can = {nullptr, nullptr, nullptr, nullptr};
    const soft_i2c_ops_t empty_i2c = {};
    const led_ops_t init_only = {zero_i, nullptr, nullptr, nullptr};
    for (int round = 0; round < 3; round++) {
        if (round == 0) {
            led_register_ops(nullptr);
            can_register_ops(nullptr);
            soft_i2c_register_ops(nullptr);
        } else if (round == 1) {
            led_register_ops(&empty_led);
            can_register_ops(&empty_can);
            soft_i2c_register_ops(&empty_i2c);
        } else {
            led_register_ops(&init_only);
            register_can_table();
            register_imu_table();
        }
        c.digest.i32(led_if_init(1));
        c.digest.i32(led_if_write(1, 1));
        c.digest.i32(led_if_read(1));
        c.digest.i32(can_if_init(1));
        c.digest.i32(can_if_recv(1, &m));
        c.digest.i32(soft_i2c_if_init(0));
        if (round != 1) {  // the frame slots must be filled once a table is there
            c.digest.i32(soft_i2c_if_start_frame(0));
            c.digest.i32(soft_i2c_if_send_frame(0, 0xA0));
            c.digest.i32(soft_i2c_if_wait_ack_frame(0));
            c.digest.i32(soft_i2c_if_read_frame(0, 1));
            c.digest.i32(soft_i2c_if_stop_frame(0));
        }
        c.item_done();
    }
    c.flush();
}

// ---- LED module over a table whose slots fail on request.

int g_led_fail = 0;  // bit 0 init, bit 1 write, bit 2 read
int g_led_pins[4] = {};

int led_t_init(int id) {
    return (g_led_fail & 1) != 0 || id > 3 ? -1 : 0;
}
int led_t_write(int id, int state) {
    if ((g_led_fail & 2) != 0) {
        return -1;
    }
    g_led_pins[id & 3] = state != 0;
    return 0;
}
int led_t_read(int id) {
    return (g_led_fail & 4) != 0 ? -1 : g_led_pins[id & 3];
}
const led_ops_t kLedTable = {led_t_init, led_t_write, led_t_read, nullptr};

void run_led(Sink sink, void* context) {
    Chunker c{"led", 64, sink, context, {}};
    g_out = &c.digest;
    led_register_ops(&kLedTable);
    c.digest.i32(led_init(nullptr, 0));
    c.digest.i32(led_on(nullptr));
    c.digest.i32(led_off(nullptr));
    for (int fail = 0; fail < 8; fail++) {
        for (int id = 0; id < 6; id++) {
            g_led_pins[id & 3] = id & 1;
            g_led_fail = fail;
            led_t led = {-7, -7};
            c.digest.i32(led_init(&led, id));
            c.digest.i32(led.state);
            c.digest.i32(led_on(&led));
            c.digest.i32(led.state);
            c.digest.i32(led_off(&led));
            c.digest.i32(led.state);
            c.digest.i32(led.id);
            c.item_done();
        }
    }
    c.flush();
}

// ---- soft I2C module: handle checks and results passed through.

void run_soft_i2c(Sink sink, void* context) {
    Chunker c{"soft_i2c", 64, sink, context, {}};
    g_out = &c.digest;
    register_imu_table();
    c.digest.i32(soft_i2c_init(nullptr, 0));
    for (int init_result = -1; init_result <= 0; init_result++) {
        for (int present = 0; present < 2; present++) {
            g_imu.init_result = init_result;
            g_imu.present = present != 0;
            soft_i2c_t bus = {-5, -5};
            c.digest.i32(soft_i2c_init(&bus, 3));
            c.digest.i32(bus.ch);
            c.digest.i32(bus.initialized);
            c.digest.i32(soft_i2c_start_frame(&bus));
            c.digest.i32(soft_i2c_send_frame(&bus, 0xA0));
            c.digest.i32(soft_i2c_wait_ack_frame(&bus));
            c.digest.i32(soft_i2c_read_frame(&bus, 0));
            c.digest.i32(soft_i2c_stop_frame(&bus));
            c.item_done();
        }
    }
    g_imu.init_result = 0;
    g_imu.present = true;
    c.flush();
}

// ---- register library over a scripted read function.

Rng g_wit_rng{0x1234567U};
int32_t g_wit_read_result = 1;

int32_t wit_read(uint8_t addr, uint8_t reg, uint8_t* val, uint32_t len) {
    g_out->u32(static_cast<uint32_t>(addr) << 8 | reg);
    g_out->u32(len);
    for (uint32_t i = 0; i < len; i++) {
        val[i] = static_cast<uint8_t>(g_wit_rng.next() >> 11);
    }
    return g_wit_read_result;
}
int32_t wit_write(uint8_t, uint8_t, uint8_t*, uint32_t) {
    return 1;
}
void wit_update(uint32_t reg, uint32_t num) {
    g_out->u32(0xCB);
    g_out->u32(reg);
    g_out->u32(num);
}
void wit_delay(uint16_t) {}

void run_wit(Sink sink, void* context) {
    Chunker c{"wit", 128, sink, context, {}};
    g_out = &c.digest;
    c.digest.i32(WitInit(WIT_PROTOCOL_I2C + 1, 0x51));
    c.digest.i32(WitInit(WIT_PROTOCOL_I2C, 0x50));
    c.digest.i32(WitI2cFuncRegister(nullptr, wit_read));
    c.digest.i32(WitI2cFuncRegister(wit_write, wit_read));
    c.digest.i32(WitRegisterCallBack(nullptr));
    c.digest.i32(WitRegisterCallBack(wit_update));
    c.digest.i32(WitDelayMsRegister(wit_delay));
    const uint32_t regs[] = {0, 1, 0x30, Roll, TEMP, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0xFFFFFFFFU};
    const uint32_t counts[] = {0, 1, 2, 4, 17, 128, 129, 256, 0x80000001U};
    for (int ok = 0; ok < 2; ok++) {
        g_wit_read_result = ok != 0 ? 1 : 0;
        for (uint32_t reg : regs) {
            for (uint32_t n : counts) {
                c.digest.i32(WitReadReg(reg, n));
                c.digest.bytes(sReg, sizeof sReg);
                c.item_done();
            }
        }
    }
    c.flush();
}

// ---- PID: long pseudo-random runs of the control law.

constexpr float kGains[] = {200.0f, 5.0f, 50.0f, 0.5f, 1000.0f, 3.3f, 0.001f, 123.456f, 0.0f};
constexpr float kLimits[] = {36000.0f, 204800.0f, 100.0f, 1.5f};

float pid_error(Rng& r, float kp) {
    const uint32_t kind = r.below(32);
    if (kind < 16 && kp != 0.0f) {
        // An error whose proportional term lands within a few ulps of an
        // integer: where truncation to a command is decided by the last bit.
        const float n = static_cast<float>(r.range(-40000, 40000));
        const float e = n / kp;
        const int32_t nudge = r.range(-3, 3);
        return e == 0.0f ? e : from_bits(to_bits(e) + static_cast<uint32_t>(nudge));
    }
    switch (kind) {
        case 16:
            return from_bits(0x7FC00000U);  // NaN
        case 17:
            return from_bits(r.below(2) != 0 ? 0x7F800000U : 0xFF800000U);  // infinity
        case 18:
            return from_bits(r.below(0x800000U) | (r.below(2) << 31));  // subnormal
        case 19:
            return static_cast<float>(r.range(-1000000, 1000000)) * 37.0f;  // saturates
        default:
            return static_cast<float>(r.range(-(1 << 20), 1 << 20)) / 1024.0f;
    }
}

void run_pid(Sink sink, void* context) {
    Chunker c{"pid", 256, sink, context, {}};
    g_out = &c.digest;
    Rng r{0xC0FFEE01U};
    c.digest.f32(PIDController_Compute(nullptr, 1.0f, 0.0f));
    PIDController_Init(nullptr);
    PIDController_t pid;
    for (uint32_t step = 0; step < 16384; step++) {
        if (step % 64 == 0) {
            PIDController_Init(&pid);
            c.digest.f32(pid.output_max);
            pid.Kp = kGains[r.below(std::size(kGains))];
            pid.Ki = kGains[r.below(std::size(kGains))];
            pid.Kd = kGains[r.below(std::size(kGains))];
            if (r.below(4) != 0) {
                pid.output_max = kLimits[r.below(std::size(kLimits))];
            }
        }
        const float target = static_cast<float>(r.range(-4096, 4096)) / 64.0f;
        const float err = pid_error(r, pid.Kp);
        const float actual = target - err;
        const float out = PIDController_Compute(&pid, target, actual);
        c.digest.f32(out);
        c.digest.i32(speed_command(out));
        c.digest.f32(pid.integral);
        c.digest.f32(pid.prev_error);
        c.item_done();
    }
    c.flush();
}

// ---- motor driver over the scripted CAN table.

void motor_state(Digest& d, const mf4010v2_t& m) {
    d.u32(static_cast<uint32_t>(m.can_ch));
    d.u32(m.id);
    d.bytes(m.last_response, sizeof m.last_response);
    d.u32(m.error_count);
    d.u32(m.success_count);
    d.u32(m.flags);
}

void run_motor(Sink sink, void* context) {
    Chunker c{"motor", 256, sink, context, {}};
    g_out = &c.digest;
    register_can_table();
    mf4010v2_t m = {};
    g_reply = Reply::init_fails;
    c.digest.i32(mf4010v2_init(nullptr, 0x141, 1));
    c.digest.i32(mf4010v2_init(&m, 0x800, 1));
    c.digest.i32(mf4010v2_init(&m, 0x7FF, 1));
    c.digest.i32(mf4010v2_send_command(&m, nullptr));
    c.digest.i32(mf4010v2_set_speed(nullptr, 1));
    c.digest.i32(mf4010v2_is_fault(nullptr) ? 1 : 0);
    motor_state(c.digest, m);
    const Reply replies[] = {Reply::echo, Reply::garbage, Reply::none, Reply::refuse_send};
    for (Reply reply : replies) {
        g_reply = Reply::echo;
        c.digest.i32(mf4010v2_init(&m, 0x142, 1));
        g_reply = reply;
        mf4010v2_close(&m);
        c.digest.i32(mf4010v2_is_fault(&m) ? 1 : 0);
        mf4010v2_run(&m);
        motor_state(c.digest, m);
    }
    Rng r{0x5EED0003U};
    const Reply speed_replies[] = {Reply::echo,    Reply::echo, Reply::echo,
                                   Reply::garbage, Reply::none, Reply::refuse_send};
    for (uint32_t i = 0; i < 1024; i++) {
        int32_t speed = static_cast<int32_t>(r.next());
        if (i < 4) {
            const int32_t edges[] = {INT32_MIN, INT32_MAX, 0, -1};
            speed = edges[i];
        }
        g_reply = i < 16 ? speed_replies[i % 6] : (r.below(64) == 0 ? Reply::none : Reply::echo);
        c.digest.i32(mf4010v2_set_speed(&m, speed));
        motor_state(c.digest, m);
        c.item_done();
    }
    g_reply = Reply::echo;
    c.flush();
}

// ---- the sensor thread: every int16 in every register it prints.

void sensor_body() {
    sensor_task();
}

Chunker* g_sensor_chunks = nullptr;
uint32_t g_sensor_k = 0;

// Four bijections of the 16-bit values: each register takes every value
// once, in different company.
void sensor_registers(uint32_t k) {
    g_imu.set_reg(Roll, static_cast<int16_t>(static_cast<uint16_t>(k)));
    g_imu.set_reg(Pitch, static_cast<int16_t>(static_cast<uint16_t>(k * 3U + 1U)));
    g_imu.set_reg(Yaw, static_cast<int16_t>(static_cast<uint16_t>(k * 5U + 32768U)));
    g_imu.set_reg(TEMP, static_cast<int16_t>(static_cast<uint16_t>(k * 7U + 3U)));
}

bool sensor_next() {
    g_sensor_chunks->item_done();
    if (++g_sensor_k == 65536) {
        return false;
    }
    sensor_registers(g_sensor_k);
    return true;
}

void run_sensor(Sink sink, void* context) {
    Chunker c{"sensor", 1024, sink, context, {}};
    g_out = &c.digest;
    g_sensor_chunks = &c;
    register_imu_table();
    g_sensor_k = 0;
    sensor_registers(0);
    g_imu.next_sample = sensor_next;
    run_pass(sensor_body);
    g_imu.next_sample = nullptr;
    g_sensor_chunks = nullptr;
    c.flush();
}

// ---- the control thread: start-up, then a long run of samples.

Chunker* g_control_chunks = nullptr;

void control_chunk_done(uint32_t) {
    g_control_chunks->items = 256;  // samples in the chunk
    g_control_chunks->flush();
}

void control_body() {
    control_task();
}

imu_data_t g_control_samples[2048];

void run_control(Sink sink, void* context) {
    Chunker c{"control", 0xFFFFFFFFU, sink, context, {}};
    g_out = &c.digest;
    g_control_chunks = &c;
    register_can_table();
    g_reply = Reply::echo;
    Rng r{0xA11CE005U};
    for (imu_data_t& s : g_control_samples) {
        s = imu_data_t{};
        for (float& a : s.angle) {
            // No NaN: the sensor thread's angles are scaled registers (a NaN
            // would hold the loop's state for good; the PID group covers it).
            const uint32_t kind = r.below(64);
            if (kind < 8) {
                // Near the edge of a whole command: Kp 200, Kd 50 scale it.
                a = static_cast<float>(r.range(-18000, 18000)) / 250.0f;
            } else {
                a = static_cast<float>(static_cast<int16_t>(r.next())) * 0.0054931640625f;
            }
        }
    }
    g_samples =
        SampleScript{g_control_samples, std::size(g_control_samples), 0, 256, control_chunk_done};
    run_pass(control_body);
    c.flush();
    g_samples = SampleScript{};
    g_control_chunks = nullptr;
}

}  // namespace

void Digest::f32(float v) {
    if (is_nan(v)) {
        g_nans.total++;
        g_nans.negative += to_bits(v) >> 31;
        u32(0x7FC00000U);
        return;
    }
    u32(to_bits(v));
}

NanCount nan_count() {
    return g_nans;
}

void console_bytes(const char* data, std::size_t len) {
    if (g_out != nullptr) {
        g_out->bytes(data, len);
    }
}

void run_all(Sink sink, void* context) {
    run_interfaces(sink, context);
    run_led(sink, context);
    run_soft_i2c(sink, context);
    run_wit(sink, context);
    run_pid(sink, context);
    run_motor(sink, context);
    run_sensor(sink, context);
    run_control(sink, context);
    g_out = nullptr;
}

void sensor_pass(int16_t roll, int16_t pitch, int16_t yaw, int16_t temp) {
    register_imu_table();
    g_imu.set_reg(Roll, roll);
    g_imu.set_reg(Pitch, pitch);
    g_imu.set_reg(Yaw, yaw);
    g_imu.set_reg(TEMP, temp);
    run_pass(sensor_body);
}

void control_pass() {
    register_can_table();
    g_reply = Reply::echo;
    static imu_data_t one = {{0, 0, 0}, {0, 0, 0}, {1.5f, -2.25f, 0.0f}};
    g_samples = SampleScript{&one, 1, 0, 0, nullptr};
    run_pass(control_body);
    g_samples = SampleScript{};
}

}  // namespace target_suite

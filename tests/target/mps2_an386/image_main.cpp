// Test image for an emulated Cortex-M4F: runs the vectors through the
// firmware's code compiled for the chip and compares every digest with the
// host's; then measures the stack of every console format and of one pass of
// each thread body that runs without the board. Prints "N passed, M failed".
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "stm32f4xx_hal.h"
#include "suite.hpp"

extern "C" {
void semihost_write0(const char* text);
struct _reent* image_fresh_reent(void);
struct _reent* image_use_reent(struct _reent* r);
}

// The console UART: bytes from the firmware's _write go to the comparison.
UART_HandleTypeDef huart1;
UART_HandleTypeDef huart6;

extern "C" HAL_StatusTypeDef HAL_UART_Transmit(UART_HandleTypeDef* huart, const uint8_t* pData,
                                               uint16_t Size, uint32_t Timeout) {
    (void)Timeout;
    if (huart == &huart1) {
        target_suite::console_bytes(reinterpret_cast<const char*>(pData), Size);
    }
    return HAL_OK;
}

namespace {

// ---- report output, without the runtime library's stdio.

char g_line[256];
std::size_t g_len = 0;

void out(const char* s) {
    while (*s != '\0') {
        if (g_len == sizeof g_line - 1) {
            g_line[g_len] = '\0';
            semihost_write0(g_line);
            g_len = 0;
        }
        g_line[g_len++] = *s++;
    }
}

void out_u(uint32_t v) {
    char t[11];
    int i = 10;
    t[i] = '\0';
    do {
        t[--i] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    out(&t[i]);
}

void out_hex(uint64_t v, int digits) {
    char t[17];
    for (int i = 0; i < digits; i++) {
        t[i] = "0123456789abcdef"[(v >> (4 * (digits - 1 - i))) & 0xF];
    }
    t[digits] = '\0';
    out(t);
}

void line_end() {
    out("\n");
    g_line[g_len] = '\0';
    semihost_write0(g_line);
    g_len = 0;
}

// ---- comparison with the host's digests.

const target_suite::Result kExpected[] = {
#include "expected.inc"
};

struct Tally {
    uint32_t passed = 0;
    uint32_t failed = 0;
    uint32_t next = 0;
};

void compare(const target_suite::Result& r, void* context) {
    auto& t = *static_cast<Tally*>(context);
    const target_suite::Result* e = t.next < std::size(kExpected) ? &kExpected[t.next] : nullptr;
    t.next++;
    if (e != nullptr && std::strcmp(e->group, r.group) == 0 && e->index == r.index &&
        e->items == r.items && e->digest == r.digest) {
        t.passed++;
        return;
    }
    t.failed++;
    out("FAIL ");
    out(r.group);
    out(" chunk ");
    out_u(r.index);
    out(" (");
    out_u(r.items);
    out(" items): digest ");
    out_hex(r.digest, 16);
    out(", host ");
    if (e != nullptr) {
        out(e->group);
        out(" ");
        out_u(e->index);
        out(" ");
        out_hex(e->digest, 16);
    } else {
        out("has no such chunk");
    }
    line_end();
}

// ---- stack high-water marks.

constexpr uint32_t kPaint = 0xA5A5A5A5U;
constexpr uint32_t kWindow = 12 * 1024;

// Bytes of stack below the caller's SP at the call that `fn` marked with
// TARGET_SUITE_MARK_SP (or at the call of fn itself) that the call touched.
__attribute__((noinline)) uint32_t measure(void (*fn)()) {
    uint32_t sp;
    __asm volatile("mov %0, sp" : "=r"(sp));
    auto* const lo = reinterpret_cast<volatile uint32_t*>(sp - kWindow);
    auto* const hi = reinterpret_cast<volatile uint32_t*>(sp - 64);
    for (volatile uint32_t* p = lo; p < hi; p++) {
        *p = kPaint;
    }
    target_suite::g_call_sp = 0;
    fn();
    const uint32_t base = target_suite::g_call_sp != 0 ? target_suite::g_call_sp : sp;
    volatile uint32_t* p = lo;
    while (p < hi && *p == kPaint) {
        p++;
    }
    if (p == lo) {
        return 0xFFFFFFFFU;  // ran past the painted window
    }
    return base - reinterpret_cast<uint32_t>(p);
}

// Each console call of the firmware, with its own format and the widest
// arguments it can get, marked at the call into the runtime library.
#define CONSOLE_CALL(name, call)            \
    __attribute__((noinline)) void name() { \
        TARGET_SUITE_MARK_SP();             \
        (void)call;                         \
    }

CONSOLE_CALL(f_i2c_init, printf("[sensor_task] i2c init = %d\r\n", -2))
CONSOLE_CALL(f_raw,
             printf("[sensor_task] raw data: 0x%04X, 0x%04X, 0x%04X\n", 0x8000U, 0xFFFFU, 0x7FFFU))
CONSOLE_CALL(f_angle, printf("[sensor_task] %s: %c%3d.%03d, %c%3d.%03d, %c%3d.%03d\n", "angle", '-',
                             180, 0, '+', 179, 994, '-', 0, 5))
CONSOLE_CALL(f_temp, printf("[sensor_task] temp data: %c%3d.%02d\n", '-', 327, 68))
CONSOLE_CALL(f_ctl_start, puts("[control_task] starting stabilization control (speed mode)"))
CONSOLE_CALL(f_ctl_pid,
             printf("[control_task] PID: Roll(Kp=%.1f Ki=%.1f Kd=%.1f) Pitch(Kp=%.1f Ki=%.1f "
                    "Kd=%.1f)\n",
                    200.0, 5.0, 50.0, 200.0, 5.0, 50.0))
CONSOLE_CALL(f_ctl_fault, printf("[control_task] motor yaw   is fault: %d\n", 1))
CONSOLE_CALL(f_ctl_enabled, puts("[control_task] stabilization enabled (speed mode)"))
CONSOLE_CALL(f_motor_id, printf("Error: Invalid CAN ID 0x%03X (must be 0x000-0x7FF)\r\n", 0xFFFFU))
CONSOLE_CALL(f_motor_send, printf("Error: Failed to send CAN message (ID 0x%03X)\r\n", 0x7FFU))
CONSOLE_CALL(f_motor_timeout,
             printf("Error: Timeout waiting for motor response (ID 0x%03X)\r\n", 0x7FFU))
CONSOLE_CALL(f_app_queue, puts("[app_init] ERROR: Failed to create IMU queue\r"))
CONSOLE_CALL(f_app_ready, puts("[app_init] Hardware initialized\r"))
CONSOLE_CALL(f_i2c_start, printf("[mem_read] i2c_start failed\r\n"))
CONSOLE_CALL(f_i2c_nack_addr, printf("[mem_read] NACK at addr_write dev_addr=%u (bus=0x%02x)\r\n",
                                     4294967295U, 255U))
CONSOLE_CALL(f_i2c_nack_reg, printf("[mem_read] NACK at reg_addr_write reg=0x%02x\r\n", 255U))
CONSOLE_CALL(f_i2c_timeout, printf("[mem_read] i2c_read_byte timeout byte=%u\r\n", 4294967295U))

CONSOLE_CALL(f_scl_wait,
             printf("[i2c] scl_wait_high timeout port=0x%08x pin=0x%04x\r\n", 0x40021400U, 0x4000U))
CONSOLE_CALL(f_start_timeout, printf("[i2c] START: scl_wait_high timeout\r\n"))
CONSOLE_CALL(f_start_busy, printf("[i2c] START: bus busy, trying recovery\r\n"))
CONSOLE_CALL(f_start_stuck, printf("[i2c] START: bus busy after recovery\r\n"))

struct Format {
    const char* name;
    const char* caller;   // the firmware function that makes the call (after inlining)
    const char* runtime;  // the runtime library's entry it reaches (GCC makes
                          // a printf of plain text ending in a newline a puts)
    void (*call)();
};

const Format kFormats[] = {
    {"sensor i2c init", "sensor_task", "printf", f_i2c_init},
    {"sensor raw", "sensor_task", "printf", f_raw},
    {"sensor angle", "print_float", "printf", f_angle},
    {"sensor temp", "sensor_task", "printf", f_temp},
    {"control starting", "control_task", "puts", f_ctl_start},
    {"control PID %.1f", "control_task", "printf", f_ctl_pid},
    {"control fault", "control_task", "printf", f_ctl_fault},
    {"control enabled", "control_task", "puts", f_ctl_enabled},
    {"motor invalid id", "mf4010v2_init", "printf", f_motor_id},
    {"motor send failed", "mf4010v2_send_command", "printf", f_motor_send},
    {"motor timeout", "mf4010v2_send_command", "printf", f_motor_timeout},
    {"app_init queue", "app_init", "puts", f_app_queue},
    {"app_init ready", "app_init", "puts", f_app_ready},
    {"soft i2c start", "hal_soft_i2c_mem_read", "puts", f_i2c_start},
    {"soft i2c nack addr", "hal_soft_i2c_mem_read", "printf", f_i2c_nack_addr},
    {"soft i2c nack reg", "hal_soft_i2c_mem_read", "printf", f_i2c_nack_reg},
    {"soft i2c timeout", "hal_soft_i2c_mem_read", "printf", f_i2c_timeout},
    {"soft i2c scl wait", "scl_wait_high", "printf", f_scl_wait},
    {"soft i2c start timeout", "i2c_start", "puts", f_start_timeout},
    {"soft i2c start busy", "i2c_start", "puts", f_start_busy},
    {"soft i2c start stuck", "i2c_start", "puts", f_start_stuck},
};

void sensor_pass_worst() {
    target_suite::sensor_pass(-32768, 32767, -1, -32768);
}

void control_pass_once() {
    target_suite::control_pass();
}

uint32_t g_printf_max = 0;
uint32_t g_puts_max = 0;

// A fresh thread's first call (stream set-up, buffer from the heap, big
// numbers for a float) and the same thread's second one.
bool measure_formats() {
    bool ok = true;
    for (const Format& f : kFormats) {
        struct _reent* const before = image_use_reent(image_fresh_reent());
        const uint32_t first = measure(f.call);
        const uint32_t again = measure(f.call);
        image_use_reent(before);
        const uint32_t worst = first > again ? first : again;
        out("stack format \"");
        out(f.name);
        out("\" first ");
        out_u(first);
        out(" again ");
        out_u(again);
        line_end();
        out("stack call ");
        out(f.caller);
        out(" ");
        out(f.runtime);
        out(" ");
        out_u(worst);
        line_end();
        uint32_t& max = std::strcmp(f.runtime, "puts") == 0 ? g_puts_max : g_printf_max;
        max = worst > max ? worst : max;
        ok = ok && worst < kWindow && again > 0;
    }
    out("stack runtime printf ");
    out_u(g_printf_max);
    line_end();
    out("stack runtime puts ");
    out_u(g_puts_max);
    line_end();
    return ok;
}

bool measure_thread(const char* name, void (*pass)()) {
    struct _reent* const before = image_use_reent(image_fresh_reent());
    const uint32_t used = measure(pass);
    image_use_reent(before);
    out("stack pass ");
    out(name);
    out(" ");
    out_u(used);
    line_end();
    return used < kWindow;
}

// The chip's default NaN (an invalid operation's result), for the report.
uint32_t default_nan_bits() {
    volatile float inf = __builtin_inff();
    const float nan = inf - inf;
    uint32_t bits;
    std::memcpy(&bits, &nan, sizeof bits);
    return bits;
}

}  // namespace

int main() {
    Tally tally;
    target_suite::run_all(compare, &tally);
    if (tally.next != std::size(kExpected)) {
        out("FAIL chunk count ");
        out_u(tally.next);
        out(", host ");
        out_u(std::size(kExpected));
        line_end();
        tally.failed++;
    }
    const auto nans = target_suite::nan_count();
    out("NaN results ");
    out_u(nans.total);
    out(", sign bit set ");
    out_u(nans.negative);
    out("; default NaN 0x");
    out_hex(default_nan_bits(), 8);
    line_end();

    (measure_formats() ? tally.passed : tally.failed)++;
    (measure_thread("sensor_task", sensor_pass_worst) ? tally.passed : tally.failed)++;
    (measure_thread("control_task", control_pass_once) ? tally.passed : tally.failed)++;

    out_u(tally.passed);
    out(" passed, ");
    out_u(tally.failed);
    out(" failed");
    line_end();
    return tally.failed == 0 ? 0 : 1;
}

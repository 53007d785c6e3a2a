// The bit-banged I2C engine and its transactions against a slave whose every
// answer comes from the fuzzer's input: when it stretches the clock and for
// how long, which data bits and acknowledges it drives, lines stuck low for a
// while. Every operation must return within its time bound, with one of its
// documented codes, print only its documented lines and, for a transaction,
// leave both lines released.
//
// The port's functions have file scope, so its source is compiled in here.
// The GPIO port F and DWT registers it touches are served below; time moves
// by the core's register-access cost at 168 MHz.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fuzz/support/console.hpp"
#include "fuzz/support/input.hpp"
#include "hal/stm32f4/soft_i2c/hal_soft_i2c.cpp"
#include "sim/core/costs.hpp"

uint32_t SystemCoreClock = 168000000U;

namespace {

constexpr uint64_t kCyclesPerUs = 168;
constexpr uint32_t kSda = 1U << 12;
constexpr uint32_t kScl = 1U << 14;
constexpr uintptr_t kPortF = 0x40021400U;

DWT_Type g_dwt;
CoreDebug_Type g_core_debug;

struct Board {
    fuzz::Input* in = nullptr;
    uint64_t now = 0;  // core cycles
    // DWT
    bool trace_enabled = false, counting = false;
    uint32_t cyccnt_at_zero = 0;  // CYCCNT = cyccnt_at_zero + now while counting
    uint32_t cyccnt_frozen = 0;
    // Port F as the master drives it
    uint32_t moder = (1U << 24) | (1U << 28);  // PF12, PF14 general-purpose output
    uint32_t odr = kSda | kScl;
    uint64_t writes = 0;
    // The slave
    bool slave_sda_low = false;
    uint64_t scl_held_until = 0, sda_stuck_until = 0, scl_stuck_until = 0;

    uint32_t cyccnt() const {
        return counting ? cyccnt_at_zero + static_cast<uint32_t>(now) : cyccnt_frozen;
    }
    bool master_sda_low() const { return ((moder >> 24) & 3U) == 1U && (odr & kSda) == 0; }
    bool scl_level() const {
        return (odr & kScl) != 0 && now >= scl_held_until && now >= scl_stuck_until;
    }
    bool sda_level() const { return !master_sda_low() && !slave_sda_low && now >= sda_stuck_until; }

    void set_odr(uint32_t next) {
        const uint32_t old = odr;
        odr = next;
        if ((old & kScl) == 0 && (next & kScl) != 0) {
            // The master lets SCL go: the slave may stretch it.
            const uint8_t b = in->byte();
            switch (b >> 6) {
                case 2:
                    scl_held_until = now + (b & 0x3FU) * kCyclesPerUs;
                    break;
                case 3:
                    scl_held_until = now + (b & 0x3FU) * 500 * kCyclesPerUs;
                    break;
                default:
                    break;
            }
        } else if ((old & kScl) != 0 && (next & kScl) == 0) {
            // SCL falls: the slave sets SDA for the next clock.
            slave_sda_low = in->bit();
        }
    }
};

Board g_board;

uint32_t port_f_read(uintptr_t offset) {
    switch (offset) {
        case 0x00:
            return g_board.moder;
        case 0x10:
            return (0xFFFFU & ~(kSda | kScl)) | (g_board.sda_level() ? kSda : 0U) |
                   (g_board.scl_level() ? kScl : 0U);
        case 0x14:
            return g_board.odr;
        default:
            fuzz::fail("read of GPIOF offset " + std::to_string(offset));
    }
}

void port_f_write(uintptr_t offset, uint32_t value) {
    g_board.writes++;
    switch (offset) {
        case 0x00:
            if ((value & ~((3U << 24) | (3U << 28))) !=
                (g_board.moder & ~((3U << 24) | (3U << 28)))) {
                fuzz::fail("MODER write changed a pin other than PF12");
            }
            g_board.moder = value;
            return;
        case 0x18: {
            const uint32_t set = value & 0xFFFFU, reset = value >> 16;
            if (((set | reset) & ~(kSda | kScl)) != 0) {
                fuzz::fail("BSRR write to a pin other than PF12/PF14");
            }
            g_board.set_odr((g_board.odr & ~reset) | set);
            return;
        }
        default:
            fuzz::fail("write of GPIOF offset " + std::to_string(offset));
    }
}

}  // namespace

extern "C" {
uint32_t gimbal_sim_reg_read(const void* reg) {
    g_board.now += sim::cost::kRegisterAccess;
    const auto a = reinterpret_cast<uintptr_t>(reg);
    if (reg == &g_dwt.CYCCNT) {
        return g_board.cyccnt();
    }
    if (reg == &g_dwt.CTRL) {
        return g_board.counting ? 1U : 0U;
    }
    if (reg == &g_core_debug.DEMCR) {
        return g_board.trace_enabled ? CoreDebug_DEMCR_TRCENA_Msk : 0U;
    }
    if (a >= kPortF && a < kPortF + 0x28) {
        return port_f_read(a - kPortF);
    }
    fuzz::fail("read of an unexpected register");
}

// The cycle counter's own reads and comparisons: every turn of a busy wait
// polls here (no turns are skipped), so a bound is checked poll by poll.
uint32_t gimbal_sim_cyccnt_read(const void* reg) {
    return gimbal_sim_reg_read(reg);
}

bool gimbal_sim_cycles_compare(uint32_t, uint32_t elapsed, uint32_t limit, int op) {
    return gimbal_cycles_hold(elapsed, limit, op);
}

void gimbal_sim_reg_write(void* reg, uint32_t value) {
    g_board.now += sim::cost::kRegisterAccess;
    const auto a = reinterpret_cast<uintptr_t>(reg);
    if (reg == &g_dwt.CYCCNT) {
        g_board.cyccnt_at_zero = value - static_cast<uint32_t>(g_board.now);
        g_board.cyccnt_frozen = value;
        return;
    }
    if (reg == &g_dwt.CTRL) {
        const bool on = (value & 1U) != 0 && g_board.trace_enabled;
        if (on && !g_board.counting) {
            g_board.cyccnt_at_zero = g_board.cyccnt_frozen - static_cast<uint32_t>(g_board.now);
        }
        g_board.counting = on;
        return;
    }
    if (reg == &g_core_debug.DEMCR) {
        g_board.trace_enabled = (value & CoreDebug_DEMCR_TRCENA_Msk) != 0;
        return;
    }
    if (a >= kPortF && a < kPortF + 0x28) {
        port_f_write(a - kPortF, value);
        return;
    }
    fuzz::fail("write of an unexpected register");
}

DWT_Type* gimbal_sim_dwt(void) {
    return &g_dwt;
}
CoreDebug_Type* gimbal_sim_coredebug(void) {
    return &g_core_debug;
}
uint32_t __RBIT(uint32_t value) {
    g_board.now += sim::cost::kIntrinsic;
    uint32_t r = 0;
    for (int i = 0; i < 32; i++) {
        r = (r << 1) | ((value >> i) & 1U);
    }
    return r;
}
uint8_t __CLZ(uint32_t value) {
    g_board.now += sim::cost::kIntrinsic;
    return static_cast<uint8_t>(value == 0 ? 32 : __builtin_clz(value));
}
}

namespace {

const std::string kSclTimeout = "[i2c] scl_wait_high timeout port=0x40021400 pin=0x4000";
const std::set<std::string> kStartLines = {kSclTimeout, "[i2c] START: scl_wait_high timeout",
                                           "[i2c] START: bus busy, trying recovery",
                                           "[i2c] START: bus busy after recovery"};

std::string format(const char* f, unsigned a, unsigned b = 0) {
    char text[128];
    std::snprintf(text, sizeof text, f, a, b);
    return text;
}

enum Op : uint8_t {
    kInit,
    kWrite,
    kRead,
    kMemWrite,
    kMemRead,
    kStartFrame,
    kSendFrame,
    kWaitAck,
    kStopFrame,
    kReadFrame,
    kSendAck,
    kCounterJump,
    kStuckLines,
    kOpCount
};

struct Check {
    const char* name;
    int ch;
    uint64_t start;
    uint64_t writes;
};

void expect(bool ok, const Check& c, const std::string& what) {
    if (!ok) {
        fuzz::fail(std::string(c.name) + " ch=" + std::to_string(c.ch) + ": " + what);
    }
}

void expect_lines(const Check& c, const std::set<std::string>& allowed) {
    for (const std::string& line : fuzz::take_console_lines()) {
        expect(allowed.count(line) != 0, c, "unexpected console line '" + line + "'");
    }
}

// Bound in core cycles: the deadline plus the fixed delays of every step.
void expect_within(const Check& c, uint64_t bound_us) {
    const uint64_t took = g_board.now - c.start;
    expect(took <= bound_us * kCyclesPerUs, c,
           "took " + std::to_string(took) + " cycles, bound " + std::to_string(bound_us) + " us");
}

void expect_untouched(const Check& c, int result) {
    expect(result == -1, c, "bad channel gave " + std::to_string(result));
    expect(g_board.writes == c.writes, c, "bad channel touched a pin");
    expect_lines(c, {});
}

int pick_channel(fuzz::Input& in) {
    const uint8_t b = in.byte();
    return (b & 0xF0U) == 0xF0U ? static_cast<int8_t>(b) + 12 : 0;  // mostly 0; -4..11 else
}

void transaction(Op op, fuzz::Input& in) {
    const int ch = pick_channel(in);
    const uint16_t dev_addr = in.u16();
    const uint16_t mem_addr = in.u16();
    const uint16_t mem_addr_size = in.byte() % 4;
    const uint16_t size = in.byte() % 12;
    const bool null_data = in.byte() == 0xAA;
    const uint32_t timeout_ms = 1 + in.byte() % 8;
    uint8_t* data = null_data ? nullptr : static_cast<uint8_t*>(std::malloc(size));
    const uint32_t armed_before = txn_timeout_ticks;
    static const char* const kNames[] = {"init", "write", "read", "mem_write", "mem_read"};
    const Check c{kNames[op], ch, g_board.now, g_board.writes};
    int r = 0;
    switch (op) {
        case kWrite:
            r = hal_soft_i2c_write(ch, dev_addr, data, size, timeout_ms);
            break;
        case kRead:
            r = hal_soft_i2c_read(ch, dev_addr, data, size, timeout_ms);
            break;
        case kMemWrite:
            r = hal_soft_i2c_mem_write(ch, dev_addr, mem_addr, mem_addr_size, data, size,
                                       timeout_ms);
            break;
        default:
            r = hal_soft_i2c_mem_read(ch, dev_addr, mem_addr, mem_addr_size, data, size,
                                      timeout_ms);
            break;
    }
    std::free(data);
    const bool refused = ch != 0 || null_data || (size == 0 && (op == kWrite || op == kRead));
    if (refused) {
        expect_untouched(c, r);
        expect(txn_timeout_ticks == armed_before, c, "a refused call armed the deadline");
        return;
    }
    expect(r == 0 || r == -1, c, "result " + std::to_string(r));
    expect((g_board.odr & (kSda | kScl)) == (kSda | kScl), c, "lines not released afterwards");
    const unsigned bytes = size + 4U;
    expect_within(c, timeout_ms * 1000U + bytes * 200U + 400U);
    std::set<std::string> allowed = kStartLines;
    if (op == kMemRead) {
        allowed.insert("[mem_read] i2c_start failed");
        allowed.insert("[mem_read] restart failed");
        allowed.insert(format("[mem_read] NACK at addr_write dev_addr=%u (bus=0x%02x)", dev_addr,
                              dev_addr & 0xFEU));
        allowed.insert(format("[mem_read] NACK at reg_addr_write reg=0x%02x", mem_addr & 0xFFU));
        allowed.insert(format("[mem_read] NACK at addr_read dev_addr=%u (bus=0x%02x)", dev_addr,
                              dev_addr | 0x01U));
        for (unsigned i = 0; i < size; i++) {
            allowed.insert(format("[mem_read] i2c_read_byte timeout byte=%u", i));
        }
    }
    const std::vector<std::string> lines = fuzz::take_console_lines();
    int mem_read_lines = 0;
    for (const std::string& line : lines) {
        expect(allowed.count(line) != 0, c, "unexpected console line '" + line + "'");
        mem_read_lines += line.rfind("[mem_read]", 0) == 0 ? 1 : 0;
        if (r == 0) {
            expect(line == "[i2c] START: bus busy, trying recovery", c,
                   "success with the line '" + line + "'");
        }
    }
    expect(mem_read_lines <= 1, c, "more than one [mem_read] line");
}

void frame(Op op, fuzz::Input& in) {
    const int ch = pick_channel(in);
    static const char* const kNames[] = {"start_frame", "send_frame", "wait_ack_frame",
                                         "stop_frame",  "read_frame", "send_ack_frame"};
    const Check c{kNames[op - kStartFrame], ch, g_board.now, g_board.writes};
    int r = 0;
    uint64_t bound_us = 0;
    switch (op) {
        case kStartFrame:
            r = hal_soft_i2c_start_frame(ch);
            bound_us = 10;
            break;
        case kSendFrame:
            r = hal_soft_i2c_send_frame(ch, in.byte());
            bound_us = 80;
            break;
        case kWaitAck:
            r = hal_soft_i2c_wait_ack_frame(ch);
            bound_us = 10000 + 6;
            break;
        case kStopFrame:
            r = hal_soft_i2c_stop_frame(ch);
            bound_us = 10;
            break;
        case kReadFrame:
            r = hal_soft_i2c_read_frame(ch, in.byte() & 1);
            bound_us = 130;
            break;
        default:
            r = hal_soft_i2c_send_ack_frame(ch, in.byte() & 1);
            bound_us = 10;
            break;
    }
    if (ch != 0) {
        expect_untouched(c, r);
        return;
    }
    if (op == kWaitAck) {
        expect(r == 0 || r == -2, c, "result " + std::to_string(r));
    } else if (op == kReadFrame) {
        expect(r >= 0 && r <= 255, c, "result " + std::to_string(r));
    } else {
        expect(r == 0, c, "result " + std::to_string(r));
    }
    expect_within(c, bound_us + 20);
    expect_lines(c, {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    static bool started = false;
    if (!started) {
        hal_soft_i2c_init_all();
        dwt_init();
        started = true;
    }
    // Each input starts on an idle bus; the engine's own state carries on, as
    // it would on the chip.
    g_board.in = &in;
    g_board.now = 0;
    g_board.cyccnt_at_zero = in.u32();  // anywhere, wraps included
    g_board.moder = (1U << 24) | (1U << 28);
    g_board.odr = kSda | kScl;
    g_board.slave_sda_low = false;
    g_board.scl_held_until = g_board.sda_stuck_until = g_board.scl_stuck_until = 0;
    fuzz::take_console_lines();

    for (int ops = 0; ops < 12 && !in.empty(); ops++) {
        const Op op = static_cast<Op>(in.byte() % kOpCount);
        switch (op) {
            case kInit: {
                const int ch = pick_channel(in);
                const Check c{"init", ch, g_board.now, g_board.writes};
                const int r = hal_soft_i2c_init(ch);
                if (ch != 0) {
                    expect_untouched(c, r);
                    break;
                }
                expect(r == 0 || r == -1, c, "result " + std::to_string(r));
                expect(r == 0 || !g_board.sda_level(), c, "-1 with SDA high");
                expect_within(c, 200);
                expect_lines(c, {});
                break;
            }
            case kWrite:
            case kRead:
            case kMemWrite:
            case kMemRead:
                transaction(op, in);
                break;
            case kCounterJump:
                g_board.cyccnt_at_zero = 0U - static_cast<uint32_t>(g_board.now) - in.u16() * 16U;
                break;
            case kStuckLines: {
                const uint8_t b = in.byte();
                // Up to 31 ms: within and beyond the recovery and every deadline.
                const uint64_t until = g_board.now + (b & 0x1FU) * 1000 * kCyclesPerUs;
                if ((b & 0x80U) != 0) {
                    g_board.sda_stuck_until = until;
                } else {
                    g_board.scl_stuck_until = until;
                }
                break;
            }
            default:
                frame(op, in);
                break;
        }
    }
    return 0;
}

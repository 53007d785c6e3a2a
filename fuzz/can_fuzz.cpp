// The motor driver over the interface layer and the CAN port, against
// arbitrary traffic on the bus: frames of any identifier, standard or
// extended, of any length code, remote or data, arriving at any poll, the
// receive FIFO overrunning, mailboxes that empty late, fail or never, and the
// HAL tick anywhere in its range. The driver's results, counters, flags,
// stored reply and console lines must agree with what happened on the bus,
// and the port must keep its time limit and its frame layout.
//
// Below the port stands a HAL CAN stand-in whose every answer comes from the
// fuzzer's input; the controller's transmit status register is served here.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "can.h"
#include "can_if.h"
#include "fuzz/support/console.hpp"
#include "fuzz/support/input.hpp"
#include "hal_can.h"
#include "mf4010v2.h"
#include "stm32f4xx_hal.h"

CAN_HandleTypeDef hcan1 = {CAN1, {}, HAL_CAN_STATE_READY, 0};
CAN_HandleTypeDef hcan2 = {CAN2, {}, HAL_CAN_STATE_READY, 0};

namespace {

constexpr uint32_t kPoison = 0xA5A5A5A5U;  // what a header field the HAL does not fill holds

struct Frame {
    bool extended = false;
    bool remote = false;
    uint32_t id = 0;
    uint32_t dlc = 0;
    std::array<uint8_t, 8> data{};
};

struct Mailbox {
    bool pending = false;
    bool ok = false;  // TXOK after it left
    CAN_TxHeaderTypeDef header{};
    std::array<uint8_t, 8> data{};
};

struct Bus {
    fuzz::Input* in = nullptr;
    uint64_t now_us = 0;
    uint32_t tick0 = 0;
    bool started[2] = {false, false};
    std::array<std::array<Mailbox, 3>, 2> mailboxes{};  // per controller
    std::array<Mailbox, 3>* tx = nullptr;               // of the last frame queued
    std::deque<Frame> fifo;                             // CAN2's FIFO 0, three deep
    uint32_t overruns = 0;
    uint16_t motor_ids[2] = {0x141, 0x142};
    bool refusals = false;  // the HAL may refuse a filter (after the firmware's start)
    // What the current exchange saw
    uint32_t polls = 0;
    bool delivered_any = false;
    Frame delivered{};
    bool reply_delivered = false;  // a standard frame with the exchanging motor's identifier
    uint16_t exchanging = 0xFFFF;
    int last_mailbox = -1;
    bool last_left_ok = false;
    uint64_t added_at_us = 0, last_poll_at_us = 0;

    uint32_t tick() const { return tick0 + static_cast<uint32_t>(now_us / 1000); }
    void spend(uint64_t us) { now_us += us; }

    int index(const CAN_HandleTypeDef* h) const { return h == &hcan1 ? 0 : h == &hcan2 ? 1 : -1; }

    Frame random_frame() {
        Frame f;
        const uint8_t kind = in->byte();
        f.extended = (kind & 0x04U) != 0;
        f.remote = (kind & 0x08U) != 0;
        switch (kind & 0x03U) {
            case 0:
            case 1:
                f.id = motor_ids[kind & 1U];
                break;
            default:
                f.id = f.extended ? (in->u32() & 0x1FFFFFFFU) : (in->u16() & 0x7FFU);
                break;
        }
        f.dlc = kind >> 4;  // 0 to 15, as the register holds it
        for (uint8_t& b : f.data) {
            b = in->byte();
        }
        return f;
    }

    void arrive(const Frame& f) {
        if (!started[1]) {
            return;
        }
        if (fifo.size() == 3) {
            fifo.back() = f;  // FIFO not locked: the newest overwrites the last
            overruns++;
        } else {
            fifo.push_back(f);
        }
    }
};

Bus g_bus;

}  // namespace

extern "C" {
uint32_t gimbal_sim_reg_read(const void* reg) {
    for (int ch = 0; ch < 2; ch++) {
        const CAN_TypeDef* can = ch == 0 ? CAN1 : CAN2;
        if (reg == &can->TSR) {
            uint32_t tsr = 0;
            static const uint32_t kOk[] = {CAN_TSR_TXOK0, CAN_TSR_TXOK1, CAN_TSR_TXOK2};
            for (int m = 0; m < 3; m++) {
                const Mailbox& box = g_bus.mailboxes[ch][m];
                if (!box.pending && box.ok) {
                    tsr |= kOk[m];
                }
            }
            return tsr;
        }
    }
    fuzz::fail("read of an unexpected register");
}
void gimbal_sim_reg_write(void*, uint32_t) {
    fuzz::fail("write of a register");
}
}

uint32_t HAL_GetTick(void) {
    g_bus.spend(1);
    return g_bus.tick();
}

HAL_StatusTypeDef HAL_CAN_ConfigFilter(CAN_HandleTypeDef* hcan, const CAN_FilterTypeDef* filter) {
    g_bus.spend(1);
    if (g_bus.index(hcan) < 0 || filter == nullptr) {
        fuzz::fail("filter on an unknown handle");
    }
    return g_bus.refusals && g_bus.in->byte() == 0xEE ? HAL_ERROR : HAL_OK;
}

HAL_StatusTypeDef HAL_CAN_Start(CAN_HandleTypeDef* hcan) {
    g_bus.spend(1);
    const int i = g_bus.index(hcan);
    if (i < 0 || g_bus.started[i]) {
        return HAL_ERROR;
    }
    g_bus.started[i] = true;
    return HAL_OK;
}

HAL_StatusTypeDef HAL_CAN_AddTxMessage(CAN_HandleTypeDef* hcan, const CAN_TxHeaderTypeDef* header,
                                       const uint8_t data[], uint32_t* mailbox) {
    g_bus.spend(1);
    const int i = g_bus.index(hcan);
    if (i < 0 || !g_bus.started[i]) {
        return HAL_ERROR;
    }
    // A motor record may be bound to channel 0 too: its frames go to CAN1.
    std::array<Mailbox, 3>& tx = g_bus.mailboxes[i];
    g_bus.tx = &tx;
    // Stale frames may have gone out since.
    const uint8_t b = g_bus.in->byte();
    for (int m = 0; m < 3; m++) {
        if (tx[m].pending && ((b >> m) & 1U) != 0) {
            tx[m].pending = false;
            tx[m].ok = true;
        }
    }
    for (int m = 0; m < 3; m++) {
        if (!tx[m].pending) {
            tx[m] = Mailbox{true, false, *header, {}};
            std::memcpy(tx[m].data.data(), data, 8);
            *mailbox = 1U << m;
            g_bus.last_mailbox = m;
            g_bus.last_left_ok = false;
            g_bus.added_at_us = g_bus.now_us;
            return HAL_OK;
        }
    }
    return HAL_ERROR;
}

uint32_t HAL_CAN_IsTxMessagePending(const CAN_HandleTypeDef* hcan, uint32_t mailbox) {
    g_bus.spend(1);
    const int i = g_bus.index(hcan);
    if (i < 0 || (mailbox != 1 && mailbox != 2 && mailbox != 4)) {
        fuzz::fail("pending query on an unknown handle or mailbox");
    }
    const int m = mailbox == 1 ? 0 : mailbox == 2 ? 1 : 2;
    Mailbox& box = g_bus.mailboxes[i][m];
    // Per poll: how much time passed and whether the frame left, sent or not.
    const uint8_t b = g_bus.in->byte();
    g_bus.spend(g_bus.in->empty() && b == 0 ? 1000 : (b & 0x1FU) * 200U);
    if (box.pending && (b >> 5) >= 6) {
        box.pending = false;
        box.ok = (b >> 5) == 7;
    }
    g_bus.last_poll_at_us = g_bus.now_us;
    if (&g_bus.mailboxes[i] == g_bus.tx && m == g_bus.last_mailbox && !box.pending) {
        g_bus.last_left_ok = box.ok;
    }
    return box.pending ? 1U : 0U;
}

uint32_t HAL_CAN_GetRxFifoFillLevel(const CAN_HandleTypeDef* hcan, uint32_t fifo) {
    g_bus.spend(1);
    const int i = g_bus.index(hcan);
    if (i < 0 || fifo != CAN_RX_FIFO0) {
        fuzz::fail("fill level of an unknown handle or FIFO 1");
    }
    g_bus.polls++;
    const uint8_t b = g_bus.in->byte();
    if (b >= 0xC0) {
        for (int n = 0; n <= (b & 3); n++) {
            g_bus.arrive(g_bus.random_frame());
        }
    }
    return i == 1 && g_bus.started[1] ? static_cast<uint32_t>(g_bus.fifo.size()) : 0U;
}

HAL_StatusTypeDef HAL_CAN_GetRxMessage(CAN_HandleTypeDef* hcan, uint32_t fifo,
                                       CAN_RxHeaderTypeDef* header, uint8_t data[]) {
    g_bus.spend(1);
    if (g_bus.index(hcan) != 1 || fifo != CAN_RX_FIFO0 || g_bus.fifo.empty()) {
        return HAL_ERROR;
    }
    const Frame f = g_bus.fifo.front();
    g_bus.fifo.pop_front();
    // The HAL fills the identifier field of the frame's format only.
    if (f.extended) {
        header->ExtId = f.id;
        header->StdId = kPoison;
    } else {
        header->StdId = f.id;
        header->ExtId = kPoison;
    }
    header->IDE = f.extended ? CAN_ID_EXT : CAN_ID_STD;
    header->RTR = f.remote ? CAN_RTR_REMOTE : CAN_RTR_DATA;
    header->DLC = f.dlc;
    header->Timestamp = 0;
    header->FilterMatchIndex = 0;
    std::memcpy(data, f.data.data(), 8);
    g_bus.delivered_any = true;
    g_bus.delivered = f;
    if (!f.extended && f.id == g_bus.exchanging) {
        g_bus.reply_delivered = true;
    }
    return HAL_OK;
}

namespace {

mf4010v2_t g_motors[2];

std::string hex3(unsigned id) {
    char text[96];
    std::snprintf(text, sizeof text, "0x%03X", id);
    return text;
}

void expect(bool ok, const std::string& what) {
    if (!ok) {
        fuzz::fail(what);
    }
}

void expect_lines(const std::vector<std::string>& want, const std::string& what) {
    const std::vector<std::string> got = fuzz::take_console_lines();
    std::string text;
    for (const std::string& line : got) {
        text += "'" + line + "' ";
    }
    expect(got == want, what + ": console " + text);
}

void begin_exchange(const mf4010v2_t& m) {
    g_bus.polls = 0;
    g_bus.delivered_any = false;
    g_bus.reply_delivered = false;
    g_bus.exchanging = m.id;
    g_bus.last_mailbox = -1;
    g_bus.last_left_ok = false;
    g_bus.added_at_us = g_bus.last_poll_at_us = g_bus.now_us;
}

// One exchange's outcome against the bus and the record before it.
void check_exchange(const mf4010v2_t& before, const mf4010v2_t& after, int r,
                    const uint8_t* command, const char* what) {
    const std::string w =
        std::string(what) + " " + hex3(before.id) + " result " + std::to_string(r);
    expect((after.flags & ~0x07U) == 0 && after.id == before.id && after.can_ch == before.can_ch,
           w + ": record fields changed");
    const bool queued = g_bus.last_mailbox >= 0;
    if (queued) {
        const Mailbox& box = (*g_bus.tx)[g_bus.last_mailbox];
        expect(box.header.StdId == (before.id & 0x7FFU) && box.header.IDE == CAN_ID_STD &&
                   box.header.RTR == CAN_RTR_DATA && box.header.DLC == 8 &&
                   std::memcmp(box.data.data(), command, 8) == 0,
               w + ": frame layout");
        // The port gives up a little over 100 ms after queueing: one poll's time at most.
        expect(g_bus.last_poll_at_us - g_bus.added_at_us <= 100000 + 2 * 6200 + 1000,
               w + ": transmit wait past its limit");
    }
    const uint16_t errors = static_cast<uint16_t>(before.error_count + 1);
    const uint16_t successes = static_cast<uint16_t>(before.success_count + 1);
    switch (r) {
        case MF4010_OK:
            expect(queued && g_bus.last_left_ok, w + ": success without the frame sent");
            expect(g_bus.reply_delivered && !g_bus.delivered.extended &&
                       g_bus.delivered.id == before.id,
                   w + ": success without a reply");
            expect(std::memcmp(after.last_response, g_bus.delivered.data.data(), 8) == 0,
                   w + ": stored reply differs");
            expect(after.success_count == successes && after.error_count == before.error_count,
                   w + ": counters");
            expect(g_bus.polls <= MF4010_RECV_RETRIES, w + ": more polls than allowed");
            expect_lines({}, w);
            break;
        case MF4010_ERR_NO_RESPONSE:
            expect(queued && g_bus.last_left_ok, w + ": no-response without the frame sent");
            expect(!g_bus.reply_delivered, w + ": the reply was read and dropped");
            expect(g_bus.polls == MF4010_RECV_RETRIES,
                   w + ": " + std::to_string(g_bus.polls) + " polls");
            expect(std::memcmp(after.last_response, before.last_response, 8) == 0,
                   w + ": stored reply changed");
            expect(after.error_count == errors && after.success_count == before.success_count,
                   w + ": counters");
            expect_lines({"Error: Timeout waiting for motor response (ID " + hex3(before.id) + ")"},
                         w);
            break;
        case MF4010_ERR_CAN_SEND:
            expect(!(queued && g_bus.last_left_ok), w + ": send failure with the frame sent");
            expect(g_bus.polls == 0, w + ": polled after a failed send");
            expect(std::memcmp(after.last_response, before.last_response, 8) == 0,
                   w + ": stored reply changed");
            expect(after.error_count == errors && after.success_count == before.success_count,
                   w + ": counters");
            expect_lines({"Error: Failed to send CAN message (ID " + hex3(before.id) + ")"}, w);
            break;
        default:
            expect(false, w + ": undocumented result");
    }
}

int pick_motor(fuzz::Input& in) {
    return in.byte() & 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    g_bus = Bus{};
    g_bus.tx = &g_bus.mailboxes[1];
    g_bus.in = &in;
    g_bus.tick0 = in.u32();  // the HAL tick anywhere, wraps included
    hal_can_init_all();
    fuzz::take_console_lines();
    // The firmware's start: both motors on channel 1.
    for (int i = 0; i < 2; i++) {
        expect(mf4010v2_init(&g_motors[i], g_bus.motor_ids[i], 1) == MF4010_OK, "init");
        expect(g_motors[i].flags == MF4010_FLAG_ENABLED, "flags after init");
    }
    expect(g_bus.started[1] && !g_bus.started[0], "channel 1 started, channel 0 not");
    expect_lines({}, "init");
    g_bus.refusals = true;

    for (int ops = 0; ops < 24 && !in.empty(); ops++) {
        const uint8_t op = in.byte() % 12;
        mf4010v2_t& m = g_motors[pick_motor(in)];
        const mf4010v2_t before = m;
        switch (op) {
            case 0: {
                const uint8_t command[8] = {in.byte(), in.byte(), in.byte(), in.byte(),
                                            in.byte(), in.byte(), in.byte(), in.byte()};
                begin_exchange(m);
                const int r = mf4010v2_send_command(&m, command);
                check_exchange(before, m, r, command, "send_command");
                break;
            }
            case 1: {
                const int32_t speed = static_cast<int32_t>(in.u32());
                uint8_t command[8];
                cmd_speed_control(command, speed);
                begin_exchange(m);
                const int r = mf4010v2_set_speed(&m, speed);
                check_exchange(before, m, r, command, "set_speed");
                break;
            }
            case 2:
            case 3: {
                const bool close = op == 3;
                const uint8_t* command = close ? COMMAND_MOTOR_CLOSE : COMMAND_MOTOR_RUNNING;
                begin_exchange(m);
                if (close) {
                    mf4010v2_close(&m);
                } else {
                    mf4010v2_run(&m);
                }
                // The void calls' outcome shows in the counters and the console.
                const size_t lines = fuzz::take_console_lines().size();
                const bool sent = g_bus.polls > 0;
                const bool replied = m.success_count != before.success_count;
                expect(m.success_count ==
                               static_cast<uint16_t>(before.success_count + (replied ? 1 : 0)) &&
                           m.error_count ==
                               static_cast<uint16_t>(before.error_count + (replied ? 0 : 1)),
                       "run/close counters");
                expect(lines == (replied ? 0U : 1U), "run/close console lines");
                if (close) {
                    const bool echoed = std::memcmp(m.last_response, COMMAND_MOTOR_CLOSE, 8) == 0;
                    const uint8_t want = !sent    ? (before.flags | MF4010_FLAG_FAULT)
                                         : echoed ? (before.flags & ~MF4010_FLAG_ENABLED)
                                                  : (before.flags | MF4010_FLAG_FAULT);
                    expect(m.flags == want, "close flags " + std::to_string(m.flags));
                } else {
                    expect(m.flags == (before.flags | MF4010_FLAG_RUNNING), "run flags");
                }
                (void)command;
                break;
            }
            case 4:
                expect(mf4010v2_is_fault(&m) == ((m.flags & MF4010_FLAG_FAULT) != 0) &&
                           !mf4010v2_is_fault(nullptr),
                       "is_fault");
                break;
            case 5: {
                // The port straight, any record.
                can_message_t msg{};
                msg.id = in.u32();
                msg.length = in.byte();
                for (uint8_t& b : msg.data) {
                    b = in.byte();
                }
                begin_exchange(m);
                const int r = can_if_send(1, in.byte() == 0x55 ? nullptr : &msg);
                expect(r == 0 || r == -1, "port send result");
                if (msg.length > 8) {
                    expect(r == -1 && g_bus.last_mailbox < 0, "port send of length > 8");
                } else if (r == 0) {
                    expect(g_bus.last_mailbox >= 0 && g_bus.last_left_ok &&
                               (*g_bus.tx)[g_bus.last_mailbox].header.StdId == (msg.id & 0x7FFU) &&
                               (*g_bus.tx)[g_bus.last_mailbox].header.DLC == msg.length,
                           "port send success");
                }
                break;
            }
            case 6: {
                can_message_t msg;
                std::memset(&msg, 0x5A, sizeof msg);
                begin_exchange(m);
                const bool null = in.byte() == 0x55;
                const int r = can_if_recv(in.byte() == 0x66 ? 0 : 1, null ? nullptr : &msg);
                if (r == 0) {
                    const Frame& f = g_bus.delivered;
                    expect(g_bus.delivered_any, "recv without a frame");
                    expect(f.extended ? msg.id == (f.id | 0x80000000U) : msg.id == f.id,
                           "received identifier");
                    expect(msg.length == f.dlc && std::memcmp(msg.data, f.data.data(), 8) == 0,
                           "received length and data");
                } else {
                    expect(r == -1 && !g_bus.delivered_any, "recv result");
                    if (!null) {
                        can_message_t untouched;
                        std::memset(&untouched, 0x5A, sizeof untouched);
                        expect(std::memcmp(&msg, &untouched, sizeof msg) == 0, "recv touched msg");
                    }
                }
                break;
            }
            case 7: {
                const int ch = static_cast<int8_t>(in.byte()) % 4;
                const int r = can_if_init(ch);
                expect(r == 0 || r == -1, "port init result");
                expect(!(ch == 1 && r == 0), "a second start of channel 1 succeeded");
                break;
            }
            case 8:
                // Long-lived counters near their wrap.
                m.error_count = static_cast<uint16_t>(0xFFFF - in.byte() % 3);
                m.success_count = static_cast<uint16_t>(0xFFFF - in.byte() % 3);
                break;
            case 9: {
                const uint16_t id = in.u16();
                const int ch = in.byte() == 0x77 ? 0 : 1;
                const int r = mf4010v2_init(&m, id, ch);
                if (id > 0x7FF) {
                    expect(r == MF4010_ERR_INVALID_ID && std::memcmp(&m, &before, sizeof m) == 0,
                           "init of a bad identifier");
                    expect_lines({"Error: Invalid CAN ID " + hex3(id) + " (must be 0x000-0x7FF)"},
                                 "init of a bad identifier");
                } else {
                    expect(r == MF4010_OK && m.flags == MF4010_FLAG_ENABLED && m.error_count == 0 &&
                               m.success_count == 0,
                           "init");
                    g_bus.motor_ids[&m - g_motors] = id;
                }
                break;
            }
            case 10:
                expect(mf4010v2_send_command(nullptr, COMMAND_MOTOR_STOP) ==
                               MF4010_ERR_INVALID_PARAM &&
                           mf4010v2_set_speed(nullptr, 1) == MF4010_ERR_INVALID_PARAM &&
                           mf4010v2_init(nullptr, 1, 1) == MF4010_ERR_INVALID_PARAM,
                       "null motor");
                mf4010v2_run(nullptr);
                mf4010v2_close(nullptr);
                break;
            default:
                // Traffic between exchanges: late replies, other nodes, overruns.
                for (int n = in.byte() % 5; n > 0; n--) {
                    g_bus.arrive(g_bus.random_frame());
                }
                break;
        }
        fuzz::take_console_lines();
    }
    return 0;
}

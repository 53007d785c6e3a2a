// The bxCAN model on a bare board, register by register: filter matching
// over modes and scales, bank ownership, frame timing on the bus against the
// bit counts worked out by hand, mailbox priority, retransmission and FIFOs.
#include <gtest/gtest.h>

#include <deque>

#include "named_case.hpp"
#include "model_probe.hpp"
#include "sim/models/bxcan.hpp"
#include "sim/testing/scripted_can_node.hpp"

namespace {

using model_test::board;
using model_test::json;
using model_test::on_board;

constexpr uint32_t kInrq = 1, kTxrq = 1, kIde = 1U << 2, kRtr = 1U << 1, kFinit = 1;
// 16 MHz after reset: prescaler 2, 1 + 2 + 5 quanta = 1 Mbit/s.
constexpr uint32_t kBtr1Mbit = (4U << 20) | (1U << 16) | 1U;

using Node = sim::testing::ScriptedCanNode;

sim::CanFrame frame(uint32_t id, bool ide = false, bool rtr = false) {
    sim::CanFrame f;
    f.id = id;
    f.ide = ide;
    f.rtr = rtr;
    f.dlc = 1;
    return f;
}

void clocks_on() {
    RCC->APB1ENR = RCC->APB1ENR | RCC_APB1ENR_CAN1EN | RCC_APB1ENR_CAN2EN;
}

void start(CAN_TypeDef* can, uint32_t mcr_extra = 0, uint32_t btr_modes = 0) {
    can->MCR = kInrq | mcr_extra;
    can->BTR = kBtr1Mbit | btr_modes;
    can->MCR = mcr_extra;
    model_test::idle_until_true([can] { return (can->MSR & kInrq) == 0U; });
}

uint32_t send(CAN_TypeDef* can, uint32_t id, uint32_t byte = 0) {
    can->sTxMailBox[0].TDTR = 1;
    can->sTxMailBox[0].TDLR = byte;
    can->sTxMailBox[0].TIR = (id << 21) | kTxrq;
    return id;
}

void idle_us(double us) {
    model_test::idle_until(model_test::cpu().now() + static_cast<sim::Picos>(us * sim::kPsPerUs));
}

struct Bank {
    bool list;
    bool wide;
    uint32_t fr1, fr2;
    int fifo = 0;
    bool active = true;
};

void program(int bank, const Bank& b, uint32_t slave_start = 14) {
    CAN1->FMR = kFinit | (slave_start << 8);
    const uint32_t bit = 1U << bank;
    CAN1->FA1R = CAN1->FA1R & ~bit;
    CAN1->FM1R = b.list ? (CAN1->FM1R | bit) : (CAN1->FM1R & ~bit);
    CAN1->FS1R = b.wide ? (CAN1->FS1R | bit) : (CAN1->FS1R & ~bit);
    CAN1->FFA1R = b.fifo ? (CAN1->FFA1R | bit) : (CAN1->FFA1R & ~bit);
    CAN1->sFilterRegister[bank].FR1 = b.fr1;
    CAN1->sFilterRegister[bank].FR2 = b.fr2;
    if (b.active) {
        CAN1->FA1R = CAN1->FA1R | bit;
    }
    CAN1->FMR = slave_start << 8;
}

constexpr uint32_t std32(uint32_t id) {
    return id << 21;
}
constexpr uint32_t std16(uint32_t id) {
    return id << 5;
}

struct FilterCase : named_case::Case {
    Bank bank;
    sim::CanFrame frame;
    int fifo;  // -1: rejected
    int index;
};

const FilterCase kFilterCases[] = {
    {"Mask32Exact", {false, true, std32(0x141), std32(0x7FF)}, frame(0x141), 0, 0},
    {"Mask32OtherId", {false, true, std32(0x141), std32(0x7FF)}, frame(0x142), -1, 0},
    {"Mask32Partial", {false, true, std32(0x140), std32(0x7F0)}, frame(0x14F), 0, 0},
    {"Mask32PartialMiss", {false, true, std32(0x140), std32(0x7F0)}, frame(0x151), -1, 0},
    {"Mask32AcceptAll", {false, true, 0, 0}, frame(0x7FF, true, true), 0, 0},
    {"Mask32RtrRequired",
     {false, true, std32(0x141) | kRtr, std32(0x7FF) | kRtr},
     frame(0x141),
     -1,
     0},
    {"Mask32Extended",
     {false, true, (0x1ABCDEFU << 3) | kIde, 0xFFFFFFF8U | kIde},
     frame(0x1ABCDEF, true),
     0,
     0},
    {"Mask32ExtendedNotStd",
     {false, true, (0x1ABCDEFU << 3) | kIde, 0xFFFFFFF8U | kIde},
     frame(0x1ABCDEF >> 18),
     -1,
     0},
    {"List32First", {true, true, std32(0x141), std32(0x142)}, frame(0x141), 0, 0},
    {"List32Second", {true, true, std32(0x141), std32(0x142)}, frame(0x142), 0, 1},
    {"List32Miss", {true, true, std32(0x141), std32(0x142)}, frame(0x143), -1, 0},
    {"Mask16Low",
     {false, false, (std16(0x7FF) << 16) | std16(0x141), (std16(0x7FF) << 16) | std16(0x200)},
     frame(0x141),
     0,
     0},
    {"Mask16High",
     {false, false, (std16(0x7FF) << 16) | std16(0x141), (std16(0x7FF) << 16) | std16(0x200)},
     frame(0x200),
     0,
     1},
    {"Mask16Miss",
     {false, false, (std16(0x7FF) << 16) | std16(0x141), (std16(0x7FF) << 16) | std16(0x200)},
     frame(0x201),
     -1,
     0},
    {"List16Fourth",
     {true, false, (std16(0x101) << 16) | std16(0x100), (std16(0x103) << 16) | std16(0x102)},
     frame(0x103),
     0,
     3},
    {"List16Miss",
     {true, false, (std16(0x101) << 16) | std16(0x100), (std16(0x103) << 16) | std16(0x102)},
     frame(0x104),
     -1,
     0},
    {"Fifo1", {false, true, 0, 0, 1}, frame(0x123), 1, 0},
    {"Inactive", {false, true, 0, 0, 0, false}, frame(0x123), -1, 0},
};

class Filters : public ::testing::TestWithParam<FilterCase> {};

TEST_P(Filters, MatchLikeTheChip) {
    const FilterCase& c = GetParam();
    const json out = on_board([&c](json& o) {
        clocks_on();
        program(14, c.bank);  // CAN2's first bank
        const auto m = board().model<sim::CanController>("CAN2").match(c.frame);
        o["fifo"] = m.fifo;
        o["index"] = m.index;
        o["can1"] = board().model<sim::CanController>("CAN1").match(c.frame).fifo;
    });
    EXPECT_EQ(out["fifo"], c.fifo);
    if (c.fifo >= 0) {
        EXPECT_EQ(out["index"], c.index);
    }
    EXPECT_EQ(out["can1"], -1) << "bank 14 belongs to CAN2";
}

INSTANTIATE_TEST_SUITE_P(Cases, Filters, ::testing::ValuesIn(kFilterCases), named_case::by_name);

TEST(BxCan, SlaveStartBankSplitsTheBanksAndFilterInitStopsReception) {
    const json out = on_board([](json& o) {
        clocks_on();
        auto& can1 = board().model<sim::CanController>("CAN1");
        auto& can2 = board().model<sim::CanController>("CAN2");
        const sim::CanFrame f = frame(0x141);
        program(0, Bank{false, true, 0, 0}, 14);
        o["sb14"] = {can1.match(f).fifo, can2.match(f).fifo};
        program(0, Bank{false, true, 0, 0}, 0);
        o["sb0"] = {can1.match(f).fifo, can2.match(f).fifo};
        program(0, Bank{false, true, 0, 0}, 28);
        o["sb28"] = {can1.match(f).fifo, can2.match(f).fifo};
        CAN1->FMR = kFinit;
        o["finit"] = {can1.match(f).fifo, can2.match(f).fifo};
        o["can2_fmr"] = static_cast<uint32_t>(CAN2->FMR);  // banks live in CAN1 only
    });
    EXPECT_EQ(out["sb14"], json({0, -1}));
    EXPECT_EQ(out["sb0"], json({-1, 0}));
    EXPECT_EQ(out["sb28"], json({0, -1}));
    EXPECT_EQ(out["finit"], json({-1, -1}));
    EXPECT_EQ(out["can2_fmr"], 0);
}

TEST(BxCan, PrecedenceIs32BitThenListThenLowerNumber) {
    const json out = on_board([](json& o) {
        clocks_on();
        program(14, Bank{false, false, 0, 0});                         // 16-bit mask, accepts all
        program(15, Bank{true, true, std32(0x141), std32(0x141), 1});  // 32-bit list, FIFO 1
        const auto m = board().model<sim::CanController>("CAN2").match(frame(0x141));
        o["match"] = {m.fifo, m.index};
    });
    EXPECT_EQ(out["match"], json({1, 0}));
}

// Times a frame from the TXRQ write to the end of its EOF on CAN2's bus,
// where both motors acknowledge; bit counts are those of can_frame_test.
TEST(BxCan, FramesTakeTheirBitCountAtTheConfiguredRate) {
    const json out = on_board([](json& o) {
        clocks_on();
        start(CAN2);
        std::vector<sim::Picos> ends;
        board().can_bus(2).add_listener([&ends](const sim::CanFrame&, sim::Picos at,
                                                const sim::CanNode*) { ends.push_back(at); });
        json times = json::array();
        struct {
            uint32_t id;
            uint32_t dlc;
            uint32_t low;
        } frames[] = {{0x000, 0, 0}, {0x000, 1, 0}, {0x141, 8, 0x80}};
        for (const auto& f : frames) {
            ends.clear();
            CAN2->sTxMailBox[0].TDTR = f.dlc;
            CAN2->sTxMailBox[0].TDLR = f.low;
            CAN2->sTxMailBox[0].TDHR = 0;
            const sim::Picos t0 = model_test::cpu().now();
            CAN2->sTxMailBox[0].TIR = (f.id << 21) | kTxrq;
            model_test::idle_until(t0 + 2 * sim::kPsPerMs);
            times.push_back(static_cast<double>(ends.at(0) - t0) / sim::kPsPerUs);
        }
        o["us"] = times;
        o["tsr"] = static_cast<uint32_t>(CAN2->TSR);
    });
    const double expected[] = {50, 56, 121};
    for (int i = 0; i < 3; i++) {
        EXPECT_NEAR(out["us"][i].get<double>(), expected[i], 0.2) << i;
    }
    EXPECT_EQ(out["tsr"].get<uint32_t>() & 0x1C000003U, 0x1C000003U)
        << "all mailboxes empty, RQCP0 and TXOK0";
}

TEST(BxCan, MailboxesGoOutByIdentifierOrInRequestOrder) {
    for (const bool fifo_order : {false, true}) {
        const json out = on_board([fifo_order](json& o) {
            clocks_on();
            CAN2->MCR = kInrq | (fifo_order ? 1U << 2 : 0U);  // TXFP
            CAN2->BTR = kBtr1Mbit;
            const uint32_t ids[] = {0x300, 0x100, 0x200};
            for (int i = 0; i < 3; i++) {
                CAN2->sTxMailBox[i].TDTR = 0;
                CAN2->sTxMailBox[i].TIR = (ids[i] << 21) | kTxrq;
            }
            json sent = json::array();
            board().can_bus(2).add_listener([&sent](const sim::CanFrame& f, sim::Picos,
                                                    const sim::CanNode*) { sent.push_back(f.id); });
            CAN2->MCR = fifo_order ? 1U << 2 : 0U;  // leave initialisation: all three go
            model_test::idle_until(model_test::cpu().now() + sim::kPsPerMs);
            o["sent"] = sent;
        });
        EXPECT_EQ(out["sent"],
                  fifo_order ? json({0x300, 0x100, 0x200}) : json({0x100, 0x200, 0x300}));
    }
}

TEST(BxCan, UnacknowledgedFramesRetryOrAreAbandonedWithoutRetransmission) {
    const json out = on_board([](json& o) {
        clocks_on();
        start(CAN1, 1U << 4);  // NART: CAN1's bus has nobody to acknowledge
        CAN1->sTxMailBox[0].TDTR = 0;
        CAN1->sTxMailBox[0].TIR = (0x123U << 21) | kTxrq;
        model_test::idle_until(model_test::cpu().now() + sim::kPsPerMs);
        o["nart_tsr"] = static_cast<uint32_t>(CAN1->TSR) & 0x1C00000FU;
        o["nart_attempts"] = board().can_bus(1).errors();
        // CAN2 retransmits; with the motors off its bus it keeps trying.
        for (uint32_t id : {0x141U, 0x142U}) {
            board().motor(id)->set_present(false);
        }
        start(CAN2);
        CAN2->sTxMailBox[0].TDTR = 0;
        CAN2->sTxMailBox[0].TIR = (0x141U << 21) | kTxrq;
        model_test::idle_until(model_test::cpu().now() + 10 * sim::kPsPerMs);
        o["retry_tme0"] = (static_cast<uint32_t>(CAN2->TSR) >> 26) & 1U;
        o["retry_attempts"] = board().can_bus(2).errors();
        o["esr"] = static_cast<uint32_t>(CAN2->ESR);
        board().motor(0x141)->set_present(true);
        model_test::idle_until(model_test::cpu().now() + sim::kPsPerMs);
        o["after_tsr"] = static_cast<uint32_t>(CAN2->TSR) & 0x1C000003U;
    });
    EXPECT_EQ(out["nart_tsr"], 0x1C000000U | 0x1U | 0x8U) << "RQCP0 and TERR0, not TXOK0";
    EXPECT_EQ(out["nart_attempts"], 1);
    EXPECT_EQ(out["retry_tme0"], 0) << "still pending";
    EXPECT_GT(out["retry_attempts"].get<int>(), 50);
    const uint32_t esr = out["esr"];
    EXPECT_EQ((esr >> 16) & 0xFF, 128u) << "transmit errors stop at error passive";
    EXPECT_EQ(esr & 0x2u, 0x2u) << "EPVF";
    EXPECT_EQ((esr >> 4) & 7u, 3u) << "last error: acknowledgement";
    EXPECT_EQ(out["after_tsr"], 0x1C000003U);
}

TEST(BxCan, FifoKeepsThreeFramesAndOverrunsByLockMode) {
    for (const bool locked : {false, true}) {
        const json out = on_board([locked](json& o) {
            clocks_on();
            program(14, Bank{false, true, 0, 0});
            start(CAN2, locked ? 1U << 3 : 0U);  // RFLM
            Node node(board().can_bus(2));
            for (uint32_t id = 0x201; id <= 0x204; id++) {
                node.send(frame(id));
            }
            model_test::idle_until(model_test::cpu().now() + sim::kPsPerMs);
            o["rf0r"] = static_cast<uint32_t>(CAN2->RF0R);
            json ids = json::array();
            while ((CAN2->RF0R & 3U) != 0) {
                ids.push_back(static_cast<uint32_t>(CAN2->sFIFOMailBox[0].RIR) >> 21);
                CAN2->RF0R = 1U << 5;  // RFOM0
            }
            o["ids"] = ids;
        });
        EXPECT_EQ(out["rf0r"], 3u | (1u << 3) | (1u << 4)) << "three, FULL, FOVR";
        EXPECT_EQ(out["ids"], locked ? json({0x201, 0x202, 0x203}) : json({0x201, 0x202, 0x204}));
    }
}

// CAN1 at 1 Mbit/s, SJW 1 of 8 quanta (tolerance 0.625 %), against a node with
// the default segments (0.625 %): they agree up to a 1.25 % difference.
struct RateCase {
    const char* name;
    double node_bit_ns;
    bool board_sends;
    bool agree;
};

class BitRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(BitRates, NodesHearEachOtherOnlyWithinTheOscillatorTolerance) {
    const RateCase c = GetParam();
    const json out = on_board([&c](json& o) {
        clocks_on();
        program(0, Bank{false, true, 0, 0});
        start(CAN1);
        Node node(board().can_bus(1));
        node.set_bit_time(static_cast<sim::Picos>(c.node_bit_ns * 1000));
        c.board_sends ? (void)send(CAN1, 0x123) : node.send(0x321, {1});
        idle_us(500);
        o["received"] = c.board_sends ? node.seen.size() : CAN1->RF0R & 3U;
        o["errors"] = board().can_bus(1).errors();
        o["esr"] = static_cast<uint32_t>(CAN1->ESR);
        o["rules"] = model_test::cpu().rules().records().size();
    });
    EXPECT_EQ(out["received"], c.agree ? 1 : 0);
    EXPECT_EQ(out["errors"].get<uint64_t>() > 1, !c.agree) << "destroyed and retried";
    EXPECT_EQ(out["rules"], c.agree ? 0 : 1) << "recorded as a board rule";
    const uint32_t esr = out["esr"];
    const uint32_t counter = c.board_sends ? (esr >> 16) & 0xFF : esr >> 24;  // TEC or REC
    EXPECT_EQ(counter > 0, !c.agree) << counter;
    if (!c.agree && c.board_sends) {
        EXPECT_EQ((esr >> 4) & 7U, 4U) << "bit error: the other node's error flag";
    }
}

const RateCase kRateCases[] = {
    {"SameRate", 1000, true, true},           {"OnePercentSlow", 1010, true, true},
    {"TwoPercentSlow", 1020, true, false},    {"HalfRate", 2000, true, false},
    {"NodeOnePercentFast", 990, false, true}, {"NodeAtHalfRate", 2000, false, false},
};
INSTANTIATE_TEST_SUITE_P(Cases, BitRates, ::testing::ValuesIn(kRateCases), named_case::by_name);

TEST(BxCan, EqualIdentifiersCollideUnlessTheFramesAreTheSame) {
    for (const bool same : {true, false}) {
        const json out = on_board([same](json& o) {
            clocks_on();
            start(CAN1);
            Node node(board().can_bus(1));
            Node other(board().can_bus(1));  // acknowledges
            sim::CanFrame f = frame(send(CAN1, 0x123, 1));
            f.data[0] = same ? 1 : 2;
            node.send(f);
            idle_us(300);
            o["errors"] = board().can_bus(1).errors();
            o["frames"] = board().can_bus(1).frames();
            o["node_errors"] = node.errors;
            o["lec"] = (static_cast<uint32_t>(CAN1->ESR) >> 4) & 7U;
        });
        EXPECT_EQ(out["errors"].get<uint64_t>() > 0, !same);
        EXPECT_EQ(out["node_errors"].get<int>() > 0, !same) << "both retry";
        EXPECT_EQ(out["frames"], same ? 1 : 0) << "the same frame goes out once for both";
        EXPECT_EQ(out["lec"], same ? 0 : 4);
    }
}

// Aborted in the middle of an attempt: the mailbox stays until the attempt
// ends, then it is empty, with TXOK only if the frame was acknowledged.
TEST(BxCan, AnAbortDuringAnAttemptTakesEffectAtItsEnd) {
    for (const bool acked : {true, false}) {
        const json out = on_board([acked](json& o) {
            clocks_on();
            start(CAN1);
            Node node(board().can_bus(1), acked);
            send(CAN1, 0x123);
            idle_us(20);
            CAN1->TSR = 1U << 7;  // ABRQ0
            o["during"] = (static_cast<uint32_t>(CAN1->TSR) >> 26) & 1U;
            idle_us(100);
            o["after"] = static_cast<uint32_t>(CAN1->TSR) & 0x1C00000FU;
        });
        EXPECT_EQ(out["during"], 0) << "still in transmit state";
        EXPECT_EQ(out["after"], 0x1C000001U | (acked ? 0x2U : 0x8U)) << "RQCP0, TXOK0 or TERR0";
    }
}

// Loopback receives its own frames with nobody to acknowledge; silent mode
// never drives the bus: it neither sends nor acknowledges.
TEST(BxCan, LoopbackAndSilentModes) {
    constexpr uint32_t kSilm = 1U << 31, kLbkm = 1U << 30;
    for (const uint32_t mode : {kLbkm, kSilm, kSilm | kLbkm}) {
        const json out = on_board([mode](json& o) {
            clocks_on();
            program(0, Bank{false, true, 0, 0});
            start(CAN1, 0, mode);
            Node node(board().can_bus(1), false);
            send(CAN1, 0x123);
            idle_us(200);
            o["own"] = CAN1->RF0R & 3U;
            o["tme0"] = (static_cast<uint32_t>(CAN1->TSR) >> 26) & 1U;
            o["on_bus"] = board().can_bus(1).frames();
            node.send(0x321, {1});
            idle_us(200);
            o["acked_node"] = node.sent_at != 0;
        });
        const bool loop = (mode & kLbkm) != 0U;
        EXPECT_EQ(out["own"], loop ? 1 : 0) << mode;
        EXPECT_EQ(out["tme0"], loop ? 1 : 0) << mode;
        EXPECT_EQ(out["on_bus"], mode == kLbkm ? 1 : 0) << mode;
        EXPECT_EQ(out["acked_node"], false) << mode;
    }
}

// Initialisation is entered at the end of the frame on the bus and left after
// 11 recessive bits.
TEST(BxCan, InitHandshakesWaitForTheBus) {
    const json out = on_board([](json& o) {
        clocks_on();
        start(CAN2);
        send(CAN2, 0x141);
        idle_us(10);
        const sim::Picos t0 = model_test::cpu().now();
        CAN2->MCR = kInrq;
        model_test::idle_until_true([] { return (CAN2->MSR & kInrq) != 0U; });
        o["enter_us"] = static_cast<double>(model_test::cpu().now() - t0) / sim::kPsPerUs;
        o["tme0"] = (static_cast<uint32_t>(CAN2->TSR) >> 26) & 1U;
        const sim::Picos t1 = model_test::cpu().now();
        CAN2->MCR = 0;
        model_test::idle_until_true([] { return (CAN2->MSR & kInrq) == 0U; });
        o["leave_us"] = static_cast<double>(model_test::cpu().now() - t1) / sim::kPsPerUs;
    });
    const double bits = sim::can_frame_bits(frame(0x141));
    EXPECT_NEAR(out["enter_us"].get<double>(), bits - 10, 0.2) << "the end of the frame";
    EXPECT_EQ(out["tme0"], 1);
    EXPECT_NEAR(out["leave_us"].get<double>(), 3 + 11, 0.2) << "intermission, then 11 bits";
}

}  // namespace

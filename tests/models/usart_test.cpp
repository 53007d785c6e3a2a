// USART1 transmitter on a bare board, driven through its registers: frame
// times from the baud-rate register as the reference manual gives them, the
// TXE/TC hand-shake, and writes the peripheral must ignore. And the HAL's
// interrupt- and DMA-driven transfers, which the board does not model.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "named_case.hpp"
#include "model_probe.hpp"
#include "stm32f4xx_hal.h"

namespace {

using model_test::json;
using sim::Picos;

constexpr uint32_t kSrTxeTc = USART_SR_TXE | USART_SR_TC;
constexpr uint32_t kStopHalf = 1U << 12, kStop2 = 2U << 12, kStopOneAndHalf = 3U << 12;

uint32_t sr() {
    return USART1->SR & kSrTxeTc;
}

void enable_usart1(uint32_t cr1_extra, uint32_t cr2, uint32_t brr) {
    RCC->APB2ENR |= RCC_APB2ENR_USART1EN;
    USART1->CR2 = cr2;
    USART1->BRR = brr;
    USART1->CR1 = USART_CR1_UE | USART_CR1_TE | cr1_extra;
}

// Bytes USART1 sent, with the time each frame ended, since index `from`.
json console_since(std::size_t from) {
    json out = json::array();
    const auto& console = sim::testing::console();
    for (std::size_t i = from; i < console.size(); i++) {
        out.push_back({{"byte", console[i].byte}, {"at", console[i].at}});
    }
    return out;
}

// ---- frame time ----

struct FrameCase : named_case::Case {
    bool pll;  // 168 MHz system clock instead of the 16 MHz internal oscillator
    uint32_t apb2_div;
    uint32_t cr1;
    uint32_t cr2;
    uint32_t brr;
    Picos frame_ps;  // worked out by hand from the reference manual
};

class UsartFrame : public ::testing::TestWithParam<FrameCase> {};

TEST_P(UsartFrame, OneByteTakesItsFrameTimeOnTheWire) {
    const FrameCase c = GetParam();
    const json r = model_test::on_board([c](json& out) {
        if (c.pll) {
            model_test::switch_to_pll_168();
        }
        model_test::set_apb2_divider(c.apb2_div);
        enable_usart1(c.cr1, c.cr2, c.brr);
        out["frame_time"] = model_test::board().usart1().frame_time();
        USART1->DR = 0x5A;
        const Picos start = model_test::cpu().now();
        model_test::idle_until_true([] { return (USART1->SR & USART_SR_TC) != 0; });
        out["start"] = start;
        out["sent"] = console_since(0);
    });
    ASSERT_EQ(r["sent"].size(), 1u) << r.dump();
    EXPECT_EQ(r["sent"][0]["byte"], 0x5A);
    const Picos took = r["sent"][0]["at"].get<Picos>() - r["start"].get<Picos>();
    EXPECT_NEAR(static_cast<double>(took), static_cast<double>(c.frame_ps), 1.0);
    EXPECT_NEAR(r["frame_time"].get<double>(), static_cast<double>(c.frame_ps), 1.0);
}

// Bit time = BRR / PCLK with 16-times oversampling. With 8-times, the
// divider is mantissa + fraction/8 (BRR[2:0]) and a bit lasts 8 x divider / PCLK.
INSTANTIATE_TEST_SUITE_P(
    Settings, UsartFrame,
    ::testing::Values(
        // 115200 baud at 16 MHz: BRR 139; 10 bits x 139 / 16 MHz
        FrameCase{"Pclk16M_8N1_115200", false, model_test::kApbDiv1, 0, 0, 139, 86'875'000},
        // 115200 baud at 84 MHz: BRR 729; 10 x 729 / 84 MHz
        FrameCase{"Pclk84M_8N1_115200", true, model_test::kApbDiv2, 0, 0, 729, 86'785'714},
        // 9600 baud at 8 MHz: BRR 833; 1 + 9 + 2 = 12 bits
        FrameCase{"Pclk8M_9bit_2stop_9600", false, model_test::kApbDiv2, USART_CR1_M, kStop2, 833,
                  1'249'500'000},
        // 1 + 8 + 1.5 bits x 365 / 42 MHz
        FrameCase{"Pclk42M_8bit_1p5stop", true, model_test::kApbDiv4, 0, kStopOneAndHalf, 365,
                  91'250'000},
        // 1 + 8 + 0.5 bits x 139 / 16 MHz
        FrameCase{"Pclk16M_8bit_halfstop", false, model_test::kApbDiv1, 0, kStopHalf, 139,
                  82'531'250},
        // 8-times: BRR 0x113 = 17 + 3/8; bit = 8 x 17.375 / 16 MHz = 139 / 16 MHz
        FrameCase{"Pclk16M_8N1_Over8_115200", false, model_test::kApbDiv1, USART_CR1_OVER8, 0,
                  0x113, 86'875'000},
        // 8-times: BRR 0x195 = 25 + 5/8; 12 bits x 205 / 84 MHz
        FrameCase{"Pclk84M_9bit_2stop_Over8", true, model_test::kApbDiv2,
                  USART_CR1_OVER8 | USART_CR1_M, kStop2, 0x195, 29'285'714},
        // 8-times with no fraction: BRR 0x8A0 = 138; 10 bits x 8 x 138 / 84 MHz
        FrameCase{"Pclk84M_8N1_Over8_NoFraction", true, model_test::kApbDiv2, USART_CR1_OVER8, 0,
                  0x8A0, 131'428'571}),
    named_case::by_name);

// ---- TXE / TC ----

TEST(UsartTransmitter, DataRegisterAndShifterHandOverBackToBack) {
    // 8N1 at 16 MHz, BRR 139: 86.875 us a frame, 1390 core cycles.
    constexpr Picos kFrame = 86'875'000;
    const json r = model_test::on_board([](json& out) {
        enable_usart1(0, 0, 139);
        json steps = json::array();
        auto note = [&](const char* what) {
            steps.push_back({{"what", what}, {"sr", sr()}, {"at", model_test::cpu().now()}});
        };
        note("idle");
        USART1->DR = 'A';
        out["t0"] = model_test::cpu().now();
        note("A in the shifter");
        USART1->DR = 'B';
        note("B waits in DR");
        // Busy past the end of A's frame without looking at the USART: B
        // must still follow A at once.
        model_test::cpu().consume(1500);
        note("A sent, B shifting");
        USART1->DR = 'C';
        note("C waits in DR");
        model_test::idle_until_true([] { return sim::testing::console().size() == 2; });
        note("B sent, C shifting");
        model_test::idle_until_true([] { return (USART1->SR & USART_SR_TC) != 0; });
        note("all sent");
        USART1->SR = 0;  // TC clears by writing 0; TXE does not
        note("TC cleared");
        out["steps"] = steps;
        out["sent"] = console_since(0);
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    const Picos t0 = r["t0"].get<Picos>();

    const std::vector<std::pair<std::string, uint32_t>> expected = {
        {"idle", kSrTxeTc},     {"A in the shifter", USART_SR_TXE},
        {"B waits in DR", 0},   {"A sent, B shifting", USART_SR_TXE},
        {"C waits in DR", 0},   {"B sent, C shifting", USART_SR_TXE},
        {"all sent", kSrTxeTc}, {"TC cleared", USART_SR_TXE},
    };
    ASSERT_EQ(r["steps"].size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); i++) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(r["steps"][i]["what"], expected[i].first);
        EXPECT_EQ(r["steps"][i]["sr"], expected[i].second);
    }
    // TC rose when the last frame ended, not before (the polling read that saw
    // it comes a few cycles later).
    EXPECT_GE(r["steps"][6]["at"].get<Picos>(), t0 + 3 * kFrame);
    EXPECT_LT(r["steps"][6]["at"].get<Picos>(), t0 + 3 * kFrame + sim::kPsPerUs);

    ASSERT_EQ(r["sent"].size(), 3u);
    const std::string order = {static_cast<char>(r["sent"][0]["byte"].get<int>()),
                               static_cast<char>(r["sent"][1]["byte"].get<int>()),
                               static_cast<char>(r["sent"][2]["byte"].get<int>())};
    EXPECT_EQ(order, "ABC");
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(r["sent"][i]["at"].get<Picos>(), t0 + (i + 1) * kFrame) << "frame " << i;
    }
}

// ---- writes that go nowhere ----

struct IgnoredCase : named_case::Case {
    bool clock_on;
    uint32_t cr1;
    uint32_t sr_seen;  // SR read while the write is ignored
};

class UsartIgnoredWrite : public ::testing::TestWithParam<IgnoredCase> {};

TEST_P(UsartIgnoredWrite, SendsNothingAndLeavesNothingBehind) {
    const IgnoredCase c = GetParam();
    const json r = model_test::on_board([c](json& out) {
        enable_usart1(0, 0, 139);
        USART1->CR1 = c.cr1;
        if (!c.clock_on) {
            RCC->APB2ENR &= ~RCC_APB2ENR_USART1EN;
        }
        USART1->DR = 'x';
        out["sr_seen"] = sr();
        model_test::idle_until(model_test::cpu().now() + sim::kPsPerMs);
        out["sent_meanwhile"] = console_since(0).size();

        RCC->APB2ENR |= RCC_APB2ENR_USART1EN;
        USART1->CR1 = USART_CR1_UE | USART_CR1_TE;
        out["sr_after"] = sr();
        USART1->DR = 'y';
        model_test::idle_until_true([] { return (USART1->SR & USART_SR_TC) != 0; });
        out["sent"] = console_since(0);
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    EXPECT_EQ(r["sr_seen"], c.sr_seen);
    EXPECT_EQ(r["sent_meanwhile"], 0);
    EXPECT_EQ(r["sr_after"], kSrTxeTc);
    ASSERT_EQ(r["sent"].size(), 1u);
    EXPECT_EQ(r["sent"][0]["byte"], 'y');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsartIgnoredWrite,
    ::testing::Values(IgnoredCase{"ClockGatedOff", false, USART_CR1_UE | USART_CR1_TE, 0},
                      IgnoredCase{"UsartDisabled", true, USART_CR1_TE, kSrTxeTc},
                      IgnoredCase{"TransmitterDisabled", true, USART_CR1_UE, kSrTxeTc}),
    named_case::by_name);

struct UnmodelledCall : named_case::Case {
    std::function<HAL_StatusTypeDef(UART_HandleTypeDef*, uint8_t*)> call;
};

class UartTransfer : public ::testing::TestWithParam<UnmodelledCall> {};

// A status the chip's HAL would not give would be wrong without a word.
TEST_P(UartTransfer, NotModelledHaltsTheBoardSayingWhich) {
    const UnmodelledCall c = GetParam();
    const json r = model_test::on_board([&c](json& out) {
        UART_HandleTypeDef huart = {};
        huart.Instance = USART1;
        huart.gState = HAL_UART_STATE_READY;
        huart.RxState = HAL_UART_STATE_READY;
        uint8_t buf[2] = {1, 2};
        out["status"] = c.call(&huart, buf);
    });
    EXPECT_EQ(r["finished"], false);
    EXPECT_EQ(r["halted"]["where"], std::string(c.name) + " (not modelled)");
}

INSTANTIATE_TEST_SUITE_P(InterruptAndDma, UartTransfer,
                         ::testing::Values(UnmodelledCall{"HAL_UART_Transmit_IT",
                                                          [](UART_HandleTypeDef* h, uint8_t* b) {
                                                              return HAL_UART_Transmit_IT(h, b, 2);
                                                          }},
                                           UnmodelledCall{"HAL_UART_Receive_IT",
                                                          [](UART_HandleTypeDef* h, uint8_t* b) {
                                                              return HAL_UART_Receive_IT(h, b, 2);
                                                          }},
                                           UnmodelledCall{"HAL_UART_Transmit_DMA",
                                                          [](UART_HandleTypeDef* h, uint8_t* b) {
                                                              return HAL_UART_Transmit_DMA(h, b, 2);
                                                          }},
                                           UnmodelledCall{"HAL_UART_Receive_DMA",
                                                          [](UART_HandleTypeDef* h, uint8_t* b) {
                                                              return HAL_UART_Receive_DMA(h, b, 2);
                                                          }}),
                         named_case::by_name);

}  // namespace

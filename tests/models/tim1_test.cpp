// TIM1 as a time base on a bare board: the update interrupt's period from
// PSC, ARR and the APB2 timer clock, while the core is busy, and across a
// change of the clock tree.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "named_case.hpp"
#include "model_probe.hpp"
#include "sim/core/costs.hpp"

namespace {

using model_test::json;
using sim::Picos;

std::vector<Picos> g_updates;  // handler entries, in the child

void tim1_update_handler() {
    g_updates.push_back(model_test::cpu().now());
    TIM1->SR = ~TIM_SR_UIF;
}

// Starts TIM1 with its update interrupt; returns when the counter started.
Picos start_tim1(uint32_t psc, uint32_t arr) {
    RCC->APB2ENR |= RCC_APB2ENR_TIM1EN;
    TIM1->PSC = psc;
    TIM1->ARR = arr;
    TIM1->EGR = TIM_EGR_UG;
    TIM1->SR = 0;
    TIM1->DIER = TIM_DIER_UIE;
    model_test::cpu().set_vector(TIM1_UP_TIM10_IRQn, &tim1_update_handler);
    NVIC_SetPriority(TIM1_UP_TIM10_IRQn, 5);
    NVIC_EnableIRQ(TIM1_UP_TIM10_IRQn);
    TIM1->CR1 = TIM_CR1_CEN;
    return model_test::cpu().now();
}

json updates_json() {
    json out = json::array();
    for (Picos t : g_updates) {
        out.push_back(t);
    }
    return out;
}

// ---- period ----

struct PeriodCase : named_case::Case {
    bool pll;  // 168 MHz system clock instead of the 16 MHz internal oscillator
    uint32_t ahb_div;
    uint32_t apb2_div;
    uint32_t psc;
    uint32_t arr;
    Picos period;  // (PSC + 1)(ARR + 1) / timer clock
};

class Tim1Period : public ::testing::TestWithParam<PeriodCase> {};

constexpr int kPeriods = 20;
constexpr uint32_t kBusyChunk = 37;  // cycles; prime, so updates fall mid-chunk

TEST_P(Tim1Period, UpdatesComeEveryPeriodWithoutDriftWhileTheCoreIsBusy) {
    const PeriodCase c = GetParam();
    const json r = model_test::on_board([c](json& out) {
        if (c.pll) {
            model_test::switch_to_pll_168();
        }
        model_test::set_ahb_divider(c.ahb_div);
        model_test::set_apb2_divider(c.apb2_div);
        const Picos start = start_tim1(c.psc, c.arr);
        model_test::busy_until(start + kPeriods * c.period + c.period / 2, kBusyChunk);
        out["start"] = start;
        out["core_hz"] = model_test::board().rcc().hclk_hz();
        out["updates"] = updates_json();
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    const Picos start = r["start"].get<Picos>();
    const uint64_t core_hz = r["core_hz"].get<uint64_t>();
    // The handler is entered at the end of the busy chunk the update fell in.
    const Picos slack = model_test::cycles_ps(kBusyChunk + sim::cost::kInterruptEntry, core_hz);
    const auto updates = r["updates"].get<std::vector<Picos>>();
    ASSERT_EQ(updates.size(), static_cast<std::size_t>(kPeriods));
    for (int n = 0; n < kPeriods; n++) {
        const Picos due = start + (n + 1) * c.period;
        EXPECT_GE(updates[n], due) << "update " << n;
        EXPECT_LE(updates[n], due + slack)
            << "update " << n << " is " << (updates[n] - due) << " ps late";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, Tim1Period,
    ::testing::Values(
        PeriodCase{"Timer16M_Apb2Undivided", false, 0, model_test::kApbDiv1, 15, 999,
                   sim::kPsPerMs},
        // PCLK2 8 MHz, divided: the timer runs at twice PCLK2
        PeriodCase{"Timer16M_Apb2Div2", false, 0, model_test::kApbDiv2, 15, 999, sim::kPsPerMs},
        PeriodCase{"Timer8M_Apb2Div4", false, 0, model_test::kApbDiv4, 15, 999, 2 * sim::kPsPerMs},
        PeriodCase{"Timer8M_AhbDiv2", false, model_test::kAhbDiv2, model_test::kApbDiv1, 7, 99,
                   100 * sim::kPsPerUs},
        PeriodCase{"Timer168M_HalTickSetting", true, 0, model_test::kApbDiv2, 167, 999,
                   sim::kPsPerMs},
        PeriodCase{"Timer168M_OddCounts", true, 0, model_test::kApbDiv2, 6, 2999,
                   125 * sim::kPsPerUs},
        PeriodCase{"Timer84M_Apb2Div4", true, 0, model_test::kApbDiv4, 83, 499,
                   500 * sim::kPsPerUs}),
    named_case::by_name);

// ---- clock change in the middle of a period ----

struct ChangeCase : named_case::Case {
    uint32_t from_apb2;
    uint32_t to_apb2;
    bool to_pll;       // the change is the system clock switch to the 168 MHz PLL
    uint64_t from_hz;  // timer clock before
    uint64_t to_hz;    // and after
};

class Tim1ClockChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(Tim1ClockChange, ThePeriodInProgressFinishesAtTheNewRate) {
    const ChangeCase c = GetParam();
    constexpr uint64_t kCounts = 16 * 1000;  // PSC 15, ARR 999
    const json r = model_test::on_board([c](json& out) {
        if (c.to_pll) {  // oscillator and PLL ready before the timer starts
            model_test::ready_for_168();
            RCC->CR |= RCC_CR_HSEON;
            model_test::idle_until_true([] { return (RCC->CR & RCC_CR_HSERDY) != 0; });
            RCC->PLLCFGR = RCC_PLLCFGR_PLLSRC_HSE | (4U << RCC_PLLCFGR_PLLM_Pos) |
                           (168U << RCC_PLLCFGR_PLLN_Pos) | (4U << RCC_PLLCFGR_PLLQ_Pos);
            RCC->CR |= RCC_CR_PLLON;
            model_test::idle_until_true([] { return (RCC->CR & RCC_CR_PLLRDY) != 0; });
        }
        model_test::set_apb2_divider(c.from_apb2);
        const Picos start = start_tim1(15, 999);
        model_test::idle_until(start + model_test::cycles_ps(kCounts, c.from_hz) / 4);
        if (c.to_pll) {
            RCC->CFGR = (RCC->CFGR & ~RCC_CFGR_SW) | 2U;
        } else {
            model_test::set_apb2_divider(c.to_apb2);
        }
        const Picos changed = model_test::cpu().now();
        model_test::idle_until(changed + 10 * sim::kPsPerMs);
        out["start"] = start;
        out["changed"] = changed;
        out["core_hz"] = model_test::board().rcc().hclk_hz();
        out["updates"] = updates_json();
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    const Picos start = r["start"].get<Picos>();
    const Picos changed = r["changed"].get<Picos>();
    const auto updates = r["updates"].get<std::vector<Picos>>();
    const Picos slack =
        model_test::cycles_ps(sim::cost::kInterruptEntry, r["core_hz"].get<uint64_t>()) + 2;

    // Counts done at the old rate; the rest go at the new one.
    const double done = static_cast<double>(changed - start) * 1e-12 * c.from_hz;
    const double first = static_cast<double>(changed) + (kCounts - done) / c.to_hz * 1e12;
    const double period = static_cast<double>(kCounts) / c.to_hz * 1e12;
    ASSERT_GE(updates.size(), 3u);
    for (std::size_t n = 0; n < 3; n++) {
        const double due = first + static_cast<double>(n) * period;
        EXPECT_GE(static_cast<double>(updates[n]), due - 2.0) << "update " << n;
        EXPECT_LE(static_cast<double>(updates[n]), due + static_cast<double>(slack))
            << "update " << n << " is " << (static_cast<double>(updates[n]) - due) << " ps late";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, Tim1ClockChange,
    ::testing::Values(ChangeCase{"SlowsDown_Apb2Div1ToDiv4", model_test::kApbDiv1,
                                 model_test::kApbDiv4, false, 16'000'000, 8'000'000},
                      ChangeCase{"SpeedsUp_Apb2Div4ToDiv1", model_test::kApbDiv4,
                                 model_test::kApbDiv1, false, 8'000'000, 16'000'000},
                      // 16 MHz either way: PCLK2 halves and the timer doubles it
                      ChangeCase{"SameRate_Apb2Div1ToDiv2", model_test::kApbDiv1,
                                 model_test::kApbDiv2, false, 16'000'000, 16'000'000},
                      ChangeCase{"SystemClockToPll168", model_test::kApbDiv2, model_test::kApbDiv2,
                                 true, 16'000'000, 168'000'000}),
    named_case::by_name);

}  // namespace

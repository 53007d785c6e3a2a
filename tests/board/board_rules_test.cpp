// The clock tree's rules, broken from firmware-side code on a test boot: a
// breach that corrupts execution on the chip halts with its name, one the
// chip tolerates is recorded. And the kernel's tick from SysTick, as the
// core clock and SystemCoreClock make it.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "named_case.hpp"
#include "board_probe.hpp"
#include "cmsis_os2.h"
#include "main.h"
#include "sim/platform.hpp"
#include "system_stm32f4xx.h"

namespace {

using board_test::json;

// The firmware's clock set-up with its initialisers as fields.
struct Clocks {
    uint32_t pllm = 4, plln = 168, pllq = 4, apb1 = RCC_HCLK_DIV4, apb2 = RCC_HCLK_DIV2;
    uint32_t latency = FLASH_LATENCY_5, scale = PWR_REGULATOR_VOLTAGE_SCALE1;
};

void configure(const Clocks& c) {
    __HAL_RCC_PWR_CLK_ENABLE();
    __HAL_PWR_VOLTAGESCALING_CONFIG(c.scale);
    RCC_OscInitTypeDef osc = {};
    osc.OscillatorType = RCC_OSCILLATORTYPE_HSE;
    osc.HSEState = RCC_HSE_ON;
    osc.PLL = {RCC_PLL_ON, RCC_PLLSOURCE_HSE, c.pllm, c.plln, RCC_PLLP_DIV2, c.pllq};
    HAL_RCC_OscConfig(&osc);
    RCC_ClkInitTypeDef clk = {
        RCC_CLOCKTYPE_HCLK | RCC_CLOCKTYPE_SYSCLK | RCC_CLOCKTYPE_PCLK1 | RCC_CLOCKTYPE_PCLK2,
        RCC_SYSCLKSOURCE_PLLCLK, RCC_SYSCLK_DIV1, c.apb1, c.apb2};
    HAL_RCC_ClockConfig(&clk, c.latency);
}

struct RuleCase : named_case::Case {
    std::function<void()> firmware;  // runs after HAL_Init
    std::string halt;                // the named halt, or "" for a run to the end
    std::string recorded;            // the one rule recorded, or ""
    double supply_v = 3.3;
};

class ClockRule : public ::testing::TestWithParam<RuleCase> {};

void rules_of(json& out) {
    out["rules"] = json::array();
    for (const sim::BoardRules::Record& r : sim::Board::get().cpu().rules().records()) {
        out["rules"].push_back(r.rule);
    }
}

TEST_P(ClockRule, HaltsWithItsNameOrIsRecorded) {
    const RuleCase& c = GetParam();
    sim::BoardConfig config;
    config.rcc.supply_v = c.supply_v;
    const json o = board_test::run_board({.config = config,
                                          .run_for = 50 * sim::kPsPerMs,
                                          .bring_up =
                                              [] {
                                                  sim::install_vectors();
                                                  SystemInit();
                                                  HAL_Init();
                                              },
                                          .probe = [&c](json&) { c.firmware(); },
                                          .after = rules_of});
    EXPECT_EQ(o["halted"].is_null() ? "" : o["halted"]["where"],
              c.halt.empty() ? "" : "board rule: " + c.halt);
    EXPECT_EQ(o["rules"], c.recorded.empty() ? json::array() : json({c.recorded}));
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, ClockRule,
    ::testing::Values(
        RuleCase{"firmware_defaults", [] { configure({}); }, "", ""},
        RuleCase{"flash_latency_too_low", [] { configure({.latency = FLASH_LATENCY_2}); },
                 "HCLK 168 MHz with flash latency 2 (needs 5 wait states at 2.7-3.6 V)", ""},
        RuleCase{"latency_lowered_under_168_mhz",
                 [] {
                     configure({});
                     FLASH->ACR = FLASH_LATENCY_4;
                 },
                 "HCLK 168 MHz with flash latency 4 (needs 5 wait states at 2.7-3.6 V)", ""},
        RuleCase{"latency_at_2_5_v", [] { configure({}); },
                 "HCLK 168 MHz with flash latency 5 (needs 6 wait states at 2.4-2.7 V)", "", 2.5},
        RuleCase{"168_mhz_at_1_9_v", [] { configure({.latency = FLASH_LATENCY_7}); },
                 "HCLK 168 MHz at 1.8-2.1 V (at most 160 MHz)", "", 1.9},
        RuleCase{"voltage_scale_2", [] { configure({.scale = PWR_REGULATOR_VOLTAGE_SCALE2}); },
                 "HCLK 168 MHz in voltage scale 2 (at most 144 MHz)", ""},
        RuleCase{"vco_input_4_mhz", [] { configure({.pllm = 2}); },
                 "PLL VCO input 4 MHz with PLLM 2 (1 to 2 MHz)", ""},
        RuleCase{"pllm_1", [] { configure({.pllm = 1}); }, "PLLM 1 (2 to 63)", ""},
        RuleCase{"plln_40", [] { configure({.plln = 40}); }, "PLLN 40 (50 to 432)", ""},
        RuleCase{"vco_output_600_mhz", [] { configure({.plln = 300}); },
                 "PLL VCO output 600 MHz with PLLN 300 (100 to 432 MHz)", ""},
        RuleCase{"sysclk_200_mhz", [] { configure({.plln = 200}); },
                 "SYSCLK 200 MHz (at most 168 MHz)", ""},
        RuleCase{"apb1_at_84_mhz", [] { configure({.apb1 = RCC_HCLK_DIV2}); },
                 "PCLK1 84 MHz (at most 42 MHz)", ""},
        RuleCase{"apb1_at_168_mhz", [] { configure({.apb1 = RCC_HCLK_DIV1}); },
                 "PCLK1 168 MHz (at most 42 MHz)", ""},
        RuleCase{"apb2_at_168_mhz", [] { configure({.apb2 = RCC_HCLK_DIV1}); },
                 "PCLK2 168 MHz (at most 84 MHz)", ""},
        RuleCase{"pllq_1", [] { configure({.pllq = 1}); }, "", "PLLQ 1 (2 to 15)"},
        RuleCase{"pllcfgr_written_while_running",
                 [] {
                     configure({});
                     RCC->PLLCFGR = RCC->PLLCFGR & ~RCC_PLLCFGR_PLLM;  // would stop the core
                 },
                 "", "PLLCFGR written while the PLL runs (ignored)"},
        RuleCase{"pll_switched_off_under_the_core",
                 [] {
                     configure({});
                     RCC->CR &= ~RCC_CR_PLLON;
                 },
                 "", "an oscillator that drives SYSCLK switched off (ignored)"},
        RuleCase{"switch_to_hse_before_it_starts",
                 [] {
                     RCC->CR |= RCC_CR_HSEON;
                     RCC->CFGR |= RCC_SYSCLKSOURCE_HSE;
                 },
                 "", "SYSCLK switched to a source that is not ready (waits for it)"},
        RuleCase{"rng_on_an_84_mhz_pll48clk",
                 [] {
                     configure({});
                     RCC->AHB2ENR |= 1U << 6;  // RNGEN
                 },
                 "", "PLL48CLK not 48 MHz with USB OTG FS, SDIO or RNG clocked"}),
    named_case::by_name);

// The kernel programs SysTick from SystemCoreClock: a stale value (the clock
// raised behind the HAL's back) makes every delay as short as the chip's.
struct TickCase : named_case::Case {
    bool stale, update;
    double delay_ms;  // what osDelay(100) lasts
};

class KernelTick : public ::testing::TestWithParam<TickCase> {};

sim::Picos g_delay = 0;

TEST_P(KernelTick, FollowsSystemCoreClockAtTheRealCoreClock) {
    static TickCase c;
    c = GetParam();
    const json o = board_test::run_board(
        {.run_for = 200 * sim::kPsPerMs,
         .bring_up =
             [] {
                 sim::install_vectors();
                 SystemInit();
                 HAL_Init();
                 SystemClock_Config();
                 if (c.stale) {
                     SystemCoreClock = 16000000;
                 }
                 if (c.update) {
                     SystemCoreClockUpdate();
                 }
                 osKernelInitialize();
                 osThreadNew(
                     [](void*) {
                         const sim::Picos t0 = sim::Board::get().cpu().now();
                         osDelay(100);
                         g_delay = sim::Board::get().cpu().now() - t0;
                         sim::Board::get().cpu().halt("done");
                     },
                     nullptr, nullptr);
                 osKernelStart();
             },
         .after =
             [](json& out) { out["delay_ms"] = static_cast<double>(g_delay) / sim::kPsPerMs; }});
    EXPECT_NEAR(o["delay_ms"].get<double>(), c.delay_ms, 0.1);
}

INSTANTIATE_TEST_SUITE_P(SysTick, KernelTick,
                         // Stale: LOAD = 16 MHz / 1 kHz - 1 at 168 MHz, 100 x 16000 / 168 MHz.
                         ::testing::Values(TickCase{"current", false, false, 100.0},
                                           TickCase{"stale", true, false, 100 * 16000 / 168e3},
                                           TickCase{"stale_then_updated", true, true, 100.0}),
                         named_case::by_name);

// After reset the core runs on the 16 MHz HSI (RM0090 6.2.2 and the RCC_CFGR
// reset value, SWS = 00); switched to the crystal, undivided, at HSE_VALUE.
TEST(BoardRules, CoreClockFromTheHsiAfterResetThenFromTheCrystal) {
    const json o =
        board_test::run_board({.run_for = 100 * sim::kPsPerMs,
                               .bring_up =
                                   [] {
                                       sim::install_vectors();
                                       SystemInit();
                                       HAL_Init();
                                   },
                               .probe =
                                   [](json& r) {
                                       SystemCoreClockUpdate();
                                       r["hsi"] = SystemCoreClock;
                                       RCC_OscInitTypeDef osc = {};
                                       osc.OscillatorType = RCC_OSCILLATORTYPE_HSE;
                                       osc.HSEState = RCC_HSE_ON;
                                       RCC_ClkInitTypeDef clk = {};
                                       clk.ClockType = RCC_CLOCKTYPE_SYSCLK | RCC_CLOCKTYPE_HCLK;
                                       clk.SYSCLKSource = RCC_SYSCLKSOURCE_HSE;
                                       clk.AHBCLKDivider = RCC_SYSCLK_DIV1;
                                       r["status"] = {HAL_RCC_OscConfig(&osc),
                                                      HAL_RCC_ClockConfig(&clk, FLASH_LATENCY_0)};
                                       SystemCoreClockUpdate();
                                       r["hse"] = SystemCoreClock;
                                   }});
    EXPECT_EQ(o["hsi"], 16000000U);
    EXPECT_EQ(o["status"], json({HAL_OK, HAL_OK}));
    EXPECT_EQ(o["hse"], HSE_VALUE);
}

TEST(BoardRules, TheFirmwareBreaksNone) {
    const json o = board_test::run_board(
        {.run_for = 500 * sim::kPsPerMs, .bring_up = sim::firmware_reset, .after = rules_of});
    EXPECT_TRUE(o["halted"].is_null()) << o["halted"];
    EXPECT_EQ(o["rules"], json::array());
}

}  // namespace

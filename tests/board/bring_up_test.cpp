// Board bring-up on the virtual board: the reset chain, the core's set-up,
// the pins right after the GPIO initialisation, the shared CAN1 clock and the
// HAL time base. (The LED start pattern on the pins: gimbal_sim_test's
// summary.)
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "named_case.hpp"
#include "board_probe.hpp"
#include "can.h"
#include "gpio.h"
#include "main.h"
#include "sim/platform.hpp"
#include "stm32f4xx_it.h"
#include "system_stm32f4xx.h"

namespace {

using board_test::json;

// CPACR at reset, and as main found it: HAL_Init is main's first call.
uint32_t g_cpacr_at_reset = 0xDEADBEEF;
uint32_t g_cpacr_at_main = 0xDEADBEEF;
// Levels a bus wire takes while the pins are set up.
json g_wire_levels = json::array();

uint32_t cpacr() {
    return static_cast<const uint32_t*>(sim::Board::get().scb().storage())[sim::Scb::CPACR / 4];
}

}  // namespace

namespace {

sim::Picos ms(double n) {
    return static_cast<sim::Picos>(n * static_cast<double>(sim::kPsPerMs));
}

// Runs `probe` as the reset vector of a fresh board, with the vector table in
// place, until it returns or `run_for` has passed.
json on_bare_chip(const std::function<void(json&)>& probe, sim::Picos run_for = ms(500)) {
    return board_test::run_board({.run_for = run_for,
                                  .bring_up =
                                      [] {
                                          sim::install_vectors();
                                          SystemInit();
                                      },
                                  .probe = probe});
}

TEST(BringUp, ResetRunsSystemInitBeforeMainAndLeavesTheCoreSetUp) {
    const json o = board_test::run_board(
        {.run_for = ms(50),
         .attach =
             [](sim::Board& board) {
                 g_cpacr_at_reset = cpacr();
                 board.cpu().probes().hal_call.listen([](const char* function, sim::Picos) {
                     if (std::string(function) == "HAL_Init") {
                         g_cpacr_at_main = cpacr();
                     }
                 });
             },
         .bring_up = sim::firmware_reset,
         .after =
             [](json& out) {
                 sim::Board& board = sim::Board::get();
                 sim::Cpu& cpu = board.cpu();
                 out.update({
                     {"cpacr_at_reset", g_cpacr_at_reset},
                     {"cpacr_at_main", g_cpacr_at_main},
                     {"fpu", board.scb().fpu_enabled()},
                     {"aircr", board.bus().read(&SCB->AIRCR)},
                     {"grouping", cpu.priority_grouping()},
                     {"priorities",
                      {cpu.priority(PendSV_IRQn), cpu.priority(TIM1_UP_TIM10_IRQn),
                       cpu.priority(I2C2_EV_IRQn)}},
                     {"enabled",
                      {cpu.irq_enabled(TIM1_UP_TIM10_IRQn), cpu.irq_enabled(I2C2_EV_IRQn)}},
                 });
             }});
    EXPECT_EQ(o["cpacr_at_reset"], 0u);
    EXPECT_EQ(o["cpacr_at_main"], 0x00F00000u);  // CP10 and CP11 full access, nothing else
    EXPECT_EQ(o["fpu"], true);
    // Key status, little-endian, PRIGROUP 3: four bits of preemption priority.
    EXPECT_EQ(o["aircr"], 0xFA050300u);
    EXPECT_EQ(o["grouping"], 3u);
    EXPECT_EQ(o["priorities"], json({15, 15, 5}));
    EXPECT_EQ(o["enabled"], json({true, true}));
    EXPECT_TRUE(o["halted"].is_null()) << o["halted"];
}

struct PinCase : named_case::Case {
    char port;
    int pin;
    int level;
    uint32_t mode, type, pull, speed;  // MODER, OTYPER, PUPDR, OSPEEDR fields
};

class PinsAfterGpioInit : public ::testing::TestWithParam<PinCase> {};

TEST_P(PinsAfterGpioInit, ComeUpAtTheirIdleLevel) {
    const PinCase c = GetParam();
    const json o = on_bare_chip([&c](json& out) {
        HAL_Init();
        SystemClock_Config();
        sim::Board& board = sim::Board::get();
        if (c.port == 'F') {
            sim::Wire& wire = c.pin == 14 ? board.i2c_scl() : board.i2c_sda();
            wire.listen([](int level, sim::Picos) { g_wire_levels.push_back(level); });
        }
        MX_GPIO_Init();
        const auto* port = reinterpret_cast<const GPIO_TypeDef*>(board.gpio(c.port).base());
        const uint32_t moder = board.bus().read(&port->MODER);
        const uint32_t otyper = board.bus().read(&port->OTYPER);
        const uint32_t pupdr = board.bus().read(&port->PUPDR);
        const uint32_t ospeedr = board.bus().read(&port->OSPEEDR);
        out["level"] = board.gpio(c.port).level(c.pin);
        out["config"] = {(moder >> (2 * c.pin)) & 3U, (otyper >> c.pin) & 1U,
                         (pupdr >> (2 * c.pin)) & 3U, (ospeedr >> (2 * c.pin)) & 3U};
        out["levels_during_init"] = g_wire_levels;
    });
    ASSERT_EQ(o["finished"], true);
    EXPECT_EQ(o["level"], c.level);
    EXPECT_EQ(o["config"], json({c.mode, c.type, c.pull, c.speed}));
    // A bus line released high never dips while it is set up (no false START).
    for (const json& l : o["levels_during_init"]) {
        EXPECT_EQ(l, 1) << o["levels_during_init"];
    }
}

INSTANTIATE_TEST_SUITE_P(Pins, PinsAfterGpioInit,
                         ::testing::Values(PinCase{"LED0_PE3", 'E', 3, 0, 1, 0, 0, 0},
                                           PinCase{"LED1_PE4", 'E', 4, 0, 1, 0, 0, 0},
                                           PinCase{"LED2_PG9", 'G', 9, 0, 1, 0, 0, 0},
                                           PinCase{"SDA_PF12", 'F', 12, 1, 1, 1, 1, 3},
                                           PinCase{"SCL_PF14", 'F', 14, 1, 1, 1, 1, 3}),
                         named_case::by_name);

TEST(BringUp, TheSharedCan1ClockIsSwitchedOnOnlyByTheFirstController) {
    const json o = on_bare_chip([](json& out) {
        HAL_Init();
        SystemClock_Config();
        auto can1_clock = [] { return (RCC->APB1ENR & RCC_APB1ENR_CAN1EN) != 0U; };
        CAN_HandleTypeDef can2 = {};
        can2.Instance = CAN2;
        HAL_CAN_MspInit(&can2);
        out["after_can2"] = {HAL_RCC_CAN1_CLK_ENABLED, can1_clock()};
        // Switched off behind the hooks' back: only a second switch-on would
        // bring it back.
        RCC->APB1ENR &= ~RCC_APB1ENR_CAN1EN;
        CAN_HandleTypeDef can1 = {};
        can1.Instance = CAN1;
        HAL_CAN_MspInit(&can1);
        out["after_can1"] = {HAL_RCC_CAN1_CLK_ENABLED, can1_clock()};
    });
    ASSERT_EQ(o["finished"], true);
    EXPECT_EQ(o["after_can2"], json({1, true}));
    EXPECT_EQ(o["after_can1"], json({2, false}));
}

struct TickCase : named_case::Case {
    uint32_t priority;
    HAL_StatusTypeDef status;
    uint32_t tick_prio;     // uwTickPrio afterwards
    uint32_t irq_priority;  // TIM1 update's NVIC priority afterwards
};

class InitTick : public ::testing::TestWithParam<TickCase> {};

// After HAL_Init has set the time base up at priority 15.
TEST_P(InitTick, SetsThePriorityOrRefusesItAndKeepsTicking) {
    const TickCase c = GetParam();
    const json o = on_bare_chip([&c](json& out) {
        HAL_Init();
        SystemClock_Config();
        out["status"] = HAL_InitTick(c.priority);
        sim::Cpu& cpu = sim::Board::get().cpu();
        out["tick_prio"] = uwTickPrio;
        out["irq"] = {cpu.priority(TIM1_UP_TIM10_IRQn), cpu.irq_enabled(TIM1_UP_TIM10_IRQn)};
        const uint32_t start = HAL_GetTick();
        const sim::Picos t0 = cpu.now();
        while (HAL_GetTick() - start < 10U) {
            __NOP();
        }
        out["ms_for_10_ticks"] = static_cast<double>(cpu.now() - t0) / sim::kPsPerMs;
    });
    ASSERT_EQ(o["finished"], true);
    EXPECT_EQ(o["status"], c.status);
    EXPECT_EQ(o["tick_prio"], c.tick_prio);
    EXPECT_EQ(o["irq"], json({c.irq_priority, true}));
    EXPECT_NEAR(o["ms_for_10_ticks"].get<double>(), 10.0, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Priorities, InitTick,
                         ::testing::Values(TickCase{"Lowest", 15, HAL_OK, 15, 15},
                                           TickCase{"Highest", 0, HAL_OK, 0, 0},
                                           TickCase{"OutOfRange", 16, HAL_ERROR, 15, 15}),
                         named_case::by_name);

TEST(BringUp, OnlyTim1PeriodsAdvanceTheHalTick) {
    const json o = on_bare_chip([](json& out) {
        TIM_HandleTypeDef other = {};
        other.Instance = TIM10;  // shares TIM1's update vector
        TIM_HandleTypeDef none = {};
        const uint32_t before = uwTick;
        HAL_TIM_PeriodElapsedCallback(&other);
        HAL_TIM_PeriodElapsedCallback(&none);
        const uint32_t after_others = uwTick;
        HAL_TIM_PeriodElapsedCallback(&htim1);  // htim1 is still unset: not TIM1 yet
        const uint32_t after_unset = uwTick;
        htim1.Instance = TIM1;
        HAL_TIM_PeriodElapsedCallback(&htim1);
        out["ticks"] = {after_others - before, after_unset - before, uwTick - before};
    });
    ASSERT_EQ(o["finished"], true);
    EXPECT_EQ(o["ticks"], json({0, 0, 1}));
}

}  // namespace

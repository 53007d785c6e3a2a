// A bare virtual board in a child process with the bit-banged bus brought up
// as the firmware's start-up leaves it: core at 168 MHz, PF12 (SDA) and PF14
// (SCL) open-drain with pull-up, released; the IMU on the two wires.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"
#include "sim/platform.hpp"
#include "sim/testing/board_run.hpp"
#include "stm32f4xx_hal.h"

namespace i2c_test {

using nlohmann::json;

inline void bring_up_bus() {
    RCC_OscInitTypeDef osc = {};
    osc.OscillatorType = RCC_OSCILLATORTYPE_HSE;
    osc.HSEState = RCC_HSE_ON;
    osc.PLL.PLLState = RCC_PLL_ON;
    osc.PLL.PLLSource = RCC_PLLSOURCE_HSE;
    osc.PLL.PLLM = 4;
    osc.PLL.PLLN = 168;
    osc.PLL.PLLP = RCC_PLLP_DIV2;
    osc.PLL.PLLQ = 4;
    HAL_RCC_OscConfig(&osc);
    RCC_ClkInitTypeDef clk = {};
    clk.ClockType =
        RCC_CLOCKTYPE_HCLK | RCC_CLOCKTYPE_SYSCLK | RCC_CLOCKTYPE_PCLK1 | RCC_CLOCKTYPE_PCLK2;
    clk.SYSCLKSource = RCC_SYSCLKSOURCE_PLLCLK;
    clk.AHBCLKDivider = RCC_SYSCLK_DIV1;
    clk.APB1CLKDivider = RCC_HCLK_DIV4;
    clk.APB2CLKDivider = RCC_HCLK_DIV2;
    HAL_RCC_ClockConfig(&clk, FLASH_LATENCY_5);

    __HAL_RCC_GPIOF_CLK_ENABLE();
    HAL_GPIO_WritePin(GPIOF, GPIO_PIN_12 | GPIO_PIN_14, GPIO_PIN_SET);
    GPIO_InitTypeDef pin = {};
    pin.Pin = GPIO_PIN_12 | GPIO_PIN_14;
    pin.Mode = GPIO_MODE_OUTPUT_OD;
    pin.Pull = GPIO_PULLUP;
    pin.Speed = GPIO_SPEED_FREQ_VERY_HIGH;
    HAL_GPIO_Init(GPIOF, &pin);
}

/// Runs `probe` as the reset code of a fresh board (after bring_up_bus), in a
/// child process, for at most `run_for` of virtual time.
inline json on_bus(const std::function<void(json&)>& probe, const sim::BoardConfig& config = {},
                   sim::Picos run_for = 5 * sim::kPsPerS) {
    const json r = sim::testing::run_board({.config = config,
                                            .run_for = run_for,
                                            .bring_up =
                                                [] {
                                                    sim::install_vectors();  // for the HAL tick
                                                    bring_up_bus();
                                                },
                                            .probe = probe});
    EXPECT_TRUE(r.value("finished", false));
    return r;
}

}  // namespace i2c_test

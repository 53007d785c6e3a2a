// A bare virtual board (no firmware) in a child process, driven from its
// reset vector through the chip's registers, and the helpers the model tests
// share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"
#include "sim/testing/board_run.hpp"
#include "stm32f4xx.h"

namespace model_test {

using nlohmann::json;

/// A register's value, read as the firmware reads it.
inline uint32_t value(const gimbal_reg32_t& reg) {
    return reg;
}

inline sim::Board& board() {
    return sim::Board::get();
}

inline sim::Cpu& cpu() {
    return sim::Board::get().cpu();
}

/// Runs `probe` as the reset code of a fresh board in a child process, for at
/// most `run_for` of virtual time (sim/testing/board_run.hpp).
inline json on_board(const std::function<void(json&)>& probe,
                     sim::Picos run_for = 200 * sim::kPsPerMs) {
    return sim::testing::run_board({.run_for = run_for, .probe = probe});
}

/// The core idles (sleeps through events and interrupts) until virtual time `t`.
inline void idle_until(sim::Picos t) {
    static sim::FunctionEvent mark([](sim::Picos) {});
    if (cpu().now() >= t) {
        return;
    }
    cpu().events().schedule(mark, t);
    while (cpu().now() < t) {
        cpu().spin_until_next_event();
    }
}

/// The core idles until `ready()` holds.
template <class Ready>
void idle_until_true(Ready ready) {
    while (!ready()) {
        cpu().spin_until_next_event();
    }
}

/// The core is busy in chunks of `chunk` cycles until virtual time `t`: events
/// that fall inside a chunk are seen only at its end, as behind a long
/// instruction sequence on the chip.
inline void busy_until(sim::Picos t, uint32_t chunk) {
    while (cpu().now() < t) {
        cpu().consume(chunk);
    }
}

inline void set_ahb_divider(uint32_t hpre_code) {
    RCC->CFGR = (RCC->CFGR & ~RCC_CFGR_HPRE) | (hpre_code << RCC_CFGR_HPRE_Pos);
}

inline void set_apb2_divider(uint32_t ppre2_code) {
    RCC->CFGR = (RCC->CFGR & ~RCC_CFGR_PPRE2) | (ppre2_code << RCC_CFGR_PPRE2_Pos);
}

// APB prescaler codes of RCC_CFGR.
inline constexpr uint32_t kApbDiv1 = 0, kApbDiv2 = 4, kApbDiv4 = 5;
inline constexpr uint32_t kAhbDiv2 = 8;

/// What 168 MHz needs before the switch: 5 flash wait states, APB1 at most 42 MHz.
inline void ready_for_168() {
    FLASH->ACR = 5U;
    RCC->CFGR = (RCC->CFGR & ~RCC_CFGR_PPRE1) | (kApbDiv4 << RCC_CFGR_PPRE1_Pos);
}

/// 8 MHz crystal / 4 * 168 / 2 = 168 MHz system clock, set up register by
/// register, APB2 divided by 2 (84 MHz).
inline void switch_to_pll_168() {
    ready_for_168();
    set_apb2_divider(kApbDiv2);
    RCC->CR |= RCC_CR_HSEON;
    idle_until_true([] { return (RCC->CR & RCC_CR_HSERDY) != 0; });
    RCC->PLLCFGR = RCC_PLLCFGR_PLLSRC_HSE | (4U << RCC_PLLCFGR_PLLM_Pos) |
                   (168U << RCC_PLLCFGR_PLLN_Pos) | (0U << RCC_PLLCFGR_PLLP_Pos) |
                   (4U << RCC_PLLCFGR_PLLQ_Pos);
    RCC->CR |= RCC_CR_PLLON;
    idle_until_true([] { return (RCC->CR & RCC_CR_PLLRDY) != 0; });
    RCC->CFGR = (RCC->CFGR & ~RCC_CFGR_SW) | 2U;
    idle_until_true([] { return ((RCC->CFGR & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos) == 2U; });
}

/// Picoseconds of `cycles` periods of a `hz` clock, exactly (rounded down).
inline constexpr sim::Picos cycles_ps(uint64_t cycles, uint64_t hz) {
    return static_cast<sim::Picos>(static_cast<unsigned __int128>(cycles) * sim::kPsPerS / hz);
}

}  // namespace model_test

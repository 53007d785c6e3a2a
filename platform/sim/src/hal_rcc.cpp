// HAL RCC: oscillators, PLL and the system clock switch, on the RCC registers.
#include "hal_internal.hpp"

using namespace sim::hal;

namespace {
constexpr uint32_t kPllTimeoutMs = 2;
constexpr uint32_t kClockSwitchTimeoutMs = 5000;
constexpr uint32_t kHsiTimeoutMs = 2;
constexpr uint8_t kAhbShift[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 6, 7, 8, 9};
constexpr uint8_t kApbShift[8] = {0, 0, 0, 0, 1, 2, 3, 4};

bool flag(uint32_t mask) {
    return (RCC->CR & mask) != 0U;
}
}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_RCC_OscConfig(RCC_OscInitTypeDef* osc) {
    enter(cost::kHalClockSwitch);
    if (osc == nullptr) {
        return HAL_ERROR;
    }
    const uint32_t sws = (RCC->CFGR & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos;
    if (osc->OscillatorType & RCC_OSCILLATORTYPE_HSE) {
        const bool hse_feeds_sysclk =
            sws == 1U || (sws == 2U && (RCC->PLLCFGR & RCC_PLLCFGR_PLLSRC) != 0U);
        if (hse_feeds_sysclk) {
            if (osc->HSEState == RCC_HSE_OFF) {
                return HAL_ERROR;
            }
        } else {
            MODIFY_REG(RCC->CR, RCC_CR_HSEON | RCC_CR_HSEBYP, osc->HSEState);
            const bool on = osc->HSEState != RCC_HSE_OFF;
            if (wait_until([&] { return flag(RCC_CR_HSERDY) == on; }, HAL_GetTick(),
                           HSE_STARTUP_TIMEOUT) != HAL_OK) {
                return HAL_TIMEOUT;
            }
        }
    }
    if (osc->OscillatorType & RCC_OSCILLATORTYPE_HSI) {
        if (sws != 0U || osc->HSIState != RCC_HSI_OFF) {
            MODIFY_REG(RCC->CR, RCC_CR_HSION, osc->HSIState);
            const bool on = osc->HSIState != RCC_HSI_OFF;
            if (wait_until([&] { return flag(RCC_CR_HSIRDY) == on; }, HAL_GetTick(),
                           kHsiTimeoutMs) != HAL_OK) {
                return HAL_TIMEOUT;
            }
        }
    }
    if (osc->PLL.PLLState != RCC_PLL_NONE) {
        if (sws == 2U) {
            return HAL_ERROR;  // the PLL drives the core: leave it alone
        }
        CLEAR_BIT(RCC->CR, RCC_CR_PLLON);
        if (wait_until([] { return !flag(RCC_CR_PLLRDY); }, HAL_GetTick(), kPllTimeoutMs) !=
            HAL_OK) {
            return HAL_TIMEOUT;
        }
        if (osc->PLL.PLLState == RCC_PLL_ON) {
            WRITE_REG(RCC->PLLCFGR, osc->PLL.PLLSource | osc->PLL.PLLM |
                                        (osc->PLL.PLLN << RCC_PLLCFGR_PLLN_Pos) |
                                        (((osc->PLL.PLLP >> 1U) - 1U) << RCC_PLLCFGR_PLLP_Pos) |
                                        (osc->PLL.PLLQ << RCC_PLLCFGR_PLLQ_Pos));
            SET_BIT(RCC->CR, RCC_CR_PLLON);
            if (wait_until([] { return flag(RCC_CR_PLLRDY); }, HAL_GetTick(), kPllTimeoutMs) !=
                HAL_OK) {
                return HAL_TIMEOUT;
            }
        }
    }
    return HAL_OK;
}

HAL_StatusTypeDef HAL_RCC_ClockConfig(RCC_ClkInitTypeDef* clk, uint32_t FLatency) {
    enter(cost::kHalClockSwitch);
    if (clk == nullptr || FLatency > FLASH_LATENCY_7) {
        return HAL_ERROR;
    }
    // More wait states before the clock rises, fewer only after it fell
    // (the latency is looked up on the model: the call's cost covers it).
    const sim::FlashInterface& flash = sim::Chip::get().model<sim::FlashInterface>("FLASH");
    if (FLatency > flash.latency()) {
        MODIFY_REG(FLASH->ACR, FLASH_ACR_LATENCY, FLatency);
    }
    if (clk->ClockType & RCC_CLOCKTYPE_HCLK) {
        // Slowest APB clocks while the AHB divider changes.
        MODIFY_REG(RCC->CFGR, RCC_CFGR_PPRE1 | RCC_CFGR_PPRE2,
                   RCC_HCLK_DIV16 | (RCC_HCLK_DIV16 << 3));
        MODIFY_REG(RCC->CFGR, RCC_CFGR_HPRE, clk->AHBCLKDivider);
    }
    if (clk->ClockType & RCC_CLOCKTYPE_SYSCLK) {
        const uint32_t src = clk->SYSCLKSource;
        const uint32_t needed = src == RCC_SYSCLKSOURCE_HSE      ? RCC_CR_HSERDY
                                : src == RCC_SYSCLKSOURCE_PLLCLK ? RCC_CR_PLLRDY
                                                                 : RCC_CR_HSIRDY;
        if (!flag(needed)) {
            return HAL_ERROR;
        }
        MODIFY_REG(RCC->CFGR, RCC_CFGR_SW, src);
        if (wait_until([src] { return ((RCC->CFGR & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos) == src; },
                       HAL_GetTick(), kClockSwitchTimeoutMs) != HAL_OK) {
            return HAL_TIMEOUT;
        }
    }
    if (clk->ClockType & RCC_CLOCKTYPE_PCLK1) {
        MODIFY_REG(RCC->CFGR, RCC_CFGR_PPRE1, clk->APB1CLKDivider);
    }
    if (clk->ClockType & RCC_CLOCKTYPE_PCLK2) {
        MODIFY_REG(RCC->CFGR, RCC_CFGR_PPRE2, clk->APB2CLKDivider << 3);
    }
    if (FLatency < flash.latency()) {
        MODIFY_REG(FLASH->ACR, FLASH_ACR_LATENCY, FLatency);
    }
    SystemCoreClock = HAL_RCC_GetSysClockFreq() >> kAhbShift[(RCC->CFGR & RCC_CFGR_HPRE) >> 4];
    HAL_InitTick(uwTickPrio);
    return HAL_OK;
}

uint32_t HAL_RCC_GetSysClockFreq(void) {
    enter();
    static const sim::Rcc& rcc = sim::Chip::get().model<sim::Rcc>("RCC");
    return rcc.sysclk_hz();
}

uint32_t HAL_RCC_GetHCLKFreq(void) {
    enter(cost::kHalQuery);
    return SystemCoreClock;
}

uint32_t HAL_RCC_GetPCLK1Freq(void) {
    return HAL_RCC_GetHCLKFreq() >> kApbShift[(RCC->CFGR & RCC_CFGR_PPRE1) >> RCC_CFGR_PPRE1_Pos];
}

uint32_t HAL_RCC_GetPCLK2Freq(void) {
    return HAL_RCC_GetHCLKFreq() >> kApbShift[(RCC->CFGR & RCC_CFGR_PPRE2) >> RCC_CFGR_PPRE2_Pos];
}

void HAL_RCC_GetClockConfig(RCC_ClkInitTypeDef* clk, uint32_t* pFLatency) {
    const uint32_t cfgr = RCC->CFGR;
    clk->ClockType =
        RCC_CLOCKTYPE_SYSCLK | RCC_CLOCKTYPE_HCLK | RCC_CLOCKTYPE_PCLK1 | RCC_CLOCKTYPE_PCLK2;
    clk->SYSCLKSource = cfgr & RCC_CFGR_SW;
    clk->AHBCLKDivider = cfgr & RCC_CFGR_HPRE;
    clk->APB1CLKDivider = cfgr & RCC_CFGR_PPRE1;
    clk->APB2CLKDivider = (cfgr & RCC_CFGR_PPRE2) >> 3;
    *pFLatency = FLASH->ACR & FLASH_ACR_LATENCY;
}
}

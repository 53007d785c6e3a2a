// HAL I2C: controller initialisation and the blocking master transfers on the
// I2C registers. Nothing on this board can acknowledge an address on I2C2, so
// the transfers end in the address phase, as the HAL's own do: HAL_BUSY when
// the handle or the bus is busy (the bus after the HAL's 25 ms), HAL_ERROR
// with HAL_I2C_ERROR_AF for the unanswered address (STOP sent), HAL_ERROR with
// HAL_I2C_ERROR_TIMEOUT when a flag does not come within the caller's timeout.
#include <cstdio>
#include <cstdlib>

#include "hal_internal.hpp"

using namespace sim::hal;

namespace {
constexpr uint32_t kPe = 1U << 0, kStart = 1U << 8, kStop = 1U << 9, kAck = 1U << 10,
                   kPos = 1U << 11, kSwrst = 1U << 15;
constexpr uint32_t kSb = 1U << 0, kAddr = 1U << 1, kAf = 1U << 10;
constexpr uint32_t kBusy = 1U << 1;
constexpr uint32_t kBusyFlagTimeoutMs = 25;  // the HAL's wait for a free bus

HAL_StatusTypeDef fail(I2C_HandleTypeDef* hi2c, uint32_t error) {
    hi2c->PreviousState = 0;
    hi2c->State = HAL_I2C_STATE_READY;
    hi2c->Mode = HAL_I2C_MODE_NONE;
    hi2c->ErrorCode = hi2c->ErrorCode | error;
    hi2c->Lock = HAL_UNLOCKED;
    return HAL_ERROR;
}

// Checks and claims the handle and the bus for one transfer.
HAL_StatusTypeDef begin(I2C_HandleTypeDef* hi2c, HAL_I2C_StateTypeDef state,
                        HAL_I2C_ModeTypeDef mode, uint32_t tickstart) {
    if (hi2c->State != HAL_I2C_STATE_READY) {
        return HAL_BUSY;
    }
    I2C_TypeDef* i2c = hi2c->Instance;
    if (wait_until([i2c] { return (i2c->SR2 & kBusy) == 0U; }, tickstart, kBusyFlagTimeoutMs) !=
        HAL_OK) {
        fail(hi2c, HAL_I2C_ERROR_TIMEOUT);
        return HAL_BUSY;
    }
    if (hi2c->Lock == HAL_LOCKED) {
        return HAL_BUSY;
    }
    hi2c->Lock = HAL_LOCKED;
    if ((i2c->CR1 & kPe) == 0U) {
        SET_BIT(i2c->CR1, kPe);
    }
    CLEAR_BIT(i2c->CR1, kPos);
    hi2c->State = state;
    hi2c->Mode = mode;
    hi2c->ErrorCode = HAL_I2C_ERROR_NONE;
    return HAL_OK;
}

// START, then the address byte; HAL_OK once a device acknowledged it.
HAL_StatusTypeDef address(I2C_HandleTypeDef* hi2c, uint8_t byte, uint32_t timeout,
                          uint32_t tickstart) {
    I2C_TypeDef* i2c = hi2c->Instance;
    SET_BIT(i2c->CR1, kStart);
    if (wait_until([i2c] { return (i2c->SR1 & kSb) != 0U; }, tickstart, timeout) != HAL_OK) {
        fail(hi2c, HAL_I2C_ERROR_TIMEOUT);
        if ((i2c->CR1 & kStart) != 0U) {
            hi2c->ErrorCode = HAL_I2C_WRONG_START;
        }
        return HAL_TIMEOUT;
    }
    i2c->DR = byte;
    const HAL_StatusTypeDef answered =
        wait_until([i2c] { return (i2c->SR1 & (kAddr | kAf)) != 0U; }, tickstart, timeout);
    if (answered != HAL_OK) {
        return fail(hi2c, HAL_I2C_ERROR_TIMEOUT);
    }
    if ((i2c->SR1 & kAf) != 0U) {
        SET_BIT(i2c->CR1, kStop);
        i2c->SR1 = ~kAf;
        return fail(hi2c, HAL_I2C_ERROR_AF);
    }
    return HAL_OK;
}

// One blocking transfer up to its data phase, which no device on this board
// ever reaches: it would need an acknowledge.
HAL_StatusTypeDef transfer(I2C_HandleTypeDef* hi2c, uint16_t dev_address, bool read,
                           HAL_I2C_ModeTypeDef mode, uint32_t timeout) {
    enter();
    const uint32_t tickstart = HAL_GetTick();
    const HAL_StatusTypeDef claimed =
        begin(hi2c, read ? HAL_I2C_STATE_BUSY_RX : HAL_I2C_STATE_BUSY_TX, mode, tickstart);
    if (claimed != HAL_OK) {
        return claimed;
    }
    if (read && mode == HAL_I2C_MODE_MASTER) {
        SET_BIT(hi2c->Instance->CR1, kAck);
    }
    // Memory reads start with the register address, written.
    const bool read_phase = read && mode == HAL_I2C_MODE_MASTER;
    const uint8_t byte =
        static_cast<uint8_t>(read_phase ? (dev_address | 1U) : (dev_address & ~1U));
    if (address(hi2c, byte, timeout, tickstart) != HAL_OK) {
        return HAL_ERROR;
    }
    std::fprintf(stderr,
                 "virtual board: an I2C address was acknowledged, but no data phase is modelled\n");
    std::abort();
}
}  // namespace

extern "C" {

__attribute__((weak)) void HAL_I2C_MspInit(I2C_HandleTypeDef* hi2c) {
    (void)hi2c;
}
__attribute__((weak)) void HAL_I2C_MspDeInit(I2C_HandleTypeDef* hi2c) {
    (void)hi2c;
}

HAL_StatusTypeDef HAL_I2C_Init(I2C_HandleTypeDef* hi2c) {
    enter(cost::kHalInit);
    if (hi2c == nullptr || hi2c->Init.ClockSpeed == 0U || hi2c->Init.ClockSpeed > 400000U) {
        return HAL_ERROR;
    }
    if (hi2c->State == HAL_I2C_STATE_RESET) {
        hi2c->Lock = HAL_UNLOCKED;
        HAL_I2C_MspInit(hi2c);
    }
    hi2c->State = HAL_I2C_STATE_BUSY;
    I2C_TypeDef* i2c = hi2c->Instance;
    CLEAR_BIT(i2c->CR1, kPe);
    SET_BIT(i2c->CR1, kSwrst);
    CLEAR_BIT(i2c->CR1, kSwrst);
    const uint32_t pclk1 = HAL_RCC_GetPCLK1Freq();
    const uint32_t mhz = pclk1 / 1000000U;
    if (mhz < 2U) {
        return HAL_ERROR;
    }
    WRITE_REG(i2c->CR2, mhz);
    const bool fast = hi2c->Init.ClockSpeed > 100000U;
    WRITE_REG(i2c->TRISE, fast ? (mhz * 300U / 1000U) + 1U : mhz + 1U);
    uint32_t ccr;
    if (!fast) {
        ccr = pclk1 / (hi2c->Init.ClockSpeed * 2U);
        ccr = ccr < 4U ? 4U : ccr;
    } else if (hi2c->Init.DutyCycle == I2C_DUTYCYCLE_2) {
        ccr = (pclk1 / (hi2c->Init.ClockSpeed * 3U)) | (1U << 15);
    } else {
        ccr = (pclk1 / (hi2c->Init.ClockSpeed * 25U)) | (1U << 15) | (1U << 14);
    }
    WRITE_REG(i2c->CCR, ccr);
    WRITE_REG(i2c->CR1, hi2c->Init.GeneralCallMode | hi2c->Init.NoStretchMode);
    WRITE_REG(i2c->OAR1, hi2c->Init.AddressingMode | hi2c->Init.OwnAddress1);
    WRITE_REG(i2c->OAR2, hi2c->Init.DualAddressMode | hi2c->Init.OwnAddress2);
    SET_BIT(i2c->CR1, kPe);
    hi2c->ErrorCode = HAL_I2C_ERROR_NONE;
    hi2c->State = HAL_I2C_STATE_READY;
    hi2c->Mode = HAL_I2C_MODE_NONE;
    return HAL_OK;
}

HAL_StatusTypeDef HAL_I2C_Master_Transmit(I2C_HandleTypeDef* hi2c, uint16_t DevAddress,
                                          uint8_t* pData, uint16_t Size, uint32_t Timeout) {
    (void)pData;
    (void)Size;
    return transfer(hi2c, DevAddress, false, HAL_I2C_MODE_MASTER, Timeout);
}

HAL_StatusTypeDef HAL_I2C_Master_Receive(I2C_HandleTypeDef* hi2c, uint16_t DevAddress,
                                         uint8_t* pData, uint16_t Size, uint32_t Timeout) {
    (void)pData;
    (void)Size;
    return transfer(hi2c, DevAddress, true, HAL_I2C_MODE_MASTER, Timeout);
}

HAL_StatusTypeDef HAL_I2C_Mem_Write(I2C_HandleTypeDef* hi2c, uint16_t DevAddress,
                                    uint16_t MemAddress, uint16_t MemAddSize, uint8_t* pData,
                                    uint16_t Size, uint32_t Timeout) {
    (void)MemAddress;
    (void)MemAddSize;
    (void)pData;
    (void)Size;
    return transfer(hi2c, DevAddress, false, HAL_I2C_MODE_MEM, Timeout);
}

HAL_StatusTypeDef HAL_I2C_Mem_Read(I2C_HandleTypeDef* hi2c, uint16_t DevAddress,
                                   uint16_t MemAddress, uint16_t MemAddSize, uint8_t* pData,
                                   uint16_t Size, uint32_t Timeout) {
    (void)MemAddress;
    (void)MemAddSize;
    (void)pData;
    (void)Size;
    return transfer(hi2c, DevAddress, true, HAL_I2C_MODE_MEM, Timeout);
}

// Nothing on this board starts an interrupt-driven I2C2 transfer.
void HAL_I2C_EV_IRQHandler(I2C_HandleTypeDef* hi2c) {
    (void)hi2c;
}
void HAL_I2C_ER_IRQHandler(I2C_HandleTypeDef* hi2c) {
    (void)hi2c;
}

HAL_I2C_StateTypeDef HAL_I2C_GetState(I2C_HandleTypeDef* hi2c) {
    enter(cost::kHalQuery);
    return hi2c->State;
}
}

// I2C2 after the firmware's own set-up, with nothing on PF0/PF1: every blocking
// transfer fails in the address phase as the HAL's do, with its status, error
// code and timing.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "named_case.hpp"
#include "board_probe.hpp"
#include "gpio.h"
#include "i2c.h"
#include "main.h"
#include "sim/platform.hpp"

namespace {

using board_test::json;

using Call = std::function<HAL_StatusTypeDef(uint32_t timeout)>;

struct Transfer : named_case::Case {
    Call call;
};

uint8_t g_buf[4];

const Transfer kTransfers[] = {
    {"Master_Transmit",
     [](uint32_t t) { return HAL_I2C_Master_Transmit(&hi2c2, 0xA0, g_buf, 2, t); }},
    {"Master_Receive",
     [](uint32_t t) { return HAL_I2C_Master_Receive(&hi2c2, 0xA0, g_buf, 2, t); }},
    {"Mem_Write",
     [](uint32_t t) {
         return HAL_I2C_Mem_Write(&hi2c2, 0xA0, 0x3D, I2C_MEMADD_SIZE_8BIT, g_buf, 2, t);
     }},
    {"Mem_Read",
     [](uint32_t t) {
         return HAL_I2C_Mem_Read(&hi2c2, 0xA0, 0x3D, I2C_MEMADD_SIZE_8BIT, g_buf, 2, t);
     }},
};

/// Runs `probe` after the firmware's clock, pin and I2C2 set-up, in a child.
json after_i2c2_init(const std::function<void(json&)>& probe) {
    return board_test::run_board({.run_for = 2 * sim::kPsPerS,
                                  .bring_up =
                                      [] {
                                          sim::install_vectors();
                                          HAL_Init();
                                          SystemClock_Config();
                                          MX_GPIO_Init();
                                          MX_I2C2_Init();
                                      },
                                  .probe = probe});
}

double now_us() {
    return sim::to_seconds(sim::Board::get().cpu().now()) * 1e6;
}

class I2c2Transfer : public ::testing::TestWithParam<Transfer> {};

// 400 kHz: START, then nine clocks of the address with no acknowledge, then
// STOP, which frees the bus so that the next call finds it idle.
TEST_P(I2c2Transfer, EndsInAnUnansweredAddress) {
    const Call call = GetParam().call;
    const json r = after_i2c2_init([&](json& out) {
        const double t0 = now_us();
        out["status"] = call(10);
        out["took_us"] = now_us() - t0;
        out["error"] = hi2c2.ErrorCode;
        out["state"] = hi2c2.State;
        out["locked"] = hi2c2.Lock == HAL_LOCKED;
        out["again"] = call(10);
        out["again_error"] = hi2c2.ErrorCode;
    });
    EXPECT_EQ(r["status"], HAL_ERROR);
    EXPECT_EQ(r["error"], HAL_I2C_ERROR_AF);
    EXPECT_EQ(r["state"], HAL_I2C_STATE_READY);
    EXPECT_EQ(r["locked"], false);
    EXPECT_GT(r["took_us"].get<double>(), 9 * 2.5);  // nine 2.5 us clocks at least
    EXPECT_LT(r["took_us"].get<double>(), 100.0);
    EXPECT_EQ(r["again"], HAL_ERROR);
    EXPECT_EQ(r["again_error"], HAL_I2C_ERROR_AF);
}

INSTANTIATE_TEST_SUITE_P(Calls, I2c2Transfer, ::testing::ValuesIn(kTransfers), named_case::by_name);

TEST(I2c2, BusyHandleOrBusAndATimeoutTooShortForTheStart) {
    const json r = after_i2c2_init([](json& out) {
        // A handle in use: refused at once.
        hi2c2.State = HAL_I2C_STATE_BUSY_TX;
        double t0 = now_us();
        out["busy_handle"] = HAL_I2C_Master_Transmit(&hi2c2, 0xA0, g_buf, 1, 10);
        out["busy_handle_us"] = now_us() - t0;
        hi2c2.State = HAL_I2C_STATE_READY;

        // The bus held by someone else: the HAL waits 25 ms for it, then gives up.
        auto& controller = sim::Board::get().model<sim::I2cController>("I2C2");
        controller.hold_bus(true);
        t0 = now_us();
        out["busy_bus"] = HAL_I2C_Mem_Read(&hi2c2, 0xA0, 0x3D, I2C_MEMADD_SIZE_8BIT, g_buf, 1, 10);
        out["busy_bus_ms"] = (now_us() - t0) / 1000;
        out["busy_bus_error"] = hi2c2.ErrorCode;
        out["busy_bus_state"] = hi2c2.State;
        controller.hold_bus(false);

        // A timeout of 0 ms: the START condition cannot have gone out yet.
        out["no_time"] = HAL_I2C_Master_Transmit(&hi2c2, 0xA0, g_buf, 1, 0);
        out["no_time_error"] = hi2c2.ErrorCode;
    });
    EXPECT_EQ(r["busy_handle"], HAL_BUSY);
    EXPECT_LT(r["busy_handle_us"].get<double>(), 1.0);
    // The address phase never began: the START request is still pending.
    EXPECT_EQ(r["no_time"], HAL_ERROR);
    EXPECT_EQ(r["no_time_error"], HAL_I2C_WRONG_START);
    EXPECT_EQ(r["busy_bus"], HAL_BUSY);
    EXPECT_GE(r["busy_bus_ms"].get<double>(), 25.0);
    EXPECT_LT(r["busy_bus_ms"].get<double>(), 28.0);
    EXPECT_EQ(r["busy_bus_error"], HAL_I2C_ERROR_TIMEOUT);
    EXPECT_EQ(r["busy_bus_state"], HAL_I2C_STATE_READY);
}

}  // namespace

// The JY901 register library over a scripted read function. The library keeps its
// settings for the life of the process, so the unconfigured cases run in a child process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "named_case.hpp"
#include "sim/testing/fresh_process.hpp"
#include "wit_c_sdk.h"

namespace {

struct Transfer {
    uint8_t addr;
    uint8_t reg;
    uint32_t len;
};

std::vector<Transfer> g_transfers;
std::vector<std::pair<uint32_t, uint32_t>> g_updates;
std::vector<uint8_t> g_bytes;  // what the device returns
int32_t g_read_result = 1;

int32_t scripted_read(uint8_t addr, uint8_t reg, uint8_t* val, uint32_t len) {
    g_transfers.push_back({addr, reg, len});
    for (uint32_t i = 0; i < len; i++) {
        val[i] = i < g_bytes.size() ? g_bytes[i] : 0x5A;
    }
    return g_read_result;
}

int32_t unused_write(uint8_t, uint8_t, uint8_t*, uint32_t) {
    ADD_FAILURE() << "nothing writes registers";
    return 0;
}

void record_update(uint32_t reg, uint32_t num) {
    g_updates.emplace_back(reg, num);
}

void no_delay(uint16_t) {}

// Before any set-up: protocol 0 (plain serial), nothing registered. The child is a fork,
// so this suite must run before any other configures the library in this process.
TEST(WitUnconfigured, ReadsEndInErrorCodesWithoutAnyCall) {
    const auto child = sim::testing::in_fresh_process([] {
        std::string out;
        out += std::to_string(WitReadReg(Roll, 4)) + " ";
        out += std::to_string(WitReadReg(Roll, 5)) + " ";
        WitInit(WIT_PROTOCOL_I2C, 0x50);
        out += std::to_string(WitReadReg(Roll, 4)) + " ";  // no read function yet
        WitI2cFuncRegister(unused_write, scripted_read);
        g_bytes = {0x11, 0x22};
        out += std::to_string(WitReadReg(Roll, 1)) + " ";  // no callback yet
        out += std::to_string(sReg[Roll]) + " " + std::to_string(g_transfers.size());
        return out;
    });
    ASSERT_TRUE(child.ok) << child.failure;
    // -5 -6; then -5 (no read function); then -5 after a transfer, mirror untouched.
    EXPECT_EQ(child.payload, "-5 -6 -5 -5 0 1");
}

class WitLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        g_transfers.clear();
        g_updates.clear();
        g_bytes.clear();
        g_read_result = 1;
        std::memset(sReg, 0, sizeof(sReg));
        ASSERT_EQ(WitInit(WIT_PROTOCOL_I2C, 0x50), WIT_HAL_OK);
        ASSERT_EQ(WitI2cFuncRegister(unused_write, scripted_read), WIT_HAL_OK);
        ASSERT_EQ(WitRegisterCallBack(record_update), WIT_HAL_OK);
        ASSERT_EQ(WitDelayMsRegister(no_delay), WIT_HAL_OK);
    }
};

TEST_F(WitLibrary, ReadsFourRegistersLowByteFirstAndReportsThemOnce) {
    g_bytes = {0x34, 0x12, 0x00, 0x80, 0xFF, 0xFF, 0x10, 0x09};
    EXPECT_EQ(WitReadReg(Roll, 4), WIT_HAL_OK);
    ASSERT_EQ(g_transfers.size(), 1u);
    EXPECT_EQ(g_transfers[0].addr, 0xA0);
    EXPECT_EQ(g_transfers[0].reg, 0x3D);
    EXPECT_EQ(g_transfers[0].len, 8u);
    EXPECT_EQ(sReg[0x3d], 0x1234);
    EXPECT_EQ(sReg[0x3e], -32768);
    EXPECT_EQ(sReg[0x3f], -1);
    EXPECT_EQ(sReg[0x40], 0x0910);
    EXPECT_EQ(sReg[0x3c], 0);
    EXPECT_EQ(sReg[0x41], 0);
    ASSERT_EQ(g_updates.size(), 1u);
    EXPECT_EQ(g_updates[0], std::make_pair(0x3du, 4u));
}

struct RangeCase : named_case::Case {
    uint32_t reg, num;
    int32_t rc;
    uint32_t transfer_len;  // 0xFFFFFFFF: no transfer
};

constexpr uint32_t kNone = 0xFFFFFFFF;

class WitRange : public WitLibrary, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(WitRange, RefusesRunsPastTheMirrorOrTheBufferBeforeAnyTransfer) {
    const RangeCase& c = GetParam();
    EXPECT_EQ(WitReadReg(c.reg, c.num), c.rc);
    if (c.transfer_len == kNone) {
        EXPECT_TRUE(g_transfers.empty());
        EXPECT_TRUE(g_updates.empty());
    } else {
        ASSERT_EQ(g_transfers.size(), 1u);
        EXPECT_EQ(g_transfers[0].len, c.transfer_len);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WitRange,
    ::testing::Values(RangeCase{"EndsAt0x8E", 0x8c, 3, WIT_HAL_OK, 6},
                      RangeCase{"Passes0x8E", 0x8d, 3, WIT_HAL_INVAL, kNone},
                      RangeCase{"InitFlagRegister", 0x8f, 1, WIT_HAL_INVAL, kNone},
                      RangeCase{"Whole256ByteBuffer", 0, 128, WIT_HAL_OK, 256},
                      RangeCase{"OneRegisterTooMany", 0, 129, WIT_HAL_NOMEM, kNone},
                      RangeCase{"ZeroRegisters", 0x3d, 0, WIT_HAL_OK, 0},
                      RangeCase{"SumWrapsPast2To32", 0x10, 0xFFFFFFF8u, WIT_HAL_INVAL, kNone},
                      RangeCase{"HugeStartRegister", 0xFFFFFFF0u, 0x20, WIT_HAL_INVAL, kNone}),
    named_case::by_name);

TEST_F(WitLibrary, AZeroRegisterReadStoresNothingAndStillCallsBack) {
    EXPECT_EQ(WitReadReg(0x3d, 0), WIT_HAL_OK);
    ASSERT_EQ(g_updates.size(), 1u);
    EXPECT_EQ(g_updates[0], std::make_pair(0x3du, 0u));
}

class WitFailedTransfer : public WitLibrary, public ::testing::WithParamInterface<int32_t> {};

TEST_P(WitFailedTransfer, ReturnsOkButStoresNothingAndCallsNothing) {
    g_read_result = GetParam();
    g_bytes = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(WitReadReg(Roll, 4), WIT_HAL_OK);
    EXPECT_EQ(g_transfers.size(), 1u);
    EXPECT_TRUE(g_updates.empty());
    EXPECT_EQ(sReg[Roll], 0);
    EXPECT_EQ(sReg[TEMP], 0);
}

INSTANTIATE_TEST_SUITE_P(Results, WitFailedTransfer, ::testing::Values(0, 2, -1));

TEST_F(WitLibrary, RefusedRegistrationsKeepWhatWasStored) {
    EXPECT_EQ(WitInit(4, 0x51), WIT_HAL_INVAL);
    EXPECT_EQ(WitI2cFuncRegister(nullptr, scripted_read), WIT_HAL_INVAL);
    EXPECT_EQ(WitI2cFuncRegister(unused_write, nullptr), WIT_HAL_INVAL);
    EXPECT_EQ(WitRegisterCallBack(nullptr), WIT_HAL_INVAL);
    EXPECT_EQ(WitDelayMsRegister(nullptr), WIT_HAL_INVAL);
    // Still I2C at 0x50, with the same read function and callback.
    g_bytes = {0x01, 0x00};
    EXPECT_EQ(WitReadReg(Yaw, 1), WIT_HAL_OK);
    ASSERT_EQ(g_transfers.size(), 1u);
    EXPECT_EQ(g_transfers[0].addr, 0xA0);
    EXPECT_EQ(sReg[Yaw], 1);
    EXPECT_EQ(g_updates.size(), 1u);
}

TEST_F(WitLibrary, OtherProtocolsHaveNoTransport) {
    struct Case {
        uint32_t protocol, num;
        int32_t rc;
    };
    for (const Case& c :
         {Case{WIT_PROTOCOL_NORMAL, 4, WIT_HAL_EMPTY}, Case{WIT_PROTOCOL_NORMAL, 5, WIT_HAL_INVAL},
          Case{WIT_PROTOCOL_MODBUS, 40, WIT_HAL_EMPTY}, Case{WIT_PROTOCOL_CAN, 3, WIT_HAL_EMPTY},
          Case{WIT_PROTOCOL_CAN, 4, WIT_HAL_INVAL}}) {
        ASSERT_EQ(WitInit(c.protocol, 0x50), WIT_HAL_OK);
        EXPECT_EQ(WitReadReg(Roll, c.num), c.rc) << c.protocol << " " << c.num;
    }
    EXPECT_TRUE(g_transfers.empty());
}

}  // namespace

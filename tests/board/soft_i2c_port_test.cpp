// The bit-banged I2C port on the wire model with the IMU: the engine's time base
// and primitives, the transactions and the frame operations, checked on the
// wires as a logic analyser sees them.
//
// The port's functions have file scope; this test compiles the port's source into
// itself to reach them, with the console captured.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "named_case.hpp"
#include "i2c_board.hpp"
#include "i2c_wave.hpp"

namespace {
std::string g_console;
int capture_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int capture_printf(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_console += text;
    return n;
}
}  // namespace

#define printf capture_printf
#include "hal/stm32f4/soft_i2c/hal_soft_i2c.cpp"
#undef printf

namespace {

using i2c_test::decode;
using i2c_test::json;
using i2c_test::WaveRecorder;
using Tokens = std::vector<std::string>;

sim::Board& board() {
    return sim::Board::get();
}

sim::Imu& imu() {
    return board().imu();
}

WaveRecorder& record() {
    static WaveRecorder* wave = new WaveRecorder(board().i2c_scl(), board().i2c_sda());
    wave->clear(board().i2c_scl().level(), board().i2c_sda().level());
    return *wave;
}

uint64_t cycles() {
    return board().cpu().cycles();
}

bsp_soft_i2c_t* bus0() {
    return bsp_soft_i2c_get_handle(0);
}

void set_imu_angles() {
    imu().set_register(0x3d, 0x1234);
    imu().set_register(0x3e, -16384);
    imu().set_register(0x3f, -1);
    imu().set_register(0x40, 2345);
}

const Tokens kSensorRead = {"S",   "A0+", "3D+", "Sr",  "A1+", "34+", "12+",
                            "00+", "C0+", "FF+", "FF+", "29+", "09-", "P"};

// ---------------------------------------------------------------- time base

TEST(SoftI2cEngine, PinPositionIsTheLowestSetBit) {
    const json r = i2c_test::on_bus([](json& out) {
        for (uint16_t mask : {0x0001, 0x1000, 0x4000, 0x8000, 0x5000, 0x0000}) {
            out["pos"].push_back(__pin_pos(mask));
        }
    });
    EXPECT_EQ(r["pos"], json({0, 12, 14, 15, 12, 32}));
}

TEST(SoftI2cEngine, DeadlineLengthsAndCap) {
    const json r = i2c_test::on_bus([](json& out) {
        dwt_init();
        out["unarmed_expired"] = txn_timeout_expired();
        for (uint32_t ms : {0U, 1U, 1000U, 25000U, 30000U}) {
            txn_timeout_set(ms);
            out["ticks"].push_back(txn_timeout_ticks);
        }
    });
    EXPECT_EQ(r["unarmed_expired"], 0);
    EXPECT_EQ(r["ticks"], json({168000000, 168000, 168000000, 4200000000U, 4200000000U}));
}

TEST(SoftI2cEngine, AnUnarmedDeadlineNeverExpires) {
    const json r = i2c_test::on_bus(
        [](json& out) {
            dwt_init();
            const sim::Picos until = board().cpu().now() + 30 * sim::kPsPerS;  // past a CYCCNT wrap
            int expired = 0;
            while (board().cpu().now() < until) {
                board().cpu().consume(1000000);
                expired |= txn_timeout_expired();
            }
            out["expired"] = expired;
        },
        {}, 40 * sim::kPsPerS);
    EXPECT_EQ(r["expired"], 0);
}

// A deadline or a delay spanning a wrap of CYCCNT lasts as long as one that does not.
TEST(SoftI2cEngine, DeadlineAndDelayAcrossACounterWrap) {
    const json r = i2c_test::on_bus([](json& out) {
        dwt_init();
        for (uint32_t start : {0x10000000U, 0xFFFFFF00U}) {
            DWT->CYCCNT = start;
            uint64_t t0 = cycles();
            txn_timeout_set(2);
            while (txn_timeout_expired() == 0) {
            }
            out["deadline"].push_back(cycles() - t0);
            DWT->CYCCNT = start;
            t0 = cycles();
            delay_us(10);
            out["delay"].push_back(cycles() - t0);
        }
        const uint64_t t0 = cycles();
        delay_us(0);
        out["delay0"] = cycles() - t0;
    });
    for (int i = 0; i < 2; i++) {
        // 2 ms = 336000 cycles; each poll is one read of CYCCNT.
        EXPECT_GE(r["deadline"][i].get<uint64_t>(), 336000u);
        EXPECT_LE(r["deadline"][i].get<uint64_t>(), 336000u + 32);
        EXPECT_GE(r["delay"][i].get<uint64_t>(), 1680u);
        EXPECT_LE(r["delay"][i].get<uint64_t>(), 1680u + 16);
    }
    EXPECT_LE(r["delay0"].get<uint64_t>(), 8u);
}

// ---------------------------------------------------------------- primitives

struct StartCase : named_case::Case {
    sim::Picos sda_held_for;  // from the START on
    sim::Picos scl_held_for;
    int rc;
    std::string console;
    Tokens tokens;
};

class SoftI2cStart : public ::testing::TestWithParam<StartCase> {};

TEST_P(SoftI2cStart, FreesABusyBusOrGivesUpAtTheDeadline) {
    const StartCase& c = GetParam();
    const json r = i2c_test::on_bus([&c](json& out) {
        dwt_init();
        const sim::Picos now = board().cpu().now();
        if (c.sda_held_for > 0) {
            imu().hold_sda_low(now, now + c.sda_held_for);
        }
        if (c.scl_held_for > 0) {
            imu().hold_scl_low(now, now + c.scl_held_for);
        }
        board().cpu().consume(10);
        WaveRecorder& wave = record();
        g_console.clear();
        txn_timeout_set(5);
        const uint64_t t0 = cycles();
        out["rc"] = i2c_start(bus0());
        out["ms"] = static_cast<double>(cycles() - t0) / 168000.0;
        out["console"] = g_console;
        out["tokens"] = decode(wave);
    });
    EXPECT_EQ(r["rc"], c.rc);
    EXPECT_EQ(r["console"], c.console);
    EXPECT_EQ(r["tokens"], json(c.tokens));
    if (c.scl_held_for > 0) {
        EXPECT_NEAR(r["ms"].get<double>(), 5.0, 0.01);  // the deadline, from its arming
    }
}

const std::string kSclTimeout = "[i2c] scl_wait_high timeout port=0x40021400 pin=0x4000\r\n";
const std::string kBusy = "[i2c] START: bus busy, trying recovery\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, SoftI2cStart,
    ::testing::Values(
        StartCase{"FreeBus", 0, 0, 0, "", {"S"}},
        // Let go during the nine pulses: recovery ends in START+STOP, then the START.
        // The recovery's own START and STOP come before the START asked for.
        StartCase{"SdaLetGoDuringRecovery", 40 * sim::kPsPerUs, 0, 0, kBusy, {"S", "P", "S"}},
        StartCase{"SdaHeldThroughRecovery",
                  sim::kPsPerMs,
                  0,
                  -1,
                  kBusy + "[i2c] START: bus busy after recovery\r\n",
                  {}},
        StartCase{"SclHeldPastTheDeadline",
                  0,
                  10 * sim::kPsPerMs,
                  -1,
                  kSclTimeout + "[i2c] START: scl_wait_high timeout\r\n",
                  {}}),
    named_case::by_name);

TEST(SoftI2cEngine, WriteByteSendsMsbFirstThenReleasesForTheAck) {
    const json r = i2c_test::on_bus([](json& out) {
        dwt_init();
        txn_timeout_set(0);
        i2c_start(bus0());
        WaveRecorder& wave = record();
        out["rc"] = i2c_write_byte(bus0(), 0xA0);
        out["bits"] = i2c_test::sda_at_rises(wave);
        out["scl"] = board().i2c_scl().level();
        out["sda"] = board().i2c_sda().level();
    });
    EXPECT_EQ(r["rc"], 0);  // the IMU acknowledged its address
    EXPECT_EQ(r["bits"], json({1, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r["scl"], 0);
}

TEST(SoftI2cEngine, ReadByteAcknowledgeSense) {
    const json r = i2c_test::on_bus([](json& out) {
        set_imu_angles();
        dwt_init();
        txn_timeout_set(0);
        i2c_start(bus0());
        i2c_write_byte(bus0(), 0xA0);
        i2c_write_byte(bus0(), 0x3D);
        i2c_rep_start(bus0());
        i2c_write_byte(bus0(), 0xA1);
        for (int nack : {0, 1}) {
            WaveRecorder& wave = record();
            uint8_t byte = 0;
            out["rc"].push_back(i2c_read_byte(bus0(), nack, &byte));
            out["byte"].push_back(byte);
            out["ack_bit"].push_back(i2c_test::sda_at_rises(wave).back());
            out["released_after"].push_back((GPIOF->ODR >> 12) & 1U);
        }
        i2c_stop(bus0());
    });
    EXPECT_EQ(r["rc"], json({0, 0}));
    EXPECT_EQ(r["byte"], json({0x34, 0x12}));
    EXPECT_EQ(r["ack_bit"], json({0, 1}));  // ACK drives SDA low, NACK leaves it released
    EXPECT_EQ(r["released_after"], json({1, 1}));
}

// A line found high passes even after the deadline: only waits can fail. On a
// bus with capacitance SCL is still rising when first sampled, so the first
// wait after the deadline fails.
TEST(SoftI2cEngine, AByteAfterTheDeadlinePassesOnlyIfSclRisesAtOnce) {
    for (const auto& [pf, rc] : {std::pair{0.0, 0}, std::pair{50.0, -1}}) {
        sim::BoardConfig config;
        config.i2c.capacitance_pf = pf;
        const json r = i2c_test::on_bus(
            [](json& out) {
                dwt_init();
                txn_timeout_set(1);
                i2c_start(bus0());
                board().cpu().consume(2 * 168000);
                out["expired"] = txn_timeout_expired();
                out["rc"] = i2c_write_byte(bus0(), 0xA0);
            },
            config);
        EXPECT_EQ(r["expired"], 1) << pf << " pF";
        EXPECT_EQ(r["rc"], rc) << pf << " pF";
    }
}

// ---------------------------------------------------------------- transactions

struct MemReadCase : named_case::Case {
    uint16_t dev_addr, mem_addr, mem_addr_size, size;
    Tokens tokens;
};

class SoftI2cMemRead : public ::testing::TestWithParam<MemReadCase> {};

TEST_P(SoftI2cMemRead, PutsTheRegisterReadOnTheBus) {
    const MemReadCase& c = GetParam();
    const json r = i2c_test::on_bus([&c](json& out) {
        set_imu_angles();
        hal_soft_i2c_init(0);
        WaveRecorder& wave = record();
        g_console.clear();
        uint8_t buf[8] = {};
        out["rc"] =
            hal_soft_i2c_mem_read(0, c.dev_addr, c.mem_addr, c.mem_addr_size, buf, c.size, 0);
        out["ticks"] = txn_timeout_ticks;
        out["tokens"] = decode(wave);
        out["console"] = g_console;
        out["buf"] = std::vector<int>(buf, buf + c.size);
    });
    EXPECT_EQ(r["rc"], 0);
    EXPECT_EQ(r["ticks"], 168000000);
    EXPECT_EQ(r["tokens"], json(c.tokens));
    EXPECT_EQ(r["console"], "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SoftI2cMemRead,
    ::testing::Values(
        MemReadCase{"SensorRun", 0xA0, 0x3D, 1, 8, kSensorRead},
        MemReadCase{
            "OneByteEndsInNack", 0xA0, 0x3D, 1, 1, {"S", "A0+", "3D+", "Sr", "A1+", "34-", "P"}},
        MemReadCase{"HighBitsOfTheAddressNeverReachTheBus",
                    0x1A1,
                    0x3E,
                    1,
                    2,
                    {"S", "A0+", "3E+", "Sr", "A1+", "00+", "C0-", "P"}},
        MemReadCase{"TwoByteRegisterAddress",
                    0xA0,
                    0x1234,
                    2,
                    1,
                    {"S", "A0+", "12+", "34+", "Sr", "A1+", "00-", "P"}},
        MemReadCase{"Size1SendsTheLowByteAlone",
                    0xA0,
                    0x123D,
                    1,
                    1,
                    {"S", "A0+", "3D+", "Sr", "A1+", "34-", "P"}},
        MemReadCase{"Size0SendsTheLowByteAlone",
                    0xA0,
                    0x123D,
                    0,
                    1,
                    {"S", "A0+", "3D+", "Sr", "A1+", "34-", "P"}},
        MemReadCase{"Size16SendsTheLowByteAlone",
                    0xA0,
                    0x123D,
                    16,
                    1,
                    {"S", "A0+", "3D+", "Sr", "A1+", "34-", "P"}},
        // Yaw's low byte starts with a 1: the device leaves SDA free for the STOP.
        MemReadCase{"NoDataBytes", 0xA0, 0x3F, 1, 0, {"S", "A0+", "3F+", "Sr", "A1+", "P"}}),
    named_case::by_name);

// Each failure of mem_read: the clock is held low from the Nth falling edge of SCL on
// (counted from the START), past a 5 ms deadline; or no device answers. A STOP sent
// while the clock is still held never shows on the wire.
struct FailCase : named_case::Case {
    int hold_from_fall;  // 0: no hold
    bool present;
    std::string console;
    Tokens tokens;
    std::vector<int> lines_after;  // SCL, SDA once the hold is over
};

class SoftI2cMemReadFails : public ::testing::TestWithParam<FailCase> {};

TEST_P(SoftI2cMemReadFails, ReportsWhereItStoppedAndEndsWithAStop) {
    const FailCase& c = GetParam();
    const json r = i2c_test::on_bus([&c](json& out) {
        set_imu_angles();
        imu().set_present(c.present);
        hal_soft_i2c_init(0);
        int falls = 0;
        board().i2c_scl().listen([&c, &falls](int level, sim::Picos at) {
            if (level == 0 && ++falls == c.hold_from_fall) {
                imu().hold_scl_low(at, at + 8 * sim::kPsPerMs);
            }
        });
        WaveRecorder& wave = record();
        g_console.clear();
        uint8_t buf[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        out["rc"] = hal_soft_i2c_mem_read(0, 0xA0, 0x3D, 1, buf, 8, 5);
        // Let any hold end, then look at the lines.
        board().cpu().consume(10 * 168000);
        out["console"] = g_console;
        out["tokens"] = decode(wave);
        out["buf"] = std::vector<int>(buf, buf + 8);
        out["lines"] = {board().i2c_scl().level(), board().i2c_sda().level()};
    });
    EXPECT_EQ(r["rc"], -1);
    EXPECT_EQ(r["console"], c.console);
    EXPECT_EQ(r["tokens"], json(c.tokens));
    EXPECT_EQ(r["lines"], json(c.lines_after));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SoftI2cMemReadFails,
    ::testing::Values(FailCase{"NoDevice",
                               0,
                               false,
                               "[mem_read] NACK at addr_write dev_addr=160 (bus=0xa0)\r\n",
                               {"S", "A0-", "P"},
                               {1, 1}},
                      FailCase{"ClockHeldAtTheRegisterByte",
                               10,
                               true,
                               kSclTimeout + "[mem_read] NACK at reg_addr_write reg=0x3d\r\n",
                               {"S", "A0+"},
                               {1, 1}},
                      FailCase{"ClockHeldAtTheRepeatedStart",
                               19,
                               true,
                               kSclTimeout + "[mem_read] restart failed\r\n",
                               {"S", "A0+", "3D+"},
                               {1, 1}},
                      FailCase{
                          "ClockHeldAtTheReadAddress",
                          20,
                          true,
                          kSclTimeout + "[mem_read] NACK at addr_read dev_addr=160 (bus=0xa1)\r\n",
                          {"S", "A0+", "3D+", "Sr"},
                          {1, 1}},
                      // Cut off inside a byte it sends, the device keeps SDA for its next bit
                      // (0x00's first, a 0): the next START finds the bus busy and recovers it.
                      FailCase{"ClockHeldInTheThirdDataByte",
                               47,
                               true,
                               kSclTimeout + "[mem_read] i2c_read_byte timeout byte=2\r\n",
                               {"S", "A0+", "3D+", "Sr", "A1+", "34+", "12+"},
                               {1, 0}}),
    named_case::by_name);

TEST(SoftI2cTransactions, WritesAndPlainReads) {
    const json r = i2c_test::on_bus([](json& out) {
        set_imu_angles();
        hal_soft_i2c_init(0);
        const uint8_t data[] = {0x3D, 0x78, 0x56};  // register pointer, then Roll low/high
        auto run = [&](const char* name, auto op) {
            WaveRecorder& wave = record();
            out[name]["rc"] = op();
            out[name]["tokens"] = decode(wave);
        };
        run("write_size0", [&] { return hal_soft_i2c_write(0, 0xA0, data, 0, 0); });
        run("write", [&] { return hal_soft_i2c_write(0, 0xA1, data, 3, 0); });
        run("mem_write_size0",
            [&] { return hal_soft_i2c_mem_write(0, 0xA0, 0x3D, 1, data, 0, 0); });
        run("read1", [&] {
            uint8_t b = 0;
            return hal_soft_i2c_read(0, 0xA0, &b, 1, 0);
        });
        run("mem_write", [&] { return hal_soft_i2c_mem_write(0, 0xA0, 0x3E, 1, data + 1, 2, 0); });
        out["roll"] = imu().reg(0x3d);
        out["pitch"] = imu().reg(0x3e);
        run("read_null", [&] { return hal_soft_i2c_read(0, 0xA0, nullptr, 1, 0); });
    });
    EXPECT_EQ(r["write_size0"]["rc"], -1);
    EXPECT_EQ(r["write_size0"]["tokens"], json::array());
    EXPECT_EQ(r["write"]["rc"], 0);
    EXPECT_EQ(r["write"]["tokens"], json({"S", "A0+", "3D+", "78+", "56+", "P"}));
    EXPECT_EQ(r["mem_write_size0"]["rc"], 0);
    EXPECT_EQ(r["mem_write_size0"]["tokens"], json({"S", "A0+", "3D+", "P"}));
    // A read without a register address reads where the pointer was left: 0x3D (just
    // written as 0x5678) by the zero-byte mem_write.
    EXPECT_EQ(r["read1"]["tokens"], json({"S", "A1+", "78-", "P"}));
    EXPECT_EQ(r["mem_write"]["tokens"], json({"S", "A0+", "3E+", "78+", "56+", "P"}));
    EXPECT_EQ(r["roll"], 0x5678);
    EXPECT_EQ(r["pitch"], 0x5678);
    EXPECT_EQ(r["read_null"]["rc"], -1);
    EXPECT_EQ(r["read_null"]["tokens"], json::array());
}

// No device: every transaction ends at its unacknowledged address byte with a STOP.
TEST(SoftI2cTransactions, WithoutADeviceEachStopsAtTheAddress) {
    const json r = i2c_test::on_bus([](json& out) {
        imu().set_present(false);
        hal_soft_i2c_init(0);
        uint8_t data[] = {0x3D};
        const std::pair<const char*, std::function<int()>> ops[] = {
            {"write", [&] { return hal_soft_i2c_write(0, 0xA0, data, 1, 0); }},
            {"read", [&] { return hal_soft_i2c_read(0, 0xA0, data, 1, 0); }},
            {"mem_write", [&] { return hal_soft_i2c_mem_write(0, 0xA0, 0x3D, 1, data, 1, 0); }}};
        for (const auto& [name, op] : ops) {
            WaveRecorder& wave = record();
            out[name] = {op(), decode(wave)};
        }
    });
    EXPECT_EQ(r["write"], json({-1, {"S", "A0-", "P"}}));
    EXPECT_EQ(r["read"], json({-1, {"S", "A1-", "P"}}));
    EXPECT_EQ(r["mem_write"], json({-1, {"S", "A0-", "P"}}));
}

// Failures past the address byte: the clock held from the address's acknowledge on
// (SCL's tenth fall, counting the START's) past the 5 ms deadline, or SDA held low so
// that no START can be made; a 16-bit register address that goes through.
TEST(SoftI2cTransactions, MidTransferFailuresEndTheTransaction) {
    const json r = i2c_test::on_bus([](json& out) {
        set_imu_angles();
        hal_soft_i2c_init(0);
        int falls = 0, hold_from = 0;
        board().i2c_scl().listen([&](int level, sim::Picos at) {
            if (level == 0 && ++falls == hold_from) {
                imu().hold_scl_low(at, at + 8 * sim::kPsPerMs);
            }
        });
        uint8_t data[2] = {0x3D, 0x00};
        const std::tuple<const char*, int, bool, std::function<int()>> ops[] = {
            {"write_data", 10, false, [&] { return hal_soft_i2c_write(0, 0xA0, data, 2, 5); }},
            {"mem_read_high_byte", 10, false,
             [&] { return hal_soft_i2c_mem_read(0, 0xA0, 0x3D, 2, data, 1, 5); }},
            {"mem_read_no_start", 0, true,
             [&] { return hal_soft_i2c_mem_read(0, 0xA0, 0x3D, 1, data, 1, 5); }},
            {"mem_write_16_bit", 0, false,
             [&] { return hal_soft_i2c_mem_write(0, 0xA0, 0x003D, 2, data, 0, 5); }},
            // Last: cut off in a byte it sends, the device keeps SDA for its next bit.
            {"read_data", 10, false, [&] { return hal_soft_i2c_read(0, 0xA0, data, 2, 5); }}};
        for (const auto& [name, hold, hold_sda, op] : ops) {
            const sim::Picos now = board().cpu().now();
            if (hold_sda) {
                imu().hold_sda_low(now, now + 8 * sim::kPsPerMs);
            }
            falls = 0;
            hold_from = hold;
            g_console.clear();
            WaveRecorder& wave = record();
            const int rc = op();
            const Tokens tokens = decode(wave);
            out[name] = {rc, g_console,
                         tokens.size() > 3 ? Tokens(tokens.begin(), tokens.begin() + 4) : tokens};
            board().cpu().consume(10 * 168000);  // the holds end
        }
    });
    EXPECT_EQ(r["write_data"], json({-1, kSclTimeout, {"S", "A0+"}}));
    EXPECT_EQ(r["read_data"], json({-1, kSclTimeout, {"S", "A1+"}}));
    EXPECT_EQ(r["mem_read_high_byte"], json({-1, kSclTimeout, {"S", "A0+"}}));
    EXPECT_EQ(r["mem_read_no_start"][0], -1);
    EXPECT_TRUE(
        r["mem_read_no_start"][1].get<std::string>().ends_with("[mem_read] i2c_start failed\r\n"));
    EXPECT_EQ(r["mem_write_16_bit"], json({0, "", {"S", "A0+", "00+", "3D+"}}));
}

// ---------------------------------------------------------------- frame operations

TEST(SoftI2cFrames, SensorReadComposedOfFrames) {
    const json r = i2c_test::on_bus([](json& out) {
        set_imu_angles();
        out["init"] = hal_soft_i2c_init(0);
        WaveRecorder& wave = record();
        std::vector<int> rcs;
        rcs.push_back(hal_soft_i2c_start_frame(0));
        rcs.push_back(hal_soft_i2c_send_frame(0, 0xA0));
        rcs.push_back(hal_soft_i2c_wait_ack_frame(0));
        rcs.push_back(hal_soft_i2c_send_frame(0, 0x3D));
        rcs.push_back(hal_soft_i2c_wait_ack_frame(0));
        rcs.push_back(hal_soft_i2c_start_frame(0));
        rcs.push_back(hal_soft_i2c_send_frame(0, 0xA1));
        rcs.push_back(hal_soft_i2c_wait_ack_frame(0));
        for (int i = 0; i < 8; i++) {
            rcs.push_back(hal_soft_i2c_read_frame(0, i < 7 ? 1 : 0));
        }
        rcs.push_back(hal_soft_i2c_stop_frame(0));
        out["rcs"] = rcs;
        out["tokens"] = decode(wave);
        out["us"] = i2c_test::span_us(wave);
        out["imu_log"] = imu().log();
    });
    EXPECT_EQ(r["init"], 0);
    EXPECT_EQ(r["rcs"],
              json({0, 0, 0, 0, 0, 0, 0, 0, 0x34, 0x12, 0x00, 0xC0, 0xFF, 0xFF, 0x29, 0x09, 0}));
    EXPECT_EQ(r["tokens"], json(kSensorRead));
    EXPECT_EQ(r["imu_log"], json(kSensorRead));
    // Nominal 1328 µs from the delays alone; the pin accesses add a little.
    EXPECT_NEAR(r["us"].get<double>(), 1328.0, 5.0);
    std::printf("frame-composed sensor read: %.2f us on the bus\n", r["us"].get<double>());
}

TEST(SoftI2cFrames, NoDeviceReadsFfAndTheAckWaitGivesUpAfter10ms) {
    const json r = i2c_test::on_bus([](json& out) {
        imu().set_present(false);
        hal_soft_i2c_init(0);
        hal_soft_i2c_start_frame(0);
        hal_soft_i2c_send_frame(0, 0xA0);
        const uint64_t t0 = cycles();
        out["wait_ack"] = hal_soft_i2c_wait_ack_frame(0);
        out["wait_ms"] = static_cast<double>(cycles() - t0) / 168000.0;
        out["scl"] = board().i2c_scl().level();
        out["read"] = hal_soft_i2c_read_frame(0, 1);
    });
    EXPECT_EQ(r["wait_ack"], -2);
    EXPECT_GT(r["wait_ms"].get<double>(), 10.0);
    EXPECT_LT(r["wait_ms"].get<double>(), 10.01);
    EXPECT_EQ(r["scl"], 0);
    EXPECT_EQ(r["read"], 255);
}

TEST(SoftI2cFrames, SendFrameBitsAndAcknowledgeFrames) {
    const json r = i2c_test::on_bus([](json& out) {
        imu().set_present(false);
        hal_soft_i2c_init(0);
        WaveRecorder& wave = record();
        hal_soft_i2c_send_frame(0, 0xA1);
        out["bits"] = i2c_test::sda_at_rises(wave);
        out["after_send"] = {board().i2c_scl().level(), board().i2c_sda().level()};
        for (int ack : {1, 0}) {
            WaveRecorder& w = record();
            out["ack_rc"].push_back(hal_soft_i2c_send_ack_frame(0, ack));
            out["ack_bit"].push_back(i2c_test::sda_at_rises(w));
        }
    });
    EXPECT_EQ(r["bits"], json({1, 0, 1, 0, 0, 0, 0, 1}));
    EXPECT_EQ(r["after_send"], json({0, 1}));  // SCL low, the last bit still on SDA
    EXPECT_EQ(r["ack_rc"], json({0, 0}));
    EXPECT_EQ(r["ack_bit"], json({json({0}), json({1})}));
}

// Nominal phases from the delays alone; the pin accesses add tens of ns.
TEST(SoftI2cFrames, WaveformTimingsMatchTheNominalTable) {
    const json r = i2c_test::on_bus([](json& out) {
        set_imu_angles();
        hal_soft_i2c_init(0);
        uint8_t buf[2];
        WaveRecorder& wave = record();
        hal_soft_i2c_mem_read(0, 0xA0, 0x3D, 1, buf, 2, 0);
        out["txn"] = i2c_test::to_json(i2c_test::clocks(wave));
        WaveRecorder& frames = record();
        hal_soft_i2c_start_frame(0);
        hal_soft_i2c_send_frame(0, 0xA1);
        hal_soft_i2c_wait_ack_frame(0);
        hal_soft_i2c_read_frame(0, 1);
        hal_soft_i2c_stop_frame(0);
        out["frames"] = i2c_test::to_json(i2c_test::clocks(frames));
        WaveRecorder& rec = record();
        board().imu().hold_sda_low(board().cpu().now(), board().cpu().now() + sim::kPsPerS);
        board().cpu().consume(2);
        i2c_bus_recovery(bus0());
        out["recovery"] = i2c_test::to_json(i2c_test::clocks(rec));
    });
    auto check = [](const json& clocks, std::size_t from, std::size_t count, double low_us,
                    double high_us, const char* what) {
        ASSERT_GE(clocks.size(), from + count) << what;
        for (std::size_t i = from; i < from + count; i++) {
            EXPECT_NEAR(clocks[i][0].get<double>() / 1000.0, low_us, 0.5) << what << " clock " << i;
            EXPECT_NEAR(clocks[i][1].get<double>() / 1000.0, high_us, 0.5)
                << what << " clock " << i;
        }
    };
    // Transaction: 0xA0, 0x3D with their ack clocks (18), then after Sr: 0xA1 + ack (9),
    // two read bytes of 8 data clocks and one ack clock each.
    const json& txn = r["txn"];
    check(txn, 0, 18, 10.0, 5.0, "byte write");
    // clock 18 is the repeated START's own rise; clock 19..27 are 0xA1 and its ack.
    check(txn, 19, 9, 10.0, 5.0, "read address");
    check(txn, 28, 8, 5.0, 5.0, "byte read data");
    check(txn, 36, 1, 10.0, 5.0, "byte read ack");
    // Frames: 0xA1 (sent bits: low 3 + 2 µs, high 5; the first one's low phase is only its
    // 2 µs set-up), the ack wait (low 3 + 1 µs; high 3 µs, then 2 µs once SDA was found
    // low), then 8 read bits (low 5, high 10) and the ack (low 5, high 5).
    const json& frames = r["frames"];
    check(frames, 0, 1, 2.0, 5.0, "first sent bit");
    check(frames, 1, 7, 5.0, 5.0, "sent bit");
    check(frames, 8, 1, 4.0, 5.0, "ack wait");
    check(frames, 9, 8, 5.0, 10.0, "read bit");
    check(frames, 17, 1, 5.0, 5.0, "sent ack");
    check(r["recovery"], 0, 8, 5.0, 5.0, "recovery pulse");
}

// ---------------------------------------------------------------- init and channels

TEST(SoftI2cPort, InitStartsTheCounterEvenWhenTheBusStaysBusy) {
    const json r = i2c_test::on_bus([](json& out) {
        const sim::Picos now = board().cpu().now();
        imu().hold_sda_low(now, now + sim::kPsPerS);
        board().cpu().consume(2);
        out["rc"] = hal_soft_i2c_init(0);
        out["dwt"] = dwt_initialized;
        const uint32_t c0 = DWT->CYCCNT;
        board().cpu().consume(1000);
        out["counting"] = DWT->CYCCNT != c0;
    });
    EXPECT_EQ(r["rc"], -1);
    EXPECT_EQ(r["dwt"], 1);
    EXPECT_EQ(r["counting"], true);
}

TEST(SoftI2cPort, ChannelsOtherThanZeroTouchNothing) {
    const json r = i2c_test::on_bus([](json& out) {
        hal_soft_i2c_init(0);
        txn_timeout_set(7);
        WaveRecorder& wave = record();
        g_console.clear();
        uint8_t buf[2] = {};
        const uint32_t moder = GPIOF->MODER;
        for (int ch : {1, -1}) {
            const std::vector<int> rcs = {
                hal_soft_i2c_init(ch),
                hal_soft_i2c_write(ch, 0xA0, buf, 1, 0),
                hal_soft_i2c_read(ch, 0xA0, buf, 1, 0),
                hal_soft_i2c_mem_write(ch, 0xA0, 0x3D, 1, buf, 1, 0),
                hal_soft_i2c_mem_read(ch, 0xA0, 0x3D, 1, buf, 1, 0),
                hal_soft_i2c_start_frame(ch),
                hal_soft_i2c_send_frame(ch, 0xA0),
                hal_soft_i2c_wait_ack_frame(ch),
                hal_soft_i2c_stop_frame(ch),
                hal_soft_i2c_read_frame(ch, 1),
                hal_soft_i2c_send_ack_frame(ch, 1),
            };
            out["rcs"].push_back(rcs);
        }
        out["edges"] = wave.edges().size();
        out["console"] = g_console;
        out["ticks"] = txn_timeout_ticks;
        out["moder_same"] = GPIOF->MODER == moder;
    });
    const json all_fail = json(std::vector<int>(11, -1));
    EXPECT_EQ(r["rcs"], json({all_fail, all_fail}));
    EXPECT_EQ(r["edges"], 0);
    EXPECT_EQ(r["console"], "");
    EXPECT_EQ(r["ticks"], 7 * 168000);
    EXPECT_EQ(r["moder_same"], true);
}

}  // namespace

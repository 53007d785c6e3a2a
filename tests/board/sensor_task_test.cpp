// The IMU sensor task on the virtual board: the firmware boots with the IMU on the
// bit-banged bus; what the console shows, what reaches the sample queue, and the bus
// traffic of the task's transfer functions.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "named_case.hpp"
#include "app.h"
#include "board_probe.hpp"
#include "hal_soft_i2c.h"
#include "i2c_board.hpp"
#include "i2c_wave.hpp"
#include "sim/platform.hpp"
#include "soft_i2c_if.h"

int32_t IICreadBytes(uint8_t ucAddr, uint8_t ucReg, uint8_t* p_ucVal, uint32_t uiLen);

// Every put of the firmware passes through here on its way to the kernel
// (linked with --wrap=osMessageQueuePut).
namespace {
struct Put {
    imu_data_t record;
    uint8_t prio;
    uint32_t timeout;
    sim::Picos at;
};
std::vector<Put> g_puts;
}  // namespace

extern "C" osStatus_t __real_osMessageQueuePut(osMessageQueueId_t, const void*, uint8_t, uint32_t);
extern "C" osStatus_t __wrap_osMessageQueuePut(osMessageQueueId_t mq_id, const void* msg_ptr,
                                               uint8_t msg_prio, uint32_t timeout) {
    Put put{};
    std::memcpy(&put.record, msg_ptr, sizeof put.record);
    put.prio = msg_prio;
    put.timeout = timeout;
    put.at = sim::Board::get().cpu().now();
    g_puts.push_back(put);
    return __real_osMessageQueuePut(mq_id, msg_ptr, msg_prio, timeout);
}

namespace {

using board_test::json;

const std::string kStart = "[app_init] Hardware initialized\r\n[sensor_task] i2c init = 0\r\n";

struct Boot {
    std::string console;
    json puts = json::array();
    std::vector<double> start_ms;  // START conditions on the bus
};

Boot boot(const sim::BoardConfig& config, sim::Picos run_for) {
    json starts = json::array();  // filled in the child
    const json r = board_test::run_board(
        {.config = config,
         .run_for = run_for,
         .attach =
             [&starts](sim::Board& board) {
                 board.i2c_sda().listen([&starts, &board](int level, sim::Picos at) {
                     if (level == 0 && board.i2c_scl().level() == 1) {
                         starts.push_back(static_cast<double>(at) / 1e9);
                     }
                 });
             },
         .bring_up = sim::firmware_reset,
         .after =
             [&starts](json& out) {
                 out["puts"] = json::array();
                 for (const Put& p : g_puts) {
                     out["puts"].push_back(
                         {{"angle", {p.record.angle[0], p.record.angle[1], p.record.angle[2]}},
                          {"prio", p.prio},
                          {"timeout", p.timeout},
                          {"ms", static_cast<double>(p.at) / 1e9}});
                 }
                 out["console"] = board_test::console_json();
                 out["starts"] = starts;
             }});
    Boot b;
    // The sensor thread's lines only: the control thread prints its own start-up.
    std::istringstream all(board_test::text_of(r["console"]["bytes"]));
    for (std::string line; std::getline(all, line);) {
        if (line.rfind("[control_task]", 0) != 0) {
            b.console += line + "\n";
        }
    }
    b.puts = r["puts"];
    b.start_ms = r["starts"].get<std::vector<double>>();
    return b;
}

sim::BoardConfig with_raw(int16_t roll, int16_t pitch, int16_t yaw, int16_t temp) {
    sim::BoardConfig config;
    config.imu.roll = roll;
    config.imu.pitch = pitch;
    config.imu.yaw = yaw;
    config.imu.temp = temp;
    return config;
}

TEST(SensorTask, WorkedExampleOncePerPassAndQueued) {
    const Boot b = boot(with_raw(4660, -16384, -1, 2345), 1200 * sim::kPsPerMs);
    const std::string pass =
        "[sensor_task] raw data: 0x1234, 0xC000, 0xFFFF\n"
        "[sensor_task] angle: + 25.598, - 90.000, -  0.005\n"
        "[sensor_task] temp data: + 23.45\n";
    EXPECT_EQ(b.console, kStart + pass + pass);
    ASSERT_EQ(b.puts.size(), 2u);
    for (const json& put : b.puts) {
        // Exact single-precision products of the raw values and 180/32768.
        EXPECT_EQ(put["angle"][0].get<float>(), 25.59814453125f);
        EXPECT_EQ(put["angle"][1].get<float>(), -90.0f);
        EXPECT_EQ(put["angle"][2].get<float>(), -0.0054931640625f);
        EXPECT_EQ(put["prio"], 0);
        EXPECT_EQ(put["timeout"], 20);
    }
    const double period = b.puts[1]["ms"].get<double>() - b.puts[0]["ms"].get<double>();
    std::printf("sensor loop period with the IMU present: %.3f ms\n", period);
    EXPECT_NEAR(period, 512.0, 1.0);  // 500 ms sleep, the 1.33 ms read, three console lines
}

struct PassCase : named_case::Case {
    int16_t roll, pitch, yaw, temp;
    std::string lines;
};

class SensorTaskPass : public ::testing::TestWithParam<PassCase> {};

TEST_P(SensorTaskPass, PrintsTheRegistersAsTheConsoleLinesSay) {
    const PassCase& c = GetParam();
    const Boot b = boot(with_raw(c.roll, c.pitch, c.yaw, c.temp), 600 * sim::kPsPerMs);
    EXPECT_EQ(b.console, kStart + c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SensorTaskPass,
    ::testing::Values(PassCase{"QuarterTurnsAndLargest", 0x4000, -16384, 0x7FFF, 2345,
                               "[sensor_task] raw data: 0x4000, 0xC000, 0x7FFF\n"
                               "[sensor_task] angle: + 90.000, - 90.000, +179.994\n"
                               "[sensor_task] temp data: + 23.45\n"},
                      PassCase{"LevelAndColdest", 0, 0, -32768, -512,
                               "[sensor_task] raw data: 0x0000, 0x0000, 0x8000\n"
                               "[sensor_task] angle: -  0.000, -  0.000, -180.000\n"
                               "[sensor_task] temp data: -  5.12\n"},
                      PassCase{"ZeroTemperaturePrintsMinus", 1, -1, 0, 0,
                               "[sensor_task] raw data: 0x0001, 0xFFFF, 0x0000\n"
                               "[sensor_task] angle: +  0.005, -  0.005, -  0.000\n"
                               "[sensor_task] temp data: -  0.00\n"},
                      PassCase{"HundredthsOfADegree", 0, 0, 0, 5,
                               "[sensor_task] raw data: 0x0000, 0x0000, 0x0000\n"
                               "[sensor_task] angle: -  0.000, -  0.000, -  0.000\n"
                               "[sensor_task] temp data: +  0.05\n"},
                      // -32768 hundredths would not negate in 16 bits.
                      PassCase{"LowestTemperatureRegister", 0, 0, 0, -32768,
                               "[sensor_task] raw data: 0x0000, 0x0000, 0x0000\n"
                               "[sensor_task] angle: -  0.000, -  0.000, -  0.000\n"
                               "[sensor_task] temp data: -327.68\n"}),
    named_case::by_name);

TEST(SensorTask, WithoutTheImuNothingIsPrintedOrQueuedAndReadsRepeatEvery510ms) {
    sim::BoardConfig config;
    config.imu.present = false;
    const Boot b = boot(config, 2100 * sim::kPsPerMs);
    EXPECT_EQ(b.console, kStart);
    EXPECT_TRUE(b.puts.empty());
    ASSERT_GE(b.start_ms.size(), 4u);
    // From the second read on, each starts on a kernel tick after the 500 ms sleep that
    // followed the 10 ms acknowledge limit: 510 ticks apart. (The first starts when the
    // start-up lines are out, between ticks.)
    for (std::size_t i = 2; i < b.start_ms.size(); i++) {
        const double period = b.start_ms[i] - b.start_ms[i - 1];
        EXPECT_NEAR(period, 510.0, 0.001) << "read " << i;
        if (i == 2) {
            std::printf("sensor loop period without the IMU: %.3f ms\n", period);
        }
    }
}

// The task's own transfer function on a bare board, with the port registered.
TEST(SensorTaskTransfer, OneAndZeroByteReadsAndAMissingAcknowledge) {
    const json r = i2c_test::on_bus([](json& out) {
        sim::Board& board = sim::Board::get();
        board.imu().set_register(0x3d, 0x1234);
        board.imu().set_register(0x3f, -1);
        hal_soft_i2c_init_all();
        soft_i2c_if_init(0);
        static i2c_test::WaveRecorder wave(board.i2c_scl(), board.i2c_sda());
        uint8_t buf[2] = {0xEE, 0xEE};
        auto run = [&](const char* name, uint8_t reg, uint32_t len) {
            wave.clear(board.i2c_scl().level(), board.i2c_sda().level());
            out[name]["rc"] = IICreadBytes(0xA0, reg, buf, len);
            out[name]["tokens"] = i2c_test::decode(wave);
            out[name]["buf"] = {buf[0], buf[1]};
        };
        run("one", 0x3d, 1);
        buf[0] = 0xEE;
        // Yaw's first bit is a 1: the device leaves SDA free for the STOP.
        run("zero", 0x3f, 0);
        board.imu().set_present(false);
        run("absent", 0x3d, 2);
    });
    EXPECT_EQ(r["one"]["rc"], 1);
    EXPECT_EQ(r["one"]["tokens"], json({"S", "A0+", "3D+", "Sr", "A1+", "34-", "P"}));
    EXPECT_EQ(r["one"]["buf"], json({0x34, 0xEE}));
    EXPECT_EQ(r["zero"]["rc"], 1);
    EXPECT_EQ(r["zero"]["tokens"], json({"S", "A0+", "3F+", "Sr", "A1+", "P"}));
    EXPECT_EQ(r["zero"]["buf"], json({0xEE, 0xEE}));
    // No STOP after a missing acknowledge: the next transfer starts with a START.
    EXPECT_EQ(r["absent"]["rc"], 0);
    EXPECT_EQ(r["absent"]["tokens"], json({"S", "A0-"}));
}

}  // namespace

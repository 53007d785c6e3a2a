// The i2c.vcd that gimbal-sim writes: its form, and what a standard I2C protocol
// decoder (sigrok-cli's) reads from it for the sensor task's read.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gimbal_sim_run.hpp"

namespace {

namespace fs = sim_run::fs;
using sim_run::lines_of;
using sim_run::read_file;

class I2cVcd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        temp_ = std::make_unique<sim_run::TempDir>();
        dir_ = temp_->path();
        sim_run::write_file(
            dir_ / "scenario.json",
            R"({"imu": {"raw": {"roll": 4660, "pitch": -16384, "yaw": -1, "temp": 2345}}})");
        // Long enough for the first read (it starts after the start-up lines).
        const sim_run::Outcome o =
            sim_run::run_command({GIMBAL_SIM_EXE, "--quiet", "--duration", "0.02", "--scenario",
                                  dir_ / "scenario.json", "--out", dir_ / "out"},
                                 dir_);
        ASSERT_EQ(o.status, 0) << o.err;
    }
    static void TearDownTestSuite() { temp_.reset(); }
    static inline std::unique_ptr<sim_run::TempDir> temp_;
    static inline fs::path dir_;
};

TEST_F(I2cVcd, TwoOneBitWiresInNanosecondsWithValueChangesOnlyAndAClosingTime) {
    const std::vector<std::string> lines = lines_of(read_file(dir_ / "out" / "i2c.vcd"));
    ASSERT_GT(lines.size(), 20u);
    std::map<std::string, std::string> ids;  // id -> name
    std::size_t body = 0;
    bool timescale = false;
    for (std::size_t i = 0; i < lines.size(); i++) {
        std::istringstream words(lines[i]);
        std::string w, type, width, id, name;
        words >> w;
        if (w == "$timescale") {
            timescale = lines[i] == "$timescale 1 ns $end";
        } else if (w == "$var") {
            words >> type >> width >> id >> name;
            EXPECT_EQ(type, "wire");
            EXPECT_EQ(width, "1");
            ids[id] = name;
        } else if (w == "$enddefinitions") {
            body = i + 1;
            break;
        }
    }
    EXPECT_TRUE(timescale);
    ASSERT_EQ(ids.size(), 2u);
    std::vector<std::string> names;
    for (const auto& [id, name] : ids) {
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"scl", "sda"}));
    ASSERT_EQ(lines[body], "#0");
    ASSERT_EQ(lines[body + 1], "$dumpvars");
    EXPECT_EQ(lines[body + 4], "$end");

    std::map<std::string, char> level;
    long long last_time = 0;
    for (std::size_t i = body + 2; i < lines.size(); i++) {
        const std::string& l = lines[i];
        if (l == "$end") {
            continue;
        }
        if (l[0] == '#') {
            const long long t = std::stoll(l.substr(1));
            EXPECT_GT(t, last_time) << "line " << i;
            last_time = t;
            continue;
        }
        ASSERT_EQ(l.size(), 2u) << l;
        const std::string id = l.substr(1);
        ASSERT_TRUE(ids.count(id)) << l;
        if (i > body + 4) {
            EXPECT_NE(level[id], l[0]) << "not a change, line " << i;
        }
        level[id] = l[0];
    }
    EXPECT_EQ(lines.back(), "#20000000");  // the run's 20 ms
}

TEST_F(I2cVcd, AStandardDecoderReadsTheSensorTransaction) {
    const sim_run::Outcome o = sim_run::decode_i2c(dir_ / "out" / "i2c.vcd", dir_);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const std::string& decoded = o.out;
    std::vector<std::string> events;
    long long start_ns = -1, stop_ns = -1;
    for (const std::string& line : lines_of(decoded)) {
        // "<first>-<last> i2c-1: <text>", samples at 1 GHz (the VCD's 1 ns).
        const std::size_t colon = line.find("i2c-1: ");
        ASSERT_NE(colon, std::string::npos) << line;
        const std::string text = line.substr(colon + 7);
        events.push_back(text);
        const long long first = std::stoll(line.substr(0, line.find('-')));
        if (text == "Start" && start_ns < 0) {
            start_ns = first;
        }
        if (text == "Stop" && stop_ns < 0) {
            stop_ns = first;
        }
    }
    // The decoder shows the 7-bit address 0x50 and the direction bit ("Write" for 0xA0,
    // "Read" for 0xA1).
    const std::vector<std::string> expected = {"Start",
                                               "Write",
                                               "Address write: 50",
                                               "ACK",
                                               "Data write: 3D",
                                               "ACK",
                                               "Start repeat",
                                               "Read",
                                               "Address read: 50",
                                               "ACK",
                                               "Data read: 34",
                                               "ACK",
                                               "Data read: 12",
                                               "ACK",
                                               "Data read: 00",
                                               "ACK",
                                               "Data read: C0",
                                               "ACK",
                                               "Data read: FF",
                                               "ACK",
                                               "Data read: FF",
                                               "ACK",
                                               "Data read: 29",
                                               "ACK",
                                               "Data read: 09",
                                               "NACK",
                                               "Stop"};
    EXPECT_EQ(events, expected) << decoded;
    const double ms = static_cast<double>(stop_ns - start_ns) / 1e6;
    std::printf("sensor read on the wire, START to STOP: %.4f ms\n", ms);
    EXPECT_NEAR(ms, 1.33, 0.02);
}

}  // namespace

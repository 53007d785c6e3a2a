// The i2c.vcd that gimbal-sim writes: its form, and what a standard I2C protocol
// decoder (sigrok-cli's) reads from it for the sensor task's read.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string run(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return out;
    }
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    const int raw = ::pclose(pipe);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class I2cVcd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string name = (fs::temp_directory_path() / "i2c-vcd-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        dir_ = name;
        std::ofstream(dir_ / "scenario.json")
            << R"({"imu": {"raw": {"roll": 4660, "pitch": -16384, "yaw": -1, "temp": 2345}}})";
        // Long enough for the first read (it starts after the start-up lines).
        int status = 0;
        run(std::string(GIMBAL_SIM_EXE) + " --quiet --duration 0.02 --scenario " +
                (dir_ / "scenario.json").string() + " --out " + (dir_ / "out").string(),
            &status);
        ASSERT_EQ(status, 0);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static fs::path dir_;
};
fs::path I2cVcd::dir_;

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
    int status = 0;
    const std::string decoded =
        run("sigrok-cli -I vcd -i " + (dir_ / "out" / "i2c.vcd").string() +
                " -P i2c:scl=scl:sda=sda"
                " -A i2c=start:repeat-start:stop:ack:nack:address-read:address-write:data-read:"
                "data-write --protocol-decoder-samplenum 2>&1",
            &status);
    ASSERT_EQ(status, 0) << decoded;
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

// The gimbal-sim command as a user runs it: its files, its determinism, and
// how it refuses bad input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Outcome {
    int status = -1;  // exit status, or -1 if the command did not exit
    std::string out;
    std::string err;
};

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class GimbalSim : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "gimbal-sim-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }

    /// Runs gimbal-sim with `args`, its standard output and error into files.
    Outcome run(const std::vector<std::string>& args) {
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<std::string> all = {GIMBAL_SIM_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_t pid = 0;
        Outcome o;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << GIMBAL_SIM_EXE;
            return o;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.out = read_file(out);
        o.err = read_file(err);
        return o;
    }

    fs::path scenario(const std::string& text) {
        const fs::path path = dir_ / "scenario.json";
        write_file(path, text);
        return path;
    }

    fs::path dir_;
};

// Every figure but the wall-clock ones must repeat run after run.
json comparable_summary(const fs::path& folder) {
    json summary = json::parse(read_file(folder / "summary.json"));
    summary.erase("wall_time_s");
    summary.erase("speed_ratio");
    return summary;
}

class Determinism : public GimbalSim, public ::testing::WithParamInterface<const char*> {};

TEST_P(Determinism, SameScenarioGivesTheSameFiles) {
    const fs::path file = scenario(GetParam());
    const Outcome a = run({"--scenario", file, "--duration", "3", "--out", dir_ / "a", "--quiet"});
    const Outcome b = run({"--scenario", file, "--duration", "3", "--out", dir_ / "b", "--quiet"});
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(a.out, "");  // --quiet

    const std::string console = read_file(dir_ / "a" / "console.log");
    EXPECT_EQ(console, read_file(dir_ / "b" / "console.log"));
    EXPECT_EQ(read_file(dir_ / "a" / "i2c.vcd"), read_file(dir_ / "b" / "i2c.vcd"));
    const json summary = comparable_summary(dir_ / "a");
    EXPECT_EQ(summary, comparable_summary(dir_ / "b"));

    EXPECT_EQ(summary["virtual_time_s"], 3.0);
    EXPECT_EQ(summary["console_bytes"], console.size());
    EXPECT_EQ(summary["threads"].size(), 3u);
    EXPECT_TRUE(summary["halted"].is_null());
    EXPECT_EQ(summary["scenario"]["duration_s"], 3.0);
    EXPECT_TRUE(summary.contains("kernel_heap_used_bytes"));
    EXPECT_TRUE(summary.contains("kernel_ticks"));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Determinism,
                         ::testing::Values("{}",
                                           R"({"seed": 5, "faults": {"queue_create_fails": true}})",
                                           R"({"imu": {"present": false}})"));

TEST_F(GimbalSim, EchoesTheConsoleAndReportsItsSpeedUnlessQuiet) {
    const Outcome o = run({"--duration", "1", "--out", dir_ / "o"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, read_file(dir_ / "o" / "console.log"));
    EXPECT_NE(o.err.find("real time"), std::string::npos) << o.err;
}

TEST_F(GimbalSim, OptionsOverrideTheScenarioFile) {
    const fs::path file =
        scenario(R"({"duration_s": 5, "seed": 7, "faults": {"queue_create_fails": true}})");
    const Outcome o = run(
        {"--scenario", file, "--duration", "0.5", "--seed", "9", "--out", dir_ / "o", "--quiet"});
    ASSERT_EQ(o.status, 0) << o.err;
    const json summary = comparable_summary(dir_ / "o");
    EXPECT_EQ(summary["virtual_time_s"], 0.5);
    json expected = json::parse(R"({"duration_s": 0.5, "seed": 9,
        "faults": {"queue_create_fails": true, "no_crystal": false},
        "imu": {"present": true, "raw": {"roll": 0, "pitch": 0, "yaw": 0, "temp": 2500},
                "hold_sda_low_ms": 0.0, "stretch_scl_us": 0.0}})");
    const json motor = {
        {"present", true}, {"answers", true}, {"reply_delay_us", 200}, {"close_reply", "echo"}};
    expected["motors"] = {{"0x141", motor}, {"0x142", motor}};
    EXPECT_EQ(summary["scenario"], expected);
    EXPECT_EQ(read_file(dir_ / "o" / "console.log").rfind("[app_init] ERROR", 0), 0u);
}

// A board that stops for good is not bad input: the files are written, and
// the status and standard error say where and when it stopped.
TEST_F(GimbalSim, AHaltedBoardEndsWithStatus3AndSaysWhereAndWhen) {
    const fs::path file = scenario(R"({"faults": {"no_crystal": true}})");
    const Outcome o =
        run({"--scenario", file, "--duration", "0.5", "--out", dir_ / "o", "--quiet"});
    EXPECT_EQ(o.status, 3) << o.err;
    EXPECT_NE(o.err.find("halted: Error_Handler, at 0.20"), std::string::npos) << o.err;
    const json summary = comparable_summary(dir_ / "o");
    EXPECT_EQ(summary["halted"]["where"], "Error_Handler");
    EXPECT_EQ(read_file(dir_ / "o" / "console.log"), "");
    // Stopped before the PLL: the core still runs from the internal oscillator,
    // and neither CAN controller got its bit timing.
    EXPECT_EQ(summary["clocks"]["sysclk_hz"], 16000000);
    EXPECT_EQ(summary["can_bit_rate_hz"], json::parse(R"({"can1": 0, "can2": 0})"));
}

// The board's own figures, read from the models at the end of a default run.
TEST_F(GimbalSim, SummaryReportsClocksCanBitRatesAndLedPins) {
    const Outcome o = run({"--duration", "0.5", "--out", dir_ / "o", "--quiet"});
    ASSERT_EQ(o.status, 0) << o.err;
    const json summary = comparable_summary(dir_ / "o");
    EXPECT_EQ(summary["clocks"], json::parse(R"({"sysclk_hz": 168000000, "hclk_hz": 168000000,
        "pclk1_hz": 42000000, "pclk2_hz": 84000000})"));
    EXPECT_EQ(summary["can_bit_rate_hz"], json::parse(R"({"can1": 1000000, "can2": 1000000})"));
    ASSERT_TRUE(summary["leds"].is_array());
    ASSERT_EQ(summary["leds"].size(), 3u);
    for (const json& level : summary["leds"]) {
        EXPECT_TRUE(level == 0 || level == 1) << level;
    }
    EXPECT_EQ(summary["leds"][0], 0);  // LED 0 is left off at start-up
}

struct BadInput {
    const char* name;
    const char* scenario;  // null: no scenario file
    std::vector<std::string> args;
    const char* named;  // what the message must name
};

void PrintTo(const BadInput& c, std::ostream* os) {
    *os << c.name;
}

class RefusesBadInput : public GimbalSim, public ::testing::WithParamInterface<BadInput> {};

TEST_P(RefusesBadInput, WithStatus2AMessageAndNoFiles) {
    const BadInput& c = GetParam();
    std::vector<std::string> args = c.args;
    if (c.scenario != nullptr) {
        args.insert(args.begin(), {"--scenario", scenario(c.scenario)});
    }
    args.insert(args.end(), {"--out", dir_ / "out", "--quiet"});
    const Outcome o = run(args);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(c.named), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(dir_ / "out"));
}

const BadInput kBadInputs[] = {
    {"MalformedJson", R"({"duration_s": 3,)", {}, "scenario.json"},
    {"NumberTooLarge", R"({"duration_s": 1e999})", {}, "1e999"},
    {"NotAnObject", "[1]", {}, "object"},
    {"UnknownKey", R"({"duraton_s": 3})", {}, "duraton_s"},
    {"UnknownFault", R"({"faults": {"crystal_missing": true}})", {}, "faults.crystal_missing"},
    {"CrystalFaultString", R"({"faults": {"no_crystal": "yes"}})", {}, "faults.no_crystal"},
    {"FaultsNotAnObject", R"({"faults": true})", {}, "faults"},
    {"DurationString", R"({"duration_s": "3"})", {}, "duration_s"},
    {"DurationZero", R"({"duration_s": 0})", {}, "duration_s"},
    {"DurationNegative", R"({"duration_s": -1})", {}, "duration_s"},
    {"SeedNegative", R"({"seed": -1})", {}, "seed"},
    {"SeedFractional", R"({"seed": 1.5})", {}, "seed"},
    {"QueueFaultNumber", R"({"faults": {"queue_create_fails": 1}})", {}, "queue_create_fails"},
    {"ImuNotAnObject", R"({"imu": 3})", {}, "'imu'"},
    {"ImuUnknownKey", R"({"imu": {"presnt": true}})", {}, "imu.presnt"},
    {"ImuPresentNumber", R"({"imu": {"present": 1}})", {}, "imu.present"},
    {"ImuRawNotAnObject", R"({"imu": {"raw": [1, 2]}})", {}, "imu.raw"},
    {"ImuRawUnknownRegister", R"({"imu": {"raw": {"heading": 1}}})", {}, "imu.raw.heading"},
    {"ImuRawTooLarge", R"({"imu": {"raw": {"roll": 32768}}})", {}, "imu.raw.roll"},
    {"ImuRawTooSmall", R"({"imu": {"raw": {"pitch": -32769}}})", {}, "imu.raw.pitch"},
    {"ImuRawFraction", R"({"imu": {"raw": {"temp": 23.5}}})", {}, "imu.raw.temp"},
    {"ImuRawString", R"({"imu": {"raw": {"yaw": "1"}}})", {}, "imu.raw.yaw"},
    {"ImuHoldNegative", R"({"imu": {"hold_sda_low_ms": -1}})", {}, "imu.hold_sda_low_ms"},
    {"ImuHoldTooLong", R"({"imu": {"hold_sda_low_ms": 1e12}})", {}, "imu.hold_sda_low_ms"},
    {"ImuStretchString", R"({"imu": {"stretch_scl_us": "5"}})", {}, "imu.stretch_scl_us"},
    {"MotorsNotAnObject", R"({"motors": []})", {}, "'motors'"},
    {"MotorBadIdentifier", R"({"motors": {"0x800": {}}})", {}, "motors.0x800"},
    {"MotorDecimalIdentifier", R"({"motors": {"321": {}}})", {}, "motors.321"},
    {"MotorNotAnObject", R"({"motors": {"0x141": true}})", {}, "motors.0x141"},
    {"MotorUnknownKey", R"({"motors": {"0x141": {"speed": 1}}})", {}, "motors.0x141.speed"},
    {"MotorPresentNumber", R"({"motors": {"0x141": {"present": 1}}})", {}, "motors.0x141.present"},
    {"MotorAnswersString",
     R"({"motors": {"0x142": {"answers": "no"}}})",
     {},
     "motors.0x142.answers"},
    {"MotorDelayNegative",
     R"({"motors": {"0x141": {"reply_delay_us": -5}}})",
     {},
     "motors.0x141.reply_delay_us"},
    {"MotorDelayFractional",
     R"({"motors": {"0x141": {"reply_delay_us": 2.5}}})",
     {},
     "motors.0x141.reply_delay_us"},
    {"MotorCloseReply",
     R"({"motors": {"0x141": {"close_reply": "noise"}}})",
     {},
     "motors.0x141.close_reply"},
    {"TicksNotAnObject", R"({"ticks": 5})", {}, "'ticks'"},
    {"TicksUnknownKey", R"({"ticks": {"begin": 5}})", {}, "ticks.begin"},
    {"TicksStartTooLarge", R"({"ticks": {"start": 4294967296}})", {}, "ticks.start"},
    {"TicksStartNegative", R"({"ticks": {"start": -1}})", {}, "ticks.start"},
    {"ImuSclHoldString", R"({"imu": {"hold_scl_low_ms": "1"}})", {}, "imu.hold_scl_low_ms"},
    {"ImuWindowBackwards", R"({"imu": {"from_s": 5, "until_s": 2}})", {}, "imu.until_s"},
    {"ImuWindowNegative", R"({"imu": {"from_s": -1}})", {}, "imu.from_s"},
    {"MotorWindowRepeatWithoutEnd",
     R"({"motors": {"0x141": {"from_s": 1, "every_s": 10}}})",
     {},
     "motors.0x141.every_s"},
    {"MotorWindowRepeatTooShort",
     R"({"motors": {"0x141": {"from_s": 1, "until_s": 4, "every_s": 3}}})",
     {},
     "motors.0x141.every_s"},
    {"MissingFile", nullptr, {"--scenario", "/nonexistent/scenario.json"}, "scenario.json"},
    {"OptionDurationZero", nullptr, {"--duration", "0"}, "--duration"},
    {"OptionDurationNegative", nullptr, {"--duration", "-1"}, "--duration"},
    {"OptionDurationInfinite", nullptr, {"--duration", "inf"}, "--duration"},
    {"OptionDurationNan", nullptr, {"--duration", "nan"}, "--duration"},
    {"OptionDurationText", nullptr, {"--duration", "abc"}, "--duration"},
    {"OptionSeedNegative", nullptr, {"--seed", "-1"}, "--seed"},
    {"OptionSeedTooLarge", nullptr, {"--seed", "18446744073709551616"}, "--seed"},
    {"UnknownOption", nullptr, {"--speed", "3"}, "--speed"},
};

// The start-up frames on CAN2 as the board test sees them (commands from the
// board and the motors' echoes), read back from can2.log with python3-can's
// log reader, and decoded with the motor DBC.
TEST_F(GimbalSim, WritesCanLogsThatPythonCanReadsAndTheDbcDecodes) {
    const Outcome o = run({"--duration", "6", "--out", dir_ / "o", "--quiet"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(read_file(dir_ / "o" / "can1.log"), "");
    const fs::path frames = dir_ / "frames.json";
    const std::string reader =
        "import can, json, sys\n"
        "print(json.dumps([[round(m.timestamp * 1e6), m.channel, m.arbitration_id,\n"
        "                   m.is_extended_id, bytes(m.data).hex().upper()]\n"
        "                  for m in can.CanutilsLogReader(sys.argv[1])]))\n";
    write_file(dir_ / "read.py", reader);
    ASSERT_EQ(std::system(("/usr/bin/python3 " + (dir_ / "read.py").string() + " " +
                           (dir_ / "o" / "can2.log").string() + " > " + frames.string())
                              .c_str()),
              0);
    const json got = json::parse(read_file(frames));
    const std::vector<std::pair<int, std::string>> expected = {
        {0x141, "8000000000000000"}, {0x141, "8000000000000000"},  // close, echo
        {0x142, "8000000000000000"}, {0x142, "8000000000000000"},
        {0x141, "A200000000000000"}, {0x141, "A220000000000000"},  // speed 0, reply at 32 C
        {0x142, "A200000000000000"}, {0x142, "A220000000000000"},
        {0x141, "8800000000000000"}, {0x141, "8800000000000000"},  // running, echo
        {0x142, "8800000000000000"}, {0x142, "8800000000000000"},
    };
    // Then, with the default level IMU, a zero-speed command and its reply per
    // motor and sample.
    ASSERT_GE(got.size(), expected.size()) << got.dump();
    for (std::size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i][1], "can2");
        EXPECT_EQ(got[i][3], false);
        if (i < expected.size()) {
            EXPECT_EQ(got[i][2], expected[i].first) << i;
            EXPECT_EQ(got[i][4], expected[i].second) << i;
        } else {
            EXPECT_EQ(got[i][2], expected[4 + (i - expected.size()) % 4].first) << i;
            EXPECT_EQ(got[i][4], expected[4 + (i - expected.size()) % 4].second) << i;
        }
    }
    // Each echo ends 200 us (the motor's delay) plus its own 121 bits at
    // 1 Mbit/s after the end of the command.
    EXPECT_EQ(got[1][0].get<int64_t>() - got[0][0].get<int64_t>(), 321);
    EXPECT_GT(got[4][0].get<int64_t>() - got[3][0].get<int64_t>(), 5000000);  // the 5 s wait

    const fs::path decoded = dir_ / "decoded.txt";
    ASSERT_EQ(std::system(("/usr/bin/python3 " GIMBAL_SOURCE_DIR "/tools/can/decode-log " +
                           (dir_ / "o" / "can2.log").string() + " > " + decoded.string())
                              .c_str()),
              0);
    const std::string text = read_file(decoded);
    EXPECT_NE(text.find("141#8000000000000000  Motor_141 Command=close"), std::string::npos)
        << text;
    EXPECT_NE(text.find("142#A200000000000000  Motor_142 Command=speed_control Temperature=0 degC "
                        "SpeedCommand=0 deg/s"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Temperature=32 degC TorqueCurrent=0 A Speed=0 deg/s Encoder=0"),
              std::string::npos)
        << text;
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusesBadInput, ::testing::ValuesIn(kBadInputs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

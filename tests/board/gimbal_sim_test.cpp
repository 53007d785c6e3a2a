// The gimbal-sim command as a user runs it: its files, its determinism, and
// how it refuses bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "named_case.hpp"
#include "gimbal_sim_run.hpp"

namespace {

using nlohmann::json;
using sim_run::lines_of;
using sim_run::Outcome;
using sim_run::read_file;
using sim_run::write_file;
namespace fs = sim_run::fs;

using GimbalSim = sim_run::GimbalSimTest;

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
        "imu": {"present": true, "hold_sda_low_ms": 0.0, "stretch_scl_us": 0.0,
                "hold_scl_low_ms": 0.0},
        "plant": {"imu_rate_hz": 10.0, "angle_noise_deg": 0.02, "rate_noise_dps": 0.05,
                  "accel_noise_g": 0.002, "temperature_c": 25.0},
        "control": {}})");
    const json motor = {
        {"present", true}, {"answers", true}, {"reply_delay_us", 200}, {"close_reply", "echo"}};
    expected["motors"] = {{"0x141", motor}, {"0x142", motor}};
    const json still =
        json::parse(R"({"tilt_deg": 0.0, "steps": [], "random_walk_deg_per_sqrt_s": 0.0,
        "sway": {"amplitude_deg": 0.0, "frequency_hz": 0.0, "phase_deg": 0.0}})");
    expected["disturbance"] = {{"roll", still}, {"pitch", still}};
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
    EXPECT_EQ(summary["leds"], json({0, 1, 1}));  // the start pattern: LED 0 off, 1 and 2 on
}

struct BadInput : named_case::Case {
    const char* scenario;  // null: no scenario file
    std::vector<std::string> args;
    const char* named;  // what the message must name
};

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
    // The scenario reader's own refusals are in scenario_test; these go
    // through the command: its options, its files, exit status 2.
    {"MalformedJson", R"({"duration_s": 3,)", {}, "scenario.json"},
    {"DuplicateKey", R"({"duration_s": 3, "duration_s": 4})", {}, "duplicate key 'duration_s'"},
    {"UnknownKey", R"({"duraton_s": 3})", {}, "duraton_s"},
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
    {"WindowNoColon", nullptr, {"--window", "5"}, "--window"},
    {"WindowBackwards", nullptr, {"--window", "5:2"}, "--window"},
    {"WindowNegative", nullptr, {"--window", "-1:2"}, "--window"},
    {"WindowText", nullptr, {"--window", "a:b"}, "--window"},
    {"StuckAfterNan", nullptr, {"--stuck-after", "nan"}, "--stuck-after"},
    {"ScenarioEmptyName", nullptr, {"--scenario", ""}, "--scenario"},
    {"ScenarioFolder", nullptr, {"--scenario", "/"}, "a folder"},
    {"ScenarioDevice", nullptr, {"--scenario", "/dev/zero"}, "not a regular file"},
    {"OutEmpty", nullptr, {"--out", ""}, "--out"},
};

// The start-up frames on CAN2 as the board test sees them (commands from the
// board and the motors' echoes), read back from can2.log with python3-can's
// log reader, and decoded with the motor DBC.
TEST_F(GimbalSim, WritesCanLogsThatPythonCanReadsAndTheDbcDecodes) {
    // A level, still platform and an IMU without noise: every command is 0.
    const fs::path file = scenario(R"({"plant": {"angle_noise_deg": 0}})");
    const Outcome o = run({"--scenario", file, "--duration", "6", "--out", dir_ / "o", "--quiet"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(read_file(dir_ / "o" / "can1.log"), "");
    const std::string reader =
        "import can, json, sys\n"
        "print(json.dumps([[round(m.timestamp * 1e6), m.channel, m.arbitration_id,\n"
        "                   m.is_extended_id, bytes(m.data).hex().upper()]\n"
        "                  for m in can.CanutilsLogReader(sys.argv[1])]))\n";
    const fs::path log = dir_ / "o" / "can2.log";
    const Outcome read = sim_run::run_command({"/usr/bin/python3", "-c", reader, log}, dir_);
    ASSERT_EQ(read.status, 0) << read.err;
    const json got = json::parse(read.out);
    const std::vector<std::pair<int, std::string>> expected = {
        {0x141, "8000000000000000"}, {0x141, "8000000000000000"},  // close, echo
        {0x142, "8000000000000000"}, {0x142, "8000000000000000"},
        {0x141, "A200000000000000"}, {0x141, "A220000000000000"},  // speed 0, reply at 32 C
        {0x142, "A200000000000000"}, {0x142, "A220000000000000"},
        {0x141, "8800000000000000"}, {0x141, "8800000000000000"},  // running, echo
        {0x142, "8800000000000000"}, {0x142, "8800000000000000"},
    };
    // Then, with the level IMU, a zero-speed command and its reply per
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

    const Outcome decoded = sim_run::run_command(
        {"/usr/bin/python3", GIMBAL_SOURCE_DIR "/tools/can/decode-log", log}, dir_);
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    const std::string& text = decoded.out;
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
                         named_case::by_name);

double time_of_trace_row(const std::string& line) {
    return std::stod(line.substr(0, line.find(',')));
}

// "(12.345678) can2 ..." -> 12.345678
double time_of_can_line(const std::string& line) {
    return std::stod(line.substr(1, line.find(')') - 1));
}

// Every example scenario runs: to its end or to a halt of the board, never
// refused, and with its summary written.
TEST_F(GimbalSim, EveryExampleScenarioRuns) {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(GIMBAL_SOURCE_DIR "/scenarios")) {
        if (entry.path().extension() != ".json") {
            continue;
        }
        SCOPED_TRACE(entry.path().string());
        const fs::path out = dir_ / ("run" + std::to_string(count++));
        const Outcome o = run({"--scenario", entry.path(), "--duration", "1.5", "--out", out,
                               "--quiet", "--no-plot", "--no-vcd"});
        EXPECT_TRUE(o.status == 0 || o.status == 3) << o.status << ": " << o.err;
        EXPECT_TRUE(fs::exists(out / "summary.json"));
    }
    EXPECT_GE(count, 10);
}

// The same scenario and seed give the same bytes in every file, the trace
// and the metrics included; another seed gives another trace.
TEST_F(GimbalSim, EveryOutputIsTheSameForTheSameSeed) {
    const fs::path file = scenario(R"({"disturbance": {"roll": {"tilt_deg": 5,
        "random_walk_deg_per_sqrt_s": 1}, "pitch": {"sway": {"amplitude_deg": 2, "frequency_hz": 0.5}}}})");
    for (const char* name : {"a", "b"}) {
        const Outcome o = run(
            {"--scenario", file, "--duration", "7", "--out", dir_ / name, "--quiet", "--no-plot"});
        ASSERT_EQ(o.status, 0) << o.err;
    }
    const Outcome c = run({"--scenario", file, "--duration", "7", "--seed", "2", "--out",
                           dir_ / "c", "--quiet", "--no-plot"});
    ASSERT_EQ(c.status, 0) << c.err;
    for (const char* f : {"console.log", "can1.log", "can2.log", "i2c.vcd", "trace.csv"}) {
        EXPECT_EQ(read_file(dir_ / "a" / f), read_file(dir_ / "b" / f)) << f;
    }
    EXPECT_EQ(comparable_summary(dir_ / "a"), comparable_summary(dir_ / "b"));
    EXPECT_NE(read_file(dir_ / "a" / "trace.csv"), read_file(dir_ / "c" / "trace.csv"));
    const json m = comparable_summary(dir_ / "a")["metrics"];
    for (const char* key :
         {"settle_s", "speed_commands_sent", "motor_exchanges_failed", "imu_reads_failed",
          "samples_dropped", "stability", "oscillation_growth_per_s"}) {
        EXPECT_TRUE(m.contains(key)) << key;
    }
    EXPECT_GT(m["roll"]["rms_error_deg"].get<double>(), 0.0);
    EXPECT_GE(m["roll"]["peak_error_deg"].get<double>(), m["roll"]["rms_error_deg"].get<double>());
}

// --window keeps i2c.vcd, the CAN logs and trace.csv to that stretch; the
// --no- options leave their files out; the console and summary stay whole.
TEST_F(GimbalSim, WindowAndNoOptionsLimitTheBulkyFiles) {
    const Outcome w = run(
        {"--duration", "7", "--window", "5.5:6.5", "--out", dir_ / "w", "--quiet", "--no-plot"});
    ASSERT_EQ(w.status, 0) << w.err;
    const auto trace = lines_of(read_file(dir_ / "w" / "trace.csv"));
    ASSERT_GT(trace.size(), 40u);  // header and 50 rows a second
    for (std::size_t i = 1; i < trace.size(); i++) {
        const double t = time_of_trace_row(trace[i]);
        EXPECT_TRUE(t >= 5.5 && t < 6.5) << trace[i];
    }
    const auto can = lines_of(read_file(dir_ / "w" / "can2.log"));
    ASSERT_FALSE(can.empty());
    for (const std::string& line : can) {
        const double t = time_of_can_line(line);
        EXPECT_TRUE(t >= 5.5 && t < 6.5) << line;
    }
    const std::string vcd = read_file(dir_ / "w" / "i2c.vcd");
    EXPECT_NE(vcd.find("#5500000000\n$dumpvars"), std::string::npos);
    EXPECT_EQ(vcd.substr(vcd.size() - 12), "#6500000000\n");

    const Outcome n = run({"--duration", "1", "--no-vcd", "--no-trace", "--no-can-log", "--out",
                           dir_ / "n", "--quiet"});
    ASSERT_EQ(n.status, 0) << n.err;
    for (const char* f : {"i2c.vcd", "trace.csv", "can1.log", "can2.log", "plot.png"}) {
        EXPECT_FALSE(fs::exists(dir_ / "n" / f)) << f;
    }
    EXPECT_TRUE(fs::exists(dir_ / "n" / "console.log"));
    EXPECT_TRUE(fs::exists(dir_ / "n" / "summary.json"));
}

// Other gains reach the controller without touching the firmware's
// constants: the start-up report still prints them, while the first speed
// command follows the scenario's gains.
TEST_F(GimbalSim, ControlGainsReplaceTheConstantsForTheRun) {
    struct Case {
        const char* control;
        double first_roll_dps;  // first command after start-up, for a 10 degree tilt
    };
    // Fresh controller, measured 10 degrees: output = -(kp + ki + kd) * 10 in
    // 0.01 degree/s, clipped to output_max; noise off, so the measurement is
    // 10 degrees to the register's resolution.
    const Case cases[] = {
        {R"({})", -(200 + 5 + 50) * 10 / 100.0},
        {R"({"roll": {"kp": 10, "ki": 1, "kd": 0}})", -(10 + 1 + 0) * 10 / 100.0},
        {R"({"output_max": 500})", -5.0},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        const fs::path file = scenario(std::string(R"({"plant": {"angle_noise_deg": 0},
            "disturbance": {"roll": {"tilt_deg": 10}}, "control": )") +
                                       c.control + "}");
        const fs::path out = dir_ / ("g" + std::to_string(i++));
        const Outcome o =
            run({"--scenario", file, "--duration", "5.2", "--out", out, "--quiet", "--no-plot"});
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_NE(read_file(out / "console.log")
                      .find("PID: Roll(Kp=200.0 Ki=5.0 Kd=50.0) Pitch(Kp=200.0 Ki=5.0 Kd=50.0)"),
                  std::string::npos);
        double first = 1e9;
        for (const std::string& line : lines_of(read_file(out / "trace.csv"))) {
            if (line.find(",command,") != std::string::npos &&
                line.find(",0x141,") != std::string::npos) {
                const double v = std::stod(line.substr(line.rfind(',') + 1));
                if (v != 0.0) {
                    first = v;
                    break;
                }
            }
        }
        // 10 degrees reads as 1820/32768*180 = 9.99755859375
        EXPECT_NEAR(first, c.first_roll_dps, std::abs(c.first_roll_dps) * 0.001 + 0.011);
    }
}

// Files the reader must refuse whole: what a JSON parser would stop short of.
TEST_F(GimbalSim, RefusesScenarioFilesWithANulByteOrTooLarge) {
    const std::pair<std::string, const char*> cases[] = {
        {std::string("{}\0garbage", 10), "a NUL byte at offset 2"},
        {"{}" + std::string(2 << 20, ' '), "larger than"},
    };
    for (const auto& [text, named] : cases) {
        const Outcome o = run({"--scenario", scenario(text), "--out", dir_ / "out", "--quiet"});
        EXPECT_EQ(o.status, 2);
        EXPECT_NE(o.err.find(named), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(dir_ / "out"));
    }
}

// An output that cannot be written ends the run with status 4, a message
// naming the file and the reason, and none of the run's files in the folder.
TEST_F(GimbalSim, AnOutputThatCannotBeWrittenEndsTheRunWithStatus4AndNoFiles) {
    const bool can_mount = std::system("unshare -m true 2>/dev/null") == 0;
    struct Case {
        const char* setup;  // shell, before the run into $D/m/o
        bool mounts;
        const char* reason;
    };
    const Case cases[] = {
        {"rmdir $D/m && touch $D/m", false, "Not a directory"},
        {"mount -t tmpfs -o size=64k,ro tmpfs $D/m", true, "Read-only file system"},
        {"mount -t tmpfs -o size=32k tmpfs $D/m", true, "No space left on device"},
        {"ulimit -f 40", false, "File too large"},  // 20 KiB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setup);
        if (c.mounts && !can_mount) {
            continue;  // no mount namespace here
        }
        fs::remove_all(dir_ / "m");
        fs::create_directory(dir_ / "m");
        const std::string script = std::string(c.setup) +
                                   " && { $SIM --duration 5 --no-plot --quiet --out $D/m/o; "
                                   "s=$?; ls -A $D/m/o 2>/dev/null; exit $s; }";
        const Outcome o =
            c.mounts ? run_shell("unshare -m sh -c '" + script + "'") : run_shell(script);
        EXPECT_EQ(o.status, 4) << o.err;
        EXPECT_NE(o.err.find("cannot write '"), std::string::npos) << o.err;
        EXPECT_NE(o.err.find(c.reason), std::string::npos) << o.err;
        EXPECT_TRUE(o.out == "" || o.out == "gimbal-sim.lock\n") << o.out;
    }
}

// A run ended by a signal or a closed standard output leaves whole files and
// says so; a second run into its folder meanwhile is refused.
TEST_F(GimbalSim, StopsCleanlyOnASignalAndHoldsItsFolder) {
    const Outcome o = run_shell(
        "$SIM --duration 3000 --no-plot --quiet --out $D/o & p=$!; "
        "while [ ! -e $D/o/console.log.partial ]; do sleep 0.1; done; "
        "$SIM --duration 1 --quiet --out $D/o 2>&1; kill -TERM $p; wait $p");
    EXPECT_EQ(o.status, 143) << o.err;
    EXPECT_NE(o.out.find("is in use by another run"), std::string::npos) << o.out;
    EXPECT_NE(o.err.find("interrupted by SIGTERM"), std::string::npos) << o.err;
    const json summary = comparable_summary(dir_ / "o");
    EXPECT_EQ(summary["interrupted"], "SIGTERM");
    const auto trace = lines_of(read_file(dir_ / "o" / "trace.csv"));
    ASSERT_GT(trace.size(), 1u);
    EXPECT_EQ(std::count(trace.back().begin(), trace.back().end(), ','), 15) << trace.back();
    EXPECT_EQ(read_file(dir_ / "o" / "trace.csv").back(), '\n');
    const std::string vcd = read_file(dir_ / "o" / "i2c.vcd");
    EXPECT_EQ(
        vcd.substr(vcd.rfind('#')),
        "#" + std::to_string(std::llround(summary["virtual_time_s"].get<double>() * 1e9)) + "\n");
    for (const auto& entry : fs::directory_iterator(dir_ / "o")) {
        EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
    }

    const Outcome pipe = run_shell("$SIM --duration 30 --no-plot --out $D/p | head -1");
    EXPECT_EQ(comparable_summary(dir_ / "p")["interrupted"], "SIGPIPE") << pipe.err;
}

// A run clears what an earlier run left under the names it writes, and only that.
TEST_F(GimbalSim, RemovesAnEarlierRunsFilesAndNothingElse) {
    fs::create_directory(dir_ / "o");
    for (const char* f :
         {"plot.png", "i2c.vcd", "trace.csv.partial", "summary.json", "notes.txt"}) {
        write_file(dir_ / "o" / f, "old");
    }
    const Outcome o = run({"--duration", "0.5", "--lean", "--out", dir_ / "o", "--quiet"});
    ASSERT_EQ(o.status, 0) << o.err;
    for (const char* f : {"plot.png", "i2c.vcd", "trace.csv.partial", "can1.log", "trace.csv"}) {
        EXPECT_FALSE(fs::exists(dir_ / "o" / f)) << f;
    }
    EXPECT_EQ(read_file(dir_ / "o" / "notes.txt"), "old");
    EXPECT_EQ(comparable_summary(dir_ / "o")["virtual_time_s"], 0.5);
}

}  // namespace

// The fault campaign: each scenario under scenarios/faults/ run by gimbal-sim
// as a user runs it, and its failure's specified outcome checked where a
// user of the real board sees it: the console, the frames on CAN2 (can2.log),
// the bit-banged bus decoded from i2c.vcd by sigrok-cli's I2C decoder, and
// the state the run ends in (summary.json).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "gimbal_sim_run.hpp"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using sim_run::read_file;

struct Frame {
    double at_s;
    uint32_t id;
    std::string data;  // hexadecimal, as candump writes it
};

/// One transaction on the bit-banged bus as the decoder shows it, e.g.
/// "S W50+ 3D+ Sr R50+ 34+ 12+ 00+ 00+ 00+ 00+ C4+ 09- P".
struct Transaction {
    double at_s;
    std::string text;
};

struct Outcome {
    int status = -1;
    std::string console;
    std::vector<Frame> can2;  // acknowledged frames
    int can2_error_frames = 0;
    json summary;
    std::vector<Transaction> i2c;

    int count(const std::string& text) const {
        int n = 0;
        for (std::size_t at = console.find(text); at != std::string::npos;
             at = console.find(text, at + 1)) {
            n++;
        }
        return n;
    }
    bool has(const std::string& text) const { return count(text) > 0; }
    std::vector<Frame> frames(uint32_t id, const std::string& data_prefix = "") const {
        std::vector<Frame> out;
        for (const Frame& f : can2) {
            if (f.id == id && f.data.rfind(data_prefix, 0) == 0) {
                out.push_back(f);
            }
        }
        return out;
    }
    std::vector<Transaction> transactions(const std::string& containing) const {
        std::vector<Transaction> out;
        for (const Transaction& t : i2c) {
            if (t.text.find(containing) != std::string::npos) {
                out.push_back(t);
            }
        }
        return out;
    }
};

// Error frames (CAN_ERR_FLAG, bit 29, in the identifier) are counted apart.
std::vector<Frame> read_candump(const std::string& text, int& error_frames) {
    std::vector<Frame> frames;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        // "(SECONDS.MICROS) can2 ID#DATA"
        const std::size_t close = line.find(')');
        const std::size_t hash = line.find('#');
        const std::size_t space = line.rfind(' ', hash);
        const auto id = static_cast<uint32_t>(
            std::stoul(line.substr(space + 1, hash - space - 1), nullptr, 16));
        if ((id & 0x20000000U) != 0U) {
            error_frames++;
            continue;
        }
        frames.push_back({std::stod(line.substr(1, close - 1)), id, line.substr(hash + 1)});
    }
    return frames;
}

std::vector<Transaction> decode_i2c(const fs::path& vcd) {
    // 10 ns samples: the IMU changes SDA 10 ns after SCL falls, and coarser
    // samples merge the two edges into a false STOP and START.
    const sim_run::Outcome decoded = sim_run::decode_i2c(vcd, vcd.parent_path(), 10);
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    const std::string& out = decoded.out;
    // A transfer given up without STOP makes the next START a repeated one.
    std::vector<Transaction> list;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find("i2c-1: ");
        if (colon == std::string::npos) {
            continue;
        }
        const std::string text = line.substr(colon + 7);
        std::string token;
        const bool new_transfer =
            text == "Start" || (text == "Start repeat" && !list.empty() &&
                                list.back().text.find(" 3D") == std::string::npos);
        if (new_transfer) {
            list.push_back(
                {std::stod(line.substr(0, line.find('-'))) * 10e-9, text == "Start" ? "S" : "Sr"});
            continue;
        }
        if (list.empty()) {
            continue;
        }
        std::string& t = list.back().text;
        if (text == "Start repeat") {
            t += " Sr";
        } else if (text == "Stop") {
            t += " P";
        } else if (text == "ACK") {
            t += "+";
        } else if (text == "NACK") {
            t += "-";
        } else if (text.rfind("Address write: ", 0) == 0) {
            t += " W" + text.substr(15);
        } else if (text.rfind("Address read: ", 0) == 0) {
            t += " R" + text.substr(14);
        } else if (text.rfind("Data write: ", 0) == 0) {
            t += " " + text.substr(12);
        } else if (text.rfind("Data read: ", 0) == 0) {
            t += " " + text.substr(11);
        }
    }
    return list;
}

Outcome run_scenario(const std::string& name, bool decode) {
    const sim_run::TempDir dir;
    const fs::path scenario = fs::path(GIMBAL_SOURCE_DIR) / "scenarios" / "faults" / name;
    const fs::path out = dir.path() / "out";
    const sim_run::Outcome run = sim_run::run_command(
        {GIMBAL_SIM_EXE, "--quiet", "--scenario", scenario, "--out", out}, dir.path());
    Outcome r;
    r.status = run.status;
    r.console = read_file(out / "console.log");
    r.can2 = read_candump(read_file(out / "can2.log"), r.can2_error_frames);
    const std::string summary = read_file(out / "summary.json");
    r.summary = summary.empty() ? json::object() : json::parse(summary);
    if (decode) {
        r.i2c = decode_i2c(out / "i2c.vcd");
    }
    EXPECT_TRUE(run.status == 0 || run.status == 3) << run.out << run.err;
    return r;
}

// A sensor read; its START is a repeated one when the transfer before gave up without STOP.
const std::string kSensorRead = "W50+ 3D+ Sr R50+";
// The text of a transaction after its START.
std::string after_start(const Transaction& t) {
    return t.text.substr(t.text.find(' ') + 1);
}
const std::string kQueueError = "[app_init] ERROR: Failed to create IMU queue\r\n";
const std::string kInitialized = "[app_init] Hardware initialized\r\n";
const std::string kEnabled = "[control_task] stabilization enabled (speed mode)\n";
std::string timeout_line(const char* id) {
    return std::string("Error: Timeout waiting for motor response (ID ") + id + ")\r\n";
}
std::string send_line(const char* id) {
    return std::string("Error: Failed to send CAN message (ID ") + id + ")\r\n";
}
std::string fault_lines(int yaw, int pitch) {
    return "[control_task] motor yaw   is fault: " + std::to_string(yaw) +
           "\n[control_task] motor pitch is fault: " + std::to_string(pitch) + "\n";
}
constexpr const char* kClose = "8000000000000000";
constexpr const char* kRunning = "8800000000000000";
constexpr const char* kSpeed = "A2";  // commands and their replies

struct Case {
    const char* scenario;
    bool decode_i2c;
    std::function<void(const Outcome&)> check;
};

const Case kCases[] = {
    {"queue-create-fails.json", false,
     [](const Outcome& r) {
         // Both start-up lines, error first, before anything else; the threads still run.
         EXPECT_EQ(r.console.rfind(kQueueError + kInitialized, 0), 0u) << r.console;
         EXPECT_EQ(r.summary["threads"].size(), 3u);
         EXPECT_TRUE(r.has("[sensor_task] raw data: 0x0000, 0x0000, 0x0000"));
         EXPECT_TRUE(r.has(kEnabled));
         // Start-up only: close, speed 0 and running per motor, nothing from the loop.
         for (uint32_t id : {0x141u, 0x142u}) {
             ASSERT_EQ(r.frames(id, kSpeed).size(), 2u) << "command and reply";
             EXPECT_EQ(r.frames(id, kSpeed)[0].data, "A200000000000000");
         }
     }},
    {"no-crystal.json", false,
     [](const Outcome& r) {
         EXPECT_EQ(r.status, 3);
         EXPECT_EQ(r.summary["halted"]["where"], "Error_Handler");
         EXPECT_EQ(r.console, "");
         EXPECT_TRUE(r.can2.empty());
         EXPECT_EQ(r.summary["clocks"]["sysclk_hz"], 16000000);
     }},
    {"motors-absent.json", false,
     [](const Outcome& r) {
         // No node acknowledges: every send fails; nothing appears on the bus.
         EXPECT_TRUE(r.has(send_line("0x141") + send_line("0x142") + fault_lines(1, 1)));
         EXPECT_FALSE(r.has("Timeout waiting"));
         EXPECT_TRUE(r.can2.empty());
         EXPECT_GT(r.can2_error_frames, 0) << "each attempt ends in an error frame";
         EXPECT_TRUE(r.has(kEnabled));
         EXPECT_GT(r.count(send_line("0x141")), 5) << "the loop goes on";
         EXPECT_EQ(r.count(send_line("0x141")), r.count(send_line("0x142")));
     }},
    {"motors-silent.json", false,
     [](const Outcome& r) {
         EXPECT_TRUE(r.has(timeout_line("0x141") + timeout_line("0x142") + fault_lines(1, 1)));
         EXPECT_FALSE(r.has("Failed to send"));
         // Every frame on the bus is a command: one per exchange, each timed out.
         for (uint32_t id : {0x141u, 0x142u}) {
             const char* name = id == 0x141 ? "0x141" : "0x142";
             EXPECT_EQ(static_cast<int>(r.frames(id).size()), r.count(timeout_line(name)));
             EXPECT_EQ(r.frames(id, kClose).size(), 1u);
             EXPECT_EQ(r.frames(id, kRunning).size(), 1u);
         }
         EXPECT_GT(r.count(timeout_line("0x142")), 5) << "the loop goes on";
     }},
    {"motor-garbage-close.json", false,
     [](const Outcome& r) {
         EXPECT_TRUE(r.has(fault_lines(1, 0)));
         EXPECT_FALSE(r.has("Error:"));
         const std::vector<Frame> f = r.frames(0x141);
         ASSERT_GE(f.size(), 2u);
         EXPECT_EQ(f[0].data, kClose);
         EXPECT_NE(f[1].data, kClose) << "the reply is not the echo";
         EXPECT_EQ(r.frames(0x142, kClose).size(), 2u) << "command and its echo";
     }},
    {"motor-late-reply-other.json", false,
     [](const Outcome& r) {
         // 0x141's replies come after its exchange gave up, during 0x142's:
         // 0x142's exchange drops them, 0x141's times out every time.
         EXPECT_TRUE(r.has(timeout_line("0x141") + fault_lines(1, 0)));
         EXPECT_FALSE(r.has(timeout_line("0x142")));
         EXPECT_EQ(2 * r.count(timeout_line("0x141")), static_cast<int>(r.frames(0x141).size()))
             << "each command and its late reply";
         EXPECT_GT(r.count(timeout_line("0x141")), 5) << "the loop goes on";
         const std::vector<Frame> close = r.frames(0x141, kClose);
         ASSERT_EQ(close.size(), 2u);
         EXPECT_NEAR((close[1].at_s - close[0].at_s) * 1e6, 700 + 121, 15);
         EXPECT_LT(close[1].at_s, r.frames(0x142, kClose)[1].at_s) << "during 0x142's exchange";
     }},
    {"motors-late-reply-same.json", false,
     [](const Outcome& r) {
         // Replies come 8 ms late, after the other motor's exchange: each
         // stays in the FIFO and answers the same motor's next exchange. Only
         // the closes (nothing waiting yet) and the runs (right after the
         // speed commands took the close echoes) time out.
         EXPECT_TRUE(r.has(timeout_line("0x141") + timeout_line("0x142") + fault_lines(1, 1)));
         EXPECT_TRUE(r.has(timeout_line("0x141") + timeout_line("0x142") + kEnabled));
         EXPECT_EQ(r.count("Error:"), 4);
         // The speed command of start-up succeeded before its reply came.
         const std::vector<Frame> f = r.frames(0x141);
         ASSERT_GE(f.size(), 6u);
         EXPECT_EQ(f[2].data, "A200000000000000");
         EXPECT_EQ(f[3].data, kRunning) << "the next command before the reply";
         EXPECT_GT(r.frames(0x141, kSpeed).size(), 8u) << "the loop goes on";
     }},
    {"no-ack-then-back.json", false,
     [](const Outcome& r) {
         // Three frames wait in the mailboxes through the outage and go out
         // when a node acknowledges again, lowest identifier first.
         EXPECT_TRUE(r.has(send_line("0x141") + send_line("0x142") + fault_lines(1, 1)));
         ASSERT_GE(r.can2.size(), 3u);
         EXPECT_GE(r.can2[0].at_s, 7.0);
         EXPECT_LT(r.can2[0].at_s, 7.01);
         EXPECT_EQ(r.can2[0].id, 0x141u);
         EXPECT_EQ(r.can2[0].data, kClose);
         EXPECT_FALSE(r.frames(0x142, kClose).empty());
         EXPECT_GT(r.frames(0x141, kSpeed).size(), 2u) << "the loop's commands get through";
     }},
    {"motor-silent-window.json", false,
     [](const Outcome& r) {
         EXPECT_TRUE(r.has(fault_lines(0, 0)));
         EXPECT_GT(r.count(timeout_line("0x142")), 0);
         EXPECT_FALSE(r.has(timeout_line("0x141")));
         // No reply of 0x142 inside the window, replies before and after it.
         int inside = 0, after = 0;
         for (const Frame& f : r.frames(0x142, kSpeed)) {
             inside += f.at_s > 7.01 && f.at_s < 8.5 ? 1 : 0;
             after += f.at_s > 8.6 ? 1 : 0;
         }
         EXPECT_EQ(inside, r.count(timeout_line("0x142")));
         EXPECT_GT(after, 2);
     }},
    {"imu-absent.json", true,
     [](const Outcome& r) {
         EXPECT_TRUE(r.has("[sensor_task] i2c init = 0\r\n"));
         EXPECT_FALSE(r.has("[sensor_task] raw data"));
         EXPECT_FALSE(r.has("[i2c]"));
         // The address goes unanswered about every 510 ms; nothing more is sent.
         ASSERT_GE(r.i2c.size(), 4u);
         for (const Transaction& t : r.i2c) {
             EXPECT_EQ(after_start(t), "W50-") << t.at_s;
         }
         EXPECT_NEAR((r.i2c[3].at_s - r.i2c[2].at_s) * 1e3, 510, 2);
     }},
    {"imu-absent-window.json", true,
     [](const Outcome& r) {
         int answered_inside = 0, unanswered_outside = 0;
         for (const Transaction& t : r.i2c) {
             const bool inside = t.at_s >= 0.6 && t.at_s < 1.6;
             const bool unanswered = after_start(t) == "W50-";
             answered_inside += inside && !unanswered ? 1 : 0;
             unanswered_outside += !inside && unanswered ? 1 : 0;
         }
         EXPECT_EQ(answered_inside, 0);
         EXPECT_EQ(unanswered_outside, 0);
         EXPECT_GE(r.transactions(kSensorRead).size(), 3u);
         EXPECT_GE(r.count("[sensor_task] raw data"), 3);
     }},
    {"sda-held-beyond-recovery.json", true,
     [](const Outcome& r) {
         // Recovery cannot free the bus; the frame operations take the held
         // line for acknowledges and zero bits until it is let go.
         EXPECT_TRUE(r.has("[sensor_task] i2c init = -2\r\n"));
         EXPECT_TRUE(r.has("[sensor_task] raw data: 0x0000, 0x0000, 0x0000"));
         EXPECT_TRUE(r.has("[sensor_task] raw data: 0x1234, 0x0000, 0x0000"));
         EXPECT_LT(r.console.find("raw data: 0x0000"), r.console.find("raw data: 0x1234"));
     }},
    {"sda-held-within-recovery.json", true,
     [](const Outcome& r) {
         // Let go during the nine recovery pulses: the bus comes up and the
         // reads succeed from the first pass.
         EXPECT_TRUE(r.has("[sensor_task] i2c init = 0\r\n"));
         EXPECT_FALSE(r.has("raw data: 0x0000"));
         EXPECT_TRUE(r.has("[sensor_task] raw data: 0x1234, 0x0000, 0x0000"));
         const std::vector<Transaction> reads = r.transactions(kSensorRead + " 34+ 12+");
         ASSERT_FALSE(reads.empty());
         EXPECT_LT(reads[0].at_s, 0.02) << "the first pass reads";
     }},
    {"scl-stretched-in-byte.json", true,
     [](const Outcome& r) {
         // The frame operations do not wait for a stretched clock: the
         // register byte is clocked out while the IMU holds SCL, it never
         // acknowledges, and each pass gives up after the 10 ms limit.
         EXPECT_FALSE(r.has("[sensor_task] raw data"));
         EXPECT_FALSE(r.has("[i2c]"));
         ASSERT_GE(r.i2c.size(), 3u);
         for (const Transaction& t : r.i2c) {
             EXPECT_EQ(after_start(t), "W50+") << t.at_s;
         }
         EXPECT_NEAR((r.i2c[2].at_s - r.i2c[1].at_s) * 1e3, 510, 2);
     }},
    {"scl-held-at-start.json", true,
     [](const Outcome& r) {
         // The bus comes up (SDA is free); no transfer gets through while the
         // clock is held, and the reads succeed once it is released.
         EXPECT_TRUE(r.has("[sensor_task] i2c init = 0\r\n"));
         EXPECT_TRUE(r.has("[sensor_task] raw data: 0x1234, 0x0000, 0x0000"));
         EXPECT_FALSE(r.has("[sensor_task] raw data: 0x0000"));
         const std::vector<Transaction> reads = r.transactions(kSensorRead);
         ASSERT_FALSE(reads.empty());
         for (const Transaction& t : reads) {
             EXPECT_GE(t.at_s, 1.0);
         }
     }},
};

class FaultCampaign : public ::testing::TestWithParam<Case> {};

TEST_P(FaultCampaign, ShowsTheSpecifiedOutcome) {
    const Outcome r = run_scenario(GetParam().scenario, GetParam().decode_i2c);
    SCOPED_TRACE(r.console.substr(0, 2000));
    GetParam().check(r);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultCampaign, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string name = info.param.scenario;
                             name = name.substr(0, name.find('.'));
                             std::string out;
                             bool upper = true;
                             for (char c : name) {
                                 if (c == '-') {
                                     upper = true;
                                 } else {
                                     out += upper ? static_cast<char>(std::toupper(c)) : c;
                                     upper = false;
                                 }
                             }
                             return out;
                         });

// Every scenario file under scenarios/faults/ has its row above.
TEST(FaultCampaignFiles, EachHasItsCheck) {
    std::vector<std::string> files;
    for (const auto& entry :
         fs::directory_iterator(fs::path(GIMBAL_SOURCE_DIR) / "scenarios" / "faults")) {
        files.push_back(entry.path().filename().string());
    }
    for (const std::string& f : files) {
        bool found = false;
        for (const Case& c : kCases) {
            found = found || f == c.scenario;
        }
        EXPECT_TRUE(found) << f << " has no check";
    }
}

}  // namespace

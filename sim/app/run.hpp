// One run of the firmware on a fresh virtual board, and what it leaves behind.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"
#include "sim/platform.hpp"
#include "sim/app/scenario.hpp"

namespace sim {

struct RunResult {
    uint64_t console_bytes = 0;  // bytes USART1 sent
    double virtual_time_s = 0;
    double wall_time_s = 0;
    std::vector<ThreadInfo> threads;
    std::size_t kernel_heap_used_bytes = 0;
    std::size_t runtime_heap_used_bytes = 0;
    uint32_t kernel_ticks = 0;
    struct Halt {
        std::string where;
        double virtual_time_s;
    };
    std::optional<Halt> halted;
    // The board at the end of the run, as read from its models.
    struct Clocks {
        uint32_t sysclk_hz = 0, hclk_hz = 0, pclk1_hz = 0, pclk2_hz = 0;
    } clocks;
    std::array<int, 3> leds{};                             // pin levels of LED 0, 1, 2
    uint32_t can1_bit_rate_hz = 0, can2_bit_rate_hz = 0;   // 0: bit timing never set
    nlohmann::json metrics;                                // summary.json's "metrics"
    nlohmann::json board_rules = nlohmann::json::array();  // breaches recorded, not halted on
    nlohmann::json can_buses = nlohmann::json::object();   // per bus: load, error frames, counters
};

/// Which of the files that grow with the run are written, and for which
/// stretch of virtual time (i2c.vcd, the CAN logs and trace.csv).
struct OutputOptions {
    bool vcd = true, can_logs = true, trace = true;
    double window_start_s = 0;
    double window_end_s = 1e300;
};

/// Bit rate of a bxCAN controller from its BTR value and PCLK1; 0 for the
/// register's reset value (or a cleared one): bit timing never set.
uint32_t can_bit_rate_hz(uint32_t btr, uint32_t pclk1_hz);

/// How a run reaches the world outside the board.
struct RunHooks {
    std::function<void(uint8_t)> console_echo;  // each console byte as it leaves
    /// Wall seconds without virtual progress after which the firmware counts
    /// as stuck in code that calls nothing; `on_stuck` then gets what the run
    /// has so far (from another host thread) and the process ends with
    /// kExitBoardHalted.
    double stuck_after_s = 10.0;
    std::function<void(const RunResult&)> on_stuck;
    /// Folder for the files that grow with the run (console.log, i2c.vcd,
    /// can1.log, can2.log, trace.csv), streamed into it as the run goes;
    /// empty: none.
    std::string stream_dir;
    /// Keep virtual time from running ahead of wall-clock time (a terminal
    /// attached to the console sees the board's own pace).
    bool wall_clock_pace = false;
    OutputOptions outputs;
    /// Progress lines on standard error while the run takes long in wall time.
    bool progress = false;
};

/// Virtual seconds between two rows of the plant in trace.csv (and two
/// samples of the error figures).
inline constexpr double kTraceStepS = 0.02;

/// gimbal-sim's exit status when the board halted or the firmware got stuck.
inline constexpr int kExitBoardHalted = 3;

/// Boots the firmware from reset on this process's board and runs it for the
/// scenario's duration. Once per process.
RunResult run_firmware(const Scenario& scenario, const RunHooks& hooks = {});

/// The board settings a scenario asks for.
BoardConfig board_config(const Scenario& scenario);

nlohmann::json summary_json(const Scenario& scenario, const RunResult& result);

/// One frame as a line of a candump log: "(SECONDS.MICROSECONDS) canN ID#HEXDATA".
std::string candump_line(const CanFrame& frame, Picos end_of_frame, const std::string& bus);
/// An error frame as candump logs it: the CAN_ERR_FLAG identifier with the
/// error class of linux/can/error.h and its eight data bytes.
std::string candump_error_line(const CanError& error, const std::string& bus);

/// Writes summary.json into `dir` (created if missing), whole or not at all;
/// the other files were streamed during the run.
void write_outputs(const std::string& dir, const Scenario& scenario, const RunResult& result);

}  // namespace sim

// One run of the firmware on a fresh virtual board, and what it leaves behind.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"
#include "sim/platform.hpp"
#include "sim/app/scenario.hpp"

namespace sim {

class Control;

struct RunResult {
    uint64_t console_bytes = 0;  // bytes USART1 sent
    double virtual_time_s = 0;
    double wall_time_s = 0;
    std::vector<ThreadInfo> threads;
    /// Per thread, as created: where the core's time went.
    struct ThreadFigures {
        double cpu_share = 0;  // of the run's virtual time, interrupt handlers left out
        uint64_t switches = 0;
        double longest_ready_wait_s = 0;
    };
    std::vector<ThreadFigures> thread_figures;
    /// Per thread, as created: what the runner adds (gimbal-arm: summary.json's
    /// threads' "arm"); null or missing: nothing.
    std::vector<nlohmann::json> thread_extras;
    std::size_t kernel_heap_used_bytes = 0;
    std::size_t runtime_heap_used_bytes = 0;
    uint32_t kernel_ticks = 0;
    struct Halt {
        std::string where;
        double virtual_time_s;
    };
    std::optional<Halt> halted;
    /// The signal that ended the run before its duration ("SIGTERM", ...).
    std::optional<std::string> interrupted;
    // The board at the end of the run, as read from its models.
    struct Clocks {
        uint32_t sysclk_hz = 0, hclk_hz = 0, pclk1_hz = 0, pclk2_hz = 0;
    } clocks;
    std::array<int, Board::kLedCount> leds{};              // pin levels of LED 0, 1, 2
    uint32_t can1_bit_rate_hz = 0, can2_bit_rate_hz = 0;   // 0: bit timing never set
    nlohmann::json metrics;                                // summary.json's "metrics"
    nlohmann::json board_rules = nlohmann::json::array();  // breaches recorded, not halted on
    nlohmann::json i2c_timing;                             // summary.json's "i2c_timing"
    nlohmann::json can_buses = nlohmann::json::object();   // per bus: load, error frames, counters
    nlohmann::json control;                                // summary.json's "control" (null: none)
};

/// Which outputs are left out (by their option name in the output registry,
/// sim/app/outputs), and for which stretch of virtual time the files that
/// grow with the run are written (i2c.vcd, the CAN logs and trace.csv).
struct OutputOptions {
    std::set<std::string> off;
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
    /// as stuck in code that calls nothing (or, after a stop signal, half a
    /// second); the run's files are then written from another host thread,
    /// `on_stuck` gets what the run has so far, and the process ends with the
    /// status it returns (kExitOutputFailed if a file cannot be written).
    double stuck_after_s = 10.0;
    std::function<int(const RunResult&)> on_stuck;
    /// Folder for the run's files (sim/app/outputs), streamed into it as the
    /// run goes and each given its name when whole; empty: none. The caller
    /// prepares it (sim/app/outputs/folder.hpp).
    std::string out_dir;
    /// Keep virtual time from running ahead of wall-clock time (a terminal
    /// attached to the console sees the board's own pace).
    bool wall_clock_pace = false;
    /// The board once it is made, before power-on (a live bus joins it here).
    std::function<void(Board&)> on_board;
    /// What the core runs from reset: the host build's firmware by default,
    /// the ARM image on the emulated core for gimbal-arm.
    std::function<void()> reset;
    /// Adds the runner's own figures to a run's result before its files are written.
    std::function<void(RunResult&)> on_result;
    /// Between two slices, after a paced run has waited for the wall clock:
    /// the one moment the world outside may act on the board.
    std::function<void()> between_slices;
    OutputOptions outputs;
    /// Progress lines on standard error while the run takes long in wall time.
    bool progress = false;
    /// What the run's own messages on standard error start with.
    std::string program = "gimbal-sim";
    /// A script drives the run (sim/app/control.hpp): the board moves only
    /// under its commands, and the scenario's duration does not end it.
    Control* control = nullptr;
};

/// Virtual seconds between two rows of the plant in trace.csv (and two
/// samples of the error figures).
inline constexpr double kTraceStepS = 0.02;

/// gimbal-sim's exit status when the board halted or the firmware got stuck.
inline constexpr int kExitBoardHalted = 3;
/// gimbal-sim's exit status when an output file cannot be written.
inline constexpr int kExitOutputFailed = 4;

/// Boots the firmware from reset on this process's board and runs it for the
/// scenario's duration, or until a stop signal or a failed output
/// (sim/app/stop.hpp), then writes every file. Once per process. Throws
/// OutputError naming a file that cannot be written.
RunResult run_firmware(const Scenario& scenario, const RunHooks& hooks = {});

/// The board settings a scenario asks for.
BoardConfig board_config(const Scenario& scenario);

nlohmann::json summary_json(const Scenario& scenario, const RunResult& result);

}  // namespace sim

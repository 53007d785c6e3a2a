#include "sim/app/run.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <sstream>
#include <stdexcept>

#include "sim/app/stuck_watch.hpp"
#include "sim/app/vcd.hpp"
#include "sim/board/board.hpp"

namespace sim {

uint32_t can_bit_rate_hz(uint32_t btr, uint32_t pclk1_hz) {
    constexpr uint32_t kBtrReset = 0x01230000;
    if (btr == 0 || btr == kBtrReset) {
        return 0;
    }
    const uint32_t brp = btr & 0x3FF;
    const uint32_t ts1 = (btr >> 16) & 0xF;
    const uint32_t ts2 = (btr >> 20) & 0x7;
    const uint64_t quanta_per_bit = 1 + (ts1 + 1) + (ts2 + 1);
    return static_cast<uint32_t>(pclk1_hz / ((brp + 1) * quanta_per_bit));
}

namespace {

// Frames of CAN1's and CAN2's buses as they complete (one run per process).
std::string g_can_log[2];

// The board's LED pins (Core/Inc/main.h: LED0 PE3, LED1 PE4, LED2 PG9).
constexpr std::array<std::pair<char, int>, 3> kLedPins{{{'E', 3}, {'E', 4}, {'G', 9}}};

// BTR through the register storage, so that any bxCAN model serves.
uint32_t can_btr(Board& board, const char* name) {
    constexpr uint32_t BTR = 0x1C;
    const uintptr_t base = board.model<RegisterBlock>(name).base();
    return *reinterpret_cast<const uint32_t*>(base + BTR);
}

void read_board(Board& board, RunResult& r) {
    Rcc& rcc = board.rcc();
    r.clocks = {rcc.sysclk_hz(), rcc.hclk_hz(), rcc.pclk1_hz(), rcc.pclk2_hz()};
    for (std::size_t i = 0; i < kLedPins.size(); i++) {
        r.leds[i] = board.gpio(kLedPins[i].first).level(kLedPins[i].second);
    }
    r.can1_bit_rate_hz = can_bit_rate_hz(can_btr(board, "CAN1"), r.clocks.pclk1_hz);
    r.can2_bit_rate_hz = can_bit_rate_hz(can_btr(board, "CAN2"), r.clocks.pclk1_hz);
}

RunResult collect(Board& board, std::chrono::steady_clock::time_point wall_start) {
    RunResult r;
    r.console = board.console_text();
    r.can_log[0] = g_can_log[0];
    r.can_log[1] = g_can_log[1];
    r.virtual_time_s = to_seconds(board.cpu().now());
    r.wall_time_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    r.threads = created_threads();
    r.kernel_heap_used_bytes = kernel_heap_used();
    r.runtime_heap_used_bytes = runtime_heap_used();
    r.kernel_ticks = kernel_ticks();
    if (const auto& halt = board.cpu().halted()) {
        r.halted = RunResult::Halt{halt->where, to_seconds(halt->at)};
    }
    read_board(board, r);
    return r;
}

}  // namespace

namespace {

Picos picos(double seconds) {
    return static_cast<Picos>(std::llround(seconds * 1e12));
}

FaultWindow fault_window(const WindowSettings& w) {
    return {picos(w.from_s), w.until_s ? picos(*w.until_s) : kNever,
            w.every_s ? picos(*w.every_s) : 0};
}

}  // namespace

BoardConfig board_config(const Scenario& scenario) {
    BoardConfig config;
    config.queue_create_fails = scenario.faults.queue_create_fails;
    config.crystal_fitted = !scenario.faults.no_crystal;
    config.imu.present = scenario.imu.present;
    config.imu.roll = scenario.imu.roll;
    config.imu.pitch = scenario.imu.pitch;
    config.imu.yaw = scenario.imu.yaw;
    config.imu.temp = scenario.imu.temp;
    config.imu.hold_sda_low = static_cast<Picos>(std::llround(scenario.imu.hold_sda_low_ms * 1e9));
    config.imu.stretch_scl = static_cast<Picos>(std::llround(scenario.imu.stretch_scl_us * 1e6));
    config.imu.hold_scl_low = static_cast<Picos>(std::llround(scenario.imu.hold_scl_low_ms * 1e9));
    if (scenario.imu.window) {
        config.imu.window = fault_window(*scenario.imu.window);
    }
    config.motors.clear();
    for (const auto& [id, m] : scenario.motors) {
        config.motors.push_back(
            MotorConfig{id, m.present, m.answers, m.reply_delay_us, m.close_garbage});
        if (m.window) {
            config.motor_windows[id] = fault_window(*m.window);
        }
    }
    config.tick_start = scenario.tick_start;
    return config;
}

RunResult run_firmware(const Scenario& scenario, const RunHooks& hooks) {
    Board& board = Board::create(board_config(scenario));
    board.set_console_echo(hooks.console_echo);
    for (int n = 1; n <= 2; n++) {
        CanBus& bus = board.can_bus(n);
        std::string& log = g_can_log[n - 1];
        bus.add_listener([&log, &bus](const CanFrame& frame, Picos at, const CanNode*) {
            log += candump_line(frame, at, bus.name());
        });
    }
    std::unique_ptr<VcdWriter> vcd;
    if (!hooks.stream_dir.empty()) {
        std::filesystem::create_directories(hooks.stream_dir);
        vcd = std::make_unique<VcdWriter>(std::filesystem::path(hooks.stream_dir) / "i2c.vcd",
                                          std::vector<Wire*>{&board.i2c_scl(), &board.i2c_sda()});
    }

    const auto wall_start = std::chrono::steady_clock::now();
    board.power_on(firmware_reset);
    const Picos end = static_cast<Picos>(std::llround(scenario.duration_s * 1e12));
    {
        // The core's thread is spinning in firmware code that touches nothing
        // of the board when this fires, so reading the board here is safe.
        StuckWatch watch(board.cpu(), hooks.stuck_after_s, [&] {
            RunResult r = collect(board, wall_start);
            std::ostringstream where;
            where << "stuck in " << running_context() << ": no virtual progress for "
                  << hooks.stuck_after_s << " s of wall time";
            r.halted = RunResult::Halt{where.str(), to_seconds(board.cpu().progress())};
            if (vcd) {
                vcd->finish(board.cpu().progress());
            }
            if (hooks.on_stuck) {
                hooks.on_stuck(r);
            }
            std::fflush(nullptr);
            std::_Exit(kExitBoardHalted);
        });
        board.run_until(end);
    }
    if (vcd) {
        vcd->finish(board.cpu().now());
    }
    return collect(board, wall_start);
}

std::string candump_line(const CanFrame& frame, Picos end_of_frame, const std::string& bus) {
    const uint64_t us = end_of_frame / kPsPerUs;
    char head[64];
    std::snprintf(head, sizeof(head),
                  frame.ide ? "(%llu.%06llu) %s %08X#" : "(%llu.%06llu) %s %03X#",
                  static_cast<unsigned long long>(us / 1000000U),
                  static_cast<unsigned long long>(us % 1000000U), bus.c_str(),
                  static_cast<unsigned>(frame.id));
    std::string line = head;
    if (frame.rtr) {
        line += "R";
    } else {
        static const char kHex[] = "0123456789ABCDEF";
        for (int i = 0; i < std::min<int>(frame.dlc, 8); i++) {
            line += kHex[frame.data[i] >> 4];
            line += kHex[frame.data[i] & 0xF];
        }
    }
    return line + "\n";
}

nlohmann::json summary_json(const Scenario& scenario, const RunResult& r) {
    nlohmann::json threads = nlohmann::json::array();
    for (const ThreadInfo& t : r.threads) {
        threads.push_back(
            {{"name", t.name}, {"priority", t.priority}, {"stack_size", t.stack_size}});
    }
    nlohmann::json halted = nullptr;
    if (r.halted) {
        halted = {{"where", r.halted->where}, {"virtual_time_s", r.halted->virtual_time_s}};
    }
    return {
        {"virtual_time_s", r.virtual_time_s},
        {"wall_time_s", r.wall_time_s},
        {"threads", threads},
        {"kernel_heap_used_bytes", r.kernel_heap_used_bytes},
        {"kernel_heap_size_bytes", kernel_heap_size()},
        {"runtime_heap_used_bytes", r.runtime_heap_used_bytes},
        {"kernel_ticks", r.kernel_ticks},
        {"console_bytes", r.console.size()},
        {"halted", halted},
        {"clocks",
         {{"sysclk_hz", r.clocks.sysclk_hz},
          {"hclk_hz", r.clocks.hclk_hz},
          {"pclk1_hz", r.clocks.pclk1_hz},
          {"pclk2_hz", r.clocks.pclk2_hz}}},
        {"leds", r.leds},
        {"can_bit_rate_hz", {{"can1", r.can1_bit_rate_hz}, {"can2", r.can2_bit_rate_hz}}},
        {"scenario", to_json(scenario)},
    };
}

namespace {

void write_whole(const std::filesystem::path& path, const std::string& bytes) {
    const std::filesystem::path tmp = path.string() + ".partial";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            throw std::runtime_error("cannot write '" + tmp.string() + "'");
        }
    }
    std::filesystem::rename(tmp, path);
}

}  // namespace

void write_outputs(const std::string& dir, const Scenario& scenario, const RunResult& result) {
    std::filesystem::create_directories(dir);
    write_whole(std::filesystem::path(dir) / "console.log", result.console);
    write_whole(std::filesystem::path(dir) / "can1.log", result.can_log[0]);
    write_whole(std::filesystem::path(dir) / "can2.log", result.can_log[1]);
    write_whole(std::filesystem::path(dir) / "summary.json",
                summary_json(scenario, result).dump(2) + "\n");
}

}  // namespace sim

#include "sim/app/run.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "sim/app/imu_reads.hpp"
#include "sim/app/metrics.hpp"
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

// The board's LED pins (Core/Inc/main.h: LED0 PE3, LED1 PE4, LED2 PG9).
constexpr std::array<std::pair<char, int>, 3> kLedPins{{{'E', 3}, {'E', 4}, {'G', 9}}};

// Where the error figures start if the control loop never steps: the
// control task's 5 s start-up wait and its start-up exchanges.
constexpr double kFallbackSettleS = 6.0;
constexpr uint8_t kSpeedCommand = 0xA2;
// The imu_data_t record: acc[3], gyro[3], angle[3], single precision.
constexpr std::size_t kSampleAngleOffset = 6 * sizeof(float);

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
    const double elapsed = static_cast<double>(board.cpu().now());
    for (int n = 1; n <= 2; n++) {
        const CanBus& bus = board.can_bus(n);
        const CanController& c = n == 1 ? board.can1() : board.can2();
        r.can_buses[bus.name()] = {
            {"load", elapsed > 0 ? static_cast<double>(bus.busy_time()) / elapsed : 0.0},
            {"error_frames", bus.errors()},
            {"tec_max", c.tec_max()},
            {"rec_max", c.rec_max()}};
    }
    for (const BoardRules::Record& rule : board.cpu().rules().records()) {
        r.board_rules.push_back({{"rule", rule.rule},
                                 {"count", rule.count},
                                 {"first_s", to_seconds(rule.first)},
                                 {"worst", rule.worst},
                                 {"unit", rule.unit}});
    }
}

std::ofstream open_stream(const std::filesystem::path& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("cannot write '" + path.string() + "'");
    }
    return out;
}

std::string fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Everything a run observes and streams: console.log, the CAN logs,
// trace.csv, i2c.vcd, and the counts and figures of summary.json.
class Recorder {
  public:
    Recorder(Board& board, const RunHooks& hooks)
        : board_(board),
          hooks_(hooks),
          window_from_(static_cast<Picos>(std::llround(hooks.outputs.window_start_s * 1e12))),
          window_until_(hooks.outputs.window_end_s >= 1e9
                            ? ~Picos{0}
                            : static_cast<Picos>(std::llround(hooks.outputs.window_end_s * 1e12))),
          metrics_(kFallbackSettleS),
          reads_(board.i2c_scl(), board.i2c_sda()),
          tick_([this](Picos now) { tick(now); }) {
        const std::filesystem::path dir = hooks.stream_dir;
        streaming_ = !hooks.stream_dir.empty();
        if (streaming_) {
            std::filesystem::create_directories(dir);
            console_ = open_stream(dir / "console.log");
            if (hooks.outputs.can_logs) {
                can_[0] = open_stream(dir / "can1.log");
                can_[1] = open_stream(dir / "can2.log");
            }
            if (hooks.outputs.trace) {
                trace_ = open_stream(dir / "trace.csv");
                trace_ << "time_s,event,base_roll_deg,base_pitch_deg,motor_roll_deg,"
                          "motor_pitch_deg,platform_roll_deg,platform_pitch_deg,"
                          "command_roll_dps,command_pitch_dps,speed_roll_dps,speed_pitch_dps,"
                          "sample_roll_deg,sample_pitch_deg,sent_id,sent_speed_dps\n";
            }
            if (hooks.outputs.vcd) {
                vcd_ = std::make_unique<VcdWriter>(
                    dir / "i2c.vcd", std::vector<Wire*>{&board.i2c_scl(), &board.i2c_sda()},
                    window_from_, window_until_);
            }
        }
        board.set_console_kept(false);
        board.imu().set_logging(false);
        board.set_console_echo([this](uint8_t byte) { console_byte(byte); });
        for (int n = 1; n <= 2; n++) {
            CanBus& bus = board.can_bus(n);
            bus.add_listener([this, n, &bus](const CanFrame& frame, Picos at, const CanNode* from) {
                frame_done(n, bus, frame, at, from);
            });
            bus.add_error_listener([this, n, &bus](const CanError& error) {
                if (can_[n - 1].is_open() && in_window(error.at)) {
                    can_[n - 1] << candump_error_line(error, bus.name());
                }
            });
        }
        set_queue_put_observer(
            [this](const void* msg, uint32_t size, bool queued) { sample_put(msg, size, queued); });
        set_control_observer([this](int, float, float) {
            steps_++;
            metrics_.control_stepped(to_seconds(board_.cpu().now()));
        });
        board.cpu().events().schedule(tick_, 0);
        wall_start_ = std::chrono::steady_clock::now();
        last_progress_ = wall_start_;
    }

    // The file handles are flushed by whoever ends the run: the normal end,
    // or the stuck watch while the core spins in code that touches nothing.
    void finish(Picos end) {
        if (vcd_) {
            vcd_->finish(end);
        }
        console_.flush();
        for (auto& log : can_) {
            log.flush();
        }
        trace_.flush();
        for (std::ofstream* out : {&console_, &can_[0], &can_[1], &trace_}) {
            if (out->is_open() && !*out) {
                throw std::runtime_error("cannot write the run's files in '" + hooks_.stream_dir +
                                         "'");
            }
        }
    }

    void fill(RunResult& r) const {
        r.console_bytes = board_.console_bytes();
        nlohmann::json m;
        const char* names[2] = {"roll", "pitch"};
        for (int i = 0; i < 2; i++) {
            const AxisFigures a = metrics_.axis(i);
            m[names[i]] = {{"rms_error_deg", a.rms_error_deg},
                           {"peak_error_deg", a.peak_error_deg}};
        }
        const StabilityFigures s = metrics_.stability();
        m["settle_s"] = metrics_.settle_s() ? nlohmann::json(*metrics_.settle_s()) : nullptr;
        m["speed_commands_sent"] = commands_sent_;
        m["motor_exchanges_failed"] = exchanges_failed_;
        m["imu_reads_failed"] = reads_.failed();
        m["imu_reads"] = reads_.attempts();
        m["samples_queued"] = samples_queued_;
        m["samples_dropped"] = samples_dropped_;
        m["control_steps"] = steps_;
        m["stability"] = s.verdict;
        m["oscillation_growth_per_s"] = s.growth_per_s;
        m["error_to_base_motion"] = s.attenuation;
        m["saturated"] = s.saturated;
        m["last_window_error_peak_deg"] = s.last_window_error_peak_deg;
        m["last_window_base_swing_deg"] = s.last_window_base_swing_deg;
        r.metrics = m;
    }

  private:
    bool in_window(Picos at) const { return at >= window_from_ && at < window_until_; }

    void console_byte(uint8_t byte) {
        if (streaming_) {
            console_.put(static_cast<char>(byte));
        }
        // The motor driver's own reports of a failed exchange.
        if (byte == '\n') {
            if (line_.rfind("Error: Failed to send CAN message", 0) == 0 ||
                line_.rfind("Error: Timeout waiting for motor response", 0) == 0) {
                exchanges_failed_++;
            }
            line_.clear();
        } else if (line_.size() < 64) {
            line_.push_back(static_cast<char>(byte));
        }
        if (hooks_.console_echo) {
            hooks_.console_echo(byte);
        }
    }

    void frame_done(int n, CanBus& bus, const CanFrame& frame, Picos at, const CanNode* from) {
        if (can_[n - 1].is_open() && in_window(at)) {
            can_[n - 1] << candump_line(frame, at, bus.name());
        }
        const bool from_motor = board_.motor(frame.id) == from && from != nullptr;
        if (n != 2 || from_motor || frame.ide || frame.rtr || frame.dlc < 8 ||
            frame.data[0] != kSpeedCommand) {
            return;
        }
        commands_sent_++;
        const auto speed = static_cast<int32_t>(static_cast<uint32_t>(frame.data[4]) |
                                                (static_cast<uint32_t>(frame.data[5]) << 8) |
                                                (static_cast<uint32_t>(frame.data[6]) << 16) |
                                                (static_cast<uint32_t>(frame.data[7]) << 24));
        char id[8];
        std::snprintf(id, sizeof id, "0x%03X", static_cast<unsigned>(frame.id));
        row(at, "command", ",," + std::string(id) + "," + fixed(speed / 100.0, 2));
    }

    void sample_put(const void* msg, uint32_t size, bool queued) {
        (queued ? samples_queued_ : samples_dropped_)++;
        if (size < kSampleAngleOffset + 2 * sizeof(float)) {
            return;
        }
        float angle[2];
        std::memcpy(angle, static_cast<const uint8_t*>(msg) + kSampleAngleOffset, sizeof angle);
        row(board_.cpu().now(), queued ? "sample" : "dropped",
            fixed(angle[0], 4) + "," + fixed(angle[1], 4) + ",,");
    }

    // One line of trace.csv: the plant now, then the event's own columns.
    void row(Picos at, const char* event, const std::string& tail) {
        if (!trace_.is_open() || !in_window(at)) {
            return;
        }
        const PlantState p = board_.plant()->state(at);
        trace_ << fixed(to_seconds(at), 6) << ',' << event << ',' << fixed(p.roll.base_deg, 4)
               << ',' << fixed(p.pitch.base_deg, 4) << ',' << fixed(p.roll.motor_deg, 4) << ','
               << fixed(p.pitch.motor_deg, 4) << ',' << fixed(p.roll.platform_deg, 4) << ','
               << fixed(p.pitch.platform_deg, 4) << ',' << fixed(p.roll.command_dps, 2) << ','
               << fixed(p.pitch.command_dps, 2) << ',' << fixed(p.roll.motor_dps, 3) << ','
               << fixed(p.pitch.motor_dps, 3) << ',' << tail << '\n';
    }

    void tick(Picos now) {
        const PlantState p = board_.plant()->state(now);
        metrics_.sample(to_seconds(now), {p.roll.platform_deg, p.pitch.platform_deg},
                        {p.roll.base_deg, p.pitch.base_deg});
        row(now, "plant", ",,,");
        board_.cpu().events().schedule(tick_, now + kTraceStep);
        if (hooks_.progress && ++ticks_ % 50 == 0) {
            progress(now);
        }
    }

    // Wall time only decides whether to print: nothing of the board depends on it.
    void progress(Picos now) {
        const auto wall = std::chrono::steady_clock::now();
        if (wall - last_progress_ < std::chrono::seconds(2)) {
            return;
        }
        last_progress_ = wall;
        const double elapsed = std::chrono::duration<double>(wall - wall_start_).count();
        std::fprintf(stderr, "gimbal-sim: %.0f s of virtual time, %.0fx real time\n",
                     to_seconds(now), to_seconds(now) / elapsed);
    }

    static constexpr Picos kTraceStep = static_cast<Picos>(kTraceStepS * 1e12);

    Board& board_;
    const RunHooks& hooks_;
    Picos window_from_, window_until_;
    bool streaming_ = false;
    std::ofstream console_, can_[2], trace_;
    std::unique_ptr<VcdWriter> vcd_;
    Metrics metrics_;
    ImuReadCounter reads_;
    std::string line_;
    uint64_t commands_sent_ = 0, exchanges_failed_ = 0, samples_queued_ = 0, samples_dropped_ = 0,
             steps_ = 0, ticks_ = 0;
    FunctionEvent tick_;
    std::chrono::steady_clock::time_point wall_start_, last_progress_;
};

RunResult collect(Board& board, const Recorder& recorder,
                  std::chrono::steady_clock::time_point wall_start) {
    RunResult r;
    recorder.fill(r);
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

// Slices of virtual time, each waited for on the wall clock: the board stops
// and resumes between them exactly as it would run straight through.
void run_paced(Board& board, Picos end, std::chrono::steady_clock::time_point wall_start) {
    constexpr Picos kSlice = 10 * kPsPerMs;
    for (Picos t = 0; t < end && !board.cpu().halted();) {
        t = std::min(end, t + kSlice);
        board.run_until(t);
        std::this_thread::sleep_until(wall_start + std::chrono::nanoseconds(t / 1000));
    }
    board.run_until(end);  // a halted board's peripherals finish at once
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
        config.motors.push_back(MotorConfig{id, m.present, m.answers, m.reply_delay_us,
                                            m.close_garbage, m.bit_rate_hz});
        if (m.window) {
            config.motor_windows[id] = fault_window(*m.window);
        }
    }
    PlantConfig plant;
    plant.roll = scenario.disturbance.roll;
    plant.pitch = scenario.disturbance.pitch;
    plant.imu_rate_hz = scenario.plant.imu_rate_hz;
    plant.angle_noise_deg = scenario.plant.angle_noise_deg;
    plant.rate_noise_dps = scenario.plant.rate_noise_dps;
    plant.accel_noise_g = scenario.plant.accel_noise_g;
    plant.temperature_c = scenario.plant.temperature_c;
    plant.seed = scenario.seed;
    plant.feeds_imu = !scenario.imu.raw_given;
    config.plant = plant;
    config.tick_start = scenario.tick_start;
    return config;
}

ControlOverride control_override(const Scenario& scenario) {
    ControlOverride c;
    for (auto [from, to] : {std::pair{&scenario.control.roll, &c.roll},
                            std::pair{&scenario.control.pitch, &c.pitch}}) {
        if (*from) {
            *to = PidGains{static_cast<float>((*from)->kp), static_cast<float>((*from)->ki),
                           static_cast<float>((*from)->kd)};
        }
    }
    if (scenario.control.output_max) {
        c.output_max = static_cast<float>(*scenario.control.output_max);
    }
    return c;
}

RunResult run_firmware(const Scenario& scenario, const RunHooks& hooks) {
    Board& board = Board::create(board_config(scenario));
    set_control_override(control_override(scenario));
    Recorder recorder(board, hooks);

    const auto wall_start = std::chrono::steady_clock::now();
    board.power_on(firmware_reset);
    const Picos end = static_cast<Picos>(std::llround(scenario.duration_s * 1e12));
    {
        // The core's thread is spinning in firmware code that touches nothing
        // of the board when this fires, so reading the board here is safe.
        StuckWatch watch(board.cpu(), hooks.stuck_after_s, [&] {
            RunResult r = collect(board, recorder, wall_start);
            std::ostringstream where;
            where << "stuck in " << running_context() << ": no virtual progress for "
                  << hooks.stuck_after_s << " s of wall time";
            r.halted = RunResult::Halt{where.str(), to_seconds(board.cpu().progress())};
            recorder.finish(board.cpu().progress());
            if (hooks.on_stuck) {
                hooks.on_stuck(r);
            }
            std::fflush(nullptr);
            std::_Exit(kExitBoardHalted);
        });
        if (hooks.wall_clock_pace) {
            run_paced(board, end, wall_start);
        } else {
            board.run_until(end);
        }
    }
    recorder.finish(board.cpu().now());
    return collect(board, recorder, wall_start);
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

std::string candump_error_line(const CanError& error, const std::string& bus) {
    // linux/can/error.h: CAN_ERR_FLAG, and the classes CAN_ERR_PROT (0x08),
    // CAN_ERR_ACK (0x20), CAN_ERR_BUSERROR (0x80); data[2] the protocol
    // error type, CAN_ERR_PROT_BIT1 | CAN_ERR_PROT_TX (sent recessive, saw dominant).
    constexpr uint32_t kErrFlag = 0x20000000U, kProt = 0x08U, kAck = 0x20U, kBusError = 0x80U;
    CanFrame f;
    f.ide = true;
    f.dlc = 8;
    if (error.kind == CanError::kAck) {
        f.id = kErrFlag | kAck | kBusError;
    } else {
        f.id = kErrFlag | kProt | kBusError;
        f.data[2] = 0x10U | 0x80U;
    }
    return candump_line(f, error.at, bus);
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
        {"console_bytes", r.console_bytes},
        {"halted", halted},
        {"clocks",
         {{"sysclk_hz", r.clocks.sysclk_hz},
          {"hclk_hz", r.clocks.hclk_hz},
          {"pclk1_hz", r.clocks.pclk1_hz},
          {"pclk2_hz", r.clocks.pclk2_hz}}},
        {"leds", r.leds},
        {"can_bit_rate_hz", {{"can1", r.can1_bit_rate_hz}, {"can2", r.can2_bit_rate_hz}}},
        {"board_rules", r.board_rules},
        {"can_buses", r.can_buses},
        {"metrics", r.metrics},
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
    write_whole(std::filesystem::path(dir) / "summary.json",
                summary_json(scenario, result).dump(2) + "\n");
}

}  // namespace sim

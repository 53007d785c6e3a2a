#include "sim/app/run.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <sstream>
#include <thread>
#include <utility>

#include "sim/app/control.hpp"
#include "sim/app/imu_reads.hpp"
#include "sim/app/metrics.hpp"
#include "sim/app/outputs/folder.hpp"
#include "sim/app/outputs/output_file.hpp"
#include "sim/app/outputs/writer.hpp"
#include "sim/app/stop.hpp"
#include "sim/app/stuck_watch.hpp"
#include "sim/app/thread_stats.hpp"
#include "sim/board/board.hpp"
#include "sim/models/i2c_timing.hpp"

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

// Where the error figures start if the control loop never steps: the
// control task's 5 s start-up wait and its start-up exchanges.
constexpr double kFallbackSettleS = 6.0;
constexpr uint8_t kSpeedCommand = 0xA2;
constexpr Picos kTraceStep = static_cast<Picos>(kTraceStepS * 1e12);

// BTR through the register storage, so that any bxCAN model serves.
uint32_t can_btr(Board& board, const char* name) {
    constexpr uint32_t BTR = 0x1C;
    const uintptr_t base = board.model<RegisterBlock>(name).base();
    return *reinterpret_cast<const uint32_t*>(base + BTR);
}

void read_board(Board& board, RunResult& r) {
    Rcc& rcc = board.rcc();
    r.clocks = {rcc.sysclk_hz(), rcc.hclk_hz(), rcc.pclk1_hz(), rcc.pclk2_hz()};
    for (std::size_t i = 0; i < r.leds.size(); i++) {
        r.leds[i] = board.led(i);
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

// Per mode and parameter: measurements, violations, the worst value and when
// the first violation happened, with the limit it was held against.
nlohmann::json i2c_timing_json(const I2cTimingMonitor& monitor, const BoardConfig::I2cBus& lines) {
    nlohmann::json out = {{"transactions", monitor.transactions()},
                          {"pull_up_ohms", lines.pull_up_ohms},
                          {"bus_capacitance_pf", lines.capacitance_pf}};
    const char* modes[I2cTimingMonitor::kModes] = {"standard", "fast"};
    for (int m = 0; m < I2cTimingMonitor::kModes; m++) {
        nlohmann::json mode = nlohmann::json::object();
        for (int p = 0; p < I2cTimingMonitor::kParameters; p++) {
            const auto& limit = I2cTimingMonitor::kLimits[static_cast<std::size_t>(p)];
            const auto& f = monitor.figures(static_cast<I2cTimingMonitor::Parameter>(p));
            mode[limit.name] = {
                {"measured", f.measured},
                {"violations", f.violations[static_cast<std::size_t>(m)]},
                {"worst_s", f.measured > 0 ? nlohmann::json(f.worst_s) : nullptr},
                {"first_s", f.violations[static_cast<std::size_t>(m)] > 0
                                ? nlohmann::json(to_seconds(f.first[static_cast<std::size_t>(m)]))
                                : nullptr},
                {limit.maximum ? "max_s" : "min_s", limit.s[static_cast<std::size_t>(m)]}};
        }
        out[modes[m]] = mode;
    }
    return out;
}

// Fans the board's and the platform's single hooks out to the probes'
// listeners, and ticks them on the trace's grid.
class ProbeHub {
  public:
    ProbeHub(Probes& probes, const RunHooks& hooks)
        : probes_(probes), tick_([this](Picos now) { tick(now); }) {
        Board& board = probes.board;
        board.imu().set_logging(false);
        if (hooks.console_echo) {
            probes.console.push_back(hooks.console_echo);
        }
        board.cpu().probes().console_tx.listen([this](uint8_t byte, Picos) {
            for (auto& listener : probes_.console) {
                listener(byte);
            }
        });
        board.can_bus(2).add_listener([this](const CanFrame& frame, Picos at, const CanNode* from) {
            frame_done(frame, at, from);
        });
        board.cpu().probes().queue_put.listen([this](const QueueOp& op) {
            for (auto& listener : probes_.sample_put) {
                listener(op.msg, op.size, op.ok, op.at);
            }
        });
        board.cpu().events().schedule(tick_, 0);
    }

  private:
    void frame_done(const CanFrame& frame, Picos at, const CanNode* from) {
        const bool from_motor = probes_.board.motor(frame.id) == from && from != nullptr;
        if (from_motor || frame.ide || frame.rtr || frame.dlc < 8 ||
            frame.data[0] != kSpeedCommand) {
            return;
        }
        const auto speed = static_cast<int32_t>(static_cast<uint32_t>(frame.data[4]) |
                                                (static_cast<uint32_t>(frame.data[5]) << 8) |
                                                (static_cast<uint32_t>(frame.data[6]) << 16) |
                                                (static_cast<uint32_t>(frame.data[7]) << 24));
        for (auto& listener : probes_.speed_command) {
            listener(frame.id, speed, at);
        }
    }

    void tick(Picos now) {
        for (auto& listener : probes_.tick) {
            listener(now);
        }
        probes_.board.cpu().events().schedule(tick_, now + kTraceStep);
    }

    Probes& probes_;
    FunctionEvent tick_;
};

// The counts and figures of summary.json's "metrics".
class Figures {
  public:
    Figures(Probes& probes, bool progress, std::string program)
        : board_(probes.board),
          metrics_(kFallbackSettleS),
          reads_(board_.i2c_scl(), board_.i2c_sda(), &board_.cpu().probes().i2c_transaction),
          threads_(board_.cpu().probes()),
          timing_(board_.i2c_scl(), board_.i2c_sda()),
          progress_(progress),
          program_(std::move(program)) {
        probes.threads = &threads_;
        probes.sample_put.push_back([this](const void*, uint32_t, bool queued, Picos) {
            (queued ? samples_queued_ : samples_dropped_)++;
        });
        probes.console.push_back([this](uint8_t) { console_bytes_++; });
        probes.speed_command.push_back([this](uint32_t, int32_t, Picos) { commands_sent_++; });
        probes.tick.push_back([this](Picos now) { tick(now); });
        // The failures the motor driver reports on the console.
        board_.cpu().probes().motor_exchange.listen(
            [this](uint32_t, bool answered, Picos) { exchanges_failed_ += !answered; });
        board_.cpu().probes().control_step.listen([this](int, float, float, Picos at) {
            steps_++;
            metrics_.control_stepped(to_seconds(at));
        });
        wall_start_ = std::chrono::steady_clock::now();
        last_progress_ = wall_start_;
    }

    void fill(RunResult& r) const {
        r.console_bytes = console_bytes_;
        nlohmann::json m;
        metrics_.write(m);
        m["speed_commands_sent"] = commands_sent_;
        m["motor_exchanges_failed"] = exchanges_failed_;
        m["imu_reads_failed"] = reads_.failed();
        m["imu_reads"] = reads_.attempts();
        m["samples_queued"] = samples_queued_;
        m["samples_dropped"] = samples_dropped_;
        m["control_steps"] = steps_;
        r.metrics = m;
        r.i2c_timing = i2c_timing_json(timing_, board_.config().i2c);
        const Picos now = board_.cpu().now();
        for (int t = 0; t < threads_.threads(); t++) {
            r.thread_figures.push_back(
                {now > 0 ? static_cast<double>(threads_.cpu_time(t, now)) / static_cast<double>(now)
                         : 0.0,
                 threads_.switches(t), to_seconds(threads_.longest_ready_wait(t, now))});
        }
    }

  private:
    void tick(Picos now) {
        const PlantState p = board_.plant()->state(now);
        metrics_.sample(to_seconds(now), {p.roll.platform_deg, p.pitch.platform_deg},
                        {p.roll.base_deg, p.pitch.base_deg});
        if (progress_ && ++ticks_ % 50 == 0) {
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
        std::fprintf(stderr, "%s: %.0f s of virtual time, %.0fx real time\n", program_.c_str(),
                     to_seconds(now), to_seconds(now) / elapsed);
    }

    Board& board_;
    Metrics metrics_;
    ImuReadCounter reads_;
    ThreadStats threads_;
    I2cTimingMonitor timing_;
    bool progress_;
    std::string program_;
    uint64_t console_bytes_ = 0, commands_sent_ = 0, exchanges_failed_ = 0, samples_queued_ = 0,
             samples_dropped_ = 0, steps_ = 0, ticks_ = 0;
    std::chrono::steady_clock::time_point wall_start_, last_progress_;
};

RunResult collect(Board& board, const Figures& figures,
                  std::chrono::steady_clock::time_point wall_start, const RunHooks& hooks) {
    RunResult r;
    figures.fill(r);
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
    if (hooks.on_result) {
        hooks.on_result(r);
    }
    return r;
}

// Slices of virtual time; between two the run looks whether it must stop
// early, and a paced run waits for the wall clock. The board stops and
// resumes between slices exactly as it would run straight through.
// Returns the virtual time the run ended at.
Picos run_slices(Board& board, Picos end, bool paced,
                 std::chrono::steady_clock::time_point wall_start,
                 const std::function<bool()>& stop, const std::function<void()>& between) {
    const Picos slice = paced ? 10 * kPsPerMs : 50 * kPsPerMs;
    for (Picos t = 0; t < end;) {
        t = std::min(end, t + slice);
        board.run_until(t);
        if (stop()) {
            return board.cpu().now();
        }
        if (paced && !board.cpu().halted()) {
            std::this_thread::sleep_until(wall_start + std::chrono::nanoseconds(t / 1000));
        }
        if (between) {
            between();
        }
    }
    return board.cpu().now();
}

// A scripted stretch, from now to `until`, in the same slices as a straight
// run; it ends early where a wait's match stopped the core (run_until then
// returns before its end), or when the run is to stop.
void run_stretch(Board& board, Picos until, const std::function<bool()>& stop) {
    for (Picos t = board.cpu().now(); t < until;) {
        t = std::min(until, t + 50 * kPsPerMs);
        board.run_until(t);
        if (stop() || board.cpu().now() < t) {
            return;
        }
    }
}

// Writes every file of the run; the failed ones first, so that a failure
// leaves no later file under its name.
void finish_writers(std::vector<std::unique_ptr<Writer>>& writers, const RunEnd& end) {
    for (auto& w : writers) {
        if (w->failed()) {
            w->finish(end);
        }
    }
    for (auto& w : writers) {
        w->finish(end);
    }
}

}  // namespace

BoardConfig board_config(const Scenario& scenario) {
    BoardConfig config = scenario.board;
    config.plant->seed = scenario.seed;
    config.plant->feeds_imu = !scenario.board.imu.registers_held;
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
    set_kernel_settings(scenario.kernel);
    Board& board = Board::create(board_config(scenario));
    set_control_override(control_override(scenario));
    Probes probes{board, {}, {}, {}, {}, nullptr};
    Figures figures(probes, hooks.progress, hooks.program);
    std::vector<std::unique_ptr<Writer>> writers;
    if (!hooks.out_dir.empty()) {
        const OutputOptions& o = hooks.outputs;
        OutputContext context;
        context.dir = hooks.out_dir;
        context.window_from = Duration::seconds(o.window_start_s).ps;
        context.window_until =
            o.window_end_s >= 1e9 ? ~Picos{0} : Duration::seconds(o.window_end_s).ps;
        context.quiet = !hooks.progress;
        context.program = hooks.program;
        writers = attach_writers(context, probes, o.off);
    }
    ProbeHub hub(probes, hooks);
    const auto failed = [&writers] {
        for (const auto& w : writers) {
            if (w->failed()) {
                return true;
            }
        }
        return false;
    };
    const auto end_run = [&](RunResult& r, Picos at) {
        if (const int signal = stop_requested()) {
            r.interrupted = stop_signal_name(signal);
        }
        // A run that cannot write all its files leaves none of them.
        try {
            finish_writers(writers, RunEnd{at, summary_json(scenario, r)});
        } catch (const OutputError&) {
            writers.clear();
            try {
                clear_outputs(hooks.out_dir);
            } catch (const OutputError&) {
                // The first failure is the one to report.
            }
            throw;
        }
    };

    if (hooks.on_board) {
        hooks.on_board(board);
    }
    const auto wall_start = std::chrono::steady_clock::now();
    board.power_on(hooks.reset ? hooks.reset : std::function<void()>(firmware_reset));
    const Picos end = Duration::seconds(scenario.duration_s).ps;
    Picos ended = 0;
    // The core's thread is spinning in firmware code that touches nothing
    // of the board when this fires, so reading the board here is safe.
    // Nothing may leave this thread as an exception.
    const auto watch = [&] {
        return std::make_unique<StuckWatch>(
            board.cpu(), hooks.stuck_after_s,
            [&] {
                int status = kExitBoardHalted;
                try {
                    RunResult r = collect(board, figures, wall_start, hooks);
                    if (!stop_requested()) {
                        std::ostringstream where;
                        where << "stuck in " << running_context() << ": no virtual progress for "
                              << hooks.stuck_after_s << " s of wall time";
                        r.halted = RunResult::Halt{where.str(), to_seconds(board.cpu().progress())};
                    }
                    end_run(r, board.cpu().progress());
                    if (hooks.on_stuck) {
                        status = hooks.on_stuck(r);
                    }
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "%s: %s\n", hooks.program.c_str(), e.what());
                    status = kExitOutputFailed;
                }
                std::fflush(nullptr);
                std::_Exit(status);
            },
            [] { return stop_requested() != 0; });
    };
    const auto stopped = [&failed] { return stop_requested() != 0 || failed(); };
    if (hooks.control != nullptr) {
        // Watched only while a command runs the board: a script may think
        // for as long as it likes.
        const auto advance = [&](Picos until) {
            const auto watched = watch();
            run_stretch(board, until, stopped);
        };
        const auto summary = [&] {
            RunResult r = collect(board, figures, wall_start, hooks);
            r.control = hooks.control->summary();
            return summary_json(scenario, r);
        };
        ended = hooks.control->serve({probes, advance, stopped, summary});
    } else {
        const auto watched = watch();
        ended = run_slices(board, end, hooks.wall_clock_pace, wall_start, stopped,
                           hooks.between_slices);
    }
    RunResult r = collect(board, figures, wall_start, hooks);
    if (hooks.control != nullptr) {
        r.control = hooks.control->summary();
    }
    end_run(r, ended);
    if (hooks.control != nullptr) {
        hooks.control->finished(summary_json(scenario, r));
    }
    return r;
}

nlohmann::json summary_json(const Scenario& scenario, const RunResult& r) {
    nlohmann::json threads = nlohmann::json::array();
    for (std::size_t i = 0; i < r.threads.size(); i++) {
        const ThreadInfo& t = r.threads[i];
        nlohmann::json thread = {
            {"name", t.name}, {"priority", t.priority}, {"stack_size", t.stack_size}};
        if (i < r.thread_figures.size()) {
            const RunResult::ThreadFigures& f = r.thread_figures[i];
            thread["cpu_share"] = f.cpu_share;
            thread["switches"] = f.switches;
            thread["longest_ready_wait_s"] = f.longest_ready_wait_s;
        }
        if (i < r.thread_extras.size() && !r.thread_extras[i].is_null()) {
            thread["arm"] = r.thread_extras[i];
        }
        threads.push_back(thread);
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
        {"interrupted", r.interrupted ? nlohmann::json(*r.interrupted) : nullptr},
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
        {"i2c_timing", r.i2c_timing},
        {"control", r.control},
        {"scenario", to_json(scenario)},
    };
}

}  // namespace sim

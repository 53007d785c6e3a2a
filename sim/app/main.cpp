// gimbal-sim: boots the firmware on a fresh virtual board and runs it for a
// scenario, echoing the console and writing the run's files.
#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <tuple>
#include <utility>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "sim/app/console_pty.hpp"
#include "sim/app/run.hpp"
#include "sim/app/scenario.hpp"

namespace {
constexpr int kUsageError = 2;

// Decimal digits only: the option parser would wrap "-1" and saturate
// numbers beyond 64 bits without a word.
uint64_t parse_seed(const std::string& text) {
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        throw sim::ScenarioError("--seed must be an integer from 0 to 2^64-1, not '" + text + "'");
    }
    return value;
}

// "START:END" in virtual seconds, END after START.
std::pair<double, double> parse_window(const std::string& text) {
    const auto colon = text.find(':');
    double start = 0, end = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    bool ok = colon != std::string::npos;
    if (ok) {
        const auto a = std::from_chars(first, first + colon, start);
        const auto b = std::from_chars(first + colon + 1, last, end);
        ok = a.ec == std::errc() && a.ptr == first + colon && b.ec == std::errc() &&
             b.ptr == last && std::isfinite(start) && std::isfinite(end) && start >= 0 &&
             end > start;
    }
    if (!ok) {
        throw sim::ScenarioError(
            "--window must be START:END in virtual seconds, 0 <= START < END, not '" + text + "'");
    }
    return {start, end};
}

// Draws plot.png from trace.csv with tools/plot-run; a missing matplotlib
// leaves the run's other files as they are and says so (on standard error:
// standard output carries the console only).
void plot(const std::string& out_dir, bool quiet) {
    const std::string command =
        std::string("/usr/bin/python3 '") + GIMBAL_PLOT_SCRIPT + "' '" + out_dir + "' >/dev/null";
    const int status = std::system(command.c_str());
    if (status != 0) {
        std::fprintf(stderr, "gimbal-sim: no plot.png (tools/plot-run said why above)\n");
    } else if (!quiet) {
        std::fprintf(stderr, "gimbal-sim: plot: %s\n",
                     (std::filesystem::path(out_dir) / "plot.png").c_str());
    }
}

// The summary's key figures, one line; an absent figure says why.
void key_figures(const sim::RunResult& result) {
    const nlohmann::json& m = result.metrics;
    if (m.is_null()) {
        return;
    }
    std::string figures;
    char text[256];
    if (m["roll"]["rms_error_deg"].is_number()) {
        std::snprintf(text, sizeof text,
                      "roll error rms %.3f peak %.3f deg, pitch error rms %.3f peak %.3f deg "
                      "(after %.2f s); ",
                      m["roll"]["rms_error_deg"].get<double>(),
                      m["roll"]["peak_error_deg"].get<double>(),
                      m["pitch"]["rms_error_deg"].get<double>(),
                      m["pitch"]["peak_error_deg"].get<double>(), m["settle_s"].get<double>());
        figures = text;
    }
    if (m["stability"].is_string()) {
        std::snprintf(text, sizeof text, "%s, oscillation growth %+.3f/s; ",
                      m["stability"].get<std::string>().c_str(),
                      m["oscillation_growth_per_s"].get<double>());
        figures += text;
    }
    if (m["no_figures_reason"].is_string()) {
        figures += m["no_figures_reason"].get<std::string>() + "; ";
    }
    std::fprintf(stderr,
                 "gimbal-sim: %s%llu speed commands, %llu failed motor exchanges, %llu failed "
                 "IMU reads, %llu samples dropped\n",
                 figures.c_str(),
                 static_cast<unsigned long long>(m["speed_commands_sent"].get<uint64_t>()),
                 static_cast<unsigned long long>(m["motor_exchanges_failed"].get<uint64_t>()),
                 static_cast<unsigned long long>(m["imu_reads_failed"].get<uint64_t>()),
                 static_cast<unsigned long long>(m["samples_dropped"].get<uint64_t>()));
}

// Writes the run's files and says how it ended; the exit status to use.
int finish(const std::string& out_dir, const sim::Scenario& scenario, const sim::RunResult& result,
           bool quiet, bool with_plot) {
    std::fflush(stdout);
    try {
        sim::write_outputs(out_dir, scenario, result);
    } catch (const std::exception& e) {
        std::cerr << "gimbal-sim: " << e.what() << "\n";
        return 1;
    }
    if (with_plot) {
        plot(out_dir, quiet);
    }
    if (!quiet) {
        key_figures(result);
        std::fprintf(stderr, "gimbal-sim: %.3f s of virtual time in %.3f s (%.0fx real time)\n",
                     result.virtual_time_s, result.wall_time_s,
                     result.wall_time_s > 0 ? result.virtual_time_s / result.wall_time_s : 0.0);
    }
    if (result.halted) {
        std::fprintf(stderr, "gimbal-sim: the board halted: %s, at %.6f s of virtual time\n",
                     result.halted->where.c_str(), result.halted->virtual_time_s);
        return sim::kExitBoardHalted;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Run the gimbal firmware on the virtual board."};
    std::string scenario_file;
    std::optional<double> duration;
    std::optional<std::string> seed;
    std::string out_dir = "out";
    bool quiet = false;
    double stuck_after_s = 10.0;
    sim::OutputOptions outputs;
    bool no_vcd = false, no_trace = false, no_can_log = false, no_plot = false;
    std::optional<std::string> window;
    bool check_only = false;
    app.add_option("--scenario", scenario_file, "scenario file (JSON)");
    app.add_option("--duration", duration, "virtual seconds to run (overrides the scenario)");
    app.add_option("--seed", seed, "seed of the run's random choices (overrides the scenario)");
    app.add_option("--out", out_dir, "folder for the run's files")->capture_default_str();
    app.add_flag("--quiet", quiet, "do not echo the console to standard output");
    bool console_pty = false;
    app.add_flag("--console-pty", console_pty,
                 "send the console to a new pseudo-terminal (its path on standard error) "
                 "instead of standard output, at the pace of the wall clock");
    app.add_option("--stuck-after", stuck_after_s,
                   "wall seconds without virtual progress before the firmware counts as stuck")
        ->check(CLI::Range(0.1, 86400.0))
        ->capture_default_str();
    app.add_flag("--no-vcd", no_vcd, "do not write i2c.vcd");
    app.add_flag("--no-trace", no_trace, "do not write trace.csv");
    app.add_flag("--no-can-log", no_can_log, "do not write can1.log and can2.log");
    app.add_flag("--no-plot", no_plot, "do not draw plot.png");
    app.add_option("--window", window,
                   "START:END, virtual seconds: i2c.vcd, the CAN logs and trace.csv only for "
                   "that stretch");
    app.add_flag(
        "--check", check_only,
        "read the scenario and the options, exit 0 or 2 (naming what is wrong), run nothing");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "gimbal-sim: " << e.what() << "\n"
                  << "Run with --help for the options.\n";
        return kUsageError;
    }

    sim::Scenario scenario;
    if (!scenario_file.empty()) {
        try {
            scenario = sim::load_scenario_file(scenario_file);
        } catch (const sim::ScenarioError& e) {
            std::cerr << "gimbal-sim: " << scenario_file << ": " << e.what() << "\n";
            return kUsageError;
        }
    }
    try {
        if (duration) {
            sim::check_duration(*duration, "--duration");
            scenario.duration_s = *duration;
        }
        if (seed) {
            scenario.seed = parse_seed(*seed);
        }
        if (window) {
            std::tie(outputs.window_start_s, outputs.window_end_s) = parse_window(*window);
        }
        if (std::filesystem::exists(out_dir) && !std::filesystem::is_directory(out_dir)) {
            throw sim::ScenarioError("--out '" + out_dir + "' exists and is not a folder");
        }
    } catch (const sim::ScenarioError& e) {
        std::cerr << "gimbal-sim: " << e.what() << "\n";
        return kUsageError;
    }
    if (check_only) {
        return 0;
    }

    sim::RunHooks hooks;
    hooks.stuck_after_s = stuck_after_s;
    hooks.stream_dir = out_dir;
    outputs.vcd = !no_vcd;
    outputs.trace = !no_trace;
    outputs.can_logs = !no_can_log;
    hooks.outputs = outputs;
    hooks.progress = !quiet;
    // The plot is drawn from trace.csv.
    const bool with_plot = !no_plot && !no_trace;
    if (!quiet) {
        hooks.console_echo = [](uint8_t byte) {
            std::fputc(byte, stdout);
            if (byte == '\n') {
                std::fflush(stdout);
            }
        };
    }
    std::unique_ptr<sim::ConsolePty> pty;
    if (console_pty) {
        try {
            pty = std::make_unique<sim::ConsolePty>();
        } catch (const std::exception& e) {
            std::cerr << "gimbal-sim: " << e.what() << "\n";
            return 1;
        }
        std::fprintf(stderr, "console on %s\n", pty->path().c_str());
        hooks.console_echo = [&pty](uint8_t byte) { pty->send(byte); };
        hooks.wall_clock_pace = true;
    }
    hooks.on_stuck = [&](const sim::RunResult& result) {
        finish(out_dir, scenario, result, quiet, with_plot);
    };
    const sim::RunResult result = sim::run_firmware(scenario, hooks);
    return finish(out_dir, scenario, result, quiet, with_plot);
}

// gimbal-sim: boots the firmware on a fresh virtual board and runs it for a
// scenario, echoing the console and writing the run's files.
#include <CLI/CLI.hpp>

#include <charconv>
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

// Writes the run's files and says how it ended; the exit status to use.
int finish(const std::string& out_dir, const sim::Scenario& scenario, const sim::RunResult& result,
           bool quiet) {
    std::fflush(stdout);
    try {
        sim::write_outputs(out_dir, scenario, result);
    } catch (const std::exception& e) {
        std::cerr << "gimbal-sim: " << e.what() << "\n";
        return 1;
    }
    if (!quiet) {
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
    app.add_option("--scenario", scenario_file, "scenario file (JSON)");
    app.add_option("--duration", duration, "virtual seconds to run (overrides the scenario)");
    app.add_option("--seed", seed, "seed of the run's random choices (overrides the scenario)");
    app.add_option("--out", out_dir, "folder for console.log, summary.json and i2c.vcd")
        ->capture_default_str();
    app.add_flag("--quiet", quiet, "do not echo the console to standard output");
    bool console_pty = false;
    app.add_flag("--console-pty", console_pty,
                 "send the console to a new pseudo-terminal (its path on standard error) "
                 "instead of standard output, at the pace of the wall clock");
    app.add_option("--stuck-after", stuck_after_s,
                   "wall seconds without virtual progress before the firmware counts as stuck")
        ->check(CLI::Range(0.1, 86400.0))
        ->capture_default_str();
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
        if (std::filesystem::exists(out_dir) && !std::filesystem::is_directory(out_dir)) {
            throw sim::ScenarioError("--out '" + out_dir + "' exists and is not a folder");
        }
    } catch (const sim::ScenarioError& e) {
        std::cerr << "gimbal-sim: " << e.what() << "\n";
        return kUsageError;
    }

    sim::RunHooks hooks;
    hooks.stuck_after_s = stuck_after_s;
    hooks.stream_dir = out_dir;
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
        finish(out_dir, scenario, result, quiet);
    };
    const sim::RunResult result = sim::run_firmware(scenario, hooks);
    return finish(out_dir, scenario, result, quiet);
}

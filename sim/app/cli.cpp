#include "sim/app/cli.hpp"

#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "sim/app/console_pty.hpp"
#include "sim/app/control.hpp"
#include "sim/app/live_can.hpp"
#include "sim/app/outputs/folder.hpp"
#include "sim/app/outputs/output_file.hpp"
#include "sim/app/outputs/writer.hpp"
#include "sim/app/stop.hpp"

namespace sim::cli {
namespace {
constexpr int kUsageError = 2;

// Decimal digits only: the option parser would wrap "-1" and saturate
// numbers beyond 64 bits without a word.
uint64_t parse_seed(const std::string& text) {
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        throw ScenarioError("--seed must be an integer from 0 to 2^64-1, not '" + text + "'");
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
        throw ScenarioError(
            "--window must be START:END in virtual seconds, 0 <= START < END, not '" + text + "'");
    }
    return {start, end};
}

// The summary's key figures, one line; an absent figure says why.
void key_figures(const std::string& name, const RunResult& result) {
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
                 "%s: %s%llu speed commands, %llu failed motor exchanges, %llu failed "
                 "IMU reads, %llu samples dropped\n",
                 name.c_str(), figures.c_str(),
                 static_cast<unsigned long long>(m["speed_commands_sent"].get<uint64_t>()),
                 static_cast<unsigned long long>(m["motor_exchanges_failed"].get<uint64_t>()),
                 static_cast<unsigned long long>(m["imu_reads_failed"].get<uint64_t>()),
                 static_cast<unsigned long long>(m["samples_dropped"].get<uint64_t>()));
}

// "leave out i2c.vcd" for the registry's entry.
std::string files_of(const OutputEntry& entry) {
    std::string files;
    for (std::size_t i = 0; i < entry.files.size(); i++) {
        files += (i == 0 ? "" : i + 1 == entry.files.size() ? " and " : ", ") + entry.files[i];
    }
    return files;
}

// CLI11's range check lets NaN through.
const CLI::Validator kFinite(
    [](std::string& text) {
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size() && std::isfinite(value)
                   ? std::string()
                   : "must be a finite number, not '" + text + "'";
    },
    "FINITE");

constexpr const char* kExitStatuses =
    "Exit status: 0 the run reached its end (or, under --control, was finished or its client "
    "left); 1 the console terminal, a CAN pseudo-terminal, the CAN server or the control port "
    "could not be opened; "
    "2 a bad option or scenario, or --out in use by another run; 3 the board halted or the "
    "firmware got stuck; 4 an output file could not be written; 130, 143 or 141: SIGINT, "
    "SIGTERM or a closed standard output ended the run early (128 + the signal's number), "
    "with every file whole.\n";

// `first`, then `then`, whichever is set.
template <typename... Args>
std::function<void(Args...)> both(std::function<void(Args...)> first,
                                  std::function<void(Args...)> then) {
    if (!first || !then) {
        return first ? first : then;
    }
    return [first, then](Args... args) {
        first(args...);
        then(args...);
    };
}

}  // namespace

int finish(const std::string& name, const RunResult& result, bool quiet) {
    std::fflush(stdout);
    if (!quiet) {
        key_figures(name, result);
        std::fprintf(stderr, "%s: %.3f s of virtual time in %.3f s (%.0fx real time)\n",
                     name.c_str(), result.virtual_time_s, result.wall_time_s,
                     result.wall_time_s > 0 ? result.virtual_time_s / result.wall_time_s : 0.0);
    }
    if (result.interrupted) {
        std::fprintf(stderr,
                     "%s: interrupted by %s at %.6f s of virtual time; the files are "
                     "whole up to there\n",
                     name.c_str(), result.interrupted->c_str(), result.virtual_time_s);
        return 128 + stop_requested();
    }
    if (result.halted) {
        std::fprintf(stderr, "%s: the board halted: %s, at %.6f s of virtual time\n", name.c_str(),
                     result.halted->where.c_str(), result.halted->virtual_time_s);
        return kExitBoardHalted;
    }
    return 0;
}

int run(int argc, char** argv, const Runner& runner) {
    const std::string& name = runner.name;
    CLI::App app{runner.description};
    app.footer(runner.footer + kExitStatuses);
    std::optional<std::string> scenario_file;
    std::optional<double> duration;
    std::optional<std::string> seed;
    Setup setup;
    setup.out_dir = "out";
    double stuck_after_s = 10.0;
    OutputOptions outputs;
    std::optional<std::string> window;
    app.add_option("--scenario", scenario_file, "scenario file (JSON)");
    app.add_option("--duration", duration, "virtual seconds to run (overrides the scenario)");
    app.add_option("--seed", seed, "seed of the run's random choices (overrides the scenario)");
    app.add_option("--out", setup.out_dir, "folder for the run's files")->capture_default_str();
    app.add_flag("--quiet", setup.quiet, "do not echo the console to standard output");
    bool console_pty = false;
    auto* console_pty_flag =
        app.add_flag("--console-pty", console_pty,
                     "send the console to a new pseudo-terminal (its path on standard error) "
                     "instead of standard output, at the pace of the wall clock");
    bool console_wait = false;
    app.add_flag("--console-wait", console_wait,
                 "hold the board at reset until a terminal program opens the console's "
                 "pseudo-terminal")
        ->needs(console_pty_flag);
    std::optional<std::string> can_server;
    auto* can_server_option =
        app.add_option("--can-server", can_server,
                       "[HOST:]PORT: serve can1 and can2 to socketcand clients (HOST 127.0.0.1 "
                       "unless given, PORT 0: any free one, printed on standard error), at the "
                       "pace of the wall clock");
    std::vector<std::string> can_ptys;
    auto* can_pty_option =
        app.add_option(
               "--can-pty", can_ptys,
               "BUS: slcan (serial-line CAN) for can1 or can2 on a new pseudo-terminal (its "
               "path on standard error), at the pace of the wall clock; may be repeated")
            ->check(CLI::IsMember({"can1", "can2"}));
    std::optional<std::string> control_at;
    app.add_option("--control", control_at,
                   "[HOST:]PORT (HOST 127.0.0.1 by default, PORT 0 any free one): a script drives "
                   "the run with JSON lines over TCP, from virtual time 0 (README)")
        ->excludes(can_server_option)
        ->excludes(can_pty_option);
    app.add_option("--stuck-after", stuck_after_s,
                   "wall seconds without virtual progress before the firmware counts as stuck")
        ->check(kFinite)
        ->check(CLI::Range(0.1, 86400.0))
        ->capture_default_str();
    // One --no-X per output that can be left out, and --lean for all of those
    // that the lean set leaves out (sim/app/outputs/registry.cpp).
    const auto& registry = output_registry();
    std::vector<char> off(registry.size(), 0);
    std::string lean_off;
    for (std::size_t i = 0; i < registry.size(); i++) {
        const OutputEntry& entry = registry[i];
        if (entry.option == nullptr) {
            continue;
        }
        const std::string files = files_of(entry);
        std::string source;
        for (const OutputEntry& other : registry) {
            if (entry.needs && other.option && std::string(other.option) == entry.needs) {
                source = " (drawn from " + files_of(other) + ": left out with it)";
            }
        }
        app.add_flag_callback(
            std::string("--no-") + entry.option, [&off, i] { off[i] = 1; },
            "leave out " + files + source);
        if (!entry.lean) {
            lean_off += (lean_off.empty() ? "" : ", ") + files;
        }
    }
    bool lean = false;
    app.add_flag("--lean", lean, "the lean set of outputs: leave out " + lean_off);
    app.add_option("--window", window,
                   "START:END, virtual seconds: i2c.vcd, the CAN logs and trace.csv only for "
                   "that stretch");
    if (runner.add_options) {
        runner.add_options(app);
    }
    app.add_flag(
        "--check", setup.check_only,
        "read the scenario and the options, exit 0 or 2 (naming what is wrong), run nothing");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << name << ": " << e.what() << "\n"
                  << "Run with --help for the options.\n";
        return kUsageError;
    }
    for (std::size_t i = 0; i < registry.size(); i++) {
        if (registry[i].option && (off[i] || (lean && !registry[i].lean))) {
            outputs.off.insert(registry[i].option);
        }
    }

    LiveCanOptions live_options;
    for (const std::string& bus : can_ptys) {
        live_options.slcan_buses.push_back(bus == "can1" ? 1 : 2);
    }

    Scenario& scenario = setup.scenario;
    std::optional<ControlAddress> control_address;
    if (scenario_file) {
        try {
            scenario = load_scenario_file(*scenario_file);
        } catch (const ScenarioError& e) {
            std::cerr << name << ": --scenario " << *scenario_file << ": " << e.what() << "\n";
            return kUsageError;
        }
    }
    const std::string& out_dir = setup.out_dir;
    try {
        if (duration) {
            check_duration(*duration, "--duration");
            scenario.duration_s = *duration;
        }
        if (seed) {
            scenario.seed = parse_seed(*seed);
        }
        if (can_server) {
            parse_can_server(*can_server, live_options);
        }
        if (window) {
            std::tie(outputs.window_start_s, outputs.window_end_s) = parse_window(*window);
        }
        if (control_at) {
            control_address = parse_control_address(*control_at);
        }
        if (out_dir.empty()) {
            throw ScenarioError("--out must name a folder, not ''");
        }
        if (std::filesystem::exists(out_dir) && !std::filesystem::is_directory(out_dir)) {
            throw ScenarioError("--out '" + out_dir + "' exists and is not a folder");
        }
    } catch (const ScenarioError& e) {
        std::cerr << name << ": " << e.what() << "\n";
        return kUsageError;
    }
    if (runner.prepare) {
        if (const std::optional<int> status = runner.prepare(app, setup)) {
            return *status;
        }
    }
    if (setup.check_only) {
        return 0;
    }
    const bool quiet = setup.quiet;

    catch_stop_signals();
    // Held until the process ends; the stuck watch ends it with _Exit.
    std::unique_ptr<OutputFolder> folder;
    if (!out_dir.empty()) {
        try {
            folder = std::make_unique<OutputFolder>(out_dir);
        } catch (const FolderInUse& e) {
            std::cerr << name << ": " << e.what() << "\n";
            return kUsageError;
        } catch (const OutputError& e) {
            std::cerr << name << ": " << e.what() << "\n";
            return kExitOutputFailed;
        }
    }

    RunHooks hooks;
    hooks.stuck_after_s = stuck_after_s;
    hooks.out_dir = out_dir;
    hooks.outputs = outputs;
    hooks.progress = !quiet;
    hooks.program = name;
    if (!quiet) {
        // A standard output that cannot take the console (a closed pipe)
        // ends the run as SIGPIPE would, with its files whole.
        hooks.console_echo = [](uint8_t byte) {
            static bool closed = false;
            if (closed) {
                return;
            }
            if (std::fputc(byte, stdout) == EOF || (byte == '\n' && std::fflush(stdout) != 0)) {
                closed = true;
                request_stop(SIGPIPE);
            }
        };
    }
    std::unique_ptr<ConsolePty> pty;
    if (console_pty) {
        try {
            pty = std::make_unique<ConsolePty>();
        } catch (const std::exception& e) {
            std::cerr << name << ": " << e.what() << "\n";
            return 1;
        }
        std::fprintf(stderr, "console on %s\n", pty->path().c_str());
        hooks.console_echo = [&pty](uint8_t byte) { pty->send(byte); };
        hooks.wall_clock_pace = true;
    }
    std::unique_ptr<LiveCan> live;
    if (live_options.any()) {
        try {
            live = std::make_unique<LiveCan>(live_options);
        } catch (const std::exception& e) {
            std::cerr << name << ": " << e.what() << "\n";
            return 1;
        }
        hooks.on_board = [&live](Board& board) { live->attach(board); };
        hooks.between_slices = [&live] { live->poll(); };
        hooks.wall_clock_pace = true;
    }
    std::unique_ptr<Control> control;
    if (control_address) {
        try {
            control = std::make_unique<Control>(*control_address);
        } catch (const std::exception& e) {
            std::cerr << name << ": " << e.what() << "\n";
            return 1;
        }
        std::fprintf(stderr, "%s: control on %s\n", name.c_str(), control->where().c_str());
        hooks.control = control.get();
    }
    hooks.on_board = both(hooks.on_board, runner.on_board);
    hooks.reset = both(hooks.reset, runner.reset);
    hooks.on_result = both(hooks.on_result, runner.on_result);
    if (console_wait) {
        std::fprintf(stderr, "waiting for a terminal on %s\n", pty->path().c_str());
        pty->wait_for_terminal([] { return stop_requested() != 0; });
    }
    hooks.on_stuck = [&name, quiet](const RunResult& result) {
        return finish(name, result, quiet);
    };
    try {
        const RunResult result = run_firmware(scenario, hooks);
        return runner.report ? runner.report(result, quiet) : finish(name, result, quiet);
    } catch (const OutputError& e) {
        std::cerr << name << ": " << e.what() << "\n";
        return kExitOutputFailed;
    } catch (const std::exception& e) {
        if (!runner.bad_input || !runner.bad_input(e)) {
            throw;
        }
        std::cerr << name << ": " << e.what() << "\n";
        return kUsageError;
    }
}

}  // namespace sim::cli

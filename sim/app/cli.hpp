// gimbal-sim's command line, shared by every runner of the firmware on the
// virtual board: one set of options, help texts, checks and exit statuses,
// and the run they set up. A runner (gimbal-sim: the host build; gimbal-arm:
// the ARM image) adds its own options and hooks.
#pragma once

#include <CLI/CLI.hpp>

#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "sim/app/run.hpp"
#include "sim/app/scenario.hpp"

namespace sim::cli {

/// What the checked options ask for; a runner's `prepare` may change it.
struct Setup {
    Scenario scenario;    // the file's, with the options over it
    std::string out_dir;  // empty: no files
    bool quiet = false;
    bool check_only = false;
};

struct Runner {
    std::string name;         // "gimbal-sim": what its messages start with
    std::string description;  // the help's first line
    std::string footer;       // the help's last lines, before the exit statuses
    /// Its own options, after the shared ones (and before --check).
    std::function<void(CLI::App&)> add_options;
    /// Once the options and the scenario are checked, before anything runs
    /// or is written (also under --check): the status to end with now, or
    /// nullopt to go on.
    std::function<std::optional<int>(const CLI::App&, Setup&)> prepare;
    /// Each runs after the shared hook of its kind.
    std::function<void(Board&)> on_board;
    std::function<void()> reset;
    std::function<void(RunResult&)> on_result;
    /// An exception out of the run that is bad input of the runner's own
    /// (exit 2, with its message).
    std::function<bool(const std::exception&)> bad_input;
    /// The closing lines of a run that ended (not of a stuck one): the exit
    /// status. By default finish()'s.
    std::function<int(const RunResult&, bool quiet)> report;
};

/// The closing lines shared by every runner (key figures and speed unless
/// `quiet`, an interruption or a halt), each starting "NAME: "; the exit
/// status gimbal-sim gives for such a result.
int finish(const std::string& name, const RunResult& result, bool quiet);

/// Parses and checks argv, runs the firmware as the runner says; the process's
/// exit status.
int run(int argc, char** argv, const Runner& runner);

}  // namespace sim::cli

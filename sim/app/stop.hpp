// Why a run ends before its duration: SIGINT, SIGTERM, or a console that can
// no longer be written (a closed standard output). The run then finishes at
// the current virtual time with every file whole, and summary.json says so.
#pragma once

namespace sim {

/// Catches SIGINT and SIGTERM; SIGPIPE and SIGXFSZ become write errors
/// (EPIPE, EFBIG) that the writers report.
void catch_stop_signals();
/// Asks the run to stop (safe in a signal handler); the first reason stays.
void request_stop(int signal_number);
/// The signal that asked for the stop, or 0.
int stop_requested();
/// "SIGINT", "SIGTERM", "SIGPIPE".
const char* stop_signal_name(int signal_number);

}  // namespace sim

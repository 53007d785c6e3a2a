// The run's output files: one writer per file (or pair of files), each
// attached to the run's observation points when the run starts and finished
// when it ends. The registry (registry.cpp) names them; it gives gimbal-sim
// its --no-X options and --lean, the README its list, and the run the names
// of the files an earlier run may have left.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"
#include "sim/app/thread_stats.hpp"
#include "sim/core/time.hpp"

namespace sim {

/// What a writer can watch besides the board's own models (its CAN buses, its
/// wires): the run fans the platform's single hooks out to every listener.
struct Probes {
    Board& board;
    std::vector<std::function<void(uint8_t byte)>> console;  // each byte USART1 sent
    /// A put into the sample queue: the message, and whether it was queued.
    std::vector<std::function<void(const void* msg, uint32_t size, bool queued, Picos at)>>
        sample_put;
    /// A speed command from the board that completed on CAN2 (0.01 deg/s).
    std::vector<std::function<void(uint32_t id, int32_t speed, Picos at)>> speed_command;
    /// Every kTraceStepS of virtual time, from 0.
    std::vector<std::function<void(Picos now)>> tick;
    /// Each context's CPU time so far, kept by the run for summary.json.
    const ThreadStats* threads = nullptr;
};

/// Where and what a writer writes.
struct OutputContext {
    std::filesystem::path dir;
    /// The stretch of virtual time for the files that grow with the run
    /// (registry entry `windowed`): [from, until).
    Picos window_from = 0, window_until = ~Picos{0};
    bool quiet = false;
    std::string program = "gimbal-sim";  // its messages' first word
    bool in_window(Picos at) const { return at >= window_from && at < window_until; }
};

/// How a run ended, for the writers that write at the end.
struct RunEnd {
    Picos at;                       // virtual time
    const nlohmann::json& summary;  // summary.json's content
};

class Writer {
  public:
    virtual ~Writer() = default;
    /// Writes what is left and gives each file its name; throws OutputError.
    virtual void finish(const RunEnd& end) = 0;
    /// A write has failed (the run ends at its next slice).
    virtual bool failed() const = 0;
};

struct OutputEntry {
    const char* option;              // --no-OPTION; null: always written
    std::vector<std::string> files;  // the names it writes, in the output folder
    const char* what;                // one line for --help and the README
    bool lean;                       // kept by --lean
    const char* needs;               // the option of an output it is drawn from, or null
    std::unique_ptr<Writer> (*make)(const OutputContext&, Probes&);
};

/// Every output, in the order they are finished.
const std::vector<OutputEntry>& output_registry();

/// The files a run may leave in its folder, temporary names included.
std::vector<std::string> output_file_names();

/// The README's list of outputs (a test keeps the two alike).
std::string output_table_markdown();

}  // namespace sim

namespace sim {

/// The writers of every output not switched off (by option name; an output
/// whose source is off is off too), attached to `probes`.
std::vector<std::unique_ptr<Writer>> attach_writers(const OutputContext& context, Probes& probes,
                                                    const std::set<std::string>& off);

}  // namespace sim

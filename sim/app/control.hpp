// gimbal-sim --control: a test script drives the run over TCP, one JSON
// object per line each way. The board moves only under a command and stops
// at exact virtual times (a wait ends at the event that matched), so the same
// script on the same scenario gives the same files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/app/host_port.hpp"
#include "sim/app/outputs/writer.hpp"

namespace sim {

using ControlAddress = HostPort;

/// "[HOST:]PORT", HOST a numeric IPv4 address; throws ScenarioError.
ControlAddress parse_control_address(const std::string& text);

class Control {
  public:
    /// Listens on the address; throws std::runtime_error with the system's reason.
    explicit Control(const ControlAddress& address);
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    /// "HOST:PORT" as bound (the port the system picked for 0).
    const std::string& where() const { return where_; }

    /// What the runner lends the commands.
    struct Run {
        Probes& probes;
        /// Runs the board up to `until`, or less if a wait matched, the run
        /// is to stop, or a file failed.
        std::function<void(Picos until)> advance;
        /// A stop signal or a failed file: the run ends.
        std::function<bool()> stopped;
        /// summary.json as it would be now.
        std::function<nlohmann::json()> summary;
    };
    /// Takes one client and serves it until `finish`, a disconnect or a
    /// stop; returns the virtual time the run ends at.
    Picos serve(const Run& run);
    /// Once the files are whole: the reply to `finish`; the connection closes.
    void finished(const nlohmann::json& summary);
    /// summary.json's "control".
    nlohmann::json summary() const;

  private:
    struct Wait {
        enum Kind { kNone, kConsole, kFrame } kind = kNone;
        std::regex pattern;
        int bus = 2;
        uint32_t id = 0;
        bool ext = false;
        std::vector<uint8_t> data;  // leading bytes the frame must have
        bool matched = false;
        nlohmann::json found;
    };

    void attach(Probes& probes);
    void console_byte(uint8_t byte);
    void frame_done(int bus, const CanFrame& frame, Picos at);
    bool read_line(std::string& line, const Run& run);
    bool send(const nlohmann::json& reply);
    nlohmann::json handle(const std::string& line, const Run& run, bool& finish);
    nlohmann::json wait(const nlohmann::json& cmd, const Run& run);
    nlohmann::json fault(const nlohmann::json& cmd, Probes& probes);

    int listen_fd_ = -1;
    int client_ = -1;
    std::string where_;
    std::string pending_;    // bytes after the last line read
    bool dropping_ = false;  // inside a line too long to take
    std::string line_;       // console line so far
    Cpu* cpu_ = nullptr;
    Wait wait_;
    uint64_t commands_ = 0, errors_ = 0;
    std::string ended_by_;
};

}  // namespace sim

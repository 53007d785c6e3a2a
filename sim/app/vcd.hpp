// Value change dump of digital wires, streamed to disk as the run goes: one
// 1-bit wire per signal, timescale 1 ns, the levels at the start in
// $dumpvars, then value changes only, closed by the time the run ended.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/app/outputs/output_file.hpp"
#include "sim/core/time.hpp"
#include "sim/models/wire.hpp"

namespace sim {

class VcdWriter {
  public:
    /// Starts `dir`/`name` (under its temporary name until finish) with the
    /// wires' present levels; each signal is named after its wire.
    /// With a window [from, until) only the changes inside it are written,
    /// starting with the levels at `from`.
    VcdWriter(const std::filesystem::path& dir, const std::string& name,
              const std::vector<Wire*>& wires, Picos from = 0, Picos until = ~Picos{0});
    VcdWriter(const VcdWriter&) = delete;
    VcdWriter& operator=(const VcdWriter&) = delete;

    /// Writes the closing timestamp and moves the file into place; throws
    /// OutputError.
    void finish(Picos end);
    bool failed() const { return out_.failed(); }

  private:
    void change(std::size_t signal, int level, Picos at);
    void open_window();

    OutputFile out_;
    std::vector<char> ids_;
    std::vector<int> levels_;
    Picos from_, until_;
    bool opened_ = false;  // $dumpvars written
    uint64_t last_ns_ = 0;
    bool finished_ = false;
};

}  // namespace sim

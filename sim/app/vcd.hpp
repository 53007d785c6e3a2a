// Value change dump of digital wires, streamed to disk as the run goes: one
// 1-bit wire per signal, timescale 1 ns, the levels at the start in
// $dumpvars, then value changes only, closed by the time the run ended.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/core/time.hpp"
#include "sim/models/wire.hpp"

namespace sim {

class VcdWriter {
  public:
    /// Starts `path` (written as `path`.partial until finish) with the wires'
    /// present levels; each signal is named after its wire.
    /// With a window [from, until) only the changes inside it are written,
    /// starting with the levels at `from`.
    VcdWriter(std::filesystem::path path, const std::vector<Wire*>& wires, Picos from = 0,
              Picos until = ~Picos{0});
    VcdWriter(const VcdWriter&) = delete;
    VcdWriter& operator=(const VcdWriter&) = delete;
    ~VcdWriter();

    /// Writes the closing timestamp and moves the file into place.
    void finish(Picos end);

  private:
    void change(std::size_t signal, int level, Picos at);
    void open_window();

    std::filesystem::path path_;
    std::filesystem::path partial_;
    std::ofstream out_;
    std::vector<char> ids_;
    std::vector<int> levels_;
    Picos from_, until_;
    bool opened_ = false;  // $dumpvars written
    uint64_t last_ns_ = 0;
    bool finished_ = false;
};

}  // namespace sim

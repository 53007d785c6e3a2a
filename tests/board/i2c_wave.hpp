// Records the two wires of the bit-banged bus and decodes what a logic
// analyser would: bus conditions, bytes with their acknowledge bits, and the
// length of each clock phase.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/core/time.hpp"
#include "sim/models/i2c_decoder.hpp"
#include "sim/models/wire.hpp"

namespace i2c_test {

struct Edge {
    sim::Picos at;
    char line;  // 'c' clock, 'd' data
    int level;
};

/// Every level change of SCL and SDA from construction on.
class WaveRecorder {
  public:
    WaveRecorder(sim::Wire& scl, sim::Wire& sda) : scl0_(scl.level()), sda0_(sda.level()) {
        scl.listen([this](int level, sim::Picos at) { edges_.push_back({at, 'c', level}); });
        sda.listen([this](int level, sim::Picos at) { edges_.push_back({at, 'd', level}); });
    }
    const std::vector<Edge>& edges() const { return edges_; }
    int scl0() const { return scl0_; }
    int sda0() const { return sda0_; }
    void clear(int scl, int sda) {
        edges_.clear();
        scl0_ = scl;
        sda0_ = sda;
    }

  private:
    int scl0_, sda0_;
    std::vector<Edge> edges_;
};

/// Tokens as a protocol decoder shows them: "S", "Sr", "P", and each byte as
/// two hex digits with '+' for ACK or '-' for NACK ("A0+"), framed by the
/// board's own bus decoder.
inline std::vector<std::string> decode(const WaveRecorder& wave) {
    using Event = sim::I2cDecoder::Event;
    std::vector<std::string> out;
    sim::I2cDecoder bus;
    int scl = wave.scl0(), sda = wave.sda0();
    for (const Edge& e : wave.edges()) {
        const Event event = e.line == 'd' ? bus.sda(e.level, scl) : bus.scl(e.level, sda);
        (e.line == 'd' ? sda : scl) = e.level;
        if (event == Event::Start || event == Event::RepeatedStart || event == Event::Stop) {
            out.push_back(event == Event::Stop ? "P" : event == Event::Start ? "S" : "Sr");
        } else if (event == Event::Byte) {
            char text[8];
            std::snprintf(text, sizeof text, "%02X%c", bus.value(), bus.ack() ? '+' : '-');
            out.push_back(text);
        }
    }
    return out;
}

/// SDA as sampled at each rising edge of SCL.
inline std::vector<int> sda_at_rises(const WaveRecorder& wave) {
    std::vector<int> out;
    int sda = wave.sda0();
    for (const Edge& e : wave.edges()) {
        if (e.line == 'd') {
            sda = e.level;
        } else if (e.level == 1) {
            out.push_back(sda);
        }
    }
    return out;
}

/// Durations of SCL phases in ns: for each rising edge after a falling one,
/// the low time before it and the high time after it (until the next fall).
struct Clock {
    double low_ns;
    double high_ns;
    sim::Picos rise_at;
};

inline std::vector<Clock> clocks(const WaveRecorder& wave) {
    std::vector<sim::Picos> falls, rises;
    for (const Edge& e : wave.edges()) {
        if (e.line == 'c') {
            (e.level == 1 ? rises : falls).push_back(e.at);
        }
    }
    std::vector<Clock> out;
    for (sim::Picos rise : rises) {
        sim::Picos fall_before = 0, fall_after = 0;
        bool before = false, after = false;
        for (sim::Picos f : falls) {
            if (f < rise) {
                fall_before = f;
                before = true;
            } else if (!after) {
                fall_after = f;
                after = true;
            }
        }
        if (before && after) {
            out.push_back({static_cast<double>(rise - fall_before) / 1000.0,
                           static_cast<double>(fall_after - rise) / 1000.0, rise});
        }
    }
    return out;
}

inline nlohmann::json to_json(const std::vector<Clock>& cs) {
    nlohmann::json out = nlohmann::json::array();
    for (const Clock& c : cs) {
        out.push_back({c.low_ns, c.high_ns});
    }
    return out;
}

/// Time from the first to the last edge, in µs.
inline double span_us(const WaveRecorder& wave) {
    if (wave.edges().empty()) {
        return 0;
    }
    return static_cast<double>(wave.edges().back().at - wave.edges().front().at) / 1e6;
}

}  // namespace i2c_test

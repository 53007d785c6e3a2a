// Holds every transaction on a two-wire bus against the I2C-bus timing of
// UM10204 (rev. 7) Table 10, for Standard-mode and Fast-mode at once. It
// measures at the levels the table's timing diagram (Figure 38) uses: a rise
// at 30 % or 70 % of VDD as the parameter asks, falls being instant on these
// wires. It only watches; nothing on the bus depends on it.
#pragma once

#include <array>
#include <cstdint>

#include "sim/core/time.hpp"
#include "sim/models/i2c_decoder.hpp"
#include "sim/models/wire.hpp"

namespace sim {

class I2cTimingMonitor {
  public:
    enum Parameter {
        kHdSta,
        kLow,
        kHigh,
        kSuSta,
        kHdDat,
        kSuDat,
        kSuSto,
        kBuf,
        kRise,
        kParameters
    };
    enum Mode { kStandard, kFast, kModes };
    struct Limit {
        const char* name;              // as UM10204 writes it
        std::array<double, kModes> s;  // seconds
        bool maximum;                  // a largest value (tr), else a smallest
    };
    static const std::array<Limit, kParameters> kLimits;

    struct Figures {
        uint64_t measured = 0;
        double worst_s = 0;  // the measurement furthest towards breaking the limit
        std::array<uint64_t, kModes> violations{};
        std::array<Picos, kModes> first{};  // of the first violation
    };

    I2cTimingMonitor(Wire& scl, Wire& sda);
    const Figures& figures(Parameter p) const { return figures_[p]; }
    /// STARTs that began a transfer (repeated STARTs not counted).
    uint64_t transactions() const { return transactions_; }

  private:
    void on_scl(int level, Picos at);
    void on_sda(int level, Picos at);
    void measure(Parameter p, double value_s, Picos at);
    void measure(Parameter p, Picos from, Picos to, Picos at);

    Wire& scl_;
    Wire& sda_;
    I2cDecoder bus_;
    std::array<Figures, kParameters> figures_{};
    uint64_t transactions_ = 0;
    Picos scl_fell_ = 0, scl_rose_ = 0;  // SCL's last fall; last rise at 70 %
    Picos start_ = 0, stop_ = 0;         // last (repeated) START; last STOP at 70 %
    Picos data_settled_ = 0;             // SDA's last change while SCL was low
    bool data_changed_ = false;          // since SCL fell
    bool hold_start_ = false;            // a START waiting for SCL to fall
    bool condition_in_high_ = false;     // a START or STOP since SCL rose
    bool stopped_ = false;               // a STOP was seen
    bool clocked_ = false;               // SCL fell inside the transfer
};

}  // namespace sim

// Counts the firmware's IMU register reads on the bit-banged bus, as a logic
// analyser on the two wires would: a read begins with the device's write
// address and succeeds when data bytes follow its read address and a STOP
// ends the transfer. Reports each transfer (START to STOP, or to the next
// START when abandoned) to a probe.
#pragma once

#include <cstdint>

#include "sim/core/probes.hpp"
#include "sim/models/i2c_decoder.hpp"
#include "sim/models/wire.hpp"

namespace sim {

class ImuReadCounter {
  public:
    static constexpr uint8_t kWriteAddress = 0xA0;  // 0x50 << 1

    ImuReadCounter(Wire& scl, Wire& sda, const Probe<const I2cTransaction&>* report = nullptr);
    uint64_t attempts() const { return attempts_; }
    uint64_t succeeded() const { return succeeded_; }
    /// Reads that ended without data (a missing acknowledge, a stuck line),
    /// the last one too: the firmware gives up on a missing acknowledge
    /// without a STOP. A read still under way is not counted.
    uint64_t failed() const;

  private:
    void on_sda(int level, Picos at);
    void on_scl_rise();
    void transfer_ended(Picos at);

    Wire& scl_;
    Wire& sda_;
    I2cDecoder bus_;
    bool reading_ = false;
    int data_bytes_ = 0;
    bool open_ = false;     // an attempt not yet succeeded
    bool refused_ = false;  // ... and the device did not acknowledge a byte of it
    uint64_t attempts_ = 0, succeeded_ = 0;
    const Probe<const I2cTransaction&>* report_;
    I2cTransaction transfer_{};
    bool in_transfer_ = false;
    bool segment_reads_ = false;  // the address byte since the last (repeated) START reads
    bool refused_last_ = false;   // the last byte refused where it should not be
};

}  // namespace sim

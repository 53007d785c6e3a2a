// Bus conditions and bits of an I2C bus from its two lines' levels, as every
// device and logic analyser on the bus frames them (UM10204 3.1.4 to 3.1.6):
// SDA falling while SCL is high is a START (a repeated START inside a
// transfer), SDA rising while SCL is high a STOP; inside a transfer every SCL
// rise samples a bit, eight data bits (most significant first) and an
// acknowledge bit (low: ACK) make a byte. Clocks that do not complete a byte
// before a condition are dropped.
//
// The caller feeds it the edges it hears, so a device that is deaf for a while
// (absent, or holding the line itself) simply does not feed it.
#pragma once

#include <cstdint>

namespace sim {

class I2cDecoder {
  public:
    enum class Event : uint8_t { None, Start, RepeatedStart, Stop, Bit, Byte };

    /// SDA changed to `level` while SCL is at `scl`.
    Event sda(int level, int scl) {
        if (scl == 0) {
            return Event::None;  // data changing while the clock is low
        }
        if (level == 0) {
            const bool repeated = in_transfer_;
            in_transfer_ = true;
            bits_ = 0;
            bytes_ = 0;
            return repeated ? Event::RepeatedStart : Event::Start;
        }
        if (!in_transfer_) {
            return Event::None;
        }
        in_transfer_ = false;
        return Event::Stop;
    }

    /// SCL changed to `level` while SDA is at `sda`: a rise inside a transfer samples a bit.
    Event scl(int level, int sda) {
        if (level == 0 || !in_transfer_) {
            return Event::None;
        }
        if (bits_ < 8) {
            value_ = static_cast<uint8_t>((bits_ == 0 ? 0 : value_ << 1) | sda);
            bits_++;
            return Event::Bit;
        }
        ack_ = sda == 0;
        bits_ = 0;
        bytes_++;
        return Event::Byte;
    }

    /// Between a START and a STOP.
    bool in_transfer() const { return in_transfer_; }
    /// Clocks of the byte under way (0 to 8); the ninth completes it and starts the next.
    int bits() const { return bits_; }
    /// The data bits so far; the whole byte once bits() reached 8 and at its Byte.
    uint8_t value() const { return value_; }
    /// The acknowledge bit of the byte just completed (at its Byte).
    bool ack() const { return ack_; }
    /// Bytes completed since the last (repeated) START.
    int bytes() const { return bytes_; }

  private:
    bool in_transfer_ = false;
    int bits_ = 0;
    int bytes_ = 0;
    uint8_t value_ = 0;
    bool ack_ = false;
};

}  // namespace sim

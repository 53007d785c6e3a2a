// A CAN bus: the shared wire between controllers and devices. Frames take
// their time on the wire bit by bit (stuff bits included), senders arbitrate
// by identifier, a frame is acknowledged only when another active node is
// attached, and an active node whose bit time does not agree with the
// sender's, or a second sender of the same identifier with other contents,
// destroys the frame with an error flag.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/cpu.hpp"
#include "sim/core/events.hpp"
#include "sim/core/time.hpp"

namespace sim {

/// One classic CAN frame (data or remote, standard or extended identifier).
struct CanFrame {
    uint32_t id = 0;   // 11 or 29 bits
    bool ide = false;  // extended identifier
    bool rtr = false;  // remote frame
    uint8_t dlc = 0;   // 0 to 15; data bytes on the wire: min(dlc, 8), none for remote
    uint8_t data[8] = {};
    bool operator==(const CanFrame& other) const;
};

/// Bits from the start of frame to the end of the CRC sequence, unstuffed,
/// in wire order (0 dominant). The CRC is the 15-bit CRC of the bits before it.
std::vector<uint8_t> can_unstuffed_bits(const CanFrame& frame);
uint16_t can_crc15(const std::vector<uint8_t>& bits);
/// Stuff bits the transmitter inserts from the start of frame to the end of the CRC.
int can_stuff_bits(const CanFrame& frame);
/// Stuff bits among the first `count` of `bits`, and the stuffed length of all of them.
int can_stuff_bits_before(const std::vector<uint8_t>& bits, int count);
int can_stuffed_length(const std::vector<uint8_t>& bits);
/// Bits from the start of frame to the end of the end-of-frame field
/// (stuffed region, CRC delimiter, ACK slot and delimiter, 7 EOF bits).
int can_frame_bits(const CanFrame& frame);
/// Intermission after every frame before the bus can carry another.
inline constexpr int kCanIntermissionBits = 3;

/// A node's bit timing: its nominal bit time and, in time quanta, its
/// phase segments and resynchronisation jump width.
struct CanBitTiming {
    Picos bit = 0;
    int quanta = 0;  // per bit: sync segment, PROP_SEG + PHASE_SEG1, PHASE_SEG2
    int pb1 = 0;     // PHASE_SEG1 (bxCAN: its BS1, which holds PROP_SEG too)
    int pb2 = 0;
    int sjw = 0;
};
/// A node at 1 Mbit/s with 8 quanta, sampled at 75 % (1 + 5 + 2, SJW 1): a
/// chosen value for the nodes whose controllers we cannot read (the motors,
/// the tests' scripted nodes).
CanBitTiming can_default_timing(Picos bit);
/// The largest oscillator deviation from nominal these settings allow
/// (ISO 11898-1 / Bosch CAN 2.0 oscillator tolerance conditions):
///   df <= min(PB1, PB2) / (2 (13 N - PB2))   and   df <= SJW / (20 N),
/// N the quanta per bit.
double can_oscillator_tolerance(const CanBitTiming& t);
/// Both nodes keep to the conditions only while each is within df of the
/// nominal bit time, so two of them may differ by up to the sum of theirs;
/// the relative difference of their bit times, and whether it is within that.
double can_bit_time_mismatch(const CanBitTiming& a, const CanBitTiming& b);
bool can_bit_times_agree(const CanBitTiming& a, const CanBitTiming& b);

/// A frame destroyed by an error flag, as the bus's listeners see it.
struct CanError {
    enum Kind { kAck, kBitTiming, kCollision } kind;
    Picos at;  // start of the error flag
};

/// Something attached to a bus: a controller or a device.
class CanNode {
  public:
    virtual ~CanNode() = default;
    /// The frame this node would put on the bus now, or null.
    virtual const CanFrame* next_frame() = 0;
    /// Bit timing of this node's own transmissions and reception.
    virtual CanBitTiming timing() const = 0;
    Picos bit_time() const { return timing().bit; }
    /// True while the node takes part in the bus: it acknowledges frames.
    virtual bool active() const = 0;
    /// Its frame (the one last returned by next_frame) went out acknowledged
    /// (`acked`) or ended in an acknowledgement error.
    virtual void sent(bool acked, Picos at) = 0;
    /// Its frame was destroyed by another node's error flag or a collision:
    /// a bit error for the sender (error counters rise, the frame is retried).
    virtual void send_error(Picos at) { sent(false, at); }
    /// A frame of another node was destroyed by an error flag.
    virtual void receive_error(Picos at) { (void)at; }
    /// True when the node acknowledges its own frames (bxCAN loopback mode).
    virtual bool self_acks() const { return false; }
    /// It wanted to send but a lower identifier won the arbitration.
    virtual void lost_arbitration(Picos at) { (void)at; }
    /// Another node's frame completed without error; `at` is the end of its EOF.
    virtual void received(const CanFrame& frame, Picos at) = 0;
    /// Bits to wait after an own error before sending again (error-passive suspension).
    virtual int suspend_bits() const { return 0; }
};

class CanBus {
  public:
    /// Every acknowledged frame, with the time its end of frame completed and its sender.
    using Listener =
        std::function<void(const CanFrame& frame, Picos end_of_frame, const CanNode* sender)>;

    CanBus(Cpu& cpu, std::string name);
    const std::string& name() const { return name_; }
    void attach(CanNode* node);
    void detach(CanNode* node);
    void add_listener(Listener listener) { listeners_.push_back(std::move(listener)); }
    using ErrorListener = std::function<void(const CanError& error)>;
    void add_error_listener(ErrorListener listener) {
        error_listeners_.push_back(std::move(listener));
    }

    /// A node has a frame to send: arbitration starts as soon as the bus is free.
    void request();
    bool busy() const { return busy_; }
    /// The node whose frame is on the wire now (arbitration to its end or
    /// its error flag), or null.
    const CanNode* transmitting() const { return in_frame_ ? sender_ : nullptr; }
    /// When the frame or error frame on the bus ends (its intermission
    /// included), as far as known now; `now` on an idle bus.
    Picos idle_at(Picos now) const {
        return busy_ ? std::max(now, in_frame_ ? end_ : free_at_) : now;
    }
    /// Time the bus has carried frames and error frames (intermission not counted).
    Picos busy_time() const { return busy_total_; }
    /// Frames acknowledged and failed attempts so far.
    uint64_t frames() const { return frames_; }
    uint64_t errors() const { return errors_; }

  private:
    void arbitrate(Picos now);
    void finish(Picos now);
    void free(Picos now);
    bool someone_else_active(const CanNode* sender) const;
    void destroy(Picos now);

    Cpu& cpu_;
    std::string name_;
    std::vector<CanNode*> nodes_;
    std::vector<Listener> listeners_;
    std::vector<ErrorListener> error_listeners_;
    bool busy_ = false;
    bool in_frame_ = false;
    Picos end_ = 0;  // of the frame on the wire: its EOF or the start of its error flag
    Picos busy_since_ = 0;
    Picos busy_total_ = 0;
    std::vector<CanNode*> colliders_;  // other senders of the frame's identifier
    CanError::Kind error_ = CanError::kAck;
    bool destroyed_ = false;
    Picos free_at_ = 0;
    CanNode* sender_ = nullptr;
    CanFrame frame_;
    bool acked_ = false;
    uint64_t frames_ = 0;
    uint64_t errors_ = 0;
    FunctionEvent arbitrate_event_;
    FunctionEvent finish_event_;
    FunctionEvent free_event_;
};

}  // namespace sim

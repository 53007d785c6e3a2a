// A CAN bus: the shared wire between controllers and devices. Frames take
// their time on the wire bit by bit (stuff bits included), senders arbitrate
// by identifier, and a frame is acknowledged only when another active node
// is attached.
#pragma once

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
/// Bits from the start of frame to the end of the end-of-frame field
/// (stuffed region, CRC delimiter, ACK slot and delimiter, 7 EOF bits).
int can_frame_bits(const CanFrame& frame);
/// Intermission after every frame before the bus can carry another.
inline constexpr int kCanIntermissionBits = 3;

/// Something attached to a bus: a controller or a device.
class CanNode {
  public:
    virtual ~CanNode() = default;
    /// The frame this node would put on the bus now, or null.
    virtual const CanFrame* next_frame() = 0;
    /// Bit time of this node's own transmissions.
    virtual Picos bit_time() const = 0;
    /// True while the node takes part in the bus: it acknowledges frames.
    virtual bool active() const = 0;
    /// Its frame (the one last returned by next_frame) went out acknowledged
    /// (`acked`) or ended in an acknowledgement error.
    virtual void sent(bool acked, Picos at) = 0;
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

    /// A node has a frame to send: arbitration starts as soon as the bus is free.
    void request();
    bool busy() const { return busy_; }
    /// Frames acknowledged and failed attempts so far.
    uint64_t frames() const { return frames_; }
    uint64_t errors() const { return errors_; }

  private:
    void arbitrate(Picos now);
    void finish(Picos now);
    void free(Picos now);
    bool someone_else_active(const CanNode* sender) const;

    Cpu& cpu_;
    std::string name_;
    std::vector<CanNode*> nodes_;
    std::vector<Listener> listeners_;
    bool busy_ = false;
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

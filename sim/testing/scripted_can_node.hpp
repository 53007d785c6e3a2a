// A test's own node on a CAN bus: it acknowledges every frame, sends the
// frames it is given in order (again after an unacknowledged try, as a
// controller does), and tells the test what it received and when its frames
// went out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <vector>

#include "sim/models/can_bus.hpp"

namespace sim::testing {

class ScriptedCanNode final : public CanNode {
  public:
    explicit ScriptedCanNode(CanBus& bus, bool present = true) : bus_(bus), present_(present) {
        bus_.attach(this);
    }
    ~ScriptedCanNode() override { bus_.detach(this); }
    ScriptedCanNode(const ScriptedCanNode&) = delete;
    ScriptedCanNode& operator=(const ScriptedCanNode&) = delete;

    void send(const CanFrame& frame) {
        out_.push_back(frame);
        bus_.request();
    }
    /// A standard data frame of eight bytes, the rest of them zero.
    void send(uint32_t id, std::initializer_list<uint8_t> bytes) {
        CanFrame f;
        f.id = id;
        f.dlc = 8;
        std::copy(bytes.begin(), bytes.end(), f.data);
        send(f);
    }

    /// Every frame of the other nodes that completed, in order.
    std::vector<CanFrame> seen;
    /// When the last of this node's frames went out acknowledged.
    Picos sent_at = 0;
    /// Called for each frame received, after it is added to `seen`.
    std::function<void(const CanFrame&, Picos)> on_received;

    const CanFrame* next_frame() override { return out_.empty() ? nullptr : &out_.front(); }
    CanBitTiming timing() const override { return timing_; }
    /// Another bit time, with can_default_timing's segments.
    void set_bit_time(Picos bit) { timing_ = can_default_timing(bit); }
    bool active() const override { return present_; }
    /// Attempts that ended in an error (no acknowledgement, an error flag, a collision).
    int errors = 0;
    void sent(bool acked, Picos at) override {
        errors += acked ? 0 : 1;
        if (acked) {
            out_.pop_front();
            sent_at = at;
        }
    }
    void received(const CanFrame& frame, Picos at) override {
        seen.push_back(frame);
        if (on_received) {
            on_received(frame, at);
        }
    }

  private:
    CanBus& bus_;
    bool present_;
    CanBitTiming timing_ = can_default_timing(kPsPerUs);
    std::deque<CanFrame> out_;
};

}  // namespace sim::testing

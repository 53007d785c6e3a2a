#include "sim/models/can_bus.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace sim {

namespace {

void push(std::vector<uint8_t>& bits, uint32_t value, int count) {
    for (int i = count - 1; i >= 0; i--) {
        bits.push_back(static_cast<uint8_t>((value >> i) & 1U));
    }
}

int data_bytes(const CanFrame& frame) {
    return frame.rtr ? 0 : std::min<int>(frame.dlc, 8);
}

// Arbitration field and the control bits that follow it, as one number:
// lower wins. A standard frame beats an extended one of the same base
// identifier (its IDE bit is dominant), a data frame beats a remote one.
uint64_t priority(const CanFrame& f) {
    if (!f.ide) {
        return (static_cast<uint64_t>(f.id & 0x7FFU) << 21) | (uint64_t{f.rtr} << 20);
    }
    const uint64_t base = (f.id >> 18) & 0x7FFU;
    return (base << 21) | (1ULL << 20) | (1ULL << 19) | ((f.id & 0x3FFFFU) << 1) | f.rtr;
}

}  // namespace

bool CanFrame::operator==(const CanFrame& other) const {
    return id == other.id && ide == other.ide && rtr == other.rtr && dlc == other.dlc &&
           std::memcmp(data, other.data, sizeof(data)) == 0;
}

std::vector<uint8_t> can_unstuffed_bits(const CanFrame& f) {
    std::vector<uint8_t> bits;
    bits.push_back(0);  // start of frame
    if (!f.ide) {
        push(bits, f.id & 0x7FFU, 11);
        push(bits, f.rtr, 1);
        push(bits, 0, 1);  // IDE
        push(bits, 0, 1);  // r0
    } else {
        push(bits, (f.id >> 18) & 0x7FFU, 11);
        push(bits, 1, 1);  // SRR
        push(bits, 1, 1);  // IDE
        push(bits, f.id & 0x3FFFFU, 18);
        push(bits, f.rtr, 1);
        push(bits, 0, 2);  // r1, r0
    }
    push(bits, f.dlc & 0xFU, 4);
    for (int i = 0; i < data_bytes(f); i++) {
        push(bits, f.data[i], 8);
    }
    push(bits, can_crc15(bits), 15);
    return bits;
}

uint16_t can_crc15(const std::vector<uint8_t>& bits) {
    uint16_t crc = 0;
    for (uint8_t bit : bits) {
        const bool next = ((crc >> 14) & 1U) != bit;
        crc = static_cast<uint16_t>((crc << 1) & 0x7FFFU);
        if (next) {
            crc ^= 0x4599U;
        }
    }
    return crc;
}

int can_stuff_bits(const CanFrame& frame) {
    const std::vector<uint8_t> bits = can_unstuffed_bits(frame);
    return can_stuff_bits_before(bits, static_cast<int>(bits.size()));
}

int can_stuff_bits_before(const std::vector<uint8_t>& bits, int count) {
    int stuffed = 0;
    int run = 0;
    int last = -1;
    for (int i = 0; i < count; i++) {
        const uint8_t bit = bits[static_cast<std::size_t>(i)];
        run = bit == last ? run + 1 : 1;
        last = bit;
        if (run == 5) {
            stuffed++;
            last = !bit;
            run = 1;
        }
    }
    return stuffed;
}

int can_stuffed_length(const std::vector<uint8_t>& bits) {
    return static_cast<int>(bits.size()) +
           can_stuff_bits_before(bits, static_cast<int>(bits.size()));
}

int can_frame_bits(const CanFrame& frame) {
    constexpr int kTail = 1 + 1 + 1 + 7;  // CRC delimiter, ACK slot, ACK delimiter, EOF
    return static_cast<int>(can_unstuffed_bits(frame).size()) + can_stuff_bits(frame) + kTail;
}

CanBitTiming can_default_timing(Picos bit) {
    return CanBitTiming{bit, 8, 5, 2, 1};
}

double can_oscillator_tolerance(const CanBitTiming& t) {
    if (t.quanta <= 0) {
        return 0;
    }
    const double n = t.quanta;
    const double phase = std::min(t.pb1, t.pb2);
    return std::min(phase / (2.0 * (13.0 * n - t.pb2)), t.sjw / (20.0 * n));
}

double can_bit_time_mismatch(const CanBitTiming& a, const CanBitTiming& b) {
    const double ta = static_cast<double>(a.bit), tb = static_cast<double>(b.bit);
    return std::abs(ta - tb) / std::min(ta, tb);
}

bool can_bit_times_agree(const CanBitTiming& a, const CanBitTiming& b) {
    return can_bit_time_mismatch(a, b) <= can_oscillator_tolerance(a) + can_oscillator_tolerance(b);
}

CanBus::CanBus(Cpu& cpu, std::string name)
    : cpu_(cpu),
      name_(std::move(name)),
      arbitrate_event_([this](Picos now) { arbitrate(now); }),
      finish_event_([this](Picos now) { finish(now); }),
      free_event_([this](Picos now) { free(now); }) {}

void CanBus::attach(CanNode* node) {
    nodes_.push_back(node);
}

void CanBus::detach(CanNode* node) {
    nodes_.erase(std::remove(nodes_.begin(), nodes_.end(), node), nodes_.end());
    colliders_.erase(std::remove(colliders_.begin(), colliders_.end(), node), colliders_.end());
    if (sender_ == node) {  // gone in the middle of its frame: the bus is idle again
        cpu_.events().cancel(finish_event_);
        cpu_.events().cancel(free_event_);
        busy_ = in_frame_ = false;
        sender_ = nullptr;
        free_at_ = cpu_.now();
    }
}

void CanBus::request() {
    if (busy_ || arbitrate_event_.armed()) {
        return;  // looked at again when the bus is free
    }
    cpu_.events().schedule(arbitrate_event_, std::max(cpu_.now(), free_at_));
}

bool CanBus::someone_else_active(const CanNode* sender) const {
    return std::any_of(nodes_.begin(), nodes_.end(),
                       [sender](const CanNode* n) { return n != sender && n->active(); });
}

void CanBus::arbitrate(Picos now) {
    CanNode* winner = nullptr;
    const CanFrame* best = nullptr;
    std::vector<CanNode*> contenders;
    for (CanNode* node : nodes_) {
        const CanFrame* frame = node->next_frame();
        if (frame == nullptr) {
            continue;
        }
        contenders.push_back(node);
        if (best == nullptr || priority(*frame) < priority(*best)) {
            best = frame;
            winner = node;
        }
    }
    if (winner == nullptr) {
        return;
    }
    // Senders of the same arbitration field all go on: with the same bits
    // they send one frame together, otherwise the first bit they differ in
    // is a bit error for the one that sent it recessive.
    colliders_.clear();
    int first_difference = -1;
    const std::vector<uint8_t> bits = can_unstuffed_bits(*best);
    for (CanNode* node : contenders) {
        if (node == winner) {
            continue;
        }
        const CanFrame& frame = *node->next_frame();
        if (priority(frame) != priority(*best)) {
            node->lost_arbitration(now);
            continue;
        }
        colliders_.push_back(node);
        const std::vector<uint8_t> other = can_unstuffed_bits(frame);
        for (std::size_t i = 0; i < std::min(bits.size(), other.size()); i++) {
            if (bits[i] != other[i]) {
                const int at = static_cast<int>(i);
                first_difference = first_difference < 0 ? at : std::min(first_difference, at);
                break;
            }
        }
    }
    busy_ = true;
    in_frame_ = true;
    busy_since_ = now;
    sender_ = winner;
    frame_ = *best;
    destroyed_ = false;
    const CanBitTiming timing = winner->timing();
    const Picos bit = timing.bit;
    Picos end;
    if (first_difference >= 0) {
        destroyed_ = true;
        error_ = CanError::kCollision;
        // Stuff bits before the differing bit count, the flag starts in the next bit.
        const int stuffed = first_difference + can_stuff_bits_before(bits, first_difference);
        end = now + bit * static_cast<Picos>(stuffed + 1);
    } else {
        for (CanNode* node : nodes_) {
            if (node == winner || !node->active() || can_bit_times_agree(timing, node->timing())) {
                continue;
            }
            // It samples the frame at its own bit time and sees a stuff or
            // form error within the first bits: its error flag starts after
            // six of the sender's bits (a chosen value: the earliest point a
            // stuff error can show, six equal samples).
            destroyed_ = true;
            error_ = CanError::kBitTiming;
            cpu_.rules().record(name_ +
                                    ": bit times of two nodes differ beyond both nodes' "
                                    "oscillator tolerance",
                                100.0 * can_bit_time_mismatch(timing, node->timing()), "%", now);
        }
        if (destroyed_) {
            end = now + bit * 6;
        } else {
            acked_ = someone_else_active(winner) || winner->self_acks();
            if (acked_) {
                end = now + bit * static_cast<Picos>(can_frame_bits(frame_));
            } else {
                // The sender sees no dominant ACK slot and starts an error flag in
                // the next bit: stuffed region, CRC delimiter, ACK slot.
                error_ = CanError::kAck;
                end = now + bit * static_cast<Picos>(can_stuffed_length(bits) + 2);
            }
        }
    }
    end_ = end;
    cpu_.events().schedule(finish_event_, end);
}

void CanBus::finish(Picos now) {
    in_frame_ = false;
    if (destroyed_) {
        destroy(now);
        return;
    }
    CanNode* sender = sender_;
    const Picos bit = sender->bit_time();
    Picos free_at;
    if (acked_) {
        frames_++;
        busy_total_ += now - busy_since_;
        free_at = now + bit * kCanIntermissionBits;
        for (CanNode* node : nodes_) {
            if (node != sender &&
                std::find(colliders_.begin(), colliders_.end(), node) == colliders_.end()) {
                node->received(frame_, now);
            }
        }
        cpu_.probes().can_frame.emit(*this, frame_, now);
        for (const Listener& listener : listeners_) {
            listener(frame_, now, sender);
        }
        sender->sent(true, now);
        for (CanNode* node : colliders_) {
            node->sent(true, now);
        }
    } else {
        errors_++;
        busy_total_ += now - busy_since_ + bit * (6 + 8);
        cpu_.probes().can_error.emit(*this, CanError{CanError::kAck, now});
        for (const ErrorListener& listener : error_listeners_) {
            listener(CanError{CanError::kAck, now});
        }
        sender->sent(false, now);
        for (CanNode* node : colliders_) {
            node->sent(false, now);
        }
        // Error flag (6), error delimiter (8), intermission.
        free_at =
            now + bit * static_cast<Picos>(6 + 8 + kCanIntermissionBits + sender->suspend_bits());
    }
    free_at_ = free_at;
    cpu_.events().schedule(free_event_, free_at);
}

void CanBus::destroy(Picos now) {
    CanNode* sender = sender_;
    const Picos bit = sender->bit_time();
    errors_++;
    busy_total_ += now - busy_since_ + bit * (6 + 8);
    cpu_.probes().can_error.emit(*this, CanError{error_, now});
    for (const ErrorListener& listener : error_listeners_) {
        listener(CanError{error_, now});
    }
    int suspend = sender->suspend_bits();
    sender->send_error(now);
    for (CanNode* node : nodes_) {
        if (node == sender) {
            continue;
        }
        if (std::find(colliders_.begin(), colliders_.end(), node) != colliders_.end()) {
            suspend = std::max(suspend, node->suspend_bits());
            node->send_error(now);
        } else {
            node->receive_error(now);
        }
    }
    free_at_ = now + bit * static_cast<Picos>(6 + 8 + kCanIntermissionBits + suspend);
    cpu_.events().schedule(free_event_, free_at_);
}
void CanBus::free(Picos now) {
    busy_ = false;
    sender_ = nullptr;
    if (std::any_of(nodes_.begin(), nodes_.end(),
                    [](CanNode* n) { return n->next_frame() != nullptr; })) {
        arbitrate(now);
    }
}

}  // namespace sim

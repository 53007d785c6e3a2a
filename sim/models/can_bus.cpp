#include "sim/models/can_bus.hpp"

#include <algorithm>
#include <cstring>

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
    // After five equal bits the transmitter inserts their complement, which
    // counts towards the next run; this holds up to the last CRC bit.
    int stuffed = 0;
    int run = 0;
    int last = -1;
    for (uint8_t bit : can_unstuffed_bits(frame)) {
        if (bit == last) {
            run++;
        } else {
            last = bit;
            run = 1;
        }
        if (run == 5) {
            stuffed++;
            last = !bit;
            run = 1;
        }
    }
    return stuffed;
}

int can_frame_bits(const CanFrame& frame) {
    constexpr int kTail = 1 + 1 + 1 + 7;  // CRC delimiter, ACK slot, ACK delimiter, EOF
    return static_cast<int>(can_unstuffed_bits(frame).size()) + can_stuff_bits(frame) + kTail;
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
    for (CanNode* node : contenders) {
        if (node != winner) {
            node->lost_arbitration(now);
        }
    }
    busy_ = true;
    sender_ = winner;
    frame_ = *best;
    acked_ = someone_else_active(winner);
    const Picos bit = winner->bit_time();
    if (acked_) {
        cpu_.events().schedule(finish_event_,
                               now + bit * static_cast<Picos>(can_frame_bits(frame_)));
    } else {
        // The sender sees no dominant ACK slot and starts an error flag in
        // the next bit: stuffed region, CRC delimiter, ACK slot.
        const int to_ack =
            static_cast<int>(can_unstuffed_bits(frame_).size()) + can_stuff_bits(frame_) + 2;
        cpu_.events().schedule(finish_event_, now + bit * static_cast<Picos>(to_ack));
    }
}

void CanBus::finish(Picos now) {
    CanNode* sender = sender_;
    const Picos bit = sender->bit_time();
    Picos free_at;
    if (acked_) {
        frames_++;
        free_at = now + bit * kCanIntermissionBits;
        for (CanNode* node : nodes_) {
            if (node != sender) {
                node->received(frame_, now);
            }
        }
        for (const Listener& listener : listeners_) {
            listener(frame_, now, sender);
        }
        sender->sent(true, now);
    } else {
        errors_++;
        sender->sent(false, now);
        // Error flag (6), error delimiter (8), intermission.
        free_at =
            now + bit * static_cast<Picos>(6 + 8 + kCanIntermissionBits + sender->suspend_bits());
    }
    free_at_ = free_at;
    cpu_.events().schedule(free_event_, free_at);
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

#include "sim/devices/motor.hpp"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
constexpr uint8_t kClose = 0x80, kStop = 0x81, kRunning = 0x88, kSpeed = 0xA2;
constexpr Picos kStep = 100 * kPsPerUs;  // integration step of the shaft
constexpr double kEncoderCounts = 65536.0;
constexpr double kIqPerDps2 = 0.05;  // torque current per unit of acceleration
}  // namespace

Mf4010Motor::Mf4010Motor(Cpu& cpu, CanBus& bus, const MotorConfig& config)
    : cpu_(cpu), bus_(bus), config_(config), due_event_([this](Picos now) { reply_due(now); }) {
    bus_.attach(this);
}

Mf4010Motor::~Mf4010Motor() {
    bus_.detach(this);
}

void Mf4010Motor::set_present(bool present) {
    config_.present = present;
    if (present && !send_.empty()) {
        bus_.request();
    }
}

int32_t Mf4010Motor::target_speed() const {
    return running_ && !closed_ ? command_ : 0;
}

void Mf4010Motor::advance(Picos now) {
    if (updated_ >= now) {
        return;
    }
    if (closed_) {
        // A closed motor does not move: every step would add 0 * dt.
        speed_ = 0.0;
        angle_ += 0.0;
        updated_ = now;
        return;
    }
    const double target = target_speed() / 100.0;
    // Whole steps with their factors worked out once; the same sums as one
    // step at a time.
    const double dt = to_seconds(kStep);
    const double gain = std::min(1.0, dt / kSpeedTimeConstantS);
    const double limit = kMaxAccelDps2 * dt;
    while (now - updated_ >= kStep) {
        speed_ += std::clamp((target - speed_) * gain, -limit, limit);
        angle_ += speed_ * dt;
        updated_ += kStep;
    }
    if (updated_ < now) {
        const double part = to_seconds(now - updated_);
        const double wanted = (target - speed_) * std::min(1.0, part / kSpeedTimeConstantS);
        const double part_limit = kMaxAccelDps2 * part;
        speed_ += std::clamp(wanted, -part_limit, part_limit);
        angle_ += speed_ * part;
        updated_ = now;
    }
}

double Mf4010Motor::speed_dps(Picos now) {
    advance(now);
    return speed_;
}

double Mf4010Motor::angle_deg(Picos now) {
    advance(now);
    return angle_;
}

void Mf4010Motor::received(const CanFrame& frame, Picos at) {
    if (!config_.present || frame.ide || frame.rtr || frame.id != config_.id || frame.dlc < 1) {
        return;
    }
    advance(at);
    commands_++;
    switch (frame.data[0]) {
        case kClose:
            closed_ = true;
            running_ = false;
            command_ = 0;
            break;
        case kStop:
            running_ = false;
            break;
        case kRunning:
            closed_ = false;
            running_ = true;
            break;
        case kSpeed:
            command_ = static_cast<int32_t>(static_cast<uint32_t>(frame.data[4]) |
                                            (static_cast<uint32_t>(frame.data[5]) << 8) |
                                            (static_cast<uint32_t>(frame.data[6]) << 16) |
                                            (static_cast<uint32_t>(frame.data[7]) << 24));
            break;
        default:
            return;  // not part of the protocol used here: no reply
    }
    if (!config_.answers) {
        return;
    }
    due_.push_back(Due{at + config_.reply_delay.ps, frame});
    if (!due_event_.armed()) {
        cpu_.events().schedule(due_event_, due_.front().at);
    }
}

void Mf4010Motor::reply_due(Picos now) {
    while (!due_.empty() && due_.front().at <= now) {
        send_.push_back(reply_to(due_.front().frame, now));
        due_.pop_front();
    }
    if (!due_.empty()) {
        cpu_.events().schedule(due_event_, due_.front().at);
    }
    bus_.request();
}

CanFrame Mf4010Motor::reply_to(const CanFrame& command, Picos now) {
    CanFrame reply = command;
    reply.dlc = 8;
    if (command.data[0] == kClose && config_.close_garbage) {
        const uint8_t garbage[8] = {0x80, 0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x00, 0x01};
        std::copy(garbage, garbage + 8, reply.data);
    } else if (command.data[0] == kSpeed) {
        advance(now);
        const double accel = (target_speed() / 100.0 - speed_) / kSpeedTimeConstantS;
        const auto iq =
            static_cast<int16_t>(std::clamp(std::lround(accel * kIqPerDps2), -2048L, 2048L));
        const auto dps = static_cast<int16_t>(std::clamp(std::lround(speed_), -32768L, 32767L));
        double turns = angle_ / 360.0;
        turns -= std::floor(turns);
        const auto encoder =
            static_cast<uint16_t>(static_cast<uint32_t>(turns * kEncoderCounts) & 0xFFFFU);
        reply.data[1] = static_cast<uint8_t>(kTemperatureC);
        reply.data[2] = static_cast<uint8_t>(iq);
        reply.data[3] = static_cast<uint8_t>(static_cast<uint16_t>(iq) >> 8);
        reply.data[4] = static_cast<uint8_t>(dps);
        reply.data[5] = static_cast<uint8_t>(static_cast<uint16_t>(dps) >> 8);
        reply.data[6] = static_cast<uint8_t>(encoder);
        reply.data[7] = static_cast<uint8_t>(encoder >> 8);
    }
    // Close, stop and running are answered with the command's own bytes.
    return reply;
}

const CanFrame* Mf4010Motor::next_frame() {
    return config_.present && !send_.empty() ? &send_.front() : nullptr;
}

void Mf4010Motor::sent(bool acked, Picos at) {
    (void)at;
    if (acked && !send_.empty()) {
        send_.pop_front();
    }
    if (!send_.empty()) {
        bus_.request();
    }
}

}  // namespace sim

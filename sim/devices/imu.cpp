#include "sim/devices/imu.hpp"

#include <cstdio>

namespace sim {

namespace {
std::string hex_byte(uint8_t byte, bool ack) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%c", byte, ack ? '+' : '-');
    return text;
}
}  // namespace

Imu::Imu(Cpu& cpu, Wire& scl, Wire& sda)
    : cpu_(cpu),
      scl_(scl),
      sda_(sda),
      scl_party_(scl.attach()),
      sda_party_(sda.attach()),
      sda_change_([this](Picos at) {
          if (scl_.level() == 0) {
              sda_protocol_low_ = sda_wanted_low_;
              apply_sda(at);
          }
      }),
      sda_fault_start_([this](Picos at) {
          sda_fault_low_ = true;
          apply_sda(at);
      }),
      sda_fault_end_([this](Picos at) {
          sda_fault_low_ = false;
          apply_sda(at);
      }),
      scl_fault_start_([this](Picos at) {
          scl_fault_low_ = true;
          apply_scl(at);
      }),
      scl_fault_end_([this](Picos at) {
          scl_fault_low_ = false;
          apply_scl(at);
      }),
      stretch_end_([this](Picos at) {
          scl_stretch_low_ = false;
          apply_scl(at);
      }) {
    scl.listen([this](int level, Picos at) { on_scl(level, at); });
    sda.listen([this](int level, Picos at) { on_sda(level, at); });
    regs_[kTemp] = 2500;  // a level platform at 25 °C
}

void Imu::hold_sda_low(Picos from, Picos until) {
    cpu_.events().schedule(sda_fault_start_, from);
    cpu_.events().schedule(sda_fault_end_, until);
}

void Imu::hold_scl_low(Picos from, Picos until) {
    cpu_.events().schedule(scl_fault_start_, from);
    cpu_.events().schedule(scl_fault_end_, until);
}

void Imu::update_registers(const std::vector<std::pair<int, int16_t>>& values) {
    if (bus_.in_transfer()) {
        pending_ = values;
        return;
    }
    for (const auto& [reg, value] : values) {
        set_register(reg, value);
    }
}

void Imu::apply_sda(Picos at) {
    sda_.set(sda_party_, {.pulls_low = sda_protocol_low_ || sda_fault_low_}, at);
}

void Imu::apply_scl(Picos at) {
    scl_.set(scl_party_, {.pulls_low = scl_fault_low_ || scl_stretch_low_}, at);
}

void Imu::on_sda(int level, Picos) {
    if (!present_ || sda_fault_low_) {
        return;  // deaf, or our own stuck line
    }
    const I2cDecoder::Event event = bus_.sda(level, scl_.level());
    switch (event) {
        case I2cDecoder::Event::Start:
        case I2cDecoder::Event::RepeatedStart:
            note(event == I2cDecoder::Event::RepeatedStart ? "Sr" : "S");
            phase_ = Phase::Receive;
            role_ = Role::Address;
            break;
        case I2cDecoder::Event::Stop:
            note("P");
            for (const auto& [reg, value] : pending_) {
                set_register(reg, value);
            }
            pending_.clear();
            phase_ = Phase::Idle;
            break;
        default:
            return;
    }
    sda_wanted_low_ = false;  // released at the next fall, if it was wanted low
}

void Imu::on_scl(int level, Picos at) {
    if (level == 1) {
        on_rising(sda_.level());
        return;
    }
    on_falling(at);
    // Bring the wanted SDA level onto the line, kSdaHold after the fall.
    if (sda_wanted_low_ != sda_protocol_low_) {
        cpu_.events().schedule(sda_change_, at + kSdaHold);
    }
}

void Imu::on_rising(int sda) {
    if (!present_) {
        return;
    }
    if (bus_.scl(1, sda) == I2cDecoder::Event::Byte && phase_ == Phase::ReceiveAck) {
        reading_ = bus_.ack();  // ACK: the master wants another byte
        if (logging_ && !log_.empty()) {
            log_.back().back() = bus_.ack() ? '+' : '-';
        }
    }
}

void Imu::on_falling(Picos at) {
    if (!present_) {
        return;
    }
    switch (phase_) {
        case Phase::Receive:
            if (bus_.bits() == 8) {
                received(bus_.value(), at);
            }
            break;
        case Phase::SendAck:
            sda_wanted_low_ = false;
            if (role_ == Role::Data && reading_) {
                phase_ = Phase::Transmit;
                shift_ = next_read_byte();
                sda_wanted_low_ = (shift_ & 0x80) == 0;
            } else {
                phase_ = Phase::Receive;
            }
            break;
        case Phase::Transmit:
            if (bus_.bits() == 8) {
                sda_wanted_low_ = false;
                phase_ = Phase::ReceiveAck;
                note(hex_byte(shift_, false));
            } else {
                sda_wanted_low_ = ((shift_ << bus_.bits()) & 0x80) == 0;
            }
            break;
        case Phase::ReceiveAck:
            if (reading_) {
                phase_ = Phase::Transmit;
                shift_ = next_read_byte();
                sda_wanted_low_ = (shift_ & 0x80) == 0;
            } else {
                phase_ = Phase::Idle;  // NACK: the master ends the read
            }
            break;
        case Phase::Idle:
            break;
    }
}

void Imu::received(uint8_t byte, Picos at) {
    bool ack = true;
    switch (role_) {
        case Role::Address:
            ack = (byte >> 1) == kAddress;
            if (ack) {
                reading_ = (byte & 1U) != 0;
                role_ = reading_ ? Role::Data : Role::Pointer;
                if (stretch_ > 0) {
                    // Holds the clock after the acknowledge bit, as a busy device.
                    scl_stretch_low_ = true;
                    apply_scl(at);
                    cpu_.events().schedule(stretch_end_, at + stretch_);
                }
            }
            break;
        case Role::Pointer:
            pointer_ = byte;
            high_byte_ = false;
            role_ = Role::Data;
            break;
        case Role::Data:
            write_byte(byte);
            break;
    }
    note(hex_byte(byte, ack));
    if (!ack) {
        phase_ = Phase::Idle;  // not ours: wait for the next START
        return;
    }
    phase_ = Phase::SendAck;
    sda_wanted_low_ = true;
}

uint8_t Imu::next_read_byte() {
    const uint16_t value =
        pointer_ < kRegisters ? static_cast<uint16_t>(regs_[pointer_]) : uint16_t{0};
    const uint8_t byte =
        high_byte_ ? static_cast<uint8_t>(value >> 8) : static_cast<uint8_t>(value & 0xFF);
    if (high_byte_) {
        pointer_++;
    }
    high_byte_ = !high_byte_;
    return byte;
}

void Imu::write_byte(uint8_t byte) {
    if (!high_byte_) {
        write_low_ = byte;
    } else if (pointer_ < kRegisters) {
        regs_[pointer_] = static_cast<int16_t>(static_cast<uint16_t>((byte << 8) | write_low_));
        pointer_++;
    } else {
        pointer_++;
    }
    high_byte_ = !high_byte_;
}

}  // namespace sim

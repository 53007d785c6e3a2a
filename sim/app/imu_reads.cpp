#include "sim/app/imu_reads.hpp"

namespace sim {

ImuReadCounter::ImuReadCounter(Wire& scl, Wire& sda) : scl_(scl), sda_(sda) {
    sda_.listen([this](int level, Picos) { on_sda(level); });
    scl_.listen([this](int level, Picos) {
        if (level == 1) {
            on_scl_rise();
        }
    });
}

uint64_t ImuReadCounter::failed() const {
    const bool under_way = open_ && bus_.in_transfer() && !refused_;
    return attempts_ - succeeded_ - (under_way ? 1 : 0);
}

void ImuReadCounter::on_sda(int level) {
    switch (bus_.sda(level, scl_.level())) {
        case I2cDecoder::Event::Start:
        case I2cDecoder::Event::RepeatedStart:
            reading_ = false;
            break;
        case I2cDecoder::Event::Stop:
            if (reading_ && data_bytes_ > 0 && open_) {  // STOP after data
                succeeded_++;
                open_ = false;
            }
            reading_ = false;
            break;
        default:
            break;
    }
}

void ImuReadCounter::on_scl_rise() {
    if (bus_.scl(1, sda_.level()) != I2cDecoder::Event::Byte) {
        return;
    }
    if (bus_.bytes() == 1) {
        if (bus_.value() == kWriteAddress) {
            attempts_++;
            open_ = true;
            refused_ = !bus_.ack();
        } else if (bus_.value() == (kWriteAddress | 1)) {
            reading_ = bus_.ack();
            data_bytes_ = 0;
            refused_ = refused_ || !bus_.ack();
        }
    } else if (reading_) {
        data_bytes_++;
    } else if (!bus_.ack()) {
        refused_ = true;  // the register byte
    }
}

}  // namespace sim

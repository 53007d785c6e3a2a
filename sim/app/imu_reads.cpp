#include "sim/app/imu_reads.hpp"

namespace sim {

ImuReadCounter::ImuReadCounter(Wire& scl, Wire& sda, const Probe<const I2cTransaction&>* report)
    : scl_(scl), sda_(sda), report_(report) {
    sda_.listen([this](int level, Picos at) { on_sda(level, at); });
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

void ImuReadCounter::transfer_ended(Picos at) {
    if (in_transfer_ && report_ != nullptr) {
        transfer_.until = at;
        transfer_.acked = transfer_.acked && !refused_last_;
        report_->emit(transfer_);
    }
    in_transfer_ = false;
}

void ImuReadCounter::on_sda(int level, Picos at) {
    switch (bus_.sda(level, scl_.level())) {
        case I2cDecoder::Event::Start:
            transfer_ended(at);  // one abandoned without a STOP
            transfer_ = I2cTransaction{0, 0, true, at, at};
            in_transfer_ = true;
            refused_last_ = false;
            reading_ = false;
            break;
        case I2cDecoder::Event::RepeatedStart:
            reading_ = false;
            break;
        case I2cDecoder::Event::Stop:
            transfer_ended(at);
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
    if (transfer_.bytes++ == 0) {
        transfer_.address = bus_.value();
    }
    if (bus_.bytes() == 1) {
        segment_reads_ = (bus_.value() & 1U) != 0;
    }
    if (refused_last_) {
        transfer_.acked = false;  // a refused byte before this one
    }
    refused_last_ = !bus_.ack() && !(segment_reads_ && bus_.bytes() > 1);
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

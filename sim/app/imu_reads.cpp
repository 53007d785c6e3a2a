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
    const bool under_way = open_ && in_transfer_ && !refused_;
    return attempts_ - succeeded_ - (under_way ? 1 : 0);
}

void ImuReadCounter::on_sda(int level) {
    if (scl_.level() == 0) {
        return;  // data changing: not a condition
    }
    if (level == 0) {  // (repeated) START
        in_transfer_ = true;
        bits_ = 0;
        shift_ = 0;
        byte_index_ = 0;
        reading_ = false;
        return;
    }
    if (in_transfer_ && reading_ && data_bytes_ > 0 && open_) {  // STOP after data
        succeeded_++;
        open_ = false;
    }
    in_transfer_ = false;
    reading_ = false;
}

void ImuReadCounter::on_scl_rise() {
    if (!in_transfer_) {
        return;
    }
    const int sda = sda_.level();
    if (++bits_ <= 8) {
        shift_ = static_cast<uint8_t>((shift_ << 1) | sda);
        return;
    }
    const bool acked = sda == 0;
    if (byte_index_ == 0) {
        if (shift_ == kWriteAddress) {
            attempts_++;
            open_ = true;
            refused_ = !acked;
        } else if (shift_ == (kWriteAddress | 1)) {
            reading_ = acked;
            data_bytes_ = 0;
            refused_ = refused_ || !acked;
        }
    } else if (reading_) {
        data_bytes_++;
    } else if (!acked) {
        refused_ = true;  // the register byte
    }
    byte_index_++;
    bits_ = 0;
    shift_ = 0;
}

}  // namespace sim

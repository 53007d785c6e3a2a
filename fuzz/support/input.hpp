// The fuzzer's bytes as a stream of choices; once used up, every choice is 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    /// One bit at a time, least significant first.
    bool bit() {
        if (bits_left_ == 0) {
            bits_ = byte();
            bits_left_ = 8;
        }
        const bool b = (bits_ & 1U) != 0;
        bits_ >>= 1;
        bits_left_--;
        return b;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint8_t bits_ = 0;
    int bits_left_ = 0;
};

}  // namespace fuzz

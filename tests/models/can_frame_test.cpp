// Bit counts of CAN frames against counts worked out by hand, and the CRC
// against the published check value of CRC-15/CAN.
#include <gtest/gtest.h>

#include <string>

#include "sim/models/can_bus.hpp"

namespace {

sim::CanFrame frame(uint32_t id, std::initializer_list<uint8_t> bytes, bool ide = false) {
    sim::CanFrame f;
    f.id = id;
    f.ide = ide;
    f.dlc = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), f.data);
    return f;
}

TEST(CanFrame, Crc15MatchesTheCatalogueCheckValue) {
    // CRC-15/CAN of the ASCII bytes "123456789", most significant bit first.
    std::vector<uint8_t> bits;
    for (char c : std::string("123456789")) {
        for (int i = 7; i >= 0; i--) {
            bits.push_back(static_cast<uint8_t>((c >> i) & 1));
        }
    }
    EXPECT_EQ(sim::can_crc15(bits), 0x059E);
}

// Worked by hand, from the bit strings written out (CRCs by polynomial long
// division, done separately):
// - id 0, no data: SOF, 11 id, RTR, IDE, r0 and 4 DLC bits are 19 zeros and
//   the CRC of zeros is zero: 34 zeros, a stuff bit after every fifth (6);
//   40 + CRC delimiter, ACK slot, ACK delimiter and 7 EOF bits = 50.
// - id 0, one byte 0x00: 18 zeros (3 stuff bits), DLC's 1, 8 zeros (1 stuff
//   bit), CRC 0x4426 = 100010000100110 (no run of five): 42 + 4 + 10 = 56.
// - id 0x141, 80 00 00 00 00 00 00 00 (close): 0001010 00000 (stuff) 1000 1000
//   1 then 63 zeros (12 stuff bits), CRC 0x718A = 111000110001010 (none):
//   98 + 13 + 10 = 121.
TEST(CanFrame, BitCountsWorkedByHand) {
    EXPECT_EQ(sim::can_stuff_bits(frame(0x000, {})), 6);
    EXPECT_EQ(sim::can_frame_bits(frame(0x000, {})), 50);
    EXPECT_EQ(sim::can_stuff_bits(frame(0x000, {0x00})), 4);
    EXPECT_EQ(sim::can_frame_bits(frame(0x000, {0x00})), 56);
    const sim::CanFrame close = frame(0x141, {0x80, 0, 0, 0, 0, 0, 0, 0});
    const std::vector<uint8_t> bits = sim::can_unstuffed_bits(close);
    uint16_t crc = 0;
    for (size_t i = bits.size() - 15; i < bits.size(); i++) {
        crc = static_cast<uint16_t>((crc << 1) | bits[i]);
    }
    EXPECT_EQ(crc, 0x718A);
    EXPECT_EQ(sim::can_stuff_bits(close), 13);
    EXPECT_EQ(sim::can_frame_bits(close), 121);
}

// Any standard data frame with s bytes lies between the unstuffed length and
// the worst case of one stuff bit per four bits after the first
// (Davis et al., 2007: floor((34 + 8s - 1) / 4)).
TEST(CanFrame, StandardFramesStayWithinTheStuffingBounds) {
    uint32_t seed = 12345;
    for (int n = 0; n < 2000; n++) {
        seed = seed * 1103515245U + 12345U;
        const int s = static_cast<int>(seed >> 28) % 9;
        sim::CanFrame f;
        f.id = (seed >> 5) & 0x7FFU;
        f.dlc = static_cast<uint8_t>(s);
        for (int i = 0; i < s; i++) {
            seed = seed * 1103515245U + 12345U;
            f.data[i] = static_cast<uint8_t>(seed >> 24);
        }
        const int plain = 34 + 8 * s + 10;
        EXPECT_GE(sim::can_frame_bits(f), plain);
        EXPECT_LE(sim::can_frame_bits(f), plain + (34 + 8 * s - 1) / 4);
    }
}

TEST(CanFrame, ExtendedAndRemoteFramesHaveTheirOwnFields) {
    sim::CanFrame ext = frame(0x1ABCDEF, {}, true);
    EXPECT_EQ(sim::can_unstuffed_bits(ext).size(), 1u + 11 + 1 + 1 + 18 + 1 + 2 + 4 + 15);
    sim::CanFrame remote = frame(0x123, {});
    remote.rtr = true;
    remote.dlc = 8;  // a remote frame carries no data whatever its DLC
    EXPECT_EQ(sim::can_unstuffed_bits(remote).size(), 1u + 11 + 3 + 4 + 15);
}

}  // namespace

// The CAN bit rate that summary.json reports, from a controller's BTR; the
// README's list of outputs against the registry.
#include <gtest/gtest.h>

#include "gimbal_sim_run.hpp"
#include "sim/app/outputs/writer.hpp"
#include "sim/app/run.hpp"

namespace {

struct BitTiming {
    uint32_t btr;
    uint32_t pclk1_hz;
    uint32_t bit_rate_hz;
};

class CanBitRate : public ::testing::TestWithParam<BitTiming> {};

TEST_P(CanBitRate, FollowsPrescalerAndSegments) {
    EXPECT_EQ(sim::can_bit_rate_hz(GetParam().btr, GetParam().pclk1_hz), GetParam().bit_rate_hz);
}

INSTANTIATE_TEST_SUITE_P(Timings, CanBitRate,
                         ::testing::Values(
                             // The firmware's: prescaler 6, 2 + 4 quanta, SJW 1, in normal mode.
                             BitTiming{(3u << 20) | (1u << 16) | 5u, 42000000, 1000000},
                             // Mode and jump-width bits do not count: loopback, silent, SJW 4.
                             BitTiming{0xC0000000u | (3u << 24) | (3u << 20) | (1u << 16) | 5u,
                                       42000000, 1000000},
                             // Prescaler 3, 13 + 2 quanta: 42 MHz / (3 * 16).
                             BitTiming{(1u << 20) | (12u << 16) | 2u, 42000000, 875000},
                             // Widest fields: prescaler 1024, 16 + 8 quanta.
                             BitTiming{(7u << 20) | (15u << 16) | 0x3FFu, 42000000, 1640},
                             // Reset value and a cleared register: bit timing never set.
                             BitTiming{0x01230000u, 42000000, 0}, BitTiming{0, 42000000, 0}));

TEST(OutputRegistry, IsTheReadmesListOfOutputs) {
    const std::string readme = sim_run::read_file(GIMBAL_SOURCE_DIR "/README.md");
    const std::string begin = "<!-- outputs: from sim/app/outputs/registry.cpp -->\n";
    const std::size_t at = readme.find(begin);
    ASSERT_NE(at, std::string::npos);
    const std::string table = sim::output_table_markdown();
    EXPECT_EQ(readme.substr(at + begin.size(), table.size()), table);
}

}  // namespace

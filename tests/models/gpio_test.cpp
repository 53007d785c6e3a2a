// A GPIO port on a bare board: BSRR, the input level of each pin
// configuration, and the port's clock gate.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model_probe.hpp"

namespace {

using model_test::json;

constexpr uint32_t kInput = 0, kOutput = 1, kAnalog = 3;
constexpr uint32_t kNoPull = 0, kPullUp = 1, kPullDown = 2;

void enable_gpiod() {
    RCC->AHB1ENR |= RCC_AHB1ENR_GPIODEN;
}

// ---- BSRR ----

struct BsrrCase {
    const char* name;
    uint32_t odr_before;
    uint32_t bsrr;
    uint32_t odr_after;
};

const std::vector<BsrrCase> kBsrrCases = {
    {"set", 0x0000, 0x00000005, 0x0005},
    {"reset", 0x00FF, 0x00030000, 0x00FC},
    {"set wins over reset of the same pin", 0x0000, 0x00010001, 0x0001},
    {"set wins on a pin already high", 0x0001, 0x00010001, 0x0001},
    {"set and reset of different pins at once", 0x00FF, 0x000FF000, 0xF0F0},
    {"nothing", 0x1234, 0x00000000, 0x1234},
    {"reset every pin", 0xFFFF, 0xFFFF0000, 0x0000},
    {"pin 15 both ways", 0x7FFF, 0x80008000, 0xFFFF},
};

TEST(GpioPort, BsrrSetsAndResetsPinsWithSetWinning) {
    const json r = model_test::on_board([](json& out) {
        enable_gpiod();
        json rows = json::array();
        for (const BsrrCase& c : kBsrrCases) {
            GPIOD->ODR = c.odr_before;
            GPIOD->BSRR = c.bsrr;
            rows.push_back(
                {{"odr", GPIOD->ODR & 0xFFFFU}, {"bsrr_reads", model_test::value(GPIOD->BSRR)}});
        }
        out["rows"] = rows;
    });
    ASSERT_EQ(r["rows"].size(), kBsrrCases.size()) << r.dump();
    for (std::size_t i = 0; i < kBsrrCases.size(); i++) {
        SCOPED_TRACE(kBsrrCases[i].name);
        EXPECT_EQ(r["rows"][i]["odr"], kBsrrCases[i].odr_after);
        EXPECT_EQ(r["rows"][i]["bsrr_reads"], 0u);  // write-only
    }
}

// ---- input level ----

struct LevelCase {
    const char* name;
    uint32_t mode;
    bool open_drain;
    uint32_t pull;
    bool odr;
    int idr;
};

const std::vector<LevelCase> kLevelCases = {
    {"push-pull high", kOutput, false, kNoPull, true, 1},
    {"push-pull low beats a pull-up", kOutput, false, kPullUp, false, 0},
    {"push-pull high beats a pull-down", kOutput, false, kPullDown, true, 1},
    {"open-drain low beats a pull-up", kOutput, true, kPullUp, false, 0},
    {"open-drain released, pull-up", kOutput, true, kPullUp, true, 1},
    {"open-drain released, pull-down", kOutput, true, kPullDown, true, 0},
    {"open-drain released, no pull", kOutput, true, kNoPull, true, 0},
    {"input, pull-up", kInput, false, kPullUp, false, 1},
    {"input, pull-down", kInput, false, kPullDown, false, 0},
    {"input, floating", kInput, false, kNoPull, false, 0},
    {"input ignores ODR", kInput, false, kPullDown, true, 0},
    {"input ignores the output type", kInput, true, kPullUp, false, 1},
    // The Schmitt trigger is off in analog mode: IDR reads 0.
    {"analog with pull-up bits set", kAnalog, false, kPullUp, true, 0},
};

class GpioLevel : public ::testing::TestWithParam<int> {};

TEST_P(GpioLevel, IdrFollowsTheDriverOrThePull) {
    const int first_pin = GetParam();  // rows on pins first_pin, first_pin + 1, ...
    ASSERT_LE(first_pin + kLevelCases.size(), 16u);
    const json r = model_test::on_board([first_pin](json& out) {
        enable_gpiod();
        uint32_t moder = 0, otyper = 0, pupdr = 0, odr = 0;
        for (std::size_t i = 0; i < kLevelCases.size(); i++) {
            const LevelCase& c = kLevelCases[i];
            const uint32_t pin = static_cast<uint32_t>(first_pin) + static_cast<uint32_t>(i);
            moder |= c.mode << (2 * pin);
            otyper |= (c.open_drain ? 1U : 0U) << pin;
            pupdr |= c.pull << (2 * pin);
            odr |= (c.odr ? 1U : 0U) << pin;
        }
        GPIOD->MODER = moder;
        GPIOD->OTYPER = otyper;
        GPIOD->PUPDR = pupdr;
        GPIOD->ODR = odr;
        out["idr"] = model_test::value(GPIOD->IDR);
        GPIOD->IDR = 0xFFFF;  // read-only
        out["idr_after_write"] = model_test::value(GPIOD->IDR);
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    const uint32_t idr = r["idr"].get<uint32_t>();
    for (std::size_t i = 0; i < kLevelCases.size(); i++) {
        SCOPED_TRACE(kLevelCases[i].name);
        const uint32_t pin = static_cast<uint32_t>(first_pin) + static_cast<uint32_t>(i);
        EXPECT_EQ(static_cast<int>((idr >> pin) & 1U), kLevelCases[i].idr) << "pin " << pin;
    }
    EXPECT_EQ(r["idr_after_write"], r["idr"]);
}

INSTANTIATE_TEST_SUITE_P(Layouts, GpioLevel, ::testing::Values(0, 3),
                         [](const auto& info) { return "FromPin" + std::to_string(info.param); });

// ---- clock gate ----

TEST(GpioPort, GatedOffItReadsZeroIgnoresWritesAndKeepsItsState) {
    const json r = model_test::on_board([](json& out) {
        GPIOD->MODER = 0x5555;  // before the clock is on: lost
        out["moder_unclocked"] = model_test::value(GPIOD->MODER);
        enable_gpiod();
        out["moder_after_enable"] = model_test::value(GPIOD->MODER);
        GPIOD->MODER = 0x0005;  // pins 0 and 1 outputs
        GPIOD->ODR = 0x0001;
        RCC->AHB1ENR &= ~RCC_AHB1ENR_GPIODEN;
        out["odr_gated"] = model_test::value(GPIOD->ODR);
        out["idr_gated"] = model_test::value(GPIOD->IDR);
        GPIOD->BSRR = 0x00010002;  // lost
        GPIOD->ODR = 0xFFFF;       // lost
        enable_gpiod();
        out["odr_back"] = model_test::value(GPIOD->ODR);
        out["idr_back"] = GPIOD->IDR & 0x3U;
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    EXPECT_EQ(r["moder_unclocked"], 0u);
    EXPECT_EQ(r["moder_after_enable"], 0u);
    EXPECT_EQ(r["odr_gated"], 0u);
    EXPECT_EQ(r["idr_gated"], 0u);
    EXPECT_EQ(r["odr_back"], 0x0001u);
    EXPECT_EQ(r["idr_back"], 0x1u);
}

}  // namespace

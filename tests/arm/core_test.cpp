// Code of the test's own on the emulated core: the NVIC and system-handler
// priority accesses reach the core's state on the board, as CMSIS's inline
// NVIC functions make them on the chip; an FPU instruction before CPACR
// grants the FPU halts it, as the chip's UsageFault would.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/arm/machine.hpp"
#include "sim/testing/board_run.hpp"
#include "stm32f4xx_hal.h"

namespace {

using sim::testing::json;

constexpr uint32_t kCode = 0x08000008;

// arm-none-eabi-as, Cortex-M4: ISER0 = 1 << 25 (TIM1_UP_TIM10); IP[25] = 0x50;
// SHPR3's top byte (SysTick) = 0xf0; ICER0 = 1 (WWDG, not enabled); return
// ISER0 read back.
const std::vector<uint8_t> kWrites = {
    0x07, 0x48, 0x4f, 0xf0, 0x00, 0x71, 0x01, 0x60, 0x06, 0x4a, 0x50, 0x21, 0x11, 0x70, 0x06, 0x4a,
    0xf0, 0x21, 0x11, 0x70, 0x05, 0x4a, 0x01, 0x21, 0x11, 0x60, 0x00, 0x68, 0x70, 0x47, 0x00, 0x00,
    0x00, 0xe1, 0x00, 0xe0, 0x19, 0xe4, 0x00, 0xe0, 0x23, 0xed, 0x00, 0xe0, 0x80, 0xe1, 0x00, 0xe0};
// ldrh r1, [ISER0]; bx lr: a halfword where the NVIC takes words.
const std::vector<uint8_t> kHalfword = {0x01, 0x48, 0x01, 0x88, 0x70, 0x47,
                                        0x00, 0x00, 0x00, 0xe1, 0x00, 0xe0};

// vmov s0, r0; bx lr, on a board whose CPACR is still at reset.
const std::vector<uint8_t> kFpu = {0x00, 0xee, 0x10, 0x0a, 0x70, 0x47};

json run_code(const std::vector<uint8_t>& code) {
    static std::unique_ptr<sim::arm::ElfImage> image;
    static std::unique_ptr<sim::arm::Machine> machine;
    return sim::testing::run_board({
        .attach =
            [&code](sim::Board& board) {
                std::vector<uint8_t> flash = {0x00, 0x10, 0x00, 0x20, 0x09, 0x00, 0x00, 0x08};
                flash.insert(flash.end(), code.begin(), code.end());
                image = std::make_unique<sim::arm::ElfImage>();
                image->segments.push_back({0x08000000, flash});
                machine = std::make_unique<sim::arm::Machine>(*image, board);
            },
        .probe =
            [](json& out) {
                out["r0"] = machine->call(kCode, {}, 0x20001000, true);
                const sim::Cpu& cpu = sim::Board::get().cpu();
                out["enabled"] = cpu.irq_enabled(TIM1_UP_TIM10_IRQn);
                out["priorities"] =
                    json::array({cpu.priority(TIM1_UP_TIM10_IRQn), cpu.priority(SysTick_IRQn)});
            },
    });
}

TEST(ImageNvic, WritesReachTheCoreAndReadBack) {
    const json o = run_code(kWrites);
    ASSERT_TRUE(o.value("finished", false)) << o.dump();
    EXPECT_EQ(o["r0"], 1U << 25);
    EXPECT_EQ(o["enabled"], true);
    EXPECT_EQ(o["priorities"], json({5, 15}));
}

TEST(ImageNvic, AHalfwordAccessHaltsNamingIt) {
    const json o = run_code(kHalfword);
    EXPECT_EQ(o["halted"]["where"], "2-byte access at 0xe000e100: the NVIC takes words here");
}

TEST(ImageFpu, AnInstructionBeforeCpacrGrantsTheFpuHalts) {
    const json o = run_code(kFpu);
    EXPECT_EQ(o["halted"]["where"],
              "board rule: UsageFault (NOCP): floating-point instruction at 0x8000008 in ? "
              "with CPACR's CP10 and CP11 not granted");
}

}  // namespace

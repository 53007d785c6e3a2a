// The cycle table against encodings from arm-none-eabi-as (Cortex-M4, FPv4)
// and the timings of the Cortex-M4 TRM's Tables 3-1 and 7-1.
#include <gtest/gtest.h>

#include "sim/arm/cycles.hpp"

namespace {

using sim::arm::instruction_cost;
constexpr uint32_t P = sim::arm::kRefillCycles;

struct Row {
    const char* text;
    uint16_t first, second;
    uint32_t bytes, cycles;
    bool conditional, load_store;
};

const Row kRows[] = {
    {"adds r0, r1, r2", 0x1888, 0, 2, 1, false, false},
    {"ldr r0, [r1, #4]", 0x6848, 0, 2, 2, false, true},
    {"ldr r0, [pc, #112]", 0x481C, 0, 2, 2, false, true},
    {"push {r4, r5, lr}", 0xB530, 0, 2, 4, false, false},
    {"pop {r4, pc}", 0xBD10, 0, 2, 3 + P, false, false},
    {"pop {r4, r5}", 0xBC30, 0, 2, 3, false, false},
    {"bx lr", 0x4770, 0, 2, 1 + P, false, false},
    {"mov pc, lr", 0x46F7, 0, 2, 1 + P, false, false},
    {"beq.n", 0xD0FE, 0, 2, 1, true, false},
    {"cbz r0", 0xB108, 0, 2, 1, true, false},
    {"b.n", 0xE7FE, 0, 2, 1 + P, false, false},
    {"ldr.w r0, [r1, #400]", 0xF8D1, 0x0190, 4, 2, false, true},
    {"bl", 0xF000, 0xF800, 4, 1 + P, false, false},
    {"b.w", 0xF7FF, 0xBFFE, 4, 1 + P, false, false},
    {"bne.w", 0xF47F, 0xAFFC, 4, 1, true, false},
    {"stmdb sp!, {r4-r11, lr}", 0xE92D, 0x4FF0, 4, 10, false, false},
    {"ldmia.w sp!, {r4-r11, pc}", 0xE8BD, 0x8FF0, 4, 10 + P, false, false},
    {"ldrd r0, r1, [r2]", 0xE9D2, 0x0100, 4, 3, false, false},
    {"tbb [pc, r0]", 0xE8DF, 0xF000, 4, 2 + P, false, false},
    {"udiv r0, r1, r2", 0xFBB1, 0xF0F2, 4, sim::arm::kDivideCycles, false, false},
    {"mul.w r0, r1, r2", 0xFB01, 0xF002, 4, 1, false, false},
    {"umull r0, r1, r2, r3", 0xFBA2, 0x0103, 4, 1, false, false},
    {"vadd.f32", 0xEE30, 0x0A81, 4, 1, false, false},
    {"vmul.f32", 0xEE20, 0x0A81, 4, 1, false, false},
    {"vmla.f32", 0xEE00, 0x0A81, 4, 3, false, false},
    {"vfma.f32", 0xEEA0, 0x0A81, 4, 3, false, false},
    {"vdiv.f32", 0xEE80, 0x0A81, 4, 14, false, false},
    {"vsqrt.f32", 0xEEB1, 0x0AE0, 4, 14, false, false},
    {"vcvt.s32.f32", 0xEEBD, 0x0AC0, 4, 1, false, false},
    {"vldr s0, [r0, #8]", 0xED90, 0x0A02, 4, 2, false, false},
    {"vstr s0, [r0]", 0xED80, 0x0A00, 4, 2, false, false},
    {"vpush {s16-s17}", 0xED2D, 0x8A02, 4, 3, false, false},
    {"vpop {d8}", 0xECBD, 0x8B02, 4, 3, false, false},
    {"vmov r0, s0", 0xEE10, 0x0A10, 4, 1, false, false},
    {"vmrs APSR_nzcv, fpscr", 0xEEF1, 0xFA10, 4, 1, false, false},
};

TEST(Cycles, EachInstructionClassCostsItsTableFigure) {
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.text);
        const sim::arm::InstructionCost c = instruction_cost(r.first, r.second);
        EXPECT_EQ(c.bytes, r.bytes);
        EXPECT_EQ(c.cycles, r.cycles);
        EXPECT_EQ(c.conditional_branch, r.conditional);
        EXPECT_EQ(c.load_store, r.load_store);
    }
}

}  // namespace

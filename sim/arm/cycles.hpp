// The core cycles of the image's Thumb-2 code, instruction by instruction,
// from the Cortex-M4 Technical Reference Manual (ARM DDI 0439B): Table 3-1,
// "Cortex-M4 instruction set summary", and Table 7-1, "FPU instruction set".
// Decoded once per translated block; a conditional branch's refill is added
// only when the next block shows it was taken.
#pragma once

#include <cstdint>

namespace sim::arm {

/// P, the pipeline refill of a taken branch: "1 to 3 cycles, depending on
/// the alignment and width of the target instruction, and whether the
/// processor manages to speculate the address early" (DDI 0439B 3.3.1);
/// 2, a chosen value.
constexpr uint32_t kRefillCycles = 2;
/// SDIV and UDIV take 2 to 12 cycles as their operands end them early
/// (Table 3-1); 7, a chosen value.
constexpr uint32_t kDivideCycles = 7;

struct InstructionCost {
    uint32_t bytes;                   // 2 or 4
    uint32_t cycles;                  // with the refill of a branch that is always taken
    bool conditional_branch = false;  // a refill more when taken
    bool load_store = false;          // a single load or store
    bool fpu = false;                 // coprocessor 10 or 11's: the FPU's (A6.1)
    bool wfi = false;                 // WFI, which ends a block
};

/// The instruction whose first halfword is `first` (and `second`, for a
/// 32-bit one). A single load or store right after another costs one cycle
/// less: their address and data phases pipeline (3.3.1); the caller knows
/// the neighbour.
InstructionCost instruction_cost(uint16_t first, uint16_t second);

}  // namespace sim::arm

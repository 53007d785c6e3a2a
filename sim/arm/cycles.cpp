#include "sim/arm/cycles.hpp"

#include <bit>

namespace sim::arm {

namespace {

// Encodings: ARMv7-M Architecture Reference Manual (ARM DDI 0403E), A5.2
// (16-bit) and A5.3 (32-bit); the FPU's, A6.4 and A6.5.
constexpr uint32_t kPlain = 1, kLoadStore = 2;

InstructionCost narrow(uint16_t h) {
    const auto list = [h](uint32_t extra) {
        return static_cast<uint32_t>(std::popcount(static_cast<unsigned>(h & 0xFFU))) + extra;
    };
    if ((h & 0xFF00) == 0x4700 || (h & 0xFD87) == 0x4487) {  // BX, BLX; ADD or MOV to pc
        return {2, kPlain + kRefillCycles};
    }
    if ((h >> 11) == 0x09 || (h >> 12) == 0x5 || (h >> 13) == 0x3 || (h >> 13) == 0x4) {
        return {2, kLoadStore, false, true};  // LDR literal; loads and stores single
    }
    if ((h & 0xFE00) == 0xB400) {  // PUSH: 1 + N
        return {2, 1 + list((h >> 8) & 1U)};
    }
    if ((h & 0xFE00) == 0xBC00) {  // POP: 1 + N, + P with pc
        const uint32_t pc = (h >> 8) & 1U;
        return {2, 1 + list(pc) + pc * kRefillCycles};
    }
    if ((h & 0xF500) == 0xB100) {  // CBZ, CBNZ
        return {2, kPlain, true};
    }
    if ((h >> 12) == 0xC) {  // STM, LDM: 1 + N
        return {2, 1 + list(0)};
    }
    if ((h >> 12) == 0xD && ((h >> 8) & 0xF) < 0xE) {  // B<c>
        return {2, kPlain, true};
    }
    if ((h >> 11) == 0x1C) {  // B
        return {2, kPlain + kRefillCycles};
    }
    return {2, kPlain, false, false, false, h == 0xBF30};  // WFI among the hints
}

InstructionCost fpu(uint16_t h1, uint16_t h2) {
    if ((h1 & 0xFE00) == 0xEC00) {  // extension register loads and stores, 64-bit moves
        if ((h1 & 0xFFE0) == 0xEC40) {
            return {4, 2};  // VMOV to or from two core registers
        }
        if ((h1 & 0xFF20) == 0xED00) {
            return {4, 2};  // VLDR, VSTR
        }
        return {4, 1 + (h2 & 0xFFU)};  // VLDM, VSTM, VPUSH, VPOP: 1 + N words
    }
    if ((h1 & 0xFF00) != 0xEE00 || (h2 & 0x0010) != 0) {
        return {4, kPlain};  // VMOV, VMRS, VMSR
    }
    switch (h1 & 0x00B0) {  // opc1
        case 0x00:          // VMLA, VMLS
        case 0x10:          // VNMLA, VNMLS
        case 0x90:          // VFNMA, VFNMS
        case 0xA0:          // VFMA, VFMS
            return {4, 3};
        case 0x80:  // VDIV
            return {4, 14};
        case 0xB0:  // VSQRT among the other data-processing ones
            return {4, (h1 & 0xF) == 0x1 && (h2 & 0x00C0) == 0x00C0 ? 14U : kPlain};
        default:  // VMUL, VNMUL, VADD, VSUB
            return {4, kPlain};
    }
}

InstructionCost wide(uint16_t h1, uint16_t h2) {
    if ((h1 & 0xFE40) == 0xE800) {  // LDM, STM, PUSH.W, POP.W: 1 + N, + P with pc loaded
        const uint32_t pc = (h1 & 0x0010) != 0 && (h2 & 0x8000) != 0 ? 1 : 0;
        return {4, 1 + static_cast<uint32_t>(std::popcount(static_cast<unsigned>(h2))) +
                       pc * kRefillCycles};
    }
    if ((h1 & 0xFE40) == 0xE840) {
        if ((h1 & 0xFFF0) == 0xE8D0 && (h2 & 0xFFE0) == 0xF000) {
            return {4, 2 + kRefillCycles};  // TBB, TBH
        }
        if ((h1 & 0xFFE0) == 0xE840) {
            return {4, kLoadStore};  // LDREX, STREX
        }
        return {4, 3};  // LDRD, STRD: 1 + N, N = 2
    }
    if ((h1 & 0xEC00) == 0xEC00) {
        if (((h2 >> 9) & 0x7) != 0x5) {
            return {4, kPlain};
        }
        InstructionCost c = fpu(h1, h2);
        c.fpu = true;
        return c;
    }
    if ((h1 & 0xF800) == 0xF000 && (h2 & 0x8000) != 0) {  // branches and miscellaneous control
        switch (h2 & 0x5000) {
            case 0x5000:  // BL
            case 0x1000:  // B.W
                return {4, kPlain + kRefillCycles};
            case 0x0000:  // B<c>.W, or MSR, MRS, hints (WFI.W) and barriers
                return {4,     kPlain, ((h1 >> 6) & 0xF) < 0xE,
                        false, false,  h1 == 0xF3AF && h2 == 0x8003};
            default:
                return {4, kPlain + kRefillCycles};
        }
    }
    if ((h1 & 0xFE00) == 0xF800) {
        return {4, kLoadStore, false, true};  // loads and stores single
    }
    if (((h1 & 0xFFF0) == 0xFB90 || (h1 & 0xFFF0) == 0xFBB0) && (h2 & 0x00F0) == 0x00F0) {
        return {4, kDivideCycles};  // SDIV, UDIV
    }
    return {4, kPlain};  // data processing, multiplies (MLA, UMULL... 1 on the M4)
}

}  // namespace

InstructionCost instruction_cost(uint16_t first, uint16_t second) {
    return (first >> 11) >= 0x1D ? wide(first, second) : narrow(first);
}

}  // namespace sim::arm

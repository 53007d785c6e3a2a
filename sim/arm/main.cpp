// gimbal-arm: boots the firmware's ARM image (the stm32f407-vb preset's
// gimbal_vb.elf) on the emulated Cortex-M4 up to osKernelStart, the console
// on standard output, a report on standard error.
//   gimbal-arm IMAGE.elf [MAX_INSTRUCTIONS]
// Exit status: 0 at osKernelStart, 2 bad arguments or image, 3 halted.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "sim/arm/bridges.hpp"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: gimbal-arm IMAGE.elf [MAX_INSTRUCTIONS]\n";
        return 2;
    }
    uint64_t limit = 100'000'000;  // a boot takes well under a million
    if (argc == 3) {
        char* end = nullptr;
        limit = std::strtoull(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0' || limit == 0) {
            std::cerr << "gimbal-arm: MAX_INSTRUCTIONS must be a positive integer, not '" << argv[2]
                      << "'\n";
            return 2;
        }
    }
    try {
        const sim::arm::ElfImage image = sim::arm::load_elf(argv[1]);
        sim::arm::Machine machine(image);
        sim::arm::BootBoard board;
        board.console = [](uint8_t byte) { std::putchar(byte); };
        sim::arm::serve_boot(machine, board);
        const auto start = std::chrono::steady_clock::now();
        const sim::arm::Stop stop = machine.run(limit);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fflush(stdout);
        std::fprintf(
            stderr,
            "gimbal-arm: %s %s after %llu instructions (%.0f cycles at %.2f per instruction, a "
            "chosen value), %u threads created, %.3f s wall, %.1f MIPS\n",
            stop.halted ? "halted:" : "stopped at", stop.where.c_str(),
            static_cast<unsigned long long>(machine.instructions()), machine.cycles(),
            sim::arm::kCyclesPerInstruction, static_cast<unsigned>(board.threads.size()), wall,
            wall > 0 ? static_cast<double>(machine.instructions()) / wall / 1e6 : 0.0);
        return stop.halted ? 3 : 0;
    } catch (const sim::arm::ImageError& e) {
        std::cerr << "gimbal-arm: " << e.what() << "\n";
        return 2;
    }
}

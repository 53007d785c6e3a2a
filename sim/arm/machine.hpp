// The firmware's ARM image on an emulated Cortex-M4 (Unicorn): flash, SRAM
// and CCM RAM as guest memory at the chip's addresses, the image's stubs'
// supervisor calls handed to the bridges (bridges.hpp), and the instructions
// executed counted per translated block.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/arm/elf_image.hpp"

struct uc_struct;

namespace sim::arm {

/// Core cycles per instruction: 1, a chosen value, the lower bound of the
/// Cortex-M4 Technical Reference Manual's instruction timings (ARM DDI 0439,
/// "Cortex-M4 instruction set summary": most data-processing instructions
/// 1 cycle, loads and stores 2, taken branches 1 plus a 1-3 cycle pipeline
/// refill). The chip is slower by that mix and by the flash's wait states
/// (5 at 168 MHz, RM0090 Table 10) whenever its ART accelerator misses.
constexpr double kCyclesPerInstruction = 1.0;

/// A guest function call a bridge asks for before it returns: `function`
/// with up to four word arguments.
struct GuestCall {
    uint32_t function;
    std::vector<uint32_t> args;
};

/// What a served call does: callbacks into the firmware first (in order),
/// then its result in r0, given the last callback's r0 (0 without one).
struct Service {
    std::vector<GuestCall> calls;
    std::function<uint32_t(uint32_t)> result = [](uint32_t) { return 0U; };
};

struct Stop {
    std::string where;  // "osKernelStart", or what halted the core
    bool halted = false;
};

class Machine {
  public:
    /// Maps the memories, copies the image's segments into them and points
    /// SP and PC at the vector table's first two words, as the core's reset
    /// does. ImageError for a segment outside flash, SRAM and CCM.
    explicit Machine(const ElfImage& image);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    using Handler = std::function<Service(Machine&)>;
    /// Serves the bridge of that number (platform/vb/bridges.def).
    void serve(uint32_t number, std::string name, Handler handler);

    /// Runs until a bridge stops the core, a fault or an unserved bridge
    /// halts it, or `instruction_limit` instructions have run.
    Stop run(uint64_t instruction_limit);
    /// Ends the run after the current bridge (from a handler); `halted` for
    /// a stop the firmware did not ask for.
    void stop(std::string where, bool halted = false);

    uint32_t arg(unsigned index) const;  // AAPCS: r0-r3, then the caller's stack
    uint32_t read32(uint32_t address) const;
    uint16_t read16(uint32_t address) const;
    uint8_t read8(uint32_t address) const;
    void write32(uint32_t address, uint32_t value);
    const ElfImage& image() const { return image_; }
    uint64_t instructions() const { return instructions_; }
    double cycles() const { return static_cast<double>(instructions_) * kCyclesPerInstruction; }

  private:
    struct Region {
        uint32_t base;
        std::vector<uint8_t> bytes;
    };
    struct Frame {  // a served call waiting for its callbacks
        Service service;
        size_t next = 0;
        uint32_t return_pc = 0;
        uint32_t return_lr = 0;
    };

    uint8_t* host(uint32_t address, uint32_t size) const;
    void on_svc();
    void advance(size_t frame, uint32_t last_r0);
    void on_block(uint64_t address, uint32_t size);
    void halt(std::string where);
    uint32_t reg(int id) const;
    void set_reg(int id, uint32_t value);

    const ElfImage& image_;
    uc_struct* uc_ = nullptr;
    std::vector<std::unique_ptr<Region>> regions_;
    std::unordered_map<uint32_t, std::pair<std::string, Handler>> handlers_;
    std::vector<Frame> frames_;
    std::unordered_map<uint64_t, uint32_t> block_counts_;
    uint64_t instructions_ = 0;
    uint64_t limit_ = 0;
    uint32_t reset_pc_ = 0;
    std::optional<Stop> stop_;

    friend struct MachineHooks;
};

}  // namespace sim::arm

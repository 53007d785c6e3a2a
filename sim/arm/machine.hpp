// The firmware's ARM image on an emulated Cortex-M4 (Unicorn), on this
// process's virtual board: flash, CCM RAM and the board's SRAM as guest
// memory at the chip's addresses (the same addresses in this process, so a
// guest pointer is a host pointer), the peripheral buses and the core blocks
// through the board's register bus, the stubs' supervisor calls handed to
// the bridges (bridges.hpp), and the instructions executed counted per
// translated block and their cycles (cycles.hpp) turned into the board's time.
//
// Every firmware context (the start-up code, each thread, each handler and
// each callback into the firmware) is a guest call with its registers of its
// own, run on the host fiber of the board's context that makes it. Host code
// (a bridge's service, the kernel stand-in, a fiber switch, an interrupt's
// entry) runs only between two runs of the emulator, never inside one of its
// hooks: a context saves its registers when the emulator stops and restores
// them before it starts again, so the others may run in between.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sim/arm/elf_image.hpp"

struct uc_struct;
struct uc_context;

namespace sim {
class Board;
class Fiber;
}  // namespace sim

namespace sim::arm {

class Machine {
  public:
    /// A bridged call as the image's stub made it: r0-r3 and the stack
    /// pointer at the trap (AAPCS: further arguments on that stack).
    struct Call {
        const Machine* machine;
        uint32_t r[4];
        uint32_t sp;
        uint32_t arg(unsigned index) const;
    };
    using Handler = std::function<uint32_t(Machine&, const Call&)>;
    /// Sees every bridged call a thread makes, before it is served, and
    /// every exception frame about to go onto a thread's stack (as a call
    /// with that frame's address for its stack pointer).
    using ThreadCheck = std::function<void(Machine&, const Call&)>;

    /// Maps the memories on this process's board (Board::create first) and
    /// copies the image's segments into flash. ImageError for a segment
    /// outside flash, SRAM and CCM RAM.
    Machine(const ElfImage& image, Board& board);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;
    /// The machine of this process (the interrupt entries reach it here).
    static Machine& get();

    /// Serves the bridge of that number (platform/vb/bridges.def); its
    /// result goes to r0.
    void serve(uint32_t number, std::string name, Handler handler);
    /// Variables both sides keep (the HAL's on the host, the image's own):
    /// one value, copied across at every crossing between host and guest.
    void share(uint32_t* host, uint32_t guest);
    void check_threads(ThreadCheck check) { thread_check_ = std::move(check); }
    /// Runs each time a thread's context is about to run again.
    void on_thread_run(std::function<void(Machine&)> run) { thread_run_ = std::move(run); }
    /// The argument and result registers at a watched function's entry or
    /// return (AAPCS with the FPU's: integers in r0-r3, floats in s0-s3).
    struct Regs {
        uint32_t r[4];
        float s[4];
    };
    /// What to do when a watched call returns; runs between two runs of the
    /// emulator, with the board's time at the return.
    using Exit = std::function<void(Machine&, const Regs&)>;
    /// Runs as the image's code reaches a watched function's first
    /// instruction, inside the emulator: it may read and write guest memory
    /// and host state but not touch the board. The Exit it returns, if any,
    /// runs when that call returns.
    using Watch = std::function<Exit(Machine&, const Regs&)>;
    /// Watches `function`, which the image's code then runs unchanged (a
    /// called function's first instruction starts a translated block: the
    /// watch is the block's, no per-instruction hook). Before reset().
    void watch(uint32_t function, Watch watch);
    /// Stops counting at `limit` instructions: the board halts.
    void set_instruction_limit(uint64_t limit) { limit_ = limit; }

    /// From reset: the vector table's stack pointer and reset entry, on the
    /// board's start-up context. The interrupt vectors the image defines
    /// become the core's (the kernel's SysTick, PendSV and SVCall excepted).
    void reset();
    /// Runs `function(args)` on its own registers from stack pointer `sp`
    /// to its return, serving the bridges it calls; returns its r0.
    /// `main_stack`: the stack is the main one (start-up code, handlers).
    /// `exc_return`: the function is an exception handler, entered with
    /// that EXC_RETURN in lr, by which it returns.
    uint32_t call(uint32_t function, std::initializer_list<uint32_t> args, uint32_t sp,
                  bool main_stack, uint32_t exc_return = 0);
    /// A callback into the image from a bridge's service: a call on the
    /// stack of the context that made the bridged call.
    uint32_t callback(uint32_t function, std::initializer_list<uint32_t> args);
    /// Exception entry into the image's handler of exception `number`: the
    /// interrupted context's frame (8 words, 26 with its FPU context) goes
    /// onto its stack, the handler runs on the main stack.
    void exception(int number);
    /// Halts the board naming `why`; the context never runs again.
    [[noreturn]] void halt(const std::string& why);

    /// Guest memory: true if [address, address + size) is flash, CCM or SRAM.
    bool memory(uint32_t address, uint32_t size) const;
    /// True for an address a pointer may hold: memory or a register block.
    bool pointer(uint32_t address) const;
    /// The host pointer for guest memory; halts naming `what` if it is not
    /// memory. Null for a null guest pointer.
    void* host(uint32_t address, uint32_t size, const char* what);
    uint32_t read32(uint32_t address) const;
    void write32(uint32_t address, uint32_t value);
    std::string string(uint32_t address, std::size_t max) const;

    const ElfImage& image() const { return image_; }
    uint64_t instructions() const { return instructions_; }
    /// The core cycles of the instructions run (sim/arm/cycles.hpp); the HAL
    /// and kernel calls served add their costs on the board's clock besides.
    uint64_t cycles() const { return cycles_; }
    struct ThreadCount {
        uint64_t instructions = 0, cycles = 0;
    };
    /// What the thread on `fiber` ran (on its own stack, the handlers that
    /// interrupted it left out).
    ThreadCount counted_on(const Fiber* fiber) const;
    /// Exceptions entered into the image's handlers, and how many of their
    /// frames were the FPU's extended one.
    uint64_t exceptions() const { return exceptions_; }
    uint64_t fpu_frames() const { return fpu_frames_; }
    uint32_t main_stack_top() const { return main_stack_top_; }

  private:
    enum class Reason { None, Attention, Wfi, Svc, ExceptionReturn, Fault };
    struct Pending {
        uint32_t return_address;
        Exit exit;
    };
    struct Context {
        uc_context* regs = nullptr;
        bool main_stack = false;
        uint32_t exc_return = 0;       // a handler's: the EXC_RETURN it returns with
        std::vector<Pending> pending;  // watched calls not yet returned, innermost last
    };

    void run(Context& context);
    void serve_call(Context& context);
    void watched_return(Context& context);
    void request(Reason reason, std::string fault = {});
    void sync_time();
    void to_host();
    void to_guest();
    uint32_t reg(const Context& c, int id) const;
    void set_reg(int id, uint32_t value);
    Context* innermost();
    uc_context* acquire();
    void release(uc_context* regs);
    uint32_t* core_register(uint32_t address) const;

    const ElfImage& image_;
    Board& board_;
    uc_struct* uc_ = nullptr;
    std::vector<uint8_t> return_page_;
    std::unordered_map<uint32_t, std::pair<std::string, Handler>> handlers_;
    std::unordered_map<uint32_t, Watch> watches_;
    Context* running_ = nullptr;  // the context the emulator runs
    std::vector<std::pair<uint32_t*, uint32_t>> shared_;
    std::unordered_map<Fiber*, std::vector<Context*>> active_;  // innermost last
    std::vector<uc_context*> free_;
    std::vector<uc_context*> contexts_;  // every one allocated, freed with the machine
    struct Block {
        uint32_t instructions, cycles;
        bool conditional_branch;  // it ends in one: a refill more if taken
        const Watch* watch;       // the watched function this block starts, if any
        uint32_t fpu_at;          // its first floating-point instruction, 0 if none
        uint32_t wfi_at;          // its WFI, 0 if none (a WFI ends a block)
    };
    std::unordered_map<uint64_t, Block> blocks_;
    std::unordered_map<const Fiber*, ThreadCount> thread_counts_;
    ThreadCheck thread_check_;
    std::function<void(Machine&)> thread_run_;
    uint64_t instructions_ = 0;
    uint64_t cycles_ = 0;
    uint64_t synced_ = 0;              // cycles already turned into time
    uint32_t branch_fallthrough_ = 0;  // after a block ending in a conditional branch
    bool attention_ = false;           // the board wants the core at the next block
    uint32_t wfi_at_ = 0;              // the WFI the core waits in
    uint64_t limit_ = UINT64_MAX;
    uint64_t exceptions_ = 0, fpu_frames_ = 0;
    uint32_t reset_pc_ = 0;
    uint32_t main_stack_top_ = 0;
    Reason reason_ = Reason::None;
    std::string fault_;

    friend struct MachineHooks;
};

}  // namespace sim::arm

#include "sim/arm/machine.hpp"

#include <unicorn/unicorn.h>

#include <array>
#include <cstring>
#include <sstream>
#include <utility>

#include "sim/arm/cycles.hpp"
#include "sim/board/board.hpp"
#include "sim/core/fiber.hpp"
#include "sim/platform.hpp"

namespace sim::arm {

namespace {

// RM0090, "Memory map": flash and CCM data RAM, mapped in this process at
// their chip addresses as the board maps its SRAM and peripheral buses.
constexpr uint32_t kFlash = 0x08000000, kFlashBytes = 1024 * 1024;
constexpr uint32_t kCcm = 0x10000000, kCcmBytes = 64 * 1024;
constexpr uint32_t kSram = Bus::kSramBase, kSramBytes = Bus::kSramSize;
constexpr uint32_t kPeripherals = Bus::kPeripheralBase, kPeripheralBytes = Bus::kPeripheralSize;
// The private peripheral bus: SCB, SysTick, NVIC, DWT, debug (ARMv7-M ARM, B3.1).
constexpr uint32_t kPpb = 0xE0000000, kPpbBytes = 0x100000;
// Where a call into the image returns: `movw ip, #0; svc #0` on the page of
// the chip's system memory (the boot loader's ROM, which the board does not
// run). The emulator stops on reaching it; the code is never run.
constexpr uint32_t kReturnPage = 0x1FFF0000, kReturnPageBytes = 0x1000;
constexpr uint8_t kReturnCode[] = {0x40, 0xF2, 0x00, 0x0C, 0x00, 0xDF};
// Where a watched function returns instead of to its caller, on the same
// page: `movw ip, #0xffff; svc #0`, a bridged call of a number no bridge has
// (ip is a scratch register at a return, AAPCS 5.1.1). Run, but not counted.
constexpr uint32_t kWatchReturn = kReturnPage + 8;
constexpr uint8_t kWatchReturnCode[] = {0x4F, 0xF6, 0xFF, 0x7C, 0x00, 0xDF};
constexpr uint32_t kWatchReturnNumber = 0xFFFF;
constexpr uint32_t kExcpSwi = 2;  // Unicorn's (QEMU's) number for a supervisor call
// Exception numbers the kernel stand-in serves itself (ARMv7-M ARM, B1.5.2).
constexpr int kSvCall = 11, kPendSv = 14, kSysTick = 15;
constexpr uint32_t kControlFpca = 1U << 2;  // CONTROL.FPCA: an FPU context is active
constexpr uint32_t kXpsrThumb = 1U << 24;
constexpr uint32_t kXpsrRealigned = 1U << 9;  // in a frame: one padding word above it
constexpr uint32_t kBasicFrameWords = 8, kFpuFrameWords = 26;
const int kFrameRegisters[kBasicFrameWords] = {UC_ARM_REG_R0, UC_ARM_REG_R1,  UC_ARM_REG_R2,
                                               UC_ARM_REG_R3, UC_ARM_REG_R12, UC_ARM_REG_LR,
                                               UC_ARM_REG_PC, UC_ARM_REG_XPSR};
// EXC_RETURN values (ARMv7-M ARM, Table B1-8), and the address range a
// branch to one of them reaches: no memory there, so the fetch stops the
// emulator.
constexpr uint32_t kExcReturnHandler = 0xFFFFFFF1, kExcReturnThreadMain = 0xFFFFFFF9,
                   kExcReturnThreadProcess = 0xFFFFFFFD, kExcReturnBasicFrame = 1U << 4;
constexpr uint32_t kExcReturnFloor = 0xFFFFFFE0;

// The NVIC (ARMv7-M ARM, B3.4.3): ISER, ICER, ISPR, ICPR and IABR, 0x80 apart,
// the priority bytes from 0x300, STIR at 0xE00; the SCB's system handler
// priority registers (B3.2.10-B3.2.12). The STM32F407 has 82 interrupts
// (RM0090 Table 61).
constexpr uint32_t kNvic = 0xE000E100, kNvicBytes = 0x280, kNvicIpr = kNvic + 0x300;
constexpr uint32_t kNvicIprBytes = 240, kStir = kNvic + 0xE00;
constexpr uint32_t kShpr = 0xE000ED18, kShprBytes = 12;
constexpr uint32_t kIrqs = Cpu::kVectors + Cpu::kFirstException;

// The core blocks the board models, at their architectural addresses (ARMv7-M
// ARM, B3.2.2 SCB, B3.3.2 SysTick, C1.6 debug registers, C1.8 DWT).
struct CoreWindow {
    uint32_t base;
    uint32_t bytes;
    void* (*storage)(Board&);
};
const CoreWindow kCoreWindows[] = {
    {0xE000ED00, Scb::kBytes, [](Board& b) { return b.scb().storage(); }},
    {0xE000E010, SysTick::kBytes, [](Board& b) { return b.systick().storage(); }},
    {0xE000EDF0, CoreDebugBlock::kBytes, [](Board& b) { return b.core_debug().storage(); }},
    {0xE0001000, Dwt::kBytes, [](Board& b) { return b.dwt().storage(); }},
};

std::string hex(uint32_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

Machine* g_machine = nullptr;

// The core's vector for exception N enters the image's handler.
template <int N>
void vector_entry() {
    Machine::get().exception(N);
}
template <std::size_t... N>
constexpr std::array<Cpu::Handler, sizeof...(N)> entries(std::index_sequence<N...>) {
    return {&vector_entry<static_cast<int>(N)>...};
}
constexpr auto kVectorEntries = entries(std::make_index_sequence<Cpu::kVectors>());

}  // namespace

struct MachineHooks {
    static void intr(uc_engine*, uint32_t intno, void* self) {
        auto* m = static_cast<Machine*>(self);
        if (intno == kExcpSwi) {
            m->request(Machine::Reason::Svc);
        } else {
            uint32_t pc = 0;
            uc_reg_read(m->uc_, UC_ARM_REG_PC, &pc);
            if (pc >= kExcReturnFloor) {
                m->request(Machine::Reason::ExceptionReturn);
                return;
            }
            m->request(Machine::Reason::Fault, "exception " + std::to_string(intno) + " at " +
                                                   hex(pc) + " in " + m->image_.function_at(pc));
        }
    }
    static void block(uc_engine*, uint64_t address, uint32_t size, void* self) {
        auto* m = static_cast<Machine*>(self);
        if (address - kReturnPage < kReturnPageBytes || address >= kExcReturnFloor) {
            return;  // the emulator's own traps and an exception's return, not code
        }
        // A conditional branch ending the block before was taken if this
        // block does not follow it.
        if (m->branch_fallthrough_ != 0 && address != m->branch_fallthrough_) {
            m->cycles_ += kRefillCycles;
        }
        m->branch_fallthrough_ = 0;
        if (m->attention_) {
            // Nothing of this block has run yet: it runs, and is counted,
            // once the board has had the core.
            m->attention_ = false;
            m->request(Machine::Reason::Attention);
            return;
        }
        const uint64_t key = (address << 32) | size;
        auto it = m->blocks_.find(key);
        if (it == m->blocks_.end()) {
            // Each instruction decoded once (cycles.hpp).
            Machine::Block b{0, 0, false, nullptr, 0, 0};
            bool after_load_store = false;
            for (uint32_t at = 0; at < size;) {
                uint16_t half[2] = {0, 0};
                uc_mem_read(m->uc_, address + at, half, at + 4 <= size ? 4 : 2);
                const InstructionCost cost = instruction_cost(half[0], half[1]);
                if (cost.fpu && b.fpu_at == 0) {
                    b.fpu_at = static_cast<uint32_t>(address) + at;
                }
                if (cost.wfi) {
                    b.wfi_at = static_cast<uint32_t>(address) + at;
                }
                b.cycles += cost.cycles - (cost.load_store && after_load_store ? 1 : 0);
                after_load_store = cost.load_store;
                b.conditional_branch = cost.conditional_branch;
                ++b.instructions;
                at += cost.bytes;
            }
            const auto watch = m->watches_.find(static_cast<uint32_t>(address));
            b.watch = watch == m->watches_.end() ? nullptr : &watch->second;
            it = m->blocks_.emplace(key, b).first;
        }
        m->branch_fallthrough_ =
            it->second.conditional_branch ? static_cast<uint32_t>(address) + size : 0;
        m->instructions_ += it->second.instructions;
        m->cycles_ += it->second.cycles;
        // CPACR's gate: with CP10 and CP11 not granted the chip takes a
        // UsageFault (NOCP) on the instruction (ARMv7-M ARM, B3.2.20);
        // Unicorn runs it whatever CPACR holds.
        if (it->second.fpu_at != 0 && !m->board_.scb().fpu_enabled()) {
            m->request(Machine::Reason::Fault,
                       "board rule: UsageFault (NOCP): floating-point instruction at " +
                           hex(it->second.fpu_at) + " in " +
                           m->image_.function_at(it->second.fpu_at) +
                           " with CPACR's CP10 and CP11 not granted");
        }
        if (it->second.watch != nullptr) {
            entered(m, *it->second.watch);
        }
        if (it->second.wfi_at != 0) {
            // Unicorn runs a WFI as a no-op: the core's wait is the board's,
            // once the block has run.
            m->wfi_at_ = it->second.wfi_at;
            m->request(Machine::Reason::Wfi);
        }
        if (m->instructions_ >= m->limit_) {
            m->request(Machine::Reason::Fault,
                       "instruction limit (" + std::to_string(m->limit_) + ") reached in " +
                           m->image_.function_at(static_cast<uint32_t>(address)));
        }
    }
    static Machine::Regs regs(Machine* m) {
        Machine::Regs r{};
        for (int i = 0; i < 4; ++i) {
            uc_reg_read(m->uc_, UC_ARM_REG_R0 + i, &r.r[i]);
            uint32_t bits = 0;
            uc_reg_read(m->uc_, UC_ARM_REG_S0 + i, &bits);
            std::memcpy(&r.s[i], &bits, 4);
        }
        return r;
    }
    // A watched function's first block, about to run: its caller's return
    // address gives way to the watch's trap until the call returns.
    static void entered(Machine* m, const Machine::Watch& watch) {
        if (m->running_ == nullptr) {
            return;
        }
        Machine::Exit exit = watch(*m, regs(m));
        if (exit) {
            uint32_t lr = 0;
            uc_reg_read(m->uc_, UC_ARM_REG_LR, &lr);
            m->running_->pending.push_back({lr, std::move(exit)});
            const uint32_t trap = kWatchReturn | 1U;
            uc_reg_write(m->uc_, UC_ARM_REG_LR, &trap);
        }
    }
    static bool invalid(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* self) {
        auto* m = static_cast<Machine*>(self);
        if (type == UC_MEM_FETCH_UNMAPPED && address >= kExcReturnFloor) {
            m->request(Machine::Reason::ExceptionReturn);
            return false;
        }
        uint32_t pc = 0;
        uc_reg_read(m->uc_, UC_ARM_REG_PC, &pc);
        const char* what = type == UC_MEM_WRITE_UNMAPPED   ? "write"
                           : type == UC_MEM_FETCH_UNMAPPED ? "fetch"
                                                           : "read";
        m->request(Machine::Reason::Fault, std::string("bus fault: ") + what + " at " +
                                               hex(static_cast<uint32_t>(address)) + " from " +
                                               m->image_.function_at(pc));
        return false;
    }
    // A register access is a platform call's boundary in time: the board
    // catches up with the instructions run so far, then the model answers.
    // Interrupts and switches it makes due wait for the emulator to stop.
    static uint32_t* word(Machine* m, uint32_t address, unsigned size) {
        m->sync_time();
        uint32_t* cell = address >= kPpb ? m->core_register(address)
                                         : reinterpret_cast<uint32_t*>(uintptr_t{address});
        if (size != 4 || (address & 3U) != 0) {
            m->request(Machine::Reason::Fault, std::to_string(size) + "-byte register access at " +
                                                   hex(address) +
                                                   ": only aligned words are modelled");
            return nullptr;
        }
        if (cell == nullptr) {
            m->request(Machine::Reason::Fault, "no model of the core register at " + hex(address));
        }
        return cell;
    }
    // Stopped from inside a register access, Unicorn 2.0.1 leaves the
    // block's later instructions unrun but the PC at the block's start, so
    // the block would run twice (seen as a push done twice): the stop waits
    // for the next block's start instead.
    static void after_access(Machine* m) {
        if (m->board_.cpu().wants_core()) {
            m->attention_ = true;
        }
    }
    // The NVIC's registers and the system handlers' priority bytes in the
    // SCB (ARMv7-M ARM, B3.4.3 and B3.2.10-B3.2.12) stand for the core's own
    // state, which the board's Cpu holds: an access reads or changes it.
    // The priority registers take bytes, halfwords and words; the others
    // words. False: not one of these registers.
    static bool nvic(Machine* m, uint32_t address, unsigned size, uint32_t& value, bool write) {
        Cpu& cpu = m->board_.cpu();
        const bool priorities = address - kNvicIpr < kNvicIprBytes;
        const bool handlers = address - kShpr < kShprBytes;
        if (address - kNvic >= kNvicBytes && !priorities && !handlers && address != kStir) {
            return false;
        }
        m->sync_time();
        if (!priorities && !handlers && (size != 4 || (address & 3U) != 0)) {
            m->request(Machine::Reason::Fault, std::to_string(size) + "-byte access at " +
                                                   hex(address) + ": the NVIC takes words here");
            return true;
        }
        if (priorities || handlers) {
            // One byte per exception, its upper 4 bits implemented (RM0090
            // 10.1: 16 priority levels); the system handlers' from 4.
            const int first = priorities
                                  ? static_cast<int>(address - kNvicIpr)
                                  : static_cast<int>(address - kShpr) + 4 + Cpu::kFirstException;
            uint32_t bytes = 0;
            for (unsigned i = 0; i < size; ++i) {
                const int irqn = first + static_cast<int>(i);
                if (irqn >= Cpu::kVectors + Cpu::kFirstException) {
                    continue;  // past the last interrupt: reads as zero, takes nothing
                }
                if (write) {
                    cpu.set_priority(irqn, static_cast<uint8_t>((value >> (8 * i + 4)) & 0xFU));
                } else {
                    bytes |= static_cast<uint32_t>(cpu.priority(irqn)) << (8 * i + 4);
                }
            }
            value = write ? value : bytes;
        } else if (address == kStir) {
            if (write && (value & 0x1FFU) < kIrqs) {
                cpu.set_pending(static_cast<int>(value & 0x1FFU));
            }
            value = write ? value : 0;
        } else {
            const uint32_t group = (address - kNvic) / 0x80, word = (address - kNvic) % 0x80 / 4;
            uint32_t bits = 0;
            for (uint32_t b = 0; b < 32 && group <= 4 && word < 8; ++b) {
                const uint32_t irq = 32 * word + b;
                const int irqn = static_cast<int>(irq);
                if (irq >= kIrqs) {
                    break;
                }
                const bool set = ((value >> b) & 1U) != 0;
                switch (group) {
                    case 0:  // ISER
                    case 1:  // ICER
                        if (write && set) {
                            group == 0 ? cpu.enable_irq(irqn) : cpu.disable_irq(irqn);
                        }
                        bits |= cpu.irq_enabled(irqn) ? 1U << b : 0U;
                        break;
                    case 2:  // ISPR
                    case 3:  // ICPR
                        if (write && set) {
                            group == 2 ? cpu.set_pending(irqn) : cpu.clear_pending(irqn);
                        }
                        bits |= cpu.pending(irqn) ? 1U << b : 0U;
                        break;
                    default:  // IABR, read only: the handler running
                        bits |=
                            cpu.active_exception() == irqn - Cpu::kFirstException ? 1U << b : 0U;
                        break;
                }
            }
            value = write ? value : bits;
        }
        after_access(m);
        return true;
    }
    template <uint32_t Base>
    static uint64_t read(uc_engine*, uint64_t offset, unsigned size, void* self) {
        auto* m = static_cast<Machine*>(self);
        uint32_t core = 0;
        if (Base == kPpb && nvic(m, Base + static_cast<uint32_t>(offset), size, core, false)) {
            return core;
        }
        uint32_t* cell = word(m, Base + static_cast<uint32_t>(offset), size);
        if (cell == nullptr) {
            return 0;
        }
        const uint32_t value = m->board_.bus().read(cell);
        after_access(m);
        return value;
    }
    template <uint32_t Base>
    static void write(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* self) {
        auto* m = static_cast<Machine*>(self);
        uint32_t v = static_cast<uint32_t>(value);
        if (Base == kPpb && nvic(m, Base + static_cast<uint32_t>(offset), size, v, true)) {
            return;
        }
        if (uint32_t* cell = word(m, Base + static_cast<uint32_t>(offset), size)) {
            m->board_.bus().write(cell, static_cast<uint32_t>(value));
            after_access(m);
        }
    }
};

uint32_t Machine::Call::arg(unsigned index) const {
    return index < 4 ? r[index] : machine->read32(sp + 4 * (index - 4));
}

Machine& Machine::get() {
    if (g_machine == nullptr) {
        throw ImageError("no ARM image on this board");
    }
    return *g_machine;
}

Machine::Machine(const ElfImage& image, Board& board) : image_(image), board_(board) {
    if (uc_open(UC_ARCH_ARM, static_cast<uc_mode>(UC_MODE_THUMB | UC_MODE_MCLASS), &uc_) !=
        UC_ERR_OK) {
        throw ImageError("the emulator cannot be opened");
    }
    uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_CORTEX_M4);
    Bus::map_region(kFlash, kFlashBytes);
    Bus::map_region(kCcm, kCcmBytes);
    for (auto [base, bytes] : {std::pair{kFlash, kFlashBytes}, std::pair{kCcm, kCcmBytes},
                               std::pair{kSram, kSramBytes}}) {
        uc_mem_map_ptr(uc_, base, bytes, UC_PROT_ALL, reinterpret_cast<void*>(uintptr_t{base}));
    }
    return_page_.assign(kReturnPageBytes, 0);
    std::memcpy(return_page_.data(), kReturnCode, sizeof kReturnCode);
    std::memcpy(return_page_.data() + (kWatchReturn - kReturnPage), kWatchReturnCode,
                sizeof kWatchReturnCode);
    uc_mem_map_ptr(uc_, kReturnPage, kReturnPageBytes, UC_PROT_ALL, return_page_.data());
    uc_mmio_map(uc_, kPeripherals, kPeripheralBytes, &MachineHooks::read<kPeripherals>, this,
                &MachineHooks::write<kPeripherals>, this);
    uc_mmio_map(uc_, kPpb, kPpbBytes, &MachineHooks::read<kPpb>, this, &MachineHooks::write<kPpb>,
                this);
    for (const Segment& s : image.segments) {
        const auto size = static_cast<uint32_t>(s.bytes.size());
        if (!memory(s.load_address, size)) {
            throw ImageError("a segment at " + hex(s.load_address) + " (" + std::to_string(size) +
                             " bytes) lies outside flash, SRAM and CCM RAM");
        }
        std::memcpy(reinterpret_cast<void*>(uintptr_t{s.load_address}), s.bytes.data(), size);
    }
    main_stack_top_ = read32(kFlash);
    reset_pc_ = read32(kFlash + 4);
    uc_hook hook;
    uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&MachineHooks::intr), this, 1, 0);
    uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&MachineHooks::block), this, 1,
                0);
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&MachineHooks::invalid),
                this, 1, 0);
    g_machine = this;
    set_firmware_code_timed(true);  // the image's code takes its instructions' cycles
}

Machine::~Machine() {
    // Nothing resumes a suspended fiber once the run is over: every context
    // the emulator gave, in use or not, goes back to it.
    g_machine = nullptr;
    set_firmware_code_timed(false);
    for (uc_context* regs : contexts_) {
        uc_context_free(regs);
    }
    uc_close(uc_);
}

void Machine::serve(uint32_t number, std::string name, Handler handler) {
    handlers_[number] = {std::move(name), std::move(handler)};
}

void Machine::watch(uint32_t function, Watch watch) {
    watches_[function & ~1U] = std::move(watch);
}

void Machine::share(uint32_t* host, uint32_t guest) {
    shared_.emplace_back(host, guest);
}

Machine::ThreadCount Machine::counted_on(const Fiber* fiber) const {
    const auto it = thread_counts_.find(fiber);
    return it == thread_counts_.end() ? ThreadCount{} : it->second;
}

bool Machine::memory(uint32_t address, uint32_t size) const {
    const uint64_t end = uint64_t{address} + size;
    for (auto [base, bytes] : {std::pair{kFlash, kFlashBytes}, std::pair{kCcm, kCcmBytes},
                               std::pair{kSram, kSramBytes}}) {
        if (address >= base && end <= uint64_t{base} + bytes) {
            return true;
        }
    }
    return false;
}

bool Machine::pointer(uint32_t address) const {
    return memory(address, 1) ||
           (address >= kPeripherals && address < kPeripherals + kPeripheralBytes);
}

void* Machine::host(uint32_t address, uint32_t size, const char* what) {
    if (address == 0) {
        return nullptr;
    }
    if (!memory(address, size)) {
        halt(std::string(what) + ": " + std::to_string(size) + " bytes at " + hex(address) +
             " are not the image's memory");
    }
    return reinterpret_cast<void*>(uintptr_t{address});
}

uint32_t Machine::read32(uint32_t address) const {
    if (!memory(address, 4)) {
        throw ImageError("guest address " + hex(address) + " is not memory");
    }
    uint32_t v;
    std::memcpy(&v, reinterpret_cast<const void*>(uintptr_t{address}), 4);
    return v;
}

void Machine::write32(uint32_t address, uint32_t value) {
    if (!memory(address, 4)) {
        throw ImageError("guest address " + hex(address) + " is not memory");
    }
    std::memcpy(reinterpret_cast<void*>(uintptr_t{address}), &value, 4);
}

std::string Machine::string(uint32_t address, std::size_t max) const {
    std::string s;
    while (address != 0 && s.size() < max && memory(address, 1)) {
        const char c = *reinterpret_cast<const char*>(uintptr_t{address++});
        if (c == '\0') {
            break;
        }
        s += c;
    }
    return s;
}

uint32_t* Machine::core_register(uint32_t address) const {
    for (const CoreWindow& w : kCoreWindows) {
        if (address >= w.base && address - w.base < w.bytes) {
            return static_cast<uint32_t*>(w.storage(board_)) + (address - w.base) / 4;
        }
    }
    return nullptr;
}

uint32_t Machine::reg(const Context& c, int id) const {
    uint32_t v = 0;
    uc_context_reg_read(c.regs, id, &v);
    return v;
}

void Machine::set_reg(int id, uint32_t value) {
    uc_reg_write(uc_, id, &value);
}

uc_context* Machine::acquire() {
    if (free_.empty()) {
        uc_context* regs = nullptr;
        if (uc_context_alloc(uc_, &regs) != UC_ERR_OK) {
            halt("the emulator cannot hold another context");
            return nullptr;
        }
        contexts_.push_back(regs);
        return regs;
    }
    uc_context* regs = free_.back();
    free_.pop_back();
    return regs;
}

void Machine::release(uc_context* regs) {
    free_.push_back(regs);
}

void Machine::request(Reason reason, std::string fault) {
    if (reason > reason_) {
        reason_ = reason;
        if (reason == Reason::Fault) {
            fault_ = std::move(fault);
        }
    }
    uc_emu_stop(uc_);
}

void Machine::sync_time() {
    const uint64_t run = cycles_ - synced_;
    synced_ = cycles_;
    if (run != 0) {
        board_.cpu().elapse(run);
    }
}

void Machine::to_host() {
    for (auto [host, guest] : shared_) {
        *host = read32(guest);
    }
}

void Machine::to_guest() {
    for (auto [host, guest] : shared_) {
        write32(guest, *host);
    }
}

Machine::Context* Machine::innermost() {
    const auto it = active_.find(Fiber::current());
    return it == active_.end() || it->second.empty() ? nullptr : it->second.back();
}

void Machine::halt(const std::string& why) {
    board_.cpu().halt(why.c_str());
    for (;;) {
        Fiber::suspend();  // a halted board resumes none of its contexts
    }
}

void Machine::reset() {
    Cpu& cpu = board_.cpu();
    const uint32_t unhandled =
        image_.symbols.count("Default_Handler") != 0 ? image_.symbol("Default_Handler") : 0;
    for (int n = 2; n < Cpu::kVectors; ++n) {
        if (n == kSvCall || n == kPendSv || n == kSysTick) {
            continue;
        }
        const uint32_t entry = read32(kFlash + 4 * static_cast<uint32_t>(n));
        if (entry != 0 && (entry & ~1U) != (unhandled & ~1U)) {
            cpu.set_vector(n + Cpu::kFirstException, kVectorEntries[static_cast<std::size_t>(n)]);
        }
    }
    call(reset_pc_, {}, main_stack_top_, true);
    halt("Reset_Handler returned");
}

uint32_t Machine::call(uint32_t function, std::initializer_list<uint32_t> args, uint32_t sp,
                       bool main_stack, uint32_t exc_return) {
    // The live registers are nobody's between two runs: set up a fresh call.
    int id = UC_ARM_REG_R0;
    for (uint32_t a : args) {
        set_reg(id++, a);
    }
    set_reg(UC_ARM_REG_SP, sp);
    set_reg(UC_ARM_REG_LR, exc_return != 0 ? exc_return : kReturnPage | 1U);
    set_reg(UC_ARM_REG_PC, function | 1U);
    set_reg(UC_ARM_REG_XPSR, kXpsrThumb);
    set_reg(UC_ARM_REG_CONTROL, 0);
    Context c{acquire(), main_stack, exc_return, {}};
    uc_context_save(uc_, c.regs);
    run(c);
    const uint32_t r0 = reg(c, UC_ARM_REG_R0);
    release(c.regs);
    return r0;
}

uint32_t Machine::callback(uint32_t function, std::initializer_list<uint32_t> args) {
    const Context* caller = innermost();
    if (caller == nullptr) {
        halt("a callback into the image with no context of the image running");
    }
    return call(function, args, reg(*caller, UC_ARM_REG_SP), caller->main_stack);
}

void Machine::exception(int number) {
    const uint32_t handler = read32(kFlash + 4 * static_cast<uint32_t>(number));
    ++exceptions_;
    uint32_t sp = main_stack_top_;
    // EXC_RETURN (ARMv7-M ARM, B1.5.8): to a handler, to thread mode on the
    // main stack, or on the process stack (a thread's); bit 4 clear when the
    // frame holds the FPU's context.
    uint32_t exc_return = kExcReturnThreadMain;
    Context* c = innermost();
    uint32_t frame = 0;
    bool fp = false;
    if (c != nullptr) {
        // The architecture's stacking (B1.5.6 and B1.5.7): r0-r3, r12, lr,
        // the return address and xPSR, with s0-s15 and FPSCR above them when
        // the context uses the FPU, on an 8-byte boundary (xPSR bit 9 set
        // in the frame when that took a word more).
        fp = (reg(*c, UC_ARM_REG_CONTROL) & kControlFpca) != 0;
        const uint32_t words = fp ? kFpuFrameWords : kBasicFrameWords;
        fpu_frames_ += fp ? 1 : 0;
        const uint32_t top = reg(*c, UC_ARM_REG_SP);
        frame = (top - 4 * words) & ~7U;
        if (thread_check_ && !c->main_stack) {
            thread_check_(*this, Call{this, {}, frame});  // the frame is the thread's too
        }
        if (!memory(frame, 4 * words)) {
            halt("exception " + std::to_string(number) + ": its frame at " + hex(frame) +
                 " is not memory");
        }
        for (uint32_t i = 0; i < kBasicFrameWords; ++i) {
            write32(frame + 4 * i, reg(*c, kFrameRegisters[i]));
        }
        if ((top & 4U) != 0) {
            write32(frame + 28, read32(frame + 28) | kXpsrRealigned);
        }
        for (uint32_t i = 0; fp && i < 16; ++i) {
            write32(frame + 32 + 4 * i, reg(*c, UC_ARM_REG_S0 + static_cast<int>(i)));
        }
        if (fp) {
            write32(frame + 96, reg(*c, UC_ARM_REG_FPSCR));
        }
        exc_return = c->exc_return != 0 ? kExcReturnHandler
                     : c->main_stack    ? kExcReturnThreadMain
                                        : kExcReturnThreadProcess;
        exc_return &= fp ? ~kExcReturnBasicFrame : ~0U;
        // A thread's handler runs on the main stack; a handler or the
        // start-up code interrupted is on it already.
        sp = c->main_stack ? frame : main_stack_top_;
    }
    call(handler, {}, sp, true, exc_return);
    if (c == nullptr) {
        return;
    }
    // Unstacking: the interrupted context goes on from its frame as the
    // handler left it (a handler may change the return address in it).
    uc_context_restore(uc_, c->regs);
    for (uint32_t i = 0; i < kBasicFrameWords; ++i) {
        const uint32_t v = read32(frame + 4 * i);
        set_reg(kFrameRegisters[i],
                kFrameRegisters[i] == UC_ARM_REG_XPSR ? v & ~kXpsrRealigned : v);
    }
    for (uint32_t i = 0; fp && i < 16; ++i) {
        set_reg(UC_ARM_REG_S0 + static_cast<int>(i), read32(frame + 32 + 4 * i));
    }
    if (fp) {
        set_reg(UC_ARM_REG_FPSCR, read32(frame + 96));
    }
    uc_context_save(uc_, c->regs);
}

void Machine::run(Context& c) {
    std::vector<Context*>& active = active_[Fiber::current()];
    active.push_back(&c);
    for (;;) {
        // What the host changed goes in; the core's PRIMASK is the board's.
        uc_context_restore(uc_, c.regs);
        to_guest();
        if (thread_run_ && !c.main_stack) {
            thread_run_(*this);
        }
        const uint32_t primask = board_.cpu().primask() ? 1U : 0U;
        set_reg(UC_ARM_REG_PRIMASK, primask);
        reason_ = Reason::None;
        const uint64_t before = instructions_, cycles_before = cycles_;
        branch_fallthrough_ = 0;  // another context's blocks ran in between
        running_ = &c;
        const uc_err err = uc_emu_start(uc_, reg(c, UC_ARM_REG_PC) | 1U, kReturnPage, 0, 0);
        running_ = nullptr;
        uc_context_save(uc_, c.regs);
        if (!c.main_stack) {
            ThreadCount& own = thread_counts_[Fiber::current()];
            own.instructions += instructions_ - before;
            own.cycles += cycles_ - cycles_before;
        }
        to_host();
        sync_time();
        if (err != UC_ERR_OK && reason_ != Reason::Fault && reason_ != Reason::ExceptionReturn) {
            const uint32_t pc = reg(c, UC_ARM_REG_PC);
            request(Reason::Fault, std::string("emulator: ") + uc_strerror(err) + " at " + hex(pc) +
                                       " in " + image_.function_at(pc));
        }
        // The image's own cpsid and cpsie.
        const uint32_t masked = reg(c, UC_ARM_REG_PRIMASK) & 1U;
        if (masked != primask) {
            board_.cpu().set_primask(masked != 0);
        }
        switch (reason_) {
            case Reason::Fault:
                halt(fault_);
            case Reason::Svc:
                serve_call(c);
                break;
            case Reason::ExceptionReturn: {
                const uint32_t to = reg(c, UC_ARM_REG_PC) | 1U;
                if (to != c.exc_return) {
                    halt("exception return to " + hex(to) + " from " +
                         (c.exc_return != 0
                              ? "a handler entered with EXC_RETURN " + hex(c.exc_return)
                              : std::string("code that is no handler")));
                }
                active.pop_back();
                return;
            }
            case Reason::Attention:
                board_.cpu().consume(0);
                break;
            case Reason::Wfi: {
                // As the host build's __WFI: masked, or in a handler, the core
                // is never woken and the board halts naming the function.
                const std::string where = image_.function_at(wfi_at_);
                board_.cpu().wait_for_interrupt(where.c_str());
                break;
            }
            case Reason::None:
                if (reg(c, UC_ARM_REG_PC) == kReturnPage) {
                    active.pop_back();
                    return;
                }
                board_.cpu().consume(0);  // stopped between blocks: go on
                break;
        }
    }
}

void Machine::serve_call(Context& c) {
    const uint32_t number = reg(c, UC_ARM_REG_R12);
    Call call{this,
              {reg(c, UC_ARM_REG_R0), reg(c, UC_ARM_REG_R1), reg(c, UC_ARM_REG_R2),
               reg(c, UC_ARM_REG_R3)},
              reg(c, UC_ARM_REG_SP)};
    if (thread_check_ && !c.main_stack) {
        thread_check_(*this, call);
    }
    if (number == kWatchReturnNumber) {
        watched_return(c);
        return;
    }
    const auto it = handlers_.find(number);
    if (it == handlers_.end()) {
        halt("bridge " + std::to_string(number) + " is not one of platform/vb/bridges.def");
    }
    uint32_t result = it->second.second(*this, call);
    uc_context_reg_write(c.regs, UC_ARM_REG_R0, &result);
}

void Machine::watched_return(Context& c) {
    if (c.pending.empty()) {
        halt("a return to the watch's trap with no watched call made");
    }
    Pending p = std::move(c.pending.back());
    c.pending.pop_back();
    // The results, and the caller's return address, through the live
    // registers: the emulator writes a context's PC only there.
    uc_context_restore(uc_, c.regs);
    const Regs r = MachineHooks::regs(this);
    set_reg(UC_ARM_REG_PC, p.return_address & ~1U);
    uc_context_save(uc_, c.regs);
    p.exit(*this, r);
}

}  // namespace sim::arm

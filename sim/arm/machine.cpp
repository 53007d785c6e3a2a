#include "sim/arm/machine.hpp"

#include <unicorn/unicorn.h>

#include <cstring>
#include <sstream>

namespace sim::arm {

namespace {

struct Memory {
    uint32_t base;
    uint32_t size;
};
// RM0090, "Memory map": flash, CCM data RAM, SRAM1 and SRAM2, then the
// peripheral buses APB1, APB2 and AHB1, and the core's private peripheral bus
// (SCB, NVIC, SysTick, DWT). Registers are plain memory until their models
// are wired here: a write reads back, nothing acts on it.
constexpr Memory kMemories[] = {
    {0x08000000, 1024 * 1024}, {0x10000000, 64 * 1024}, {0x20000000, 128 * 1024},
    {0x40000000, 0x80000},     {0xE0000000, 0x100000},
};
constexpr size_t kFlashes = 3;  // the first three may hold the image
// Where a callback into the firmware returns: `movw ip, #0; svc #0`, on the
// page of the chip's system memory (the boot loader's ROM, which the board
// does not run).
constexpr uint32_t kReturnPage = 0x1FFF0000;
constexpr uint8_t kReturnCode[] = {0x40, 0xF2, 0x00, 0x0C, 0x00, 0xDF};
constexpr uint32_t kExcpSwi = 2;  // Unicorn's (QEMU's) number for a supervisor call

std::string hex(uint32_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

}  // namespace

struct MachineHooks {
    static void intr(uc_engine*, uint32_t intno, void* self) {
        auto* m = static_cast<Machine*>(self);
        if (intno == kExcpSwi) {
            m->on_svc();
        } else {
            const uint32_t pc = m->reg(UC_ARM_REG_PC);
            m->halt("exception " + std::to_string(intno) + " at " + hex(pc) + " in " +
                    m->image_.function_at(pc));
        }
    }
    static void block(uc_engine*, uint64_t address, uint32_t size, void* self) {
        static_cast<Machine*>(self)->on_block(address, size);
    }
    static bool invalid(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* self) {
        auto* m = static_cast<Machine*>(self);
        const uint32_t pc = m->reg(UC_ARM_REG_PC);
        const char* what = type == UC_MEM_WRITE_UNMAPPED   ? "write"
                           : type == UC_MEM_FETCH_UNMAPPED ? "fetch"
                                                           : "read";
        m->halt(std::string("bus fault: ") + what + " at " + hex(static_cast<uint32_t>(address)) +
                " from " + m->image_.function_at(pc));
        return false;
    }
};

Machine::Machine(const ElfImage& image) : image_(image) {
    if (uc_open(UC_ARCH_ARM, static_cast<uc_mode>(UC_MODE_THUMB | UC_MODE_MCLASS), &uc_) !=
        UC_ERR_OK) {
        throw ImageError("the emulator cannot be opened");
    }
    uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_CORTEX_M4);
    auto map = [this](uint32_t base, uint32_t size) {
        regions_.push_back(std::make_unique<Region>(Region{base, std::vector<uint8_t>(size)}));
        uc_mem_map_ptr(uc_, base, size, UC_PROT_ALL, regions_.back()->bytes.data());
    };
    for (const Memory& m : kMemories) {
        map(m.base, m.size);
    }
    map(kReturnPage, 0x1000);
    std::memcpy(regions_.back()->bytes.data(), kReturnCode, sizeof kReturnCode);
    for (const Segment& s : image.segments) {
        bool placed = false;
        for (size_t i = 0; i < kFlashes && !placed; ++i) {
            const Region& r = *regions_[i];
            if (s.load_address >= r.base &&
                s.load_address - r.base + s.bytes.size() <= r.bytes.size()) {
                std::memcpy(host(s.load_address, static_cast<uint32_t>(s.bytes.size())),
                            s.bytes.data(), s.bytes.size());
                placed = true;
            }
        }
        if (!placed) {
            throw ImageError("a segment at " + hex(s.load_address) + " (" +
                             std::to_string(s.bytes.size()) +
                             " bytes) lies outside flash, SRAM and CCM RAM");
        }
    }
    // Boot from flash: the vector table's stack pointer and reset entry.
    set_reg(UC_ARM_REG_SP, read32(0x08000000));
    reset_pc_ = read32(0x08000004);
    uc_hook hook;
    uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&MachineHooks::intr), this, 1, 0);
    uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&MachineHooks::block), this, 1,
                0);
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&MachineHooks::invalid),
                this, 1, 0);
}

Machine::~Machine() {
    uc_close(uc_);
}

void Machine::serve(uint32_t number, std::string name, Handler handler) {
    handlers_[number] = {std::move(name), std::move(handler)};
}

uint8_t* Machine::host(uint32_t address, uint32_t size) const {
    for (const auto& r : regions_) {
        if (address >= r->base && address - r->base + uint64_t{size} <= r->bytes.size()) {
            return const_cast<uint8_t*>(r->bytes.data()) + (address - r->base);
        }
    }
    throw ImageError("guest address " + hex(address) + " is not memory");
}

uint32_t Machine::read32(uint32_t address) const {
    uint32_t v;
    std::memcpy(&v, host(address, 4), 4);
    return v;
}
uint16_t Machine::read16(uint32_t address) const {
    uint16_t v;
    std::memcpy(&v, host(address, 2), 2);
    return v;
}
uint8_t Machine::read8(uint32_t address) const {
    return *host(address, 1);
}
void Machine::write32(uint32_t address, uint32_t value) {
    std::memcpy(host(address, 4), &value, 4);
}

uint32_t Machine::reg(int id) const {
    uint32_t v = 0;
    uc_reg_read(uc_, id, &v);
    return v;
}
void Machine::set_reg(int id, uint32_t value) {
    uc_reg_write(uc_, id, &value);
}

uint32_t Machine::arg(unsigned index) const {
    return index < 4 ? reg(UC_ARM_REG_R0 + static_cast<int>(index))
                     : read32(reg(UC_ARM_REG_SP) + 4 * (index - 4));
}

void Machine::on_block(uint64_t address, uint32_t size) {
    const uint64_t key = (address << 32) | size;
    auto it = block_counts_.find(key);
    if (it == block_counts_.end()) {
        // Thumb-2: a halfword 0b11101, 0b11110 or 0b11111 in its top bits
        // starts a 32-bit instruction (ARMv7-M ARM, A5.1).
        uint32_t count = 0;
        for (uint32_t at = 0; at < size; ++count) {
            at += (read16(static_cast<uint32_t>(address) + at) >> 11) >= 0x1D ? 4 : 2;
        }
        it = block_counts_.emplace(key, count).first;
    }
    instructions_ += it->second;
    if (instructions_ >= limit_) {
        uc_emu_stop(uc_);
    }
}

void Machine::on_svc() {
    const uint32_t number = reg(UC_ARM_REG_R12);
    if (number == 0) {
        if (frames_.empty()) {
            halt("a callback returned with no bridge waiting for it");
            return;
        }
        advance(frames_.size() - 1, reg(UC_ARM_REG_R0));
        return;
    }
    const auto it = handlers_.find(number);
    if (it == handlers_.end()) {
        halt("bridge " + std::to_string(number) + " is not one of platform/vb/bridges.def");
        return;
    }
    Service service = it->second.second(*this);
    if (stop_) {
        uc_emu_stop(uc_);
        return;
    }
    if (service.calls.empty()) {
        set_reg(UC_ARM_REG_R0, service.result(0));
        return;
    }
    frames_.push_back({std::move(service), 0, reg(UC_ARM_REG_PC), reg(UC_ARM_REG_LR)});
    advance(frames_.size() - 1, 0);
}

void Machine::advance(size_t index, uint32_t last_r0) {
    Frame& f = frames_[index];
    if (f.next < f.service.calls.size()) {
        const GuestCall& call = f.service.calls[f.next++];
        for (size_t i = 0; i < call.args.size() && i < 4; ++i) {
            set_reg(UC_ARM_REG_R0 + static_cast<int>(i), call.args[i]);
        }
        set_reg(UC_ARM_REG_LR, kReturnPage | 1U);
        set_reg(UC_ARM_REG_PC, call.function | 1U);
        return;
    }
    set_reg(UC_ARM_REG_R0, f.service.result(last_r0));
    set_reg(UC_ARM_REG_LR, f.return_lr);
    set_reg(UC_ARM_REG_PC, f.return_pc | 1U);
    frames_.pop_back();
}

void Machine::stop(std::string where, bool halted) {
    stop_ = Stop{std::move(where), halted};
}

void Machine::halt(std::string where) {
    stop_ = Stop{std::move(where), true};
    uc_emu_stop(uc_);
}

Stop Machine::run(uint64_t instruction_limit) {
    limit_ = instruction_limit;
    const uc_err err = uc_emu_start(uc_, reset_pc_ | 1U, 0, 0, 0);
    if (stop_) {
        return *stop_;
    }
    if (instructions_ >= limit_) {
        return {"instruction limit (" + std::to_string(limit_) + ") reached in " +
                    image_.function_at(reg(UC_ARM_REG_PC)),
                true};
    }
    const uint32_t pc = reg(UC_ARM_REG_PC);
    return {std::string("emulator: ") + uc_strerror(err) + " at " + hex(pc) + " in " +
                image_.function_at(pc),
            true};
}

}  // namespace sim::arm

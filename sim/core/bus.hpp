// The register bus: which model answers a register access. Peripheral blocks
// sit at the chip's own addresses (a fixed mapping of the peripheral region
// in this process), core blocks anywhere.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace sim {

/// A block of 32-bit registers. The default behaviour is plain storage.
class RegisterBlock {
  public:
    virtual ~RegisterBlock() = default;
    /// Back to the state the chip's reset leaves it in.
    virtual void reset() {}
    /// `cell` is the register's backing word; `offset` its byte offset in the block.
    virtual uint32_t read(uint32_t offset, uint32_t& cell) {
        (void)offset;
        return cell;
    }
    virtual void write(uint32_t offset, uint32_t& cell, uint32_t value) {
        (void)offset;
        cell = value;
    }
    /// True if reading the register at `offset` has no side effect and gives
    /// the same value until the board acts (a write or an event); a busy wait
    /// polling only such reads can be let through at once.
    virtual bool steady_read(uint32_t offset) const {
        (void)offset;
        return false;
    }
    /// False while the block's clock is gated off: writes are lost, reads give 0.
    virtual bool clocked() const { return true; }
    /// Address of the block's first register, set when the board attaches it.
    uintptr_t base() const { return base_; }

  protected:
    /// The backing word of the register at `offset`.
    uint32_t& reg(uint32_t offset) const { return *reinterpret_cast<uint32_t*>(base_ + offset); }

  private:
    friend class Bus;
    uintptr_t base_ = 0;
};

class Bus {
  public:
    static constexpr uintptr_t kPeripheralBase = 0x40000000;
    static constexpr uintptr_t kPeripheralSize = 0x00080000;  // APB1, APB2, AHB1

    static constexpr uintptr_t kSramBase = 0x20000000;
    static constexpr uintptr_t kSramSize = 0x00020000;  // SRAM1 and SRAM2

    /// Maps `size` bytes at chip address `base` (once per process) and clears them.
    static void map_region(uintptr_t base, uintptr_t size);

    void attach(uintptr_t base, uintptr_t size, RegisterBlock* block);
    uint32_t read(const void* reg);
    /// read(), and whether the read was steady (see RegisterBlock::steady_read).
    uint32_t read(const void* reg, bool& steady) {  // every register read: inline
        const uintptr_t address = reinterpret_cast<uintptr_t>(reg);
        uint32_t& cell = *const_cast<uint32_t*>(static_cast<const uint32_t*>(reg));
        const Range* r = find(address);
        if (r == nullptr) {
            steady = false;  // plain memory: firmware may change it between polls
            return cell;
        }
        const uint32_t offset = static_cast<uint32_t>(address - r->base);
        if (!r->block->clocked()) {
            steady = true;
            return 0;
        }
        steady = r->block->steady_read(offset);
        return r->block->read(offset, cell);
    }
    void write(void* reg, uint32_t value);

  private:
    struct Range {
        uintptr_t base;
        uintptr_t size;
        RegisterBlock* block;
    };
    const Range* find(uintptr_t address) const {
        const uintptr_t window = address - kPeripheralBase;
        if (window < kPeripheralSize) {
            const int16_t entry = pages_[window >> kPageShift];
            if (entry >= 0) {
                return &ranges_[static_cast<std::size_t>(entry)];
            }
            if (entry == kNoPage) {
                return nullptr;
            }
        }
        return find_listed(address);
    }
    const Range* find_listed(uintptr_t address) const;
    void index_pages(uintptr_t base, uintptr_t size);

    // Peripherals sit on 1 KB boundaries (RM0090 Table 1, the register
    // boundary addresses): a table over the peripheral window finds a block
    // at once. Per page, the index of the range that holds all of it,
    // kNoPage when none touches it, or kSharedPage (look in the list).
    static constexpr unsigned kPageShift = 10;
    static constexpr int16_t kNoPage = -1, kSharedPage = -2;
    std::vector<Range> ranges_;
    std::array<int16_t, (kPeripheralSize >> kPageShift)> pages_ = filled(kNoPage);
    mutable const Range* last_ = nullptr;

    static constexpr std::array<int16_t, (kPeripheralSize >> kPageShift)> filled(int16_t v) {
        std::array<int16_t, (kPeripheralSize >> kPageShift)> a{};
        a.fill(v);
        return a;
    }
};

}  // namespace sim

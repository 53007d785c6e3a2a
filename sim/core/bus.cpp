#include "sim/core/bus.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

void Bus::map_region(uintptr_t base, uintptr_t size) {
    void* want = reinterpret_cast<void*>(base);
    void* got = mmap(want, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got != want) {
        std::fprintf(stderr, "virtual board: cannot map 0x%08lx bytes at 0x%08lx in this process\n",
                     static_cast<unsigned long>(size), static_cast<unsigned long>(base));
        std::abort();
    }
    std::memset(want, 0, size);
}

void Bus::attach(uintptr_t base, uintptr_t size, RegisterBlock* block) {
    block->base_ = base;
    ranges_.push_back(Range{base, size, block});
    last_ = nullptr;
    index_pages(base, size);
}

void Bus::index_pages(uintptr_t base, uintptr_t size) {
    const uintptr_t end = base + size;
    if (size == 0 || end <= kPeripheralBase || base >= kPeripheralBase + kPeripheralSize) {
        return;
    }
    const uintptr_t first = (std::max(base, kPeripheralBase) - kPeripheralBase) >> kPageShift;
    const uintptr_t last =
        (std::min(end, kPeripheralBase + kPeripheralSize) - 1 - kPeripheralBase) >> kPageShift;
    for (uintptr_t page = first; page <= last; page++) {
        // The first range that touches the page answers for all of it only
        // if it covers all of it, as the list search would.
        const uintptr_t from = kPeripheralBase + (page << kPageShift);
        const uintptr_t to = from + (uintptr_t{1} << kPageShift);
        int16_t entry = kNoPage;
        for (std::size_t i = 0; i < ranges_.size(); i++) {
            const Range& r = ranges_[i];
            if (r.base < to && from < r.base + r.size) {
                entry =
                    r.base <= from && to <= r.base + r.size ? static_cast<int16_t>(i) : kSharedPage;
                break;
            }
        }
        pages_[page] = entry;
    }
}

const Bus::Range* Bus::find_listed(uintptr_t address) const {
    // Polling loops hit the same block again and again.
    if (last_ != nullptr && address - last_->base < last_->size) {
        return last_;
    }
    for (const Range& r : ranges_) {
        if (address - r.base < r.size) {
            last_ = &r;
            return &r;
        }
    }
    return nullptr;
}

uint32_t Bus::read(const void* reg) {
    bool steady = false;
    return read(reg, steady);
}

void Bus::write(void* reg, uint32_t value) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(reg);
    uint32_t& cell = *static_cast<uint32_t*>(reg);
    const Range* r = find(address);
    if (r == nullptr) {
        cell = value;
        return;
    }
    if (r->block->clocked()) {
        r->block->write(static_cast<uint32_t>(address - r->base), cell, value);
    }
}

}  // namespace sim

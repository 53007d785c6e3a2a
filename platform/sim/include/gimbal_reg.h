// Register word on the virtual board: every read and write goes to the
// peripheral model that owns the address (and costs bus cycles), so firmware
// code written against the chip's register blocks runs unchanged.
#pragma once

#include <cstdint>

extern "C" {
uint32_t gimbal_sim_reg_read(const void* reg);
void gimbal_sim_reg_write(void* reg, uint32_t value);
}

struct gimbal_reg32_t {
    gimbal_reg32_t() = default;
    gimbal_reg32_t(const gimbal_reg32_t&) = delete;
    gimbal_reg32_t& operator=(const gimbal_reg32_t&) = delete;

    operator uint32_t() const { return gimbal_sim_reg_read(this); }
    gimbal_reg32_t& operator=(uint32_t v) {
        gimbal_sim_reg_write(this, v);
        return *this;
    }
    gimbal_reg32_t& operator|=(uint32_t v) { return *this = static_cast<uint32_t>(*this) | v; }
    gimbal_reg32_t& operator&=(uint32_t v) { return *this = static_cast<uint32_t>(*this) & v; }
    gimbal_reg32_t& operator^=(uint32_t v) { return *this = static_cast<uint32_t>(*this) ^ v; }

    uint32_t raw;  // backing store, touched only by the models
};
static_assert(sizeof(gimbal_reg32_t) == 4);

// The DWT cycle counter. A busy wait compares the counter's distance from a
// start value against a limit, `DWT->CYCCNT - start < ticks`; the comparison
// goes through the board, which sees the whole wait in it and can let the
// polls that cannot change anything pass at once (every poll keeps its time).
extern "C" {
uint32_t gimbal_sim_cyccnt_read(const void* reg);
bool gimbal_sim_cycles_compare(uint32_t start, uint32_t elapsed, uint32_t limit, int op);
}

enum gimbal_cycles_op { GIMBAL_CYCLES_LT, GIMBAL_CYCLES_LE, GIMBAL_CYCLES_GT, GIMBAL_CYCLES_GE };

/// The comparison itself, as the firmware wrote it.
inline bool gimbal_cycles_hold(uint32_t elapsed, uint32_t limit, int op) {
    switch (op) {
        case GIMBAL_CYCLES_LT:
            return elapsed < limit;
        case GIMBAL_CYCLES_LE:
            return elapsed <= limit;
        case GIMBAL_CYCLES_GT:
            return elapsed > limit;
        default:
            return elapsed >= limit;
    }
}

/// CYCCNT - start, as read once; compares as that number.
struct gimbal_cycles_since_t {
    uint32_t start;
    uint32_t value;
    operator uint32_t() const { return value; }
};

struct gimbal_cyccnt_t : gimbal_reg32_t {
    using gimbal_reg32_t::operator=;
};
static_assert(sizeof(gimbal_cyccnt_t) == 4);

template <class T>
requires(sizeof(T) <= 4 && static_cast<T>(-1) > 0) inline gimbal_cycles_since_t operator-(
    const gimbal_cyccnt_t& reg, T start) {
    const uint32_t now = gimbal_sim_cyccnt_read(&reg);
    return {static_cast<uint32_t>(start), now - static_cast<uint32_t>(start)};
}

#define GIMBAL_CYCLES_COMPARE(sym, op, rop)                                    \
    inline bool operator sym(const gimbal_cycles_since_t& e, uint32_t limit) { \
        return gimbal_sim_cycles_compare(e.start, e.value, limit, op);         \
    }                                                                          \
    inline bool operator sym(uint32_t limit, const gimbal_cycles_since_t& e) { \
        return gimbal_sim_cycles_compare(e.start, e.value, limit, rop);        \
    }
GIMBAL_CYCLES_COMPARE(<, GIMBAL_CYCLES_LT, GIMBAL_CYCLES_GT)
GIMBAL_CYCLES_COMPARE(<=, GIMBAL_CYCLES_LE, GIMBAL_CYCLES_GE)
GIMBAL_CYCLES_COMPARE(>, GIMBAL_CYCLES_GT, GIMBAL_CYCLES_LT)
GIMBAL_CYCLES_COMPARE(>=, GIMBAL_CYCLES_GE, GIMBAL_CYCLES_LE)
#undef GIMBAL_CYCLES_COMPARE

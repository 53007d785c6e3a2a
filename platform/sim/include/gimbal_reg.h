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

// Hardware I2C class of the peripheral interface layer: the port's table.
#pragma once

#include <cstdint>

/// Hardware I2C master operations, filled by the I2C port. `dev_addr` is the 8-bit bus
/// address (7-bit address shifted left; the port sets the direction bit), `mem_addr_size`
/// the register address width in the port's coding, `timeout` in milliseconds.
/// Each returns 0 or a negative code.
typedef struct {
    int (*init)(int ch);
    int (*mem_write)(int ch, uint16_t dev_addr, uint16_t mem_addr, uint16_t mem_addr_size,
                     const uint8_t* data, uint16_t size, uint32_t timeout);
    int (*mem_read)(int ch, uint16_t dev_addr, uint16_t mem_addr, uint16_t mem_addr_size,
                    uint8_t* data, uint16_t size, uint32_t timeout);
    int (*write)(int ch, uint16_t dev_addr, const uint8_t* data, uint16_t size, uint32_t timeout);
    int (*read)(int ch, uint16_t dev_addr, uint8_t* data, uint16_t size, uint32_t timeout);
} i2c_ops_t;

/// Stores `ops` as it is (not checked); a later call replaces it.
void i2c_register_ops(const i2c_ops_t* ops);

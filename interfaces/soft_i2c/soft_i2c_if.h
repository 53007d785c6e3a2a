// Bit-banged I2C class of the peripheral interface layer: the port's table and the forwarders.
#pragma once

#include <cstdint>

/// Bit-banged I2C master operations, filled by the bit-banged I2C port. The first five
/// slots match `i2c_ops_t`; the `__` slots are single bus conditions and bytes.
typedef struct {
    int (*init)(int ch);
    int (*mem_write)(int ch, uint16_t dev_addr, uint16_t mem_addr, uint16_t mem_addr_size,
                     const uint8_t* data, uint16_t size, uint32_t timeout);
    int (*mem_read)(int ch, uint16_t dev_addr, uint16_t mem_addr, uint16_t mem_addr_size,
                    uint8_t* data, uint16_t size, uint32_t timeout);
    int (*write)(int ch, uint16_t dev_addr, const uint8_t* data, uint16_t size, uint32_t timeout);
    int (*read)(int ch, uint16_t dev_addr, uint8_t* data, uint16_t size, uint32_t timeout);
    int (*__start_frame)(int ch);
    /// Eight bits out, most significant first; the acknowledge bit is not read.
    int (*__send_frame)(int ch, uint8_t byte);
    /// 0 when the slave pulled SDA low in time, negative otherwise.
    int (*__wait_ack_frame)(int ch);
    int (*__stop_frame)(int ch);
    /// Eight bits in, then ACK if `ack` is non-zero, else NACK; the byte (0 to 255) or -1.
    int (*__read_frame)(int ch, int ack);
    int (*__send_ack_frame)(int ch, int ack);
} soft_i2c_ops_t;

/// Stores `ops` as it is (not checked); a later call replaces it.
void soft_i2c_register_ops(const soft_i2c_ops_t* ops);

/// The slot's result unchanged, or -1 if no table or no `init` slot is registered.
int soft_i2c_if_init(int ch);

/// Byte-level steps: the slot's result unchanged. The registered table must fill these
/// slots; with no table registered at all they return -1.
int soft_i2c_if_start_frame(int ch);
int soft_i2c_if_send_frame(int ch, uint8_t byte);
int soft_i2c_if_wait_ack_frame(int ch);
int soft_i2c_if_stop_frame(int ch);
int soft_i2c_if_read_frame(int ch, int ack);

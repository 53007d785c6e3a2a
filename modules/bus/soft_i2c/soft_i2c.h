// Handle of one bit-banged I2C bus: single bus conditions and bytes, forwarded to the
// bit-banged I2C interface on the bound channel.
#pragma once

#include <cstdint>

/// One bus user's handle; owned by the caller.
typedef struct {
    int ch;           ///< bit-banged I2C channel, passed unchanged to every interface call
    int initialized;  ///< 1 after a successful `soft_i2c_init`, 0 after a failed one
} soft_i2c_t;

/// Binds `obj` to channel `ch` and brings the bus up.
/// @return 0; -1 for a null `obj` (nothing else happens); -2 when the interface's init
///         failed (no table, no bus on `ch`, or SDA still held low), with `initialized` 0.
int soft_i2c_init(soft_i2c_t* obj, int ch);

/// The frame operations test neither `obj` nor `initialized`; each returns the interface
/// result unchanged.
/// START (or repeated START); 0.
int soft_i2c_start_frame(soft_i2c_t* obj);
/// Eight bits out, most significant first, without the acknowledge clock; 0.
int soft_i2c_send_frame(soft_i2c_t* obj, uint8_t byte);
/// 0 when the device acknowledged; -2 when it did not within 10 ms.
int soft_i2c_wait_ack_frame(soft_i2c_t* obj);
/// STOP; 0.
int soft_i2c_stop_frame(soft_i2c_t* obj);
/// The byte read (0 to 255), then ACK if `ack` is non-zero, NACK if 0; negative on error.
int soft_i2c_read_frame(soft_i2c_t* obj, int ack);

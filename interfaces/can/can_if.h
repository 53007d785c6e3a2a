// CAN class of the peripheral interface layer: frame record, the port's table, the forwarders.
#pragma once

#include <cstdint>

/// One classic CAN data frame, used in both directions.
typedef struct {
    uint32_t id;      ///< Standard identifier; the port sends `id & 0x7FF`.
    uint8_t data[8];  ///< `data[0]` is the first byte on the bus.
    uint8_t length;   ///< Data length code, 0 to 8; the port refuses 9 or more on send.
} can_message_t;
static_assert(sizeof(can_message_t) == 16, "id, eight data bytes, length, padding");

/// CAN operations, filled by the CAN port; `ch` is the board's CAN channel.
typedef struct {
    /// Accept-all receive filter, then start the controller; 0 or -1.
    int (*init)(int ch);
    /// Transmits one frame and waits for it to leave the mailbox; 0 or -1.
    int (*send)(int ch, const can_message_t* msg);
    /// Never waits: 0 when a frame from FIFO 0 was stored in `msg`, -1 when none or on error.
    int (*recv)(int ch, can_message_t* msg);
    /// Programs one identifier/mask filter bank; 0 or -1.
    int (*filter_config)(int ch, uint8_t filter_id, uint32_t id, uint32_t mask);
} can_ops_t;

/// Stores `ops` as it is (not checked); a later call replaces it.
void can_register_ops(const can_ops_t* ops);

/// Each returns the slot's result unchanged, or -1 if no table or no slot is registered.
int can_if_init(int ch);
int can_if_send(int ch, const can_message_t* msg);
int can_if_recv(int ch, can_message_t* msg);

// GPIO class of the peripheral interface layer: the port's table.
#pragma once

/// Single-pin operations, filled by the GPIO port; `ch` is the board's GPIO channel.
typedef struct {
    int (*init)(int ch);            ///< 0 or a negative code.
    int (*write)(int ch, int val);  ///< Non-zero drives high, 0 low; 0 or a negative code.
    int (*read)(int ch);            ///< Pin level 0 or 1, or -1.
} gpio_ops_t;

/// Stores `ops` as it is (not checked); a later call replaces it.
void gpio_register_ops(const gpio_ops_t* ops);

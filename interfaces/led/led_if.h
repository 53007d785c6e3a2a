// LED class of the peripheral interface layer: the port's table and the forwarders.
#pragma once

/// LED operations, filled by the LED port; `id` is the LED number.
typedef struct {
    int (*init)(int id);              ///< 0 if the LED exists, -1 otherwise.
    int (*write)(int id, int state);  ///< Non-zero drives the pin high, 0 low; 0 or -1.
    int (*read)(int id);              ///< 1 high, 0 low, -1 for an unknown LED.
    int (*toggle)(int id);            ///< 0 or -1.
} led_ops_t;

/// Stores `ops` as it is (not checked); a later call replaces it.
void led_register_ops(const led_ops_t* ops);

/// Each returns the slot's result unchanged, or -1 if no table or no slot is registered.
int led_if_init(int id);
int led_if_write(int id, int state);
int led_if_read(int id);

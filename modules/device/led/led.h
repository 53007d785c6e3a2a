// LED object over the LED interface, caching the on/off state it last saw.
#pragma once

/// One LED; owned by the caller, valid after `led_init`.
typedef struct {
    int id;     ///< LED number, the channel handed to the LED interface.
    int state;  ///< 1 on, 0 off; changed only by a successful operation.
} led_t;

/// Binds `led` to LED `id` and takes `state` from the pin (a read error counts as off).
/// @return 0; -1 for a null `led`; otherwise the non-zero result of `led_if_init`,
///         with `state` 0.
int led_init(led_t* led, int id);

/// @return 0; -1 for a null `led`; otherwise the non-zero result of `led_if_write`,
///         with `state` unchanged.
int led_on(led_t* led);
int led_off(led_t* led);

/* The HAL and kernel of the virtual board's ARM image: each function is a
 * stub that hands its call to the emulator, which serves it with the board's
 * models and returns in r0.
 *
 * The function's number goes in ip (r12), scratch across a call in the
 * AAPCS, so r0-r3 and the stacked arguments stay where the caller put them;
 * one `svc #0` serves every number (an immediate would stop at 255). */
    .syntax unified
    .thumb

    .macro bridge_stub name, number
    .section .text.\name, "ax", %progbits
    .global \name
    .type \name, %function
    .thumb_func
\name:
    movw    ip, #\number
    svc     #0
    bx      lr
    .size \name, . - \name
    .endm

/* A callback is reached from the HAL only: a no-op relocation from the
 * bridge's stub keeps it through --gc-sections exactly when the stub stays.
 * Weak, as in the HAL, for a callback the firmware leaves out. */
    .macro bridge_callback bridge, name
    .section .text.\bridge, "ax", %progbits
    .weak \name
    .reloc \bridge, R_ARM_NONE, \name
    .endm

#define GIMBAL_BRIDGE(number, name) bridge_stub name, number
#define GIMBAL_BRIDGE_DATA(type, name, reset)
#define GIMBAL_BRIDGE_CALLBACK(bridge, name) bridge_callback bridge, name
#include "bridges.def"

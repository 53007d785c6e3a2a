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

#define GIMBAL_BRIDGE(number, name) bridge_stub name, number
#define GIMBAL_BRIDGE_DATA(type, name, reset)
#include "bridges.def"

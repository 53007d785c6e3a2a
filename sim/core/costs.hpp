// What each kind of platform call costs, in core cycles.
//
// Firmware code between two platform calls takes no virtual time; every call
// into the platform (a HAL function, an RTOS call, a register access, an
// intrinsic) advances the clock by one of these figures at the current core
// clock. They are round estimates of the real library code paths at 168 MHz
// with flash wait states, chosen so that busy-wait loops last about as long as
// on the chip. Keep every cost here, nowhere else.
#pragma once

#include <cstdint>

namespace sim::cost {

inline constexpr uint32_t kRegisterAccess = 2;  // one peripheral or core register load/store
inline constexpr uint32_t kIntrinsic = 1;       // __NOP, __DSB, __disable_irq, ...
inline constexpr uint32_t kHalCall = 40;   // entry, argument checks and return of a HAL function
inline constexpr uint32_t kHalPoll = 12;   // one turn of a HAL flag-polling loop
inline constexpr uint32_t kHalInit = 400;  // a peripheral's HAL_*_Init, register set-up included
inline constexpr uint32_t kHalClockSwitch =
    2000;                                   // oscillator/PLL/bus-clock reconfiguration bookkeeping
inline constexpr uint32_t kRtosCall = 120;  // a CMSIS-RTOS v2 call that does not switch threads
inline constexpr uint32_t kRtosQuery =
    30;  // a CMSIS-RTOS v2 getter: context check, one kernel field, return
inline constexpr uint32_t kHalQuery = 8;  // a HAL getter that reads a handle field or a register
// A CAN status query polled in a loop (HAL_CAN_GetRxFifoFillLevel,
// HAL_CAN_IsTxMessagePending): the call, two handle-state compares and the
// return, about 20 cycles with the APB1 read (at PCLK1 = HCLK / 4), plus the
// firmware's share of the loop around it, which runs free here: the motor
// driver's poll, the forwarder's two tests and indirect call, the port's
// table lookup, about 25 more. With its register access a receive poll costs
// 42 cycles: 2000 polls last 500 us at 168 MHz. An estimate from the code
// paths, not a measurement. Where the firmware's code takes its own
// instructions' cycles (the ARM image), its share is left out.
inline constexpr uint32_t kHalCanQueryFirmware = 25;
inline constexpr uint32_t kHalCanQuery = 15 + kHalCanQueryFirmware;
inline constexpr uint32_t kRtosCreate =
    900;  // creating a thread or a queue (heap walk, list set-up)
inline constexpr uint32_t kContextSwitch = 150;  // PendSV: save one thread, restore another
inline constexpr uint32_t kInterruptEntry = 12;  // exception entry (stacking), Cortex-M4
inline constexpr uint32_t kInterruptExit = 10;   // exception return (unstacking)
inline constexpr uint32_t kKernelTick = 80;      // SysTick handler with nothing to wake
inline constexpr uint32_t kRuntimeChar = 6;  // the runtime library buffering one output character

}  // namespace sim::cost

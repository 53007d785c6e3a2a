// Reset on the virtual board: the core takes the reset vector from the vector
// table, and the reset handler runs SystemInit, then main, as the start-up
// file does on the chip. Initialised and zero-initialised data and the static
// constructors need no pass of their own: every boot is a new process, whose
// loader has done both.
#include "sim/core/chip.hpp"
#include "sim/platform.hpp"
#include "stm32f4xx.h"
#include "stm32f4xx_hal.h"

// The firmware's main, renamed for the host (it has C++ linkage like any main).
int gimbal_firmware_main(void) __attribute__((weak));

extern "C" {
void SystemInit(void) __attribute__((weak));

#define GIMBAL_WEAK_HANDLER(name) void name(void) __attribute__((weak));
GIMBAL_WEAK_HANDLER(NMI_Handler)
GIMBAL_WEAK_HANDLER(HardFault_Handler)
GIMBAL_WEAK_HANDLER(MemManage_Handler)
GIMBAL_WEAK_HANDLER(BusFault_Handler)
GIMBAL_WEAK_HANDLER(UsageFault_Handler)
GIMBAL_WEAK_HANDLER(DebugMon_Handler)
#define GIMBAL_IRQ(name, irqn) GIMBAL_WEAK_HANDLER(name)
#include "vector_names.inc"
#undef GIMBAL_IRQ

// The start-up file's reset handler, for the host.
void Reset_Handler(void) {
    if (SystemInit != nullptr) {
        SystemInit();
    }
    if (gimbal_firmware_main != nullptr) {
        gimbal_firmware_main();
    }
    // main returned: on the chip the reset handler then spins.
    sim::Chip::get().cpu().set_primask(true);
    sim::Chip::get().cpu().halt("Reset_Handler");
}
}

namespace sim {

void install_vectors() {
    Cpu& cpu = Chip::get().cpu();
    cpu.set_vector(Cpu::kResetIRQn, Reset_Handler);
    cpu.set_vector(NonMaskableInt_IRQn, NMI_Handler);
    cpu.set_priority(NonMaskableInt_IRQn, 0);
    cpu.set_vector(MemoryManagement_IRQn, MemManage_Handler);
    cpu.set_vector(BusFault_IRQn, BusFault_Handler);
    cpu.set_vector(UsageFault_IRQn, UsageFault_Handler);
    cpu.set_vector(DebugMonitor_IRQn, DebugMon_Handler);
    cpu.set_vector(-13, HardFault_Handler);
#define GIMBAL_IRQ(name, irqn) cpu.set_vector(irqn, name);
#include "vector_names.inc"
#undef GIMBAL_IRQ
}

const char* vector_name(int irqn) {
    switch (irqn) {
        case NonMaskableInt_IRQn:
            return "NMI";
        case -13:
            return "HardFault";
        case MemoryManagement_IRQn:
            return "MemManage";
        case BusFault_IRQn:
            return "BusFault";
        case UsageFault_IRQn:
            return "UsageFault";
        case DebugMonitor_IRQn:
            return "DebugMon";
        case -5:
            return "SVCall";
        case -2:
            return "PendSV";
        case -1:
            return "SysTick";
#define GIMBAL_IRQ(name, irqn) \
    case irqn:                 \
        return #name;
#include "vector_names.inc"
#undef GIMBAL_IRQ
        default:
            return "reserved";
    }
}

void firmware_reset() {
    install_vectors();
    // A scenario may start the board as after long uptime, its ticks near a wrap.
    uwTick = kernel_settings().tick_start;
    // Word 1 of the table: the core loads it into the PC at reset.
    Chip::get().cpu().reset_vector()();
}

}  // namespace sim

// The firmware's own functions the board watches on the ARM image, as the
// host build's link wraps them (platform/sim/src/firmware_hooks.cpp): the
// controller step (the run's what-if gains, and the probe of each step) and
// the motor driver's three calls the application makes (the probe of each
// exchange). The image runs them unchanged.
#pragma once

#include <cstddef>

#include "sim/arm/layouts.hpp"
#include "sim/arm/machine.hpp"

namespace sim::arm {

/// ImageError if the image lacks one of the functions.
void watch_firmware(Machine& machine, const Layouts& layouts);

/// What the image's _sbrk has handed out so far: its break above the end
/// of the image's static data (newlib nano's own heap, not the host's model).
std::size_t runtime_heap_used(const Machine& machine);

}  // namespace sim::arm

#include "sim/models/gpio_port.hpp"

namespace sim {

GpioPort::GpioPort(const Rcc& rcc, int index)
    : GatedBlock(rcc, Rcc::AHB1ENR, 1u << index), index_(index) {}

void GpioPort::reset() {
    // Port A and B come out of reset with their debug pins configured.
    reg(MODER) = index_ == 0 ? 0xA8000000 : (index_ == 1 ? 0x00000280 : 0);
    reg(PUPDR) = index_ == 0 ? 0x64000000 : (index_ == 1 ? 0x00000100 : 0);
    reg(OSPEEDR) = index_ == 1 ? 0x000000C0 : 0;
    reg(ODR) = 0;
    update_wires();
}

void GpioPort::connect(int pin, Wire& wire, const Cpu& cpu) {
    cpu_ = &cpu;
    wires_.at(static_cast<std::size_t>(pin)) = &wire;
    parties_[static_cast<std::size_t>(pin)] = wire.attach();
    wire.set(parties_[static_cast<std::size_t>(pin)], drive(pin), cpu.now());
}

// What the pin does to its wire. Alternate-function outputs belong to a
// peripheral that is not modelled on wires: they count as released.
Wire::Drive GpioPort::drive(int pin) const {
    const uint32_t mode = (reg(MODER) >> (2 * pin)) & 0x3;
    const uint32_t pull = (reg(PUPDR) >> (2 * pin)) & 0x3;
    const bool open_drain = (reg(OTYPER) >> pin) & 1u;
    const bool out_high = (reg(ODR) >> pin) & 1u;
    Wire::Drive d;
    if (mode == 3) {
        return d;  // analog: output and pulls off
    }
    if (mode == 1) {
        d.pulls_low = !out_high;
        d.drives_high = out_high && !open_drain;
    }
    d.pull_up = pull == 1;
    return d;
}

void GpioPort::update_wires() {
    for (std::size_t pin = 0; pin < wires_.size(); pin++) {
        if (wires_[pin] != nullptr) {
            wires_[pin]->set(parties_[pin], drive(static_cast<int>(pin)), cpu_->now());
        }
    }
}

int GpioPort::level(int pin) const {
    const uint32_t mode = (reg(MODER) >> (2 * pin)) & 0x3;
    if (const Wire* wire = wires_[static_cast<std::size_t>(pin)]; wire != nullptr && mode != 3) {
        return wire->level();
    }
    const uint32_t pull = (reg(PUPDR) >> (2 * pin)) & 0x3;
    const bool open_drain = (reg(OTYPER) >> pin) & 1u;
    const bool driven_high = (reg(ODR) >> pin) & 1u;
    if (mode == 3) {
        return 0;  // analog: input buffer and pulls off, IDR reads 0
    }
    if (mode == 1 || mode == 2) {
        if (!open_drain || !driven_high) {
            return driven_high ? 1 : 0;
        }
    }
    // Released line or input: the pull resistor decides (no pull reads low).
    return pull == 1 ? 1 : 0;
}

uint32_t GpioPort::read(uint32_t offset, uint32_t& cell) {
    if (offset == IDR) {
        uint32_t idr = 0;
        for (int pin = 0; pin < 16; pin++) {
            idr |= static_cast<uint32_t>(level(pin)) << pin;
        }
        return idr;
    }
    if (offset == BSRR) {
        return 0;
    }
    return cell;
}

void GpioPort::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    if (offset == BSRR) {
        uint32_t& odr = reg(ODR);
        odr = (odr | (value & 0xFFFF)) & ~((value >> 16) & ~value & 0xFFFF);
    } else if (offset != IDR) {  // IDR is read-only
        cell = value;
    }
    update_wires();
}

}  // namespace sim

// What the platform layer needs of the board: the core, the register bus and
// the peripheral models by name. The board of this process is the one chip;
// the platform layer sees nothing else of it (devices, buses, wiring).
#pragma once

#include <string>

#include "sim/core/bus.hpp"
#include "sim/core/cpu.hpp"

namespace sim {

class Chip {
  public:
    /// The chip of this process; aborts if the board is not built yet.
    static Chip& get() {
        if (instance_ == nullptr) [[unlikely]] {
            none();
        }
        return *instance_;
    }

    Cpu& cpu() { return cpu_; }
    Bus& bus() { return bus_; }

    /// A peripheral or core block by its name in the wiring table ("RCC",
    /// "DWT", "GPIOF", ...); aborts if there is none of that name and type.
    template <class Model>
    Model& model(const std::string& name) {
        return dynamic_cast<Model&>(find(name));
    }
    virtual RegisterBlock& find(const std::string& name) = 0;

  protected:
    Chip() = default;
    virtual ~Chip() = default;
    Chip(const Chip&) = delete;
    Chip& operator=(const Chip&) = delete;

    Cpu cpu_;
    Bus bus_;
    static inline Chip* instance_ = nullptr;  // reached at every platform call

  private:
    [[noreturn]] static void none();
};

}  // namespace sim

// The virtual board: the core, the register bus and every model, built once
// per process (a simulated boot always starts from reset in a fresh process).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../core/bus.hpp"
#include "../core/cpu.hpp"
#include "../models/peripherals.hpp"
#include "../models/rcc.hpp"

namespace sim {

/// Board-level settings a scenario can change; faults are settings, not code.
struct BoardConfig {
    bool crystal_fitted = true;       // HSE crystal present
    bool queue_create_fails = false;  // the kernel refuses every message queue
};

struct ConsoleByte {
    uint8_t byte;
    Picos at;  // end of the frame on the wire
};

class Board {
  public:
    /// Builds the board of this process. Exactly once per process.
    static Board& create(const BoardConfig& config);
    /// The board of this process; create() must have run.
    static Board& get();

    const BoardConfig& config() const { return config_; }
    Cpu& cpu() { return cpu_; }
    Bus& bus() { return bus_; }
    Rcc& rcc() { return rcc_; }
    Usart& usart1() { return usart1_; }

    /// Power-on: every model at its reset state, the core at the reset vector.
    void power_on(std::function<void()> reset_vector);
    void run_until(Picos end) { cpu_.run_until(end); }

    /// Bytes USART1 put on its TX pin, in order, with the time each ended.
    const std::vector<ConsoleByte>& console() const { return console_; }
    std::string console_text() const;
    /// Also echo console bytes as they leave (for a terminal watching the run).
    void set_console_echo(std::function<void(uint8_t)> echo) { echo_ = std::move(echo); }

  private:
    explicit Board(const BoardConfig& config);

    BoardConfig config_;
    Cpu cpu_;
    Bus bus_;
    Rcc rcc_;
    Tim1 tim1_;
    Usart usart1_;
    Usart usart6_;
    std::vector<std::unique_ptr<GpioPort>> gpio_;
    CanController can1_;
    CanController can2_;
    GatedBlock i2c2_;
    GatedBlock pwr_;
    RegisterBlock flash_;
    std::vector<ConsoleByte> console_;
    std::function<void(uint8_t)> echo_;
};

}  // namespace sim

// The virtual board: the core, the register bus and, as a wiring table, every
// model with its address and interrupt, and the devices on its pins and buses.
// Built once per process: a simulated boot always starts from reset in a
// fresh process.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/board/fault_windows.hpp"
#include "sim/core/bus.hpp"
#include "sim/core/chip.hpp"
#include "sim/core/cpu.hpp"
#include "sim/devices/imu.hpp"
#include "sim/devices/motor.hpp"
#include "sim/devices/plant.hpp"
#include "sim/models/bxcan.hpp"
#include "sim/models/can_bus.hpp"
#include "sim/models/core_blocks.hpp"
#include "sim/models/gated_block.hpp"
#include "sim/models/gpio_port.hpp"
#include "sim/models/i2c.hpp"
#include "sim/models/rcc.hpp"
#include "sim/models/tim1.hpp"
#include "sim/models/usart.hpp"
#include "sim/models/wire.hpp"

namespace sim {

/// Board-level settings a scenario can change, each device's own; faults are
/// settings, not code. (The kernel's are the platform layer's: KernelSettings.)
struct BoardConfig {
    RccSettings rcc;
    ImuSettings imu;
    /// The IMU's faults hold inside the window only (held lines from its start).
    std::optional<FaultWindow> imu_window;
    /// The bit-banged bus's lines (PF14 SCL, PF12 SDA). The board's pull-ups
    /// and the bus capacitance are not known: both defaults are chosen values.
    struct I2cBus {
        double pull_up_ohms = 4700;  // per line, fitted on the board (0: none)
        double capacitance_pf = 50;  // per line: traces, pins and the IMU (0: ideal edges)
    } i2c;
    /// Motors on CAN2's bus (CAN1's has nothing attached).
    std::vector<MotorConfig> motors = {MotorConfig{0x141}, MotorConfig{0x142}};
    /// A motor's settings that hold inside a window only (default ones outside).
    std::map<uint32_t, FaultWindow> motor_windows;
    /// The gimbal the IMU sits on; without it the IMU's registers hold `imu`'s values.
    std::optional<PlantConfig> plant;
};

inline const Field<BoardConfig::I2cBus> kI2cBusFields[] = {
    {"i2c.pull_up_ohms",
     &BoardConfig::I2cBus::pull_up_ohms,
     "ohm",
     0,
     1e6,
     "the pull-up on each bus line (SCL PF14, SDA PF12), fitted on the board and holding the "
     "lines high from power-on (0: none fitted, the pins' own pull-ups only); a chosen value, "
     "the board's real resistors are not known",
     {nullptr, nullptr},
     false,
     /*when_set*/ true},
    {"i2c.bus_capacitance_pf",
     &BoardConfig::I2cBus::capacitance_pf,
     "pF",
     0,
     10000,
     "each bus line's capacitance (0: ideal instant edges; UM10204 allows 400): a released line "
     "rises through the pull-ups and this capacitance; a chosen value",
     {nullptr, nullptr},
     false,
     /*when_set*/ true},
};

/// A pin of a GPIO port: port letter and pin number.
struct Pin {
    char port;
    int number;
};

class Board final : public Chip {
  public:
    /// Builds the board of this process. Exactly once per process.
    static Board& create(const BoardConfig& config);
    /// The board of this process; create() must have run.
    static Board& get() { return static_cast<Board&>(Chip::get()); }

    const BoardConfig& config() const { return config_; }

    /// Power-on: every model at its reset state, the core at the reset vector.
    void power_on(std::function<void()> reset_vector);
    void run_until(Picos end) { cpu_.run_until(end); }

    RegisterBlock& find(const std::string& name) override;
    Rcc& rcc() { return rcc_; }
    Usart& usart1() { return usart1_; }
    CanController& can1() { return can1_; }
    CanController& can2() { return can2_; }
    /// The bus of CAN1 (1) or CAN2 (2).
    CanBus& can_bus(int n) { return n == 1 ? can1_bus_ : can2_bus_; }
    /// The motor with this identifier, or null.
    Mf4010Motor* motor(uint32_t id);
    GpioPort& gpio(char port) { return *gpio_.at(static_cast<std::size_t>(port - 'A')); }
    /// The user LEDs' pins, LED 0 to 2 (wiring table).
    static constexpr std::size_t kLedCount = 3;
    /// LED `i`'s pin level.
    int led(std::size_t i) { return gpio(kLeds[i].port).level(kLeds[i].number); }
    Scb& scb() { return scb_; }
    Dwt& dwt() { return dwt_; }
    SysTick& systick() { return systick_; }
    /// The bit-banged I2C bus (PF14 clock, PF12 data) and the IMU on it.
    Wire& i2c_scl() { return i2c_scl_; }
    Wire& i2c_sda() { return i2c_sda_; }
    Imu& imu() { return imu_; }
    /// The gimbal, or null when the scenario holds the IMU's registers fixed.
    Plant* plant() { return plant_.get(); }
    CoreDebugBlock& core_debug() { return core_debug_; }

    // The console's bytes are the probe console_tx: whoever wants them keeps them.

  private:
    explicit Board(const BoardConfig& config);

    struct Slot {
        std::string name;
        RegisterBlock* model;
    };
    /// Puts a peripheral model at its chip address (`size` bytes of registers).
    template <class Model, class... Args>
    Model& at(const char* name, uintptr_t base, uintptr_t size, Args&&... args) {
        auto model = std::make_unique<Model>(std::forward<Args>(args)...);
        Model& ref = *model;
        bus_.attach(base, size, &ref);
        slots_.push_back(Slot{name, &ref});
        owned_.push_back(std::move(model));
        return ref;
    }
    /// Puts a core block wherever its own storage is.
    template <class Model, class... Args>
    Model& core(const char* name, Args&&... args) {
        auto model = std::make_unique<Model>(std::forward<Args>(args)...);
        Model& ref = *model;
        bus_.attach(reinterpret_cast<uintptr_t>(ref.storage()), Model::kBytes, &ref);
        slots_.push_back(Slot{name, &ref});
        owned_.push_back(std::move(model));
        return ref;
    }
    std::vector<std::unique_ptr<GpioPort>> gpio_ports();
    void schedule_faults();
    std::vector<std::unique_ptr<Mf4010Motor>> motor_nodes();

    BoardConfig config_;
    std::vector<Slot> slots_;
    std::vector<std::unique_ptr<RegisterBlock>> owned_;

    // Buses outside the chip: CAN1's (PD0/PD1) carries nothing unless a
    // scenario attaches a node, CAN2's (PB12/PB13) the motors.
    CanBus can1_bus_{cpu_, "can1"};
    CanBus can2_bus_{cpu_, "can2"};

    // clang-format off
    // ---- Wiring table ------------------------------------------------------------------
    //            model                        name      address     size   model's own wiring
    Rcc&           rcc_    = at<Rcc>          ("RCC",    0x40023800, 0x400, cpu_, !config_.rcc.no_crystal, config_.rcc.supply_v);
    Tim1&          tim1_   = at<Tim1>         ("TIM1",   0x40010000, 0x400, cpu_, rcc_, /*IRQ TIM1_UP_TIM10*/ 25);
    Usart&         usart1_ = at<Usart>        ("USART1", 0x40011000, 0x400, cpu_, rcc_, /*APB2ENR*/ 1u << 4, /*APB2*/ true);
    Usart&         usart6_ = at<Usart>        ("USART6", 0x40011400, 0x400, cpu_, rcc_, /*APB2ENR*/ 1u << 5, /*APB2*/ true);
    CanController& can1_   = at<CanController>("CAN1",   0x40006400, 0x400, cpu_, rcc_, /*APB1ENR*/ 1u << 25, can1_bus_, /*filter banks*/ nullptr);
    CanController& can2_   = at<CanController>("CAN2",   0x40006800, 0x400, cpu_, rcc_, /*APB1ENR*/ 1u << 26, can2_bus_, /*filter banks in*/ &can1_);
    I2cController& i2c2_  = at<I2cController>("I2C2",   0x40005800, 0x400, cpu_, rcc_, /*APB1ENR*/ 1u << 22);  // nothing on PF0/PF1
    Pwr&           pwr_    = at<Pwr>          ("PWR",    0x40007000, 0x400, rcc_);  // APB1ENR bit 28
    FlashInterface& flash_ = at<FlashInterface>("FLASH", 0x40023C00, 0x400, rcc_);
    std::vector<std::unique_ptr<GpioPort>> gpio_ = gpio_ports();  // "GPIOA".."GPIOI", 0x40020000 + 0x400 n
    // Devices
    std::vector<std::unique_ptr<Mf4010Motor>> motors_ = motor_nodes();  // on CAN2's bus, from the config
    // Core blocks: never printed, so they live in their own storage.
    Scb&           scb_        = core<Scb>      ("SCB", cpu_);
    SysTick&       systick_    = core<SysTick>  ("SysTick", cpu_, rcc_);
    CoreDebugBlock& core_debug_ = core<CoreDebugBlock>("CoreDebug");
    Dwt&           dwt_        = core<Dwt>      ("DWT", cpu_, core_debug_);
    // User LEDs (Core/Inc/main.h), driven by the firmware through GPIOE and GPIOG.
    static constexpr std::array<Pin, kLedCount> kLeds{{{'E', 3},    // LED0 PE3
                                                       {'E', 4},    // LED1 PE4
                                                       {'G', 9}}};  // LED2 PG9
    // Bit-banged I2C bus: PF14 (SCL) and PF12 (SDA) with the IMU at 0x50 on both (constructor).
    Wire           i2c_scl_{"scl", cpu_.events(), config_.i2c.pull_up_ohms, config_.i2c.capacitance_pf * 1e-12};
    Wire           i2c_sda_{"sda", cpu_.events(), config_.i2c.pull_up_ohms, config_.i2c.capacitance_pf * 1e-12};
    Imu            imu_{cpu_, i2c_scl_, i2c_sda_};
    // The gimbal: base motion, the motors' shafts, the IMU's readings (constructor).
    std::unique_ptr<Plant> plant_;
    // clang-format on
    FaultWindows faults_{cpu_};
};

}  // namespace sim

#include "sim/board/board.hpp"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
constexpr uintptr_t kGpioA = 0x40020000, kGpioStride = 0x400;
constexpr int kGpioPorts = 9;  // A to I

std::string motor_name(uint32_t id) {
    char text[24];
    std::snprintf(text, sizeof text, "motor 0x%03X", static_cast<unsigned>(id));
    return text;
}
}  // namespace

Board& Board::create(const BoardConfig& config) {
    if (instance_ != nullptr) {
        std::fprintf(stderr, "virtual board: one board per process\n");
        std::abort();
    }
    // The models' registers and the SRAM live at the chip's addresses.
    Bus::map_region(Bus::kPeripheralBase, Bus::kPeripheralSize);
    Bus::map_region(Bus::kSramBase, Bus::kSramSize);
    // Lives as long as the process: its fibers hold firmware stacks that are
    // never unwound.
    auto* board = new Board(config);
    instance_ = board;
    return *board;
}

Board::Board(const BoardConfig& config) : config_(config) {
    cpu_.set_core_hz_source(rcc_.hclk_source());
    core_debug_.watch(dwt_);
    gpio('F').connect(14, i2c_scl_, cpu_);
    gpio('F').connect(12, i2c_sda_, cpu_);
    imu_.set_register(Imu::kRoll, config.imu.roll);
    imu_.set_register(Imu::kPitch, config.imu.pitch);
    imu_.set_register(Imu::kYaw, config.imu.yaw);
    imu_.set_register(Imu::kTemp, config.imu.temp);
    if (config.plant) {
        plant_ = std::make_unique<Plant>(cpu_, imu_, motor(Plant::kRollMotor),
                                         motor(Plant::kPitchMotor), *config.plant);
        plant_->start(0);
    }
    schedule_faults();
    usart1_.set_sink([this](uint8_t byte, Picos at) { cpu_.probes().console_tx.emit(byte, at); });
}

void Board::schedule_faults() {
    const ImuSettings& imu = config_.imu;
    faults_.add(
        config_.imu_window.value_or(FaultWindow{}),
        [this, imu](bool on, Picos at) {
            imu_.set_present(on ? imu.present : true);
            imu_.set_stretch(on ? imu.stretch_scl.ps : 0);
            if (on && imu.hold_sda_low.ps > 0) {
                imu_.hold_sda_low(at, at + imu.hold_sda_low.ps);
            }
            if (on && imu.hold_scl_low.ps > 0) {
                imu_.hold_scl_low(at, at + imu.hold_scl_low.ps);
            }
        },
        config_.imu_window ? "imu" : "");
    for (const auto& [id, window] : config_.motor_windows) {
        Mf4010Motor* m = motor(id);
        if (m == nullptr) {
            continue;
        }
        const MotorConfig faulty = m->config();
        faults_.add(
            window,
            [m, faulty](bool on, Picos) {
                const MotorConfig& c = on ? faulty : MotorConfig{faulty.id};
                m->set_present(c.present);
                m->set_answers(c.answers);
                m->set_close_garbage(c.close_garbage);
                m->set_reply_delay(c.reply_delay);
            },
            motor_name(id));
    }
}

std::vector<std::unique_ptr<GpioPort>> Board::gpio_ports() {
    std::vector<std::unique_ptr<GpioPort>> ports;
    for (int i = 0; i < kGpioPorts; i++) {
        const uintptr_t base = kGpioA + kGpioStride * static_cast<uintptr_t>(i);
        ports.push_back(std::make_unique<GpioPort>(rcc_, i));
        bus_.attach(base, kGpioStride, ports.back().get());
        slots_.push_back(
            Slot{std::string("GPIO") + static_cast<char>('A' + i), ports.back().get()});
    }
    return ports;
}

std::vector<std::unique_ptr<Mf4010Motor>> Board::motor_nodes() {
    std::vector<std::unique_ptr<Mf4010Motor>> motors;
    for (const MotorConfig& motor : config_.motors) {
        motors.push_back(std::make_unique<Mf4010Motor>(cpu_, can2_bus_, motor));
    }
    return motors;
}

Mf4010Motor* Board::motor(uint32_t id) {
    for (auto& m : motors_) {
        if (m->config().id == id) {
            return m.get();
        }
    }
    return nullptr;
}

RegisterBlock& Board::find(const std::string& name) {
    for (const Slot& slot : slots_) {
        if (slot.name == name) {
            return *slot.model;
        }
    }
    std::fprintf(stderr, "virtual board: no model named %s\n", name.c_str());
    std::abort();
}

void Board::power_on(std::function<void()> reset_vector) {
    for (const Slot& slot : slots_) {
        slot.model->reset();
    }
    cpu_.power_on(std::move(reset_vector));
}

}  // namespace sim

// The JY901P IMU as an I2C slave on two wires, acting on the conditions and
// bits the bus decoder frames from their edges: address match with the
// direction bit, a register pointer, reads that auto-increment two bytes per
// register (low byte first), register writes, and ACK/NACK both ways. It
// changes SDA only while SCL is low, kSdaHold after SCL fell. It accepts any
// timing: how short a timing the real device tolerates is not known.
//
// Backdoor for scenarios and tests: register values, presence, and the line
// faults (SDA held low, SCL stretched).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/cpu.hpp"
#include "sim/core/events.hpp"
#include "sim/models/i2c_decoder.hpp"
#include "sim/core/settings.hpp"
#include "sim/models/wire.hpp"

namespace sim {

/// What a scenario sets of the IMU.
struct ImuSettings {
    bool present = true;  // absent: never acknowledges
    // Raw registers Roll, Pitch, Yaw, TEMP: a level platform at 25 °C.
    int16_t roll = 0, pitch = 0, yaw = 0, temp = 2500;
    bool registers_held = false;  // the registers stay as set: the plant does not feed them
    Duration hold_sda_low;        // SDA held low from power-on for this long
    Duration stretch_scl;         // SCL held low this long after each address acknowledge
    Duration hold_scl_low;        // SCL held low from power-on for this long
};

// clang-format off
inline const Field<ImuSettings> kImuFields[] = {
    {"present",         &ImuSettings::present,      "",   0, 1, "the IMU is on the bus; false: it never acknowledges"},
    {"raw.roll",        &ImuSettings::roll,         "",   -32768, 32767, "its `Roll` register held at this value (any `raw` key: the plant no longer feeds the IMU)"},
    {"raw.pitch",       &ImuSettings::pitch,        "",   -32768, 32767, "its `Pitch` register held at this value"},
    {"raw.yaw",         &ImuSettings::yaw,          "",   -32768, 32767, "its `Yaw` register held at this value"},
    {"raw.temp",        &ImuSettings::temp,         "",   -32768, 32767, "its `TEMP` register held at this value"},
    {"hold_sda_low_ms", &ImuSettings::hold_sda_low, "ms", 0, kMaxSettingS * 1e3, "it holds SDA low from power-on for that long"},
    {"stretch_scl_us",  &ImuSettings::stretch_scl,  "us", 0, kMaxSettingS * 1e6, "it holds SCL low that long after acknowledging its address"},
    {"hold_scl_low_ms", &ImuSettings::hold_scl_low, "ms", 0, kMaxSettingS * 1e3, "it holds SCL low from power-on for that long"},
};
// clang-format on

class Imu {
  public:
    static constexpr uint8_t kAddress = 0x50;
    static constexpr int kRegisters = 0x90;
    static constexpr uint8_t kRoll = 0x3d, kPitch = 0x3e, kYaw = 0x3f, kTemp = 0x40;
    /// SDA changes this long after SCL fell: shorter than one register access
    /// of the core at 168 MHz (11.9 ns), so the master never raises SCL again
    /// before a data change it caused.
    static constexpr Picos kSdaHold = 10 * kPsPerNs;

    Imu(Cpu& cpu, Wire& scl, Wire& sda);
    Imu(const Imu&) = delete;
    Imu& operator=(const Imu&) = delete;

    // ---- backdoor ----
    /// Absent: never acknowledges and never drives a line.
    void set_present(bool present) { present_ = present; }
    bool present() const { return present_; }
    void set_register(int reg, int16_t value) { regs_.at(static_cast<std::size_t>(reg)) = value; }
    /// A new register set from the sensor's own update: applied at once
    /// between transfers, else at the STOP that ends the current one, so
    /// that a read never mixes bytes of two updates.
    void update_registers(const std::vector<std::pair<int, int16_t>>& values);
    int16_t reg(int reg) const { return regs_.at(static_cast<std::size_t>(reg)); }
    /// Holds SDA low from `from` until `until`, whatever the clock does.
    void hold_sda_low(Picos from, Picos until);
    /// Holds SCL low from `from` until `until`.
    void hold_scl_low(Picos from, Picos until);
    /// After acknowledging its address, holds SCL low this long (0: never).
    void set_stretch(Picos stretch) { stretch_ = stretch; }
    /// Bus conditions and bytes as the device saw them, e.g. "S A0+ 3D+ Sr A1+ 34+ ... P".
    const std::vector<std::string>& log() const { return log_; }
    /// Whether log() records (true); a long run turns it off to keep its memory flat.
    void set_logging(bool on) { logging_ = on; }

  private:
    enum class Phase {
        Idle,        // not addressed: waits for START
        Receive,     // master sends a byte
        SendAck,     // device drives the acknowledge bit of a received byte
        Transmit,    // device sends a byte
        ReceiveAck,  // master acknowledges a byte sent
    };
    enum class Role { Address, Pointer, Data };

    void on_scl(int level, Picos at);
    void on_sda(int level, Picos at);
    void on_rising(int sda);
    void on_falling(Picos at);
    void received(uint8_t byte, Picos at);
    uint8_t next_read_byte();
    void write_byte(uint8_t byte);
    void apply_sda(Picos at);
    void apply_scl(Picos at);
    void note(std::string entry) {
        if (logging_) {
            log_.push_back(std::move(entry));
        }
    }

    Cpu& cpu_;
    Wire& scl_;
    Wire& sda_;
    int scl_party_;
    int sda_party_;
    bool present_ = true;
    std::array<int16_t, kRegisters> regs_{};

    I2cDecoder bus_;  // fed the edges the device hears
    Phase phase_ = Phase::Idle;
    Role role_ = Role::Address;
    bool reading_ = false;
    uint8_t shift_ = 0;  // byte being sent
    uint8_t pointer_ = 0;
    bool high_byte_ = false;  // next byte of the pointed register is its high byte
    uint8_t write_low_ = 0;

    bool sda_wanted_low_ = false;  // protocol drive, applied kSdaHold after SCL fell
    bool sda_protocol_low_ = false;
    bool sda_fault_low_ = false;
    bool scl_fault_low_ = false;
    bool scl_stretch_low_ = false;
    Picos stretch_ = 0;

    FunctionEvent sda_change_;
    FunctionEvent sda_fault_start_, sda_fault_end_;
    FunctionEvent scl_fault_start_, scl_fault_end_;
    FunctionEvent stretch_end_;
    std::vector<std::string> log_;
    bool logging_ = true;
    std::vector<std::pair<int, int16_t>> pending_;  // update waiting for the STOP
};

}  // namespace sim

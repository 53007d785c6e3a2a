// MF4010V2 servo motor as a CAN node: answers the close, stop, running and
// speed-control commands after a delay, and turns its shaft through a
// first-order speed loop with an acceleration limit.
#pragma once

#include <cstdint>
#include <deque>

#include "sim/core/cpu.hpp"
#include "sim/core/settings.hpp"
#include "sim/models/can_bus.hpp"

namespace sim {

struct MotorConfig {
    uint32_t id = 0x141;
    bool present = true;                   // on the bus: acknowledges every frame
    bool answers = true;                   // replies to commands
    Duration reply_delay{200 * kPsPerUs};  // from the end of the command to the reply's request
    bool close_garbage = false;            // answers close with bytes that are not the echo
    uint32_t bit_rate_hz = 1000000;
};

// clang-format off
inline const Field<MotorConfig> kMotorFields[] = {
    {"present",        &MotorConfig::present,       "",   0, 1,   "the motor is on CAN2's bus and acknowledges every frame"},
    {"answers",        &MotorConfig::answers,       "",   0, 1,   "it replies to close, stop, running and speed control"},
    {.key = "reply_delay_us", .member = &MotorConfig::reply_delay, .unit = "us", .min = 0, .max = 1e7,
     .meaning = "from the end of a command to the reply's send request", .whole = true},
    {.key = "close_reply", .member = &MotorConfig::close_garbage, .unit = "", .min = 0, .max = 1,
     .meaning = "`echo` or `garbage` (a reply to close that is not the command)", .words = {"echo", "garbage"}},
    // Classic CAN's range: ISO 11898-2 high-speed buses reach 1 Mbit/s.
    {.key = "bit_rate_hz", .member = &MotorConfig::bit_rate_hz, .unit = "Hz", .min = 10000, .max = 1000000,
     .meaning = "its own bit rate (segments 1+5+2 quanta, SJW 1: chosen values); not windowed", .when_set = true},
};
// clang-format on

class Mf4010Motor final : public CanNode {
  public:
    static constexpr double kSpeedTimeConstantS = 0.01;  // speed loop
    static constexpr double kMaxAccelDps2 = 20000.0;     // acceleration limit, degree/s^2
    static constexpr int8_t kTemperatureC = 32;

    Mf4010Motor(Cpu& cpu, CanBus& bus, const MotorConfig& config);
    ~Mf4010Motor() override;

    // CanNode
    const CanFrame* next_frame() override;
    /// The configured bit rate with can_default_timing's segments.
    CanBitTiming timing() const override {
        return can_default_timing(kPsPerS / config_.bit_rate_hz);
    }
    bool active() const override { return config_.present; }
    void sent(bool acked, Picos at) override;
    void received(const CanFrame& frame, Picos at) override;

    // Backdoor for scenarios and tests.
    const MotorConfig& config() const { return config_; }
    void set_present(bool present);
    void set_answers(bool answers) { config_.answers = answers; }
    void set_close_garbage(bool garbage) { config_.close_garbage = garbage; }
    /// Replies already waiting keep their time.
    void set_reply_delay(Duration delay) { config_.reply_delay = delay; }
    bool running() const { return running_; }
    /// Commanded speed in 0.01 degree per second (0 when closed or stopped).
    int32_t target_speed() const;
    /// Shaft speed (degree/s) and angle (degrees, unbounded), brought up to `now`.
    double speed_dps(Picos now);
    double angle_deg(Picos now);
    uint32_t commands() const { return commands_; }

  private:
    void advance(Picos now);
    CanFrame reply_to(const CanFrame& command, Picos now);
    void reply_due(Picos now);

    Cpu& cpu_;
    CanBus& bus_;
    MotorConfig config_;
    bool running_ = true;  // powered up running, as the motor does
    bool closed_ = false;  // off: commands cleared, shaft free and still
    int32_t command_ = 0;  // last speed command, 0.01 degree/s
    double speed_ = 0.0;   // degree/s
    double angle_ = 0.0;   // degrees
    Picos updated_ = 0;
    uint32_t commands_ = 0;
    struct Due {
        Picos at;
        CanFrame frame;
    };
    std::deque<Due> due_;        // replies waiting for their delay
    std::deque<CanFrame> send_;  // replies ready for the bus
    FunctionEvent due_event_;
};

}  // namespace sim

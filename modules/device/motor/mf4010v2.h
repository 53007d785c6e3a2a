// MF4010V2 servo motor on a CAN channel: 8-byte commands, each answered by one
// reply frame carrying the motor's identifier.
#pragma once

#include <cstdint>

/// Bits of `mf4010v2_t::flags`.
enum {
    MF4010_FLAG_NONE = 0x00,
    MF4010_FLAG_RUNNING = 0x01,    ///< running command sent
    MF4010_FLAG_ENABLED = 0x02,    ///< set by init; cleared by a confirmed close
    MF4010_FLAG_FAULT = 0x04,      ///< close not confirmed; cleared only by init
    MF4010_FLAG_CONNECTED = 0x08,  ///< never set
};

/// Results of the driver's functions.
enum {
    MF4010_OK = 0,
    MF4010_ERR_TIMEOUT = -1,
    MF4010_ERR_INVALID_ID = -2,
    MF4010_ERR_NO_RESPONSE = -3,
    MF4010_ERR_INVALID_PARAM = -4,
    MF4010_ERR_BUS_OFF = -5,
    MF4010_ERR_CRC = -6,
    MF4010_ERR_HARDWARE = -7,
    MF4010_ERR_CAN_SEND = -8,
    MF4010_ERR_CAN_RECV = -9,
};

/// Reply polls per exchange, back to back.
inline constexpr int MF4010_RECV_RETRIES = 2000;

inline constexpr uint8_t COMMAND_MOTOR_CLOSE[8] = {0x80, 0, 0, 0, 0, 0, 0, 0};
inline constexpr uint8_t COMMAND_MOTOR_RUNNING[8] = {0x88, 0, 0, 0, 0, 0, 0, 0};
inline constexpr uint8_t COMMAND_MOTOR_STOP[8] = {0x81, 0, 0, 0, 0, 0, 0, 0};
inline constexpr uint8_t COMMAND_READ_PID_PARAMS[8] = {0x30, 0, 0, 0, 0, 0, 0, 0};

/// Gains of the PID-parameter commands (not sent by this firmware).
typedef struct {
    uint8_t angle_kp;
    uint8_t angle_ki;
    uint8_t speed_kp;
    uint8_t speed_ki;
    uint8_t iq_kp;
    uint8_t iq_ki;
} pid_param;

/// One motor; owned by the caller, usable after `mf4010v2_init` returned MF4010_OK.
typedef struct {
    int can_ch;                ///< channel handed to the CAN interface
    uint16_t id;               ///< 11-bit identifier of commands and replies
    uint8_t last_response[8];  ///< last accepted reply; byte 0 is the answered command
    uint32_t last_comm_time;
    uint16_t error_count;    ///< failed exchanges, wrapping
    uint16_t success_count;  ///< answered exchanges, wrapping
    uint8_t flags;           ///< MF4010_FLAG_* bits
    int32_t target_angle;
    int32_t current_angle;
} mf4010v2_t;

#define MF4010_GET_RESPONSE_CMD(motor) ((motor)->last_response[0])
#define MF4010_GET_RESPONSE_DATA(motor, index) ((motor)->last_response[(index) + 1])

/// Binds `motor` to identifier `id` on `can_ch` and initialises the channel
/// (its result ignored); sends nothing.
/// @return MF4010_OK; MF4010_ERR_INVALID_PARAM for null; MF4010_ERR_INVALID_ID
///         for an identifier above 0x7FF, record untouched.
int mf4010v2_init(mf4010v2_t* motor, uint16_t id, int can_ch);

/// One exchange: send the 8 bytes at `command`, then poll for the reply.
/// @return MF4010_OK; MF4010_ERR_INVALID_PARAM for a null motor or command;
///         MF4010_ERR_CAN_SEND
///         when the interface refused the frame; MF4010_ERR_NO_RESPONSE when no
///         frame with the motor's identifier came within MF4010_RECV_RETRIES polls.
int mf4010v2_send_command(mf4010v2_t* motor, const uint8_t* command);

/// Speed control at `speed_0_01dps` hundredths of a degree per second; results
/// as `mf4010v2_send_command`.
int mf4010v2_set_speed(mf4010v2_t* motor, int32_t speed_0_01dps);

/// Sends the running command and marks the motor running whatever the outcome.
void mf4010v2_run(mf4010v2_t* motor);

/// Sends the close command; an exact echo clears ENABLED, anything else sets FAULT.
void mf4010v2_close(mf4010v2_t* motor);

/// True when `motor` is not null and its FAULT bit is set.
bool mf4010v2_is_fault(mf4010v2_t* motor);

/// Writes the speed-control command for `speed` into the 8 bytes at `buf`.
void cmd_speed_control(uint8_t* buf, int32_t speed);

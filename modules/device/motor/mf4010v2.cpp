// MF4010V2 motor driver: request-then-poll exchanges over the CAN interface.
#include "mf4010v2.h"

#include <cstdio>
#include <cstring>

#include "can_if.h"

#define WRITE_FLAG(data, flag) ((data) = static_cast<uint8_t>((data) | (flag)))
#define ERASE_FLAG(data, flag) ((data) = static_cast<uint8_t>((data) & ~(flag)))

namespace {
constexpr uint16_t kMaxId = 0x7FF;
}  // namespace

int mf4010v2_init(mf4010v2_t* motor, uint16_t id, int can_ch) {
    if (motor == NULL) {
        return MF4010_ERR_INVALID_PARAM;
    }
    if (id > kMaxId) {
        printf("Error: Invalid CAN ID 0x%03X (must be 0x000-0x7FF)\r\n", static_cast<unsigned>(id));
        return MF4010_ERR_INVALID_ID;
    }
    motor->can_ch = can_ch;
    motor->id = id;
    motor->target_angle = 0;
    motor->current_angle = 0;
    memset(motor->last_response, 0, sizeof(motor->last_response));
    // Several motors share a channel: a second init of it fails harmlessly.
    (void)can_if_init(can_ch);
    motor->last_comm_time = 0;
    motor->error_count = 0;
    motor->success_count = 0;
    motor->flags = MF4010_FLAG_ENABLED;
    return MF4010_OK;
}

int mf4010v2_send_command(mf4010v2_t* motor, const uint8_t* command) {
    if (motor == NULL || command == NULL) {
        return MF4010_ERR_INVALID_PARAM;
    }
    can_message_t msg;
    msg.id = motor->id;
    memcpy(msg.data, command, sizeof(msg.data));
    msg.length = 8;

    if (can_if_send(motor->can_ch, &msg) != 0) {
        motor->error_count++;
        printf("Error: Failed to send CAN message (ID 0x%03X)\r\n",
               static_cast<unsigned>(motor->id));
        return MF4010_ERR_CAN_SEND;
    }

    // Frames of other motors read here are dropped; a late reply of this motor
    // stays in the FIFO and answers its next exchange.
    bool found = false;
    for (int poll = 0; poll < MF4010_RECV_RETRIES; poll++) {
        if (can_if_recv(motor->can_ch, &msg) == 0 && msg.id == motor->id) {
            found = true;
            break;
        }
    }
    if (!found) {
        motor->error_count++;
        printf("Error: Timeout waiting for motor response (ID 0x%03X)\r\n",
               static_cast<unsigned>(motor->id));
        return MF4010_ERR_NO_RESPONSE;
    }
    memcpy(motor->last_response, msg.data, sizeof(motor->last_response));
    motor->success_count++;
    return MF4010_OK;
}

void cmd_speed_control(uint8_t* buf, int32_t speed) {
    buf[0] = 0xA2;
    buf[1] = 0;
    buf[2] = 0;
    buf[3] = 0;
    buf[4] = static_cast<uint8_t>(speed);
    buf[5] = static_cast<uint8_t>(speed >> 8);
    buf[6] = static_cast<uint8_t>(speed >> 16);
    buf[7] = static_cast<uint8_t>(speed >> 24);
}

int mf4010v2_set_speed(mf4010v2_t* motor, int32_t speed_0_01dps) {
    if (motor == NULL) {
        return MF4010_ERR_INVALID_PARAM;
    }
    uint8_t command[8];
    cmd_speed_control(command, speed_0_01dps);
    return mf4010v2_send_command(motor, command);
}

void mf4010v2_run(mf4010v2_t* motor) {
    if (motor == NULL) {
        return;
    }
    (void)mf4010v2_send_command(motor, COMMAND_MOTOR_RUNNING);
    WRITE_FLAG(motor->flags, MF4010_FLAG_RUNNING);
}

void mf4010v2_close(mf4010v2_t* motor) {
    if (motor == NULL) {
        return;
    }
    const int result = mf4010v2_send_command(motor, COMMAND_MOTOR_CLOSE);
    if (result == MF4010_ERR_CAN_SEND || result == MF4010_ERR_CAN_RECV) {
        WRITE_FLAG(motor->flags, MF4010_FLAG_FAULT);
        return;
    }
    // A timed-out close compares against the previous reply, unchanged.
    if (memcmp(COMMAND_MOTOR_CLOSE, motor->last_response, sizeof(COMMAND_MOTOR_CLOSE)) == 0) {
        ERASE_FLAG(motor->flags, MF4010_FLAG_ENABLED);
    } else {
        WRITE_FLAG(motor->flags, MF4010_FLAG_FAULT);
    }
}

bool mf4010v2_is_fault(mf4010v2_t* motor) {
    return motor != NULL && (motor->flags & MF4010_FLAG_FAULT) != 0;
}

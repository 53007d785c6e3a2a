// IMU reader: reads roll, pitch, yaw and temperature from the JY901P on the bit-banged
// bus, prints them and queues the angles for the control thread.
#include <cstdio>

#include "FreeRTOS.h"

#include "app.h"
#include "soft_i2c.h"
#include "wit_c_sdk.h"

#define USE_SOFT_IIC 1
#define USE_IIC 1

#define ACC_UPDATE 0x01
#define GYRO_UPDATE 0x02
#define ANGLE_UPDATE 0x04
#define MAG_UPDATE 0x08
#define READ_UPDATE 0x80

int32_t IICreadBytes(uint8_t ucAddr, uint8_t ucReg, uint8_t* p_ucVal, uint32_t uiLen);
int32_t IICwriteBytes(uint8_t ucAddr, uint8_t ucReg, uint8_t* p_ucVal, uint32_t uiLen);
void CopeSensorData(uint32_t uiReg, uint32_t uiRegNum);
void Delayms(uint16_t ucMs);
void print_float(const char* str, float v1, float v2, float v3);

namespace {
soft_i2c_t si2c;
volatile char s_cDataUpdate = 0;

// 180/32768: a register step in degrees, exact in single precision.
constexpr float kAngleScale = 0.0054931640625f;

void set_update(int flag) {
    s_cDataUpdate = static_cast<char>(s_cDataUpdate | flag);
}

void clear_update(int flag) {
    s_cDataUpdate = static_cast<char>(s_cDataUpdate & ~flag);
}

char sign_of(float v) {
    return v > 0.0f ? '+' : '-';
}

int32_t thousandths(float v) {
    const float magnitude = v > 0.0f ? v : -v;
    return static_cast<int32_t>(magnitude * 1000.0f);
}
}  // namespace

int32_t IICreadBytes(uint8_t ucAddr, uint8_t ucReg, uint8_t* p_ucVal, uint32_t uiLen) {
    soft_i2c_start_frame(&si2c);
    soft_i2c_send_frame(&si2c, ucAddr);
    if (soft_i2c_wait_ack_frame(&si2c) != 0) {
        return 0;
    }
    soft_i2c_send_frame(&si2c, ucReg);
    if (soft_i2c_wait_ack_frame(&si2c) != 0) {
        return 0;
    }
    soft_i2c_start_frame(&si2c);
    soft_i2c_send_frame(&si2c, static_cast<uint8_t>(ucAddr + 1U));
    if (soft_i2c_wait_ack_frame(&si2c) != 0) {
        return 0;
    }
    for (uint32_t i = 0; i < uiLen; i++) {
        const int ack = (i + 1U == uiLen) ? 0 : 1;
        p_ucVal[i] = static_cast<uint8_t>(soft_i2c_read_frame(&si2c, ack));
    }
    soft_i2c_stop_frame(&si2c);
    return 1;
}

int32_t IICwriteBytes(uint8_t ucAddr, uint8_t ucReg, uint8_t* p_ucVal, uint32_t uiLen) {
    soft_i2c_start_frame(&si2c);
    soft_i2c_send_frame(&si2c, ucAddr);
    if (soft_i2c_wait_ack_frame(&si2c) != 0) {
        return 0;
    }
    soft_i2c_send_frame(&si2c, ucReg);
    if (soft_i2c_wait_ack_frame(&si2c) != 0) {
        return 0;
    }
    for (uint32_t i = 0; i < uiLen; i++) {
        soft_i2c_send_frame(&si2c, p_ucVal[i]);
        if (soft_i2c_wait_ack_frame(&si2c) != 0) {
            return 0;
        }
    }
    soft_i2c_stop_frame(&si2c);
    return 1;
}

void CopeSensorData(uint32_t uiReg, uint32_t uiRegNum) {
    for (uint32_t i = 0; i < uiRegNum; i++) {
        set_update(uiReg + i == Yaw ? ANGLE_UPDATE : READ_UPDATE);
    }
}

void Delayms(uint16_t ucMs) {
    osDelay(static_cast<uint32_t>(ucMs) * configTICK_RATE_HZ / 1000U);
}

void print_float(const char* str, float v1, float v2, float v3) {
    const char v1_sign = sign_of(v1);
    const char v2_sign = sign_of(v2);
    const char v3_sign = sign_of(v3);
    const int32_t n1 = thousandths(v1);
    const int32_t n2 = thousandths(v2);
    const int32_t n3 = thousandths(v3);
    const int i1_x = static_cast<int>(n1 / 1000), i1_y = static_cast<int>(n1 % 1000);
    const int i2_x = static_cast<int>(n2 / 1000), i2_y = static_cast<int>(n2 % 1000);
    const int i3_x = static_cast<int>(n3 / 1000), i3_y = static_cast<int>(n3 % 1000);
    printf("[sensor_task] %s: %c%3d.%03d, %c%3d.%03d, %c%3d.%03d\n", str, v1_sign, i1_x, i1_y,
           v2_sign, i2_x, i2_y, v3_sign, i3_x, i3_y);
}

void sensor_task(void) {
    const int ret = soft_i2c_init(&si2c, 0);
    printf("[sensor_task] i2c init = %d\r\n", ret);
    WitInit(WIT_PROTOCOL_I2C, 0x50);
    WitI2cFuncRegister(IICwriteBytes, IICreadBytes);
    WitRegisterCallBack(CopeSensorData);
    WitDelayMsRegister(Delayms);

    // acc and gyro are never filled; zeroed so the queue never carries stale stack bytes.
    imu_data_t imu = {};
    for (;;) {
        WitReadReg(Roll, 4);
        Delayms(500);
        if (s_cDataUpdate == 0) {
            continue;  // the read failed: no callback came
        }
        for (uint32_t i = 0; i < 3U; i++) {
            imu.angle[i] = static_cast<float>(sReg[Roll + i]) * kAngleScale;
        }
        // int, not int16_t: -32768 must negate to 32768 below.
        int temp = sReg[TEMP];
        if (s_cDataUpdate & ANGLE_UPDATE) {
            printf("[sensor_task] raw data: 0x%04X, 0x%04X, 0x%04X\n",
                   static_cast<unsigned>(static_cast<uint16_t>(sReg[Roll])),
                   static_cast<unsigned>(static_cast<uint16_t>(sReg[Pitch])),
                   static_cast<unsigned>(static_cast<uint16_t>(sReg[Yaw])));
            print_float("angle", imu.angle[0], imu.angle[1], imu.angle[2]);
            clear_update(ANGLE_UPDATE);
        }
        if (s_cDataUpdate & READ_UPDATE) {
            const char sign = temp > 0 ? '+' : '-';
            if (temp < 0) {
                temp = -temp;
            }
            printf("[sensor_task] temp data: %c%3d.%02d\n", sign, temp / 100, temp % 100);
            clear_update(READ_UPDATE);
        }
        if (g_imu_queue != NULL) {
            osMessageQueuePut(g_imu_queue, &imu, 0, 20);
        }
    }
}

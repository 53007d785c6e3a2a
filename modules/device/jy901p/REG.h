// Register map of the JY901 IMU: register numbers, one 16-bit value each, and the value
// codes the sensor's registers take.
#pragma once

#include <cstdint>

// clang-format off
inline constexpr uint32_t REGSIZE = 0x90;

inline constexpr uint32_t SAVE = 0x00;
inline constexpr uint32_t CALSW = 0x01;
inline constexpr uint32_t RSW = 0x02;
inline constexpr uint32_t RRATE = 0x03;
inline constexpr uint32_t BAUD = 0x04;
inline constexpr uint32_t AXOFFSET = 0x05;
inline constexpr uint32_t AYOFFSET = 0x06;
inline constexpr uint32_t AZOFFSET = 0x07;
inline constexpr uint32_t GXOFFSET = 0x08;
inline constexpr uint32_t GYOFFSET = 0x09;
inline constexpr uint32_t GZOFFSET = 0x0a;
inline constexpr uint32_t HXOFFSET = 0x0b;
inline constexpr uint32_t HYOFFSET = 0x0c;
inline constexpr uint32_t HZOFFSET = 0x0d;
inline constexpr uint32_t D0MODE = 0x0e;
inline constexpr uint32_t D1MODE = 0x0f;
inline constexpr uint32_t D2MODE = 0x10;
inline constexpr uint32_t D3MODE = 0x11;
inline constexpr uint32_t D0PWMH = 0x12;
inline constexpr uint32_t D1PWMH = 0x13;
inline constexpr uint32_t D2PWMH = 0x14;
inline constexpr uint32_t D3PWMH = 0x15;
inline constexpr uint32_t D0PWMT = 0x16;
inline constexpr uint32_t D1PWMT = 0x17;
inline constexpr uint32_t D2PWMT = 0x18;
inline constexpr uint32_t D3PWMT = 0x19;
inline constexpr uint32_t IICADDR = 0x1a;
inline constexpr uint32_t LEDOFF = 0x1b;
inline constexpr uint32_t MAGRANGX = 0x1c;
inline constexpr uint32_t MAGRANGY = 0x1d;
inline constexpr uint32_t MAGRANGZ = 0x1e;
inline constexpr uint32_t BANDWIDTH = 0x1f;
inline constexpr uint32_t GYRORANGE = 0x20;
inline constexpr uint32_t ACCRANGE = 0x21;
inline constexpr uint32_t SLEEP = 0x22;
inline constexpr uint32_t ORIENT = 0x23;
inline constexpr uint32_t AXIS6 = 0x24;
inline constexpr uint32_t FILTK = 0x25;
inline constexpr uint32_t GPSBAUD = 0x26;
inline constexpr uint32_t READADDR = 0x27;
inline constexpr uint32_t BWSCALE = 0x28;
inline constexpr uint32_t MOVETHR = 0x28;
inline constexpr uint32_t MOVESTA = 0x29;
inline constexpr uint32_t ACCFILT = 0x2a;
inline constexpr uint32_t GYROFILT = 0x2b;
inline constexpr uint32_t MAGFILT = 0x2c;
inline constexpr uint32_t POWONSEND = 0x2d;
inline constexpr uint32_t VERSION = 0x2e;
inline constexpr uint32_t CCBW = 0x2f;
inline constexpr uint32_t YYMM = 0x30;
inline constexpr uint32_t DDHH = 0x31;
inline constexpr uint32_t MMSS = 0x32;
inline constexpr uint32_t MS = 0x33;
inline constexpr uint32_t AX = 0x34;
inline constexpr uint32_t AY = 0x35;
inline constexpr uint32_t AZ = 0x36;
inline constexpr uint32_t GX = 0x37;
inline constexpr uint32_t GY = 0x38;
inline constexpr uint32_t GZ = 0x39;
inline constexpr uint32_t HX = 0x3a;
inline constexpr uint32_t HY = 0x3b;
inline constexpr uint32_t HZ = 0x3c;
inline constexpr uint32_t Roll = 0x3d;
inline constexpr uint32_t Pitch = 0x3e;
inline constexpr uint32_t Yaw = 0x3f;
inline constexpr uint32_t TEMP = 0x40;
inline constexpr uint32_t D0Status = 0x41;
inline constexpr uint32_t D1Status = 0x42;
inline constexpr uint32_t D2Status = 0x43;
inline constexpr uint32_t D3Status = 0x44;
inline constexpr uint32_t PressureL = 0x45;
inline constexpr uint32_t PressureH = 0x46;
inline constexpr uint32_t HeightL = 0x47;
inline constexpr uint32_t HeightH = 0x48;
inline constexpr uint32_t LonL = 0x49;
inline constexpr uint32_t LonH = 0x4a;
inline constexpr uint32_t LatL = 0x4b;
inline constexpr uint32_t LatH = 0x4c;
inline constexpr uint32_t GPSHeight = 0x4d;
inline constexpr uint32_t GPSYAW = 0x4e;
inline constexpr uint32_t GPSVL = 0x4f;
inline constexpr uint32_t GPSVH = 0x50;
inline constexpr uint32_t q0 = 0x51;
inline constexpr uint32_t q1 = 0x52;
inline constexpr uint32_t q2 = 0x53;
inline constexpr uint32_t q3 = 0x54;
inline constexpr uint32_t SVNUM = 0x55;
inline constexpr uint32_t PDOP = 0x56;
inline constexpr uint32_t HDOP = 0x57;
inline constexpr uint32_t VDOP = 0x58;
inline constexpr uint32_t DELAYT = 0x59;
inline constexpr uint32_t XMIN = 0x5a;
inline constexpr uint32_t XMAX = 0x5b;
inline constexpr uint32_t BATVAL = 0x5c;
inline constexpr uint32_t ALARMPIN = 0x5d;
inline constexpr uint32_t YMIN = 0x5e;
inline constexpr uint32_t YMAX = 0x5f;
inline constexpr uint32_t GYROZSCALE = 0x60;
inline constexpr uint32_t GYROCALITHR = 0x61;
inline constexpr uint32_t ALARMLEVEL = 0x62;
inline constexpr uint32_t GYROCALTIME = 0x63;
inline constexpr uint32_t REFROLL = 0x64;
inline constexpr uint32_t REFPITCH = 0x65;
inline constexpr uint32_t REFYAW = 0x66;
inline constexpr uint32_t GPSTYPE = 0x67;
inline constexpr uint32_t TRIGTIME = 0x68;
inline constexpr uint32_t KEY = 0x69;
inline constexpr uint32_t WERROR = 0x6a;
inline constexpr uint32_t TIMEZONE = 0x6b;
inline constexpr uint32_t CALICNT = 0x6c;
inline constexpr uint32_t WZCNT = 0x6d;
inline constexpr uint32_t WZTIME = 0x6e;
inline constexpr uint32_t WZSTATIC = 0x6f;
inline constexpr uint32_t ACCSENSOR = 0x70;
inline constexpr uint32_t GYROSENSOR = 0x71;
inline constexpr uint32_t MAGSENSOR = 0x72;
inline constexpr uint32_t PRESSENSOR = 0x73;
inline constexpr uint32_t MODDELAY = 0x74;
inline constexpr uint32_t ANGLEAXIS = 0x75;
inline constexpr uint32_t XRSCALE = 0x76;
inline constexpr uint32_t YRSCALE = 0x77;
inline constexpr uint32_t ZRSCALE = 0x78;
inline constexpr uint32_t XREFROLL = 0x79;
inline constexpr uint32_t YREFPITCH = 0x7a;
inline constexpr uint32_t ZREFYAW = 0x7b;
inline constexpr uint32_t ANGXOFFSET = 0x7c;
inline constexpr uint32_t ANGYOFFSET = 0x7d;
inline constexpr uint32_t ANGZOFFSET = 0x7e;
inline constexpr uint32_t NUMBERID1 = 0x7f;
inline constexpr uint32_t NUMBERID2 = 0x80;
inline constexpr uint32_t NUMBERID3 = 0x81;
inline constexpr uint32_t NUMBERID4 = 0x82;
inline constexpr uint32_t NUMBERID5 = 0x83;
inline constexpr uint32_t NUMBERID6 = 0x84;
inline constexpr uint32_t XA85PSCALE = 0x85;
inline constexpr uint32_t XA85NSCALE = 0x86;
inline constexpr uint32_t YA85PSCALE = 0x87;
inline constexpr uint32_t YA85NSCALE = 0x88;
inline constexpr uint32_t XA30PSCALE = 0x89;
inline constexpr uint32_t XA30NSCALE = 0x8a;
inline constexpr uint32_t YA30PSCALE = 0x8b;
inline constexpr uint32_t YA30NSCALE = 0x8c;
inline constexpr uint32_t CHIPIDL = 0x8d;
inline constexpr uint32_t CHIPIDH = 0x8e;
inline constexpr uint32_t REGINITFLAG = REGSIZE - 1;

// Algorithm
inline constexpr uint32_t ALGRITHM9 = 0;
inline constexpr uint32_t ALGRITHM6 = 1;

// Calibration (CALSW)
inline constexpr uint32_t NORMAL        = 0x00;
inline constexpr uint32_t CALGYROACC    = 0x01;
inline constexpr uint32_t CALMAG        = 0x02;
inline constexpr uint32_t CALALTITUDE   = 0x03;
inline constexpr uint32_t CALANGLEZ     = 0x04;
inline constexpr uint32_t CALACCL       = 0x05;
inline constexpr uint32_t CALACCR       = 0x06;
inline constexpr uint32_t CALMAGMM      = 0x07;
inline constexpr uint32_t CALREFANGLE   = 0x08;
inline constexpr uint32_t CALMAG2STEP   = 0x09;
inline constexpr uint32_t CALHEXAHEDRON = 0x12;

// Data kinds of the sensor's serial packets
inline constexpr uint32_t WIT_TIME     = 0x50;
inline constexpr uint32_t WIT_ACC      = 0x51;
inline constexpr uint32_t WIT_GYRO     = 0x52;
inline constexpr uint32_t WIT_ANGLE    = 0x53;
inline constexpr uint32_t WIT_MAGNETIC = 0x54;
inline constexpr uint32_t WIT_DPORT    = 0x55;
inline constexpr uint32_t WIT_PRESS    = 0x56;
inline constexpr uint32_t WIT_GPS      = 0x57;
inline constexpr uint32_t WIT_VELOCITY = 0x58;
inline constexpr uint32_t WIT_QUATER   = 0x59;
inline constexpr uint32_t WIT_GSA      = 0x5A;
inline constexpr uint32_t WIT_REGVALUE = 0x5F;

// RSW bits: which packets the sensor sends
inline constexpr uint32_t RSW_TIME  = 0x01;
inline constexpr uint32_t RSW_ACC   = 0x02;
inline constexpr uint32_t RSW_GYRO  = 0x04;
inline constexpr uint32_t RSW_ANGLE = 0x08;
inline constexpr uint32_t RSW_MAG   = 0x10;
inline constexpr uint32_t RSW_PORT  = 0x20;
inline constexpr uint32_t RSW_PRESS = 0x40;
inline constexpr uint32_t RSW_GPS   = 0x80;
inline constexpr uint32_t RSW_V     = 0x100;
inline constexpr uint32_t RSW_Q     = 0x200;
inline constexpr uint32_t RSW_GSA   = 0x400;
inline constexpr uint32_t RSW_MASK  = 0xfff;

// RRATE: output rate
inline constexpr uint32_t RRATE_02HZ  = 0x01;
inline constexpr uint32_t RRATE_05HZ  = 0x02;
inline constexpr uint32_t RRATE_1HZ   = 0x03;
inline constexpr uint32_t RRATE_2HZ   = 0x04;
inline constexpr uint32_t RRATE_5HZ   = 0x05;
inline constexpr uint32_t RRATE_10HZ  = 0x06;
inline constexpr uint32_t RRATE_20HZ  = 0x07;
inline constexpr uint32_t RRATE_50HZ  = 0x08;
inline constexpr uint32_t RRATE_100HZ = 0x09;
inline constexpr uint32_t RRATE_125HZ = 0x0a;
inline constexpr uint32_t RRATE_200HZ = 0x0b;
inline constexpr uint32_t RRATE_ONCE  = 0x0c;
inline constexpr uint32_t RRATE_NONE  = 0x0d;

// BAUD: serial rate
inline constexpr uint32_t WIT_BAUD_4800   = 1;
inline constexpr uint32_t WIT_BAUD_9600   = 2;
inline constexpr uint32_t WIT_BAUD_19200  = 3;
inline constexpr uint32_t WIT_BAUD_38400  = 4;
inline constexpr uint32_t WIT_BAUD_57600  = 5;
inline constexpr uint32_t WIT_BAUD_115200 = 6;
inline constexpr uint32_t WIT_BAUD_230400 = 7;
inline constexpr uint32_t WIT_BAUD_460800 = 8;
inline constexpr uint32_t WIT_BAUD_921600 = 9;

// CAN bit rate of the sensor's CAN variant
inline constexpr uint32_t CAN_BAUD_1000000 = 0;
inline constexpr uint32_t CAN_BAUD_800000  = 1;
inline constexpr uint32_t CAN_BAUD_500000  = 2;
inline constexpr uint32_t CAN_BAUD_400000  = 3;
inline constexpr uint32_t CAN_BAUD_250000  = 4;
inline constexpr uint32_t CAN_BAUD_200000  = 5;
inline constexpr uint32_t CAN_BAUD_125000  = 6;
inline constexpr uint32_t CAN_BAUD_100000  = 7;
inline constexpr uint32_t CAN_BAUD_80000   = 8;
inline constexpr uint32_t CAN_BAUD_50000   = 9;
inline constexpr uint32_t CAN_BAUD_40000   = 10;
inline constexpr uint32_t CAN_BAUD_20000   = 11;
inline constexpr uint32_t CAN_BAUD_10000   = 12;
inline constexpr uint32_t CAN_BAUD_5000    = 13;
inline constexpr uint32_t CAN_BAUD_3000    = 14;

// SAVE
inline constexpr uint32_t SAVE_PARAM = 0x00;
inline constexpr uint32_t SAVE_SWRST = 0xFF;

// ORIENT: mounting
inline constexpr uint32_t ORIENT_HERIZONE = 0;
inline constexpr uint32_t ORIENT_VERTICLE = 1;

// BANDWIDTH
inline constexpr uint32_t BANDWIDTH_256HZ = 0;
inline constexpr uint32_t BANDWIDTH_184HZ = 1;
inline constexpr uint32_t BANDWIDTH_94HZ  = 2;
inline constexpr uint32_t BANDWIDTH_44HZ  = 3;
inline constexpr uint32_t BANDWIDTH_21HZ  = 4;
inline constexpr uint32_t BANDWIDTH_10HZ  = 5;
inline constexpr uint32_t BANDWIDTH_5HZ   = 6;

// Written to KEY to unlock the configuration registers
inline constexpr uint16_t KEY_UNLOCK = 0xB588;
// clang-format on

static_assert(Roll == 0x3d && Pitch == 0x3e && Yaw == 0x3f && TEMP == 0x40);
static_assert(MOVESTA == 0x29 && REGINITFLAG == 0x8f);

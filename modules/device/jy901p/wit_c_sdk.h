// Register access library of the JY901 IMU: a mirror of the sensor's registers, filled
// through transfer functions that the application registers.
#pragma once

#include <cstdint>

#include "REG.h"

inline constexpr int32_t WIT_HAL_OK = 0;
inline constexpr int32_t WIT_HAL_BUSY = -1;
inline constexpr int32_t WIT_HAL_TIMEOUT = -2;
inline constexpr int32_t WIT_HAL_ERROR = -3;
inline constexpr int32_t WIT_HAL_NOMEM = -4;  ///< the read needs more than the receive buffer
inline constexpr int32_t WIT_HAL_EMPTY = -5;  ///< a function the operation needs is not registered
inline constexpr int32_t WIT_HAL_INVAL = -6;  ///< an argument out of range or null

inline constexpr uint32_t WIT_PROTOCOL_NORMAL = 0;
inline constexpr uint32_t WIT_PROTOCOL_MODBUS = 1;
inline constexpr uint32_t WIT_PROTOCOL_CAN = 2;
inline constexpr uint32_t WIT_PROTOCOL_I2C = 3;

inline constexpr uint32_t WIT_DATA_BUFF_SIZE = 256;

/// Writes `uiLen` bytes to register `ucReg` of the device at 8-bit address `ucAddr`.
typedef int32_t (*WitI2cWrite)(uint8_t ucAddr, uint8_t ucReg, uint8_t* p_ucVal, uint32_t uiLen);
/// Reads `uiLen` bytes from register `ucReg` on into `p_ucVal`; 1 on success, anything
/// else is a failure.
typedef int32_t (*WitI2cRead)(uint8_t ucAddr, uint8_t ucReg, uint8_t* p_ucVal, uint32_t uiLen);
/// Told that `uiRegNum` registers from `uiReg` on were refreshed in `sReg`.
typedef void (*RegUpdateCb)(uint32_t uiReg, uint32_t uiRegNum);
typedef void (*DelaymsCb)(uint16_t ucMs);

/// Mirror of the sensor's registers, indexed by register number; written only by `WitReadReg`.
extern int16_t sReg[REGSIZE];

/// Selects the protocol and the sensor's 7-bit address.
/// @return WIT_HAL_OK; WIT_HAL_INVAL (nothing changed) for a protocol above WIT_PROTOCOL_I2C.
int32_t WitInit(uint32_t uiProtocol, uint8_t ucAddr);
/// @return WIT_HAL_OK; WIT_HAL_INVAL (neither stored) if either pointer is null.
int32_t WitI2cFuncRegister(WitI2cWrite write_func, WitI2cRead read_func);
/// @return WIT_HAL_OK; WIT_HAL_INVAL for null.
int32_t WitRegisterCallBack(RegUpdateCb update_func);
/// @return WIT_HAL_OK; WIT_HAL_INVAL for null.
int32_t WitDelayMsRegister(DelaymsCb delayms_func);

/// Reads `uiReadNum` registers from `uiReg` on into `sReg`, then calls the update callback.
/// A failed transfer stores nothing, calls nothing and still gives WIT_HAL_OK.
/// @return WIT_HAL_OK; WIT_HAL_INVAL when the run would pass register 0x8E (or a count
///         out of range for the protocol); WIT_HAL_NOMEM for more than 128 registers over
///         I2C; WIT_HAL_EMPTY when the read function, the callback or the protocol's
///         transport is missing.
int32_t WitReadReg(uint32_t uiReg, uint32_t uiReadNum);

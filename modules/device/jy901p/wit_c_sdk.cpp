// JY901 register access library. Only the I2C transport can be registered on this board;
// the other protocol numbers end in an error code.
#include "wit_c_sdk.h"

#include <cstddef>

int16_t sReg[REGSIZE];

namespace {
uint32_t s_uiProtoclo = WIT_PROTOCOL_NORMAL;
uint8_t s_ucAddr = 0;
uint8_t s_ucWitDataBuff[WIT_DATA_BUFF_SIZE];
WitI2cWrite p_WitI2cWriteFunc = nullptr;
WitI2cRead p_WitI2cReadFunc = nullptr;
RegUpdateCb p_WitRegUpdateCbFunc = nullptr;
DelaymsCb p_WitDelaymsFunc = nullptr;

int32_t WitI2cReadRegs(uint32_t uiReg, uint32_t uiReadNum) {
    if (p_WitI2cReadFunc == nullptr) {
        return WIT_HAL_EMPTY;
    }
    const uint32_t uiLen = 2U * uiReadNum;
    if (uiLen > WIT_DATA_BUFF_SIZE) {
        return WIT_HAL_NOMEM;
    }
    const uint8_t ucDev = static_cast<uint8_t>(s_ucAddr << 1);
    if (p_WitI2cReadFunc(ucDev, static_cast<uint8_t>(uiReg), s_ucWitDataBuff, uiLen) != 1) {
        return WIT_HAL_OK;  // fresh data is announced only through the callback
    }
    if (p_WitRegUpdateCbFunc == nullptr) {
        return WIT_HAL_EMPTY;
    }
    for (uint32_t i = 0; i < uiReadNum; i++) {
        const uint32_t usLow = s_ucWitDataBuff[2U * i];
        const uint32_t usHigh = s_ucWitDataBuff[2U * i + 1U];
        sReg[uiReg + i] = static_cast<int16_t>(static_cast<uint16_t>((usHigh << 8) | usLow));
    }
    p_WitRegUpdateCbFunc(uiReg, uiReadNum);
    return WIT_HAL_OK;
}
}  // namespace

int32_t WitInit(uint32_t uiProtocol, uint8_t ucAddr) {
    if (uiProtocol > WIT_PROTOCOL_I2C) {
        return WIT_HAL_INVAL;
    }
    s_uiProtoclo = uiProtocol;
    s_ucAddr = ucAddr;
    return WIT_HAL_OK;
}

int32_t WitI2cFuncRegister(WitI2cWrite write_func, WitI2cRead read_func) {
    if (write_func == nullptr || read_func == nullptr) {
        return WIT_HAL_INVAL;
    }
    p_WitI2cWriteFunc = write_func;
    p_WitI2cReadFunc = read_func;
    return WIT_HAL_OK;
}

int32_t WitRegisterCallBack(RegUpdateCb update_func) {
    if (update_func == nullptr) {
        return WIT_HAL_INVAL;
    }
    p_WitRegUpdateCbFunc = update_func;
    return WIT_HAL_OK;
}

int32_t WitDelayMsRegister(DelaymsCb delayms_func) {
    if (delayms_func == nullptr) {
        return WIT_HAL_INVAL;
    }
    p_WitDelaymsFunc = delayms_func;
    return WIT_HAL_OK;
}

int32_t WitReadReg(uint32_t uiReg, uint32_t uiReadNum) {
    // Each term is tested on its own too, so that a sum wrapping past 2^32 cannot pass.
    if (uiReg >= REGSIZE || uiReadNum >= REGSIZE || uiReg + uiReadNum >= REGSIZE) {
        return WIT_HAL_INVAL;
    }
    switch (s_uiProtoclo) {
        case WIT_PROTOCOL_I2C:
            return WitI2cReadRegs(uiReg, uiReadNum);
        case WIT_PROTOCOL_NORMAL:
            return uiReadNum > 4U ? WIT_HAL_INVAL : WIT_HAL_EMPTY;
        case WIT_PROTOCOL_CAN:
            return uiReadNum > 3U ? WIT_HAL_INVAL : WIT_HAL_EMPTY;
        case WIT_PROTOCOL_MODBUS:
        default:
            return WIT_HAL_EMPTY;  // no serial or CAN transport on this board
    }
}

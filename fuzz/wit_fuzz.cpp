// WitReadReg with arbitrary arguments, configuration and transfer results,
// against the register library's documented outcome: the result code, which
// registers of the mirror change and to what, and when the read function
// and the update callback are called and with what.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/support/console.hpp"
#include "fuzz/support/input.hpp"
#include "wit_c_sdk.h"

namespace {

fuzz::Input* g_in = nullptr;

struct Calls {
    int reads = 0;
    uint8_t dev = 0, reg = 0;
    uint32_t len = 0;
    int32_t result = 0;
    std::array<uint8_t, WIT_DATA_BUFF_SIZE> bytes{};
    int updates = 0;
    uint32_t update_reg = 0, update_num = 0;
};
Calls g_calls;

int32_t read_func(uint8_t ucAddr, uint8_t ucReg, uint8_t* p_ucVal, uint32_t uiLen) {
    g_calls.reads++;
    g_calls.dev = ucAddr;
    g_calls.reg = ucReg;
    g_calls.len = uiLen;
    for (uint32_t i = 0; i < uiLen; i++) {
        p_ucVal[i] = g_in->byte();  // the whole length must be writable
        if (i < g_calls.bytes.size()) {
            g_calls.bytes[i] = p_ucVal[i];
        }
    }
    static const int32_t kResults[] = {1, 0, 2, -1, 1, 1, 0x101, INT32_MIN};
    g_calls.result = kResults[g_in->byte() % 8];
    return g_calls.result;
}
int32_t write_func(uint8_t, uint8_t, uint8_t*, uint32_t) {
    fuzz::fail("the write function was called");
}
void update_cb(uint32_t uiReg, uint32_t uiRegNum) {
    g_calls.updates++;
    g_calls.update_reg = uiReg;
    g_calls.update_num = uiRegNum;
}
void delay_cb(uint16_t) {
    fuzz::fail("the delay function was called");
}

uint32_t pick(fuzz::Input& in) {
    static const uint32_t kEdges[] = {0,    1,    3,    4,          5,          0x3d,
                                      0x8c, 0x8d, 0x8e, 0x8f,       0x90,       128,
                                      129,  143,  144,  0xFFFFFFFF, 0xFFFFFF71, 0x80000000};
    const uint8_t b = in.byte();
    return b < 0x80 ? b : b < 0xC0 ? kEdges[b % std::size(kEdges)] : in.u32();
}

void expect(bool ok, const std::string& what) {
    if (!ok) {
        fuzz::fail(what);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    g_in = &in;
    // The library's state lives for the process, as on the chip; the oracle
    // follows it from what this input does.
    static uint32_t protocol = WIT_PROTOCOL_NORMAL;
    static uint8_t address = 0;
    static bool have_read = false, have_cb = false;
    for (int ops = 0; ops < 16 && !in.empty(); ops++) {
        switch (in.byte() % 5) {
            case 0: {
                const uint32_t proto = in.byte() < 0xF0 ? in.byte() % 6 : in.u32();
                const uint8_t addr = in.byte();
                const int32_t r = WitInit(proto, addr);
                if (proto > WIT_PROTOCOL_I2C) {
                    expect(r == WIT_HAL_INVAL, "WitInit refused");
                } else {
                    expect(r == WIT_HAL_OK, "WitInit");
                    protocol = proto;
                    address = addr;
                }
                break;
            }
            case 1: {
                const uint8_t b = in.byte();
                const int32_t r = WitI2cFuncRegister((b & 1) ? write_func : nullptr,
                                                     (b & 2) ? read_func : nullptr);
                expect(r == ((b & 3) == 3 ? WIT_HAL_OK : WIT_HAL_INVAL), "WitI2cFuncRegister");
                have_read = have_read || (b & 3) == 3;
                break;
            }
            case 2: {
                const bool null = (in.byte() & 1) != 0;
                expect(WitRegisterCallBack(null ? nullptr : update_cb) ==
                           (null ? WIT_HAL_INVAL : WIT_HAL_OK),
                       "WitRegisterCallBack");
                have_cb = have_cb || !null;
                break;
            }
            case 3: {
                const bool null = (in.byte() & 1) != 0;
                expect(WitDelayMsRegister(null ? nullptr : delay_cb) ==
                           (null ? WIT_HAL_INVAL : WIT_HAL_OK),
                       "WitDelayMsRegister");
                break;
            }
            default: {
                const uint32_t reg = pick(in), num = pick(in);
                std::array<int16_t, REGSIZE> mirror;
                std::memcpy(mirror.data(), sReg, sizeof sReg);
                g_calls = Calls{};
                const int32_t r = WitReadReg(reg, num);
                const std::string w = "WitReadReg(" + std::to_string(reg) + ", " +
                                      std::to_string(num) + ") protocol " +
                                      std::to_string(protocol) + " gave " + std::to_string(r);
                // Out of range, with the sum taken without wrapping.
                const bool in_range = static_cast<uint64_t>(reg) + num < REGSIZE;
                int32_t want = WIT_HAL_OK;
                bool transfer = false, stored = false;
                if (!in_range) {
                    want = WIT_HAL_INVAL;
                } else if (protocol == WIT_PROTOCOL_I2C) {
                    if (!have_read) {
                        want = WIT_HAL_EMPTY;
                    } else if (2 * num > WIT_DATA_BUFF_SIZE) {
                        want = WIT_HAL_NOMEM;
                    } else {
                        transfer = true;
                    }
                } else if (protocol == WIT_PROTOCOL_NORMAL) {
                    want = num > 4 ? WIT_HAL_INVAL : WIT_HAL_EMPTY;
                } else if (protocol == WIT_PROTOCOL_CAN) {
                    want = num > 3 ? WIT_HAL_INVAL : WIT_HAL_EMPTY;
                } else {
                    want = WIT_HAL_EMPTY;
                }
                expect(g_calls.reads == (transfer ? 1 : 0), w + ": read calls");
                if (transfer) {
                    expect(g_calls.dev == static_cast<uint8_t>(address << 1) &&
                               g_calls.reg == static_cast<uint8_t>(reg) && g_calls.len == 2 * num,
                           w + ": read arguments");
                    if (g_calls.result == 1) {
                        want = have_cb ? WIT_HAL_OK : WIT_HAL_EMPTY;
                        stored = have_cb;
                    }
                }
                expect(r == want, w + ", expected " + std::to_string(want));
                expect(g_calls.updates == (stored ? 1 : 0), w + ": callbacks");
                if (stored) {
                    expect(g_calls.update_reg == reg && g_calls.update_num == num,
                           w + ": callback arguments");
                    for (uint32_t i = 0; i < num; i++) {
                        mirror[reg + i] = static_cast<int16_t>(g_calls.bytes[2 * i] |
                                                               (g_calls.bytes[2 * i + 1] << 8));
                    }
                }
                expect(std::memcmp(mirror.data(), sReg, sizeof sReg) == 0, w + ": mirror");
                break;
            }
        }
    }
    return 0;
}

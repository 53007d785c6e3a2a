#include "sim/arm/bridges.hpp"

#include <map>

namespace sim::arm {

namespace {

constexpr uint32_t kHalOk = 0;
constexpr uint32_t kOsOk = 0;
constexpr uint32_t kTickIntPriority = 15;  // Core/Inc/stm32f4xx_hal_conf.h
constexpr uint32_t kUsart1 = 0x40011000;   // RM0090, "Memory map"

struct Bridge {
    uint32_t number;
    const char* name;
};
#define GIMBAL_BRIDGE(number, name) {number, #name},
#define GIMBAL_BRIDGE_DATA(type, name, reset)
#define GIMBAL_BRIDGE_CALLBACK(bridge, name)
constexpr Bridge kBridges[] = {
#include "bridges.def"
};
#undef GIMBAL_BRIDGE
#undef GIMBAL_BRIDGE_DATA
#undef GIMBAL_BRIDGE_CALLBACK

/// A firmware callback of the HAL's, if the image keeps one of that name.
std::vector<GuestCall> callback(const Machine& m, const char* name, std::vector<uint32_t> args) {
    const auto it = m.image().symbols.find(name);
    if (it == m.image().symbols.end()) {
        return {};
    }
    return {{it->second, std::move(args)}};
}

Service done(uint32_t result) {
    return {{}, [result](uint32_t) { return result; }};
}

}  // namespace

void serve_boot(Machine& machine, BootBoard& board) {
    for (const Bridge& b : kBridges) {
        const std::string name = b.name;
        machine.serve(b.number, name, [name](Machine& m) {
            m.stop(name + ": not served on the ARM image yet", true);
            return Service{};
        });
    }
    std::map<std::string, Machine::Handler> served;
    // As the HAL's start-up (UM1725, HAL_Init): the time base at the lowest
    // priority, then the firmware's own low-level set-up.
    served["HAL_Init"] = [](Machine& m) {
        Service s;
        s.calls = callback(m, "HAL_InitTick", {kTickIntPriority});
        for (GuestCall& c : callback(m, "HAL_MspInit", {})) {
            s.calls.push_back(c);
        }
        return s;
    };
    served["HAL_GetTick"] = [&board](Machine&) { return done(board.tick); };
    served["HAL_IncTick"] = [&board](Machine&) {
        ++board.tick;
        return done(0);
    };
    // Accepted until the NVIC, the RCC and the GPIO ports are the board's
    // models: the records are read by the models, not here.
    for (const char* name : {"HAL_NVIC_SetPriority", "HAL_NVIC_EnableIRQ", "HAL_RCC_OscConfig",
                             "HAL_GPIO_Init", "HAL_GPIO_WritePin", "HAL_TIM_Base_Start_IT",
                             "HAL_CAN_ConfigFilter", "HAL_CAN_Start", "osKernelInitialize"}) {
        served[name] = [](Machine&) { return done(kHalOk); };
    }
    // The pins read high: the bit-banged bus's pull-ups hold both lines high
    // from power-on (docs/design.md, "Bus electrical timing") until the wire
    // models are wired to the image.
    served["HAL_GPIO_ReadPin"] = [](Machine&) { return done(1); };
    // The HAL starts the time base again at the new clock (UM1725,
    // HAL_RCC_ClockConfig), at the priority it holds.
    served["HAL_RCC_ClockConfig"] = [](Machine& m) {
        Service s;
        s.calls = callback(m, "HAL_InitTick", {m.read32(m.image().symbol("uwTickPrio"))});
        s.result = [](uint32_t status) { return status; };
        return s;
    };
    // The core clock the firmware believes, until the RCC model computes PCLK2.
    served["HAL_RCC_GetPCLK2Freq"] = [](Machine& m) {
        return done(m.read32(m.image().symbol("SystemCoreClock")));
    };
    // Each Init calls back its MSP set-up with the handle, as the HAL does
    // for a handle in its reset state (the firmware initialises each once).
    for (auto [bridge, msp] : {std::pair{"HAL_TIM_Base_Init", "HAL_TIM_Base_MspInit"},
                               std::pair{"HAL_UART_Init", "HAL_UART_MspInit"},
                               std::pair{"HAL_I2C_Init", "HAL_I2C_MspInit"},
                               std::pair{"HAL_CAN_Init", "HAL_CAN_MspInit"}}) {
        served[bridge] = [msp](Machine& m) { return Service{callback(m, msp, {m.arg(0)})}; };
    }
    served["HAL_UART_Transmit"] = [&board](Machine& m) {
        const uint32_t handle = m.arg(0);
        const uint32_t data = m.arg(1);
        const uint32_t size = m.arg(2) & 0xFFFFU;
        if (m.read32(handle) == kUsart1 && board.console) {
            for (uint32_t i = 0; i < size; ++i) {
                board.console(m.read8(data + i));
            }
        }
        return done(kHalOk);
    };
    // Thread and queue identifiers are nonzero handles; the threads run once
    // the kernel stand-in schedules guest contexts.
    served["osThreadNew"] = [&board](Machine& m) {
        const uint32_t attr = m.arg(2);
        std::string name;
        if (attr != 0) {
            for (uint32_t p = m.read32(attr); p != 0 && m.read8(p) != 0 && name.size() < 64; ++p) {
                name += static_cast<char>(m.read8(p));
            }
        }
        board.threads.push_back(name);
        return done(static_cast<uint32_t>(board.threads.size()));
    };
    served["osMessageQueueNew"] = [&board](Machine&) { return done(++board.queues); };
    served["osKernelStart"] = [](Machine& m) {
        m.stop("osKernelStart");
        return done(kOsOk);
    };
    for (const Bridge& b : kBridges) {
        const auto it = served.find(b.name);
        if (it != served.end()) {
            machine.serve(b.number, b.name, it->second);
        }
    }
}

}  // namespace sim::arm

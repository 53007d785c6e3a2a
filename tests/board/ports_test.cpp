// The LED, GPIO, hardware I2C and UART ports on the virtual board, after the
// firmware's own bring-up: what each operation returns, which HAL calls it
// makes with which arguments, and what reaches the pins and USART1.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "named_case.hpp"
#include "board_probe.hpp"
#include "gpio.h"
#include "gpio_if.h"
#include "hal_gpio.h"
#include "hal_i2c.h"
#include "hal_led.h"
#include "hal_uart.h"
#include "i2c.h"
#include "i2c_if.h"
#include "led_if.h"
#include "main.h"
#include "sim/platform.hpp"
#include "system_stm32f4xx.h"
#include "uart_if.h"
#include "usart.h"

namespace {

using board_test::json;

// HAL calls made while a case runs, one line each with the arguments that
// matter; the test binary routes the HAL through the wrappers below.
std::vector<std::string> g_calls;
bool g_recording = false;

void record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void record(const char* format, ...) {
    if (!g_recording) {
        return;
    }
    char line[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    g_calls.emplace_back(line);
}

char port_letter(const GPIO_TypeDef* port) {
    return static_cast<char>('A' + (reinterpret_cast<uintptr_t>(port) - GPIOA_BASE) / 0x400U);
}

const char* uart_name(const UART_HandleTypeDef* huart) {
    return huart == &huart1 ? "huart1" : huart == &huart6 ? "huart6" : "?";
}

// The tables the ports register, taken on their way to the interface layer.
const led_ops_t* g_led = nullptr;
const gpio_ops_t* g_gpio = nullptr;
const i2c_ops_t* g_i2c = nullptr;
const uart_ops_t* g_uart = nullptr;

}  // namespace

// The registration functions have C++ linkage: they are wrapped under their
// mangled names (see CMakeLists.txt).
#define GIMBAL_WRAP_REGISTRATION(mangled, table_type, seen) \
    void __real_##mangled(const table_type* ops);           \
    void __wrap_##mangled(const table_type* ops) {          \
        seen = ops;                                         \
        __real_##mangled(ops);                              \
    }

extern "C" {
GIMBAL_WRAP_REGISTRATION(_Z16led_register_opsPK9led_ops_t, led_ops_t, g_led)
GIMBAL_WRAP_REGISTRATION(_Z17gpio_register_opsPK10gpio_ops_t, gpio_ops_t, g_gpio)
GIMBAL_WRAP_REGISTRATION(_Z16i2c_register_opsPK9i2c_ops_t, i2c_ops_t, g_i2c)
GIMBAL_WRAP_REGISTRATION(_Z17uart_register_opsPK10uart_ops_t, uart_ops_t, g_uart)

void __real_HAL_GPIO_WritePin(GPIO_TypeDef* port, uint16_t pin, GPIO_PinState state);
GPIO_PinState __real_HAL_GPIO_ReadPin(GPIO_TypeDef* port, uint16_t pin);
void __real_HAL_GPIO_TogglePin(GPIO_TypeDef* port, uint16_t pin);
void __wrap_HAL_GPIO_WritePin(GPIO_TypeDef* port, uint16_t pin, GPIO_PinState state) {
    record("WritePin %c 0x%04X %d", port_letter(port), pin, state);
    __real_HAL_GPIO_WritePin(port, pin, state);
}
GPIO_PinState __wrap_HAL_GPIO_ReadPin(GPIO_TypeDef* port, uint16_t pin) {
    record("ReadPin %c 0x%04X", port_letter(port), pin);
    return __real_HAL_GPIO_ReadPin(port, pin);
}
void __wrap_HAL_GPIO_TogglePin(GPIO_TypeDef* port, uint16_t pin) {
    record("TogglePin %c 0x%04X", port_letter(port), pin);
    __real_HAL_GPIO_TogglePin(port, pin);
}

HAL_StatusTypeDef __real_HAL_I2C_Mem_Write(I2C_HandleTypeDef*, uint16_t, uint16_t, uint16_t,
                                           uint8_t*, uint16_t, uint32_t);
HAL_StatusTypeDef __real_HAL_I2C_Mem_Read(I2C_HandleTypeDef*, uint16_t, uint16_t, uint16_t,
                                          uint8_t*, uint16_t, uint32_t);
HAL_StatusTypeDef __real_HAL_I2C_Master_Transmit(I2C_HandleTypeDef*, uint16_t, uint8_t*, uint16_t,
                                                 uint32_t);
HAL_StatusTypeDef __real_HAL_I2C_Master_Receive(I2C_HandleTypeDef*, uint16_t, uint8_t*, uint16_t,
                                                uint32_t);
HAL_StatusTypeDef __wrap_HAL_I2C_Mem_Write(I2C_HandleTypeDef* h, uint16_t dev, uint16_t mem,
                                           uint16_t width, uint8_t* data, uint16_t size,
                                           uint32_t timeout) {
    record("I2C_Mem_Write 0x%02X 0x%02X %u %u %u", dev, mem, width, size, timeout);
    return __real_HAL_I2C_Mem_Write(h, dev, mem, width, data, size, timeout);
}
HAL_StatusTypeDef __wrap_HAL_I2C_Mem_Read(I2C_HandleTypeDef* h, uint16_t dev, uint16_t mem,
                                          uint16_t width, uint8_t* data, uint16_t size,
                                          uint32_t timeout) {
    record("I2C_Mem_Read 0x%02X 0x%02X %u %u %u", dev, mem, width, size, timeout);
    return __real_HAL_I2C_Mem_Read(h, dev, mem, width, data, size, timeout);
}
HAL_StatusTypeDef __wrap_HAL_I2C_Master_Transmit(I2C_HandleTypeDef* h, uint16_t dev, uint8_t* data,
                                                 uint16_t size, uint32_t timeout) {
    record("I2C_Master_Transmit 0x%02X %u %u", dev, size, timeout);
    return __real_HAL_I2C_Master_Transmit(h, dev, data, size, timeout);
}
HAL_StatusTypeDef __wrap_HAL_I2C_Master_Receive(I2C_HandleTypeDef* h, uint16_t dev, uint8_t* data,
                                                uint16_t size, uint32_t timeout) {
    record("I2C_Master_Receive 0x%02X %u %u", dev, size, timeout);
    return __real_HAL_I2C_Master_Receive(h, dev, data, size, timeout);
}

HAL_StatusTypeDef __real_HAL_UART_Init(UART_HandleTypeDef*);
HAL_StatusTypeDef __real_HAL_UART_DeInit(UART_HandleTypeDef*);
HAL_StatusTypeDef __real_HAL_UART_Transmit(UART_HandleTypeDef*, const uint8_t*, uint16_t, uint32_t);
HAL_StatusTypeDef __real_HAL_UART_Receive(UART_HandleTypeDef*, uint8_t*, uint16_t, uint32_t);
HAL_StatusTypeDef __real_HAL_UART_Abort(UART_HandleTypeDef*);
HAL_StatusTypeDef __wrap_HAL_UART_Init(UART_HandleTypeDef* h) {
    record("UART_Init %s", uart_name(h));
    return __real_HAL_UART_Init(h);
}
HAL_StatusTypeDef __wrap_HAL_UART_DeInit(UART_HandleTypeDef* h) {
    record("UART_DeInit %s", uart_name(h));
    return __real_HAL_UART_DeInit(h);
}
HAL_StatusTypeDef __wrap_HAL_UART_Transmit(UART_HandleTypeDef* h, const uint8_t* data,
                                           uint16_t size, uint32_t timeout) {
    record("UART_Transmit %s %u %u", uart_name(h), size, timeout);
    return __real_HAL_UART_Transmit(h, data, size, timeout);
}
HAL_StatusTypeDef __wrap_HAL_UART_Receive(UART_HandleTypeDef* h, uint8_t* data, uint16_t size,
                                          uint32_t timeout) {
    record("UART_Receive %s %u %u", uart_name(h), size, timeout);
    return __real_HAL_UART_Receive(h, data, size, timeout);
}
HAL_StatusTypeDef __wrap_HAL_UART_Abort(UART_HandleTypeDef* h) {
    record("UART_Abort %s", uart_name(h));
    return __real_HAL_UART_Abort(h);
}
}

namespace {

int level(char port, int pin) {
    return sim::Board::get().gpio(port).level(pin);
}

// A released bus line rises through its pull-ups: read it once it has.
int settled_level(char port, int pin) {
    sim::Board::get().cpu().consume(200);
    return level(port, pin);
}

uint32_t usart_brr(const char* name) {
    constexpr uint32_t BRR = 0x08;
    return *reinterpret_cast<const uint32_t*>(
        sim::Board::get().model<sim::RegisterBlock>(name).base() + BRR);
}

// Bytes USART6 puts on its transmit pin.
std::string g_usart6;

struct PortCase : named_case::Case {
    std::function<json()> run;  // in the start-up context after bring-up
    json results;
    std::vector<std::string> hal_calls;
    std::string usart1 = "";  // what the case sends on each UART
    std::string usart6 = "";
};

struct Outcome {
    json results;
    std::vector<std::string> calls;
    std::string usart1, usart6;
};

Outcome run_case(const PortCase& c) {
    std::size_t console_before = 0;
    const json out = board_test::run_board(
        {.run_for = 5 * sim::kPsPerS,
         .attach =
             [](sim::Board& board) {
                 board.model<sim::Usart>("USART6").set_sink(
                     [](uint8_t byte, sim::Picos) { g_usart6.push_back(static_cast<char>(byte)); });
             },
         .bring_up =
             [&console_before] {
                 sim::install_vectors();
                 SystemInit();
                 HAL_Init();
                 SystemClock_Config();
                 MX_GPIO_Init();
                 MX_I2C2_Init();
                 MX_USART1_UART_Init();
                 MX_USART6_UART_Init();
                 hal_led_init_all();
                 hal_gpio_init_all();
                 hal_i2c_init_all();
                 hal_uart_init_all();
                 console_before = sim::testing::console().size();
             },
         .probe =
             [&c](json& o) {
                 g_recording = true;
                 o["results"] = c.run();
                 g_recording = false;
                 HAL_Delay(2);  // the last byte leaves the shift register
             },
         .after =
             [&console_before](json& o) {
                 const std::string console = sim::testing::console_text();
                 o["usart1"] = console.substr(std::min(console_before, console.size()));
                 o["usart6"] = g_usart6;
                 o["calls"] = g_calls;
             }});
    return {out.value("results", json()), out.value("calls", std::vector<std::string>{}),
            out.value("usart1", std::string("<no result>")), out.value("usart6", std::string())};
}

class Port : public ::testing::TestWithParam<PortCase> {};

TEST_P(Port, ReturnsCallsTheHalAndDrivesThePins) {
    const PortCase& c = GetParam();
    const Outcome o = run_case(c);
    EXPECT_EQ(o.results, c.results);
    EXPECT_EQ(o.calls, c.hal_calls);
    EXPECT_EQ(o.usart1, c.usart1);
    EXPECT_EQ(o.usart6, c.usart6);
}

const uint8_t kBytes[] = {'a', 'b', 'c', 'd'};
// A buffer longer than the HAL's 16-bit count reaches: 65538 bytes become 2.
const std::vector<uint8_t> kLong(65538, 'z');

const PortCase kCases[] = {
    {"LedAnyNonZeroStateLightsIt",
     [] {
         return json{g_led->write(1, 5), level('E', 4), g_led->read(1),
                     g_led->write(1, 0), level('E', 4), g_led->read(1)};
     },
     {0, 1, 1, 0, 0, 0},
     {"WritePin E 0x0010 1", "ReadPin E 0x0010", "WritePin E 0x0010 0", "ReadPin E 0x0010"}},
    {"LedToggleInvertsThePin",
     [] {
         return json{g_led->toggle(2), level('G', 9), g_led->toggle(2), level('G', 9)};
     },
     {0, 1, 0, 0},
     {"TogglePin G 0x0200", "TogglePin G 0x0200"}},
    {"LedsOutsideTheTableAreRefusedWithoutTheHal",
     [] {
         return json{g_led->init(3),    g_led->read(-1), g_led->write(3, 1),
                     g_led->toggle(-1), g_led->init(0),  g_led->init(2)};
     },
     {-1, -1, -1, -1, 0, 0},
     {}},
    {"GpioDrivesAndReadsTheBusPins",
     [] {
         return json{g_gpio->write(0, 0), level('F', 12),         g_gpio->read(0),
                     g_gpio->write(0, 7), settled_level('F', 12), g_gpio->read(1)};
     },
     {0, 0, 0, 0, 1, 1},
     {"WritePin F 0x1000 0", "ReadPin F 0x1000", "WritePin F 0x1000 1", "ReadPin F 0x4000"}},
    {"GpioChannelsOutsideTheTable",
     [] {
         return json{g_gpio->read(2), g_gpio->init(2), g_gpio->write(-1, 1), g_gpio->init(1)};
     },
     {-1, -1, -1, 0},
     {}},
    {"I2cChannelWithoutControllerOrBuffer",
     [] {
         uint8_t buf[2] = {};
         return json{g_i2c->init(0),
                     g_i2c->init(1),
                     g_i2c->init(2),
                     g_i2c->read(2, 0xA0, buf, 2, 10),
                     g_i2c->read(0, 0xA0, buf, 2, 10),
                     g_i2c->mem_read(0, 0xA0, 0x3D, I2C_MEMADD_SIZE_8BIT, buf, 2, 10),
                     g_i2c->mem_write(1, 0xA0, 0x3D, I2C_MEMADD_SIZE_8BIT, nullptr, 2, 10),
                     g_i2c->write(1, 0xA0, nullptr, 2, 10),
                     g_i2c->read(-1, 0xA0, buf, 2, 10)};
     },
     {-1, 0, -1, -1, -1, -1, -1, -1, -1},
     {}},
    // Nothing answers on PF0/PF1: every transfer ends in its address phase.
    {"I2cTransfersPassTheirArgumentsAndFailOnAnEmptyBus",
     [] {
         uint8_t buf[8] = {};
         return json{g_i2c->mem_read(1, 0xA0, 0x3D, I2C_MEMADD_SIZE_8BIT, buf, 8, 10),
                     g_i2c->mem_write(1, 0xA0, 0x1234, I2C_MEMADD_SIZE_16BIT, buf, 2, 7),
                     g_i2c->write(1, 0x50 << 1, buf, 3, 5), g_i2c->read(1, 0x50 << 1, buf, 4, 6)};
     },
     {-1, -1, -1, -1},
     {"I2C_Mem_Read 0xA0 0x3D 1 8 10", "I2C_Mem_Write 0xA0 0x1234 16 2 7",
      "I2C_Master_Transmit 0xA0 3 5", "I2C_Master_Receive 0xA0 4 6"}},
    {"UartRefusesNullBuffersAndUnknownChannelsWithoutTheHal",
     [] {
         const uart_config_t cfg = UART_CONFIG_DEFAULT;
         uint8_t byte = 0;
         return json{g_uart->send(0, nullptr, 4, 10),
                     g_uart->getc(0, nullptr),
                     g_uart->receive(0, nullptr, 1, 10),
                     g_uart->send(2, kBytes, 1, 10),
                     g_uart->getc(-1, &byte),
                     g_uart->putc(2, 'x'),
                     g_uart->init(0, nullptr),
                     g_uart->init(2, &cfg),
                     g_uart->deinit(-1),
                     g_uart->abort(2)};
     },
     {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
     {}},
    {"UartSendsOnTheChannelsUart",
     [] {
         return json{g_uart->send(0, kBytes, 2, 10), g_uart->putc(0, 'x'),
                     g_uart->send(1, kBytes + 2, 2, 10)};
     },
     {0, 0, 0},
     {"UART_Transmit huart1 2 10", "UART_Transmit huart1 1 4294967295",
      "UART_Transmit huart6 2 10"},
     "abx",
     "cd"},
    {"UartCountIsNarrowedTo16Bits",
     [] { return json{g_uart->send(0, kLong.data(), kLong.size(), 10)}; },
     {0},
     {"UART_Transmit huart1 2 10"},
     "zz"},
    {"UartInitKeepsTheStartUpSettings",
     [] {
         const uart_config_t slow = {9600, UART_WORDLENGTH_9B, UART_STOPBITS_2, UART_PARITY_EVEN};
         return json{g_uart->init(0, &slow), usart_brr("USART1"), huart1.Init.BaudRate};
     },
     {0, 729, 115200},  // 84 MHz / 115200, in sixteenths
     {}},
    {"UartInitAfterDeinitAppliesTheConfiguration",
     [] {
         const uart_config_t slow = {9600, UART_WORDLENGTH_8B, UART_STOPBITS_1, UART_PARITY_NONE};
         const int deinit = g_uart->deinit(1);
         huart6.Instance = nullptr;  // as a handle that was never set up
         const int init = g_uart->init(1, &slow);
         return json{deinit, init, huart6.Instance == USART6, usart_brr("USART6"),
                     g_uart->send(1, kBytes, 1, 10)};
     },
     {0, 0, true, 8750, 0},  // 84 MHz / 9600
     {"UART_DeInit huart6", "UART_Init huart6", "UART_Transmit huart6 1 10"},
     "",
     "a"},
    // No DMA stream and no UART interrupt: started transfers could never end.
    {"UartInterruptAndDmaTransfersAreRefusedAndLeaveTheUartUsable",
     [] {
         uint8_t buf[2] = {};
         return json{g_uart->send_it(0, kBytes, 2), g_uart->receive_it(0, buf, 2),
                     g_uart->send_dma(0, kBytes, 2), g_uart->receive_dma(1, buf, 2),
                     g_uart->send(0, kBytes + 1, 2, 10)};
     },
     {-1, -1, -1, -1, 0},
     {"UART_Transmit huart1 2 10"},
     "bc"},
    {"UartReceiveTimesOutOnAnIdleLine",
     [] {
         uint8_t buf[4] = {};
         const uint32_t start = HAL_GetTick();
         const int r = g_uart->receive(1, buf, 4, 5);
         return json{r, HAL_GetTick() - start >= 5, g_uart->abort(1)};
     },
     {-1, true, 0},
     {"UART_Receive huart6 4 5", "UART_Abort huart6"}},
};

INSTANTIATE_TEST_SUITE_P(Ports, Port, ::testing::ValuesIn(kCases), named_case::by_name);

}  // namespace

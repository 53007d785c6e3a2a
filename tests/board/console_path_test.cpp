// The console path of the runtime library: printf/puts into the shared line
// buffer, then the firmware's _write byte by byte to USART1. A reset function
// of its own brings up only the clock and USART1, then drives the path.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "board_probe.hpp"
#include "main.h"
#include "sim/platform.hpp"
#include "usart.h"

// The firmware's printf, puts and _write as the virtual board names them.
extern "C" {
int gimbal_rt_printf(const char* format, ...);
int gimbal_rt_puts(const char* text);
int gimbal_fw_write(int file, char* ptr, int len);
}

namespace {

using board_test::json;
using board_test::text_of;

// Past one 1024-byte line buffer, short of two: a 512-byte one would send 1536.
const std::string kLong(1600, 'x');

json g_steps = json::array();

// One step of the probe: what it returned and the bytes USART1 sent during it.
void step(const char* name, const std::function<int()>& action) {
    const std::size_t before = sim::testing::console().size();
    const int result = action();
    json sent = json::array();
    for (std::size_t i = before; i < sim::testing::console().size(); i++) {
        sent.push_back(sim::testing::console()[i].byte);
    }
    g_steps.push_back({{"name", name}, {"result", result}, {"sent", sent}});
}

int write_text(int file, std::string text) {
    return gimbal_fw_write(file, text.data(), static_cast<int>(text.size()));
}

void probe() {
    sim::install_vectors();  // the chip's vector table is in flash from reset
    HAL_Init();
    SystemClock_Config();
    step("write before USART1 is set up", [] { return write_text(1, "lost"); });
    MX_USART1_UART_Init();
    step("printf without newline", [] {
        const int n = gimbal_rt_printf("abc");
        HAL_Delay(10);
        return n;
    });
    step("printf newline", [] { return gimbal_rt_printf("\n"); });
    step("write 0 bytes", [] {
        char text[] = "not sent";
        return gimbal_fw_write(1, text, 0);
    });
    step("write any bytes", [] { return write_text(1, std::string("\0\xff\n z", 5)); });
    step("write to stderr", [] { return write_text(2, "err"); });
    step("write to another file", [] { return write_text(7, "f7"); });
    step("puts ending in CR", [] { return gimbal_rt_puts("line\r") >= 0 ? 1 : -1; });
    step("puts", [] { return gimbal_rt_puts("plain") >= 0 ? 1 : -1; });
    step("printf past the buffer", [] { return gimbal_rt_printf("%s", kLong.c_str()); });
    step("printf rest", [] { return gimbal_rt_printf("\n"); });
    for (;;) {
        __WFI();
    }
}

struct Expected {
    const char* name;
    int result;
    std::string sent;
};

TEST(ConsolePath, SendsWhatTheRuntimeLibraryFlushesByteByByte) {
    const json steps = board_test::run_board({.run_for = 1 * sim::kPsPerS,
                                              .bring_up = probe,
                                              .after = [](json& out) { out["steps"] = g_steps; }});
    ASSERT_TRUE(steps.contains("steps"));
    EXPECT_TRUE(steps["halted"].is_null()) << steps["halted"];

    const std::vector<Expected> expected = {
        {"write before USART1 is set up", 4, ""},  // dropped, yet counted
        {"printf without newline", 3, ""},         // held in the line buffer
        {"printf newline", 1, "abc\n"},
        {"write 0 bytes", 0, ""},
        {"write any bytes", 5, std::string("\0\xff\n z", 5)},
        {"write to stderr", 3, "err"},
        {"write to another file", 2, "f7"},
        {"puts ending in CR", 1, "line\r\n"},
        {"puts", 1, "plain\n"},
        {"printf past the buffer", 1600, std::string(1024, 'x')},
        {"printf rest", 1, std::string(1600 - 1024, 'x') + "\n"},
    };
    ASSERT_EQ(steps["steps"].size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); i++) {
        const json& got = steps["steps"][i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(got["name"], expected[i].name);
        EXPECT_EQ(got["result"], expected[i].result);
        EXPECT_EQ(text_of(got["sent"]), expected[i].sent);
    }
}

}  // namespace

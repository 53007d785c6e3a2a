// Two firmware threads printing through the runtime library's shared stdout.
// The library has no lock and the console's _write sends byte by byte with a
// blocking UART transmit: a more urgent thread that cuts in while USART1 is
// sending finds the UART busy and loses its bytes, and its text lands in the
// line buffer the other thread is still sending from.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "cmsis_os2.h"
#include "main.h"
#include "sim/board/board.hpp"
#include "sim/platform.hpp"
#include "sim/testing/fresh_process.hpp"
#include "usart.h"

extern "C" int gimbal_rt_printf(const char* format, ...);

namespace {

using nlohmann::json;
using sim::Picos;

// 115200 baud from PCLK2 = 84 MHz: BRR 729, 10 bits a frame.
constexpr Picos kFrame = 86'785'714;

// 22 bytes, about 1.9 ms on the wire. Started at tick 2, it is at byte 11
// (the 's' of "says") when tick 3 wakes the urgent thread: byte 11 goes out
// from 2 ms + 11 x (frame + ~1 us of HAL calls) to one frame later, a margin
// of some 40 us either side of tick 3.
const std::string kLowLine = "low thread says hello\n";
constexpr std::size_t kByteInFlight = 11;

json g_trace = json::array();
std::deque<std::function<void()>> g_bodies;

void note(const char* what, json value = nullptr) {
    g_trace.push_back({{"what", what}, {"at", sim::Board::get().cpu().now()}, {"value", value}});
}

void spawn(const char* name, osPriority_t priority, std::function<void()> body) {
    g_bodies.push_back(std::move(body));
    osThreadAttr_t attr = {};
    attr.name = name;
    attr.priority = priority;
    attr.stack_size = 1024;
    osThreadNew([](void* arg) { (*static_cast<std::function<void()>*>(arg))(); }, &g_bodies.back(),
                &attr);
}

[[noreturn]] void park() {
    for (;;) {
        osDelay(1000000);
    }
}

json contend(const std::string& urgent_line) {
    const auto child = sim::testing::in_fresh_process([&] {
        sim::Board& board = sim::Board::create({});
        board.power_on([&] {
            sim::install_vectors();
            HAL_Init();
            SystemClock_Config();
            MX_USART1_UART_Init();
            osKernelInitialize();
            spawn("low", osPriorityBelowNormal, [] {
                osDelay(2);
                note("low prints");
                gimbal_rt_printf("%s", kLowLine.c_str());
                note("low done");
                osDelay(20);
                gimbal_rt_printf("low again\n");
                park();
            });
            spawn("urgent", osPriorityAboveNormal, [&urgent_line] {
                osDelay(3);
                note("urgent prints", huart1.gState);
                gimbal_rt_printf("%s", urgent_line.c_str());
                note("urgent done");
                osDelay(10);
                gimbal_rt_printf("urgent later\n");
                park();
            });
            osKernelStart();
        });
        board.run_until(40 * sim::kPsPerMs);
        json bytes = json::array();
        json at = json::array();
        for (const sim::ConsoleByte& b : board.console()) {
            bytes.push_back(b.byte);
            at.push_back(b.at);
        }
        return json{{"trace", g_trace},
                    {"bytes", bytes},
                    {"at", at},
                    {"halted", board.cpu().halted().has_value()}}
            .dump();
    });
    EXPECT_TRUE(child.ok) << child.failure;
    return child.ok ? json::parse(child.payload) : json::object();
}

json find(const json& r, const std::string& what) {
    for (const json& e : r["trace"]) {
        if (e["what"] == what) {
            return e;
        }
    }
    ADD_FAILURE() << "no '" << what << "' in " << r.dump();
    return json::object();
}

std::string wire(const json& r) {
    std::string text;
    for (const json& b : r["bytes"]) {
        text.push_back(static_cast<char>(b.get<int>()));
    }
    return text;
}

struct ContentionCase {
    const char* name;
    std::string urgent_line;
    std::string wire;  // every byte USART1 sends in the run
};

void PrintTo(const ContentionCase& c, std::ostream* os) {
    *os << c.name;
}

class ConsoleContention : public ::testing::TestWithParam<ContentionCase> {};

TEST_P(ConsoleContention, TheUrgentThreadsBytesAreLostWhileUsart1IsBusy) {
    const ContentionCase c = GetParam();
    const json r = contend(c.urgent_line);
    ASSERT_FALSE(r.empty());
    EXPECT_FALSE(r["halted"]);
    EXPECT_EQ(wire(r), c.wire);

    // The urgent thread woke while byte 11 of the low thread's line was on
    // the wire, with the UART's handle still busy sending it.
    const json urgent = find(r, "urgent prints");
    const Picos woke = urgent["at"].get<Picos>();
    const Picos byte_end = r["at"][kByteInFlight].get<Picos>();
    EXPECT_GT(woke, byte_end - kFrame);
    EXPECT_LT(woke, byte_end);
    EXPECT_EQ(urgent["value"], HAL_UART_STATE_BUSY_TX);
    // Dropped, not waited for: its whole printf takes less than one frame.
    EXPECT_LT(find(r, "urgent done")["at"].get<Picos>() - woke, kFrame);
    // Low's line runs on at one frame plus the HAL's per-byte calls a byte.
    EXPECT_LT(r["at"][kLowLine.size() - 1].get<Picos>() - find(r, "low prints")["at"].get<Picos>(),
              kLowLine.size() * (kFrame + 2 * sim::kPsPerUs));
}

INSTANTIATE_TEST_SUITE_P(Lines, ConsoleContention,
                         ::testing::Values(
                             // Shorter than what low already sent: overwrites only bytes gone out.
                             ContentionCase{"ShortUrgentLine", "HI\n",
                                            kLowLine + "urgent later\nlow again\n"},
                             // Longer: low sends its bytes 12 to 21 from the buffer the urgent
                             // thread refilled, so those of the urgent text go out in their place
                             // and low's newline is lost.
                             ContentionCase{"LongUrgentLine", "urgent thread cuts in!\n",
                                            "low thread s"
                                            "d cuts in!"
                                            "urgent later\nlow again\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

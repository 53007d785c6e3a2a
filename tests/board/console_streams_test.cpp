// Standard output per thread, as the runtime library gives it with the
// kernel's per-thread runtime state: each thread's stdout has its own line
// buffer from the _sbrk heap, threads meet only at _write and USART1, and a
// thread that prints while another holds USART1 loses its bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "named_case.hpp"
#include "board_probe.hpp"
#include "kernel/kernel_probe.hpp"
#include "cmsis_os2.h"
#include "main.h"
#include "sim/platform.hpp"
#include "usart.h"

extern "C" {
int gimbal_rt_printf(const char* format, ...);
void* gimbal_fw_sbrk(ptrdiff_t incr);
extern uint8_t* __sbrk_heap_end;
}

namespace {

using board_test::json;
using board_test::text_of;
using kernel_test::first;
using kernel_test::g_trace;
using kernel_test::note;
using kernel_test::park;
using kernel_test::spawn;
using sim::Picos;

// 115200 baud from PCLK2 = 84 MHz: BRR 729, 10 bits a frame.
constexpr Picos kFrame = 86'785'714;
constexpr std::size_t kHeapLimit = 0x20020000 - 0x400;

std::size_t heap_used() {
    return sim::runtime_heap_used();
}

// Boots clock and USART1, runs `setup` before the kernel starts, then the
// threads it made, for `ms` of virtual time.
json run(const std::function<void()>& setup, double ms) {
    return board_test::run_board({.run_for = static_cast<Picos>(ms * sim::kPsPerMs),
                                  .bring_up =
                                      [&setup] {
                                          sim::install_vectors();
                                          HAL_Init();
                                          SystemClock_Config();
                                          MX_USART1_UART_Init();
                                          osKernelInitialize();
                                          setup();
                                          osKernelStart();
                                      },
                                  .after =
                                      [](json& out) {
                                          out.update(board_test::console_json());
                                          out["trace"] = g_trace;
                                          out["heap"] = heap_used();
                                      }});
}

// ---- two threads on one UART ----

// 22 bytes, about 1.9 ms on the wire. Started at tick 2, it is at byte 11
// when tick 3 wakes the urgent thread, with some 40 us of margin either side.
const std::string kLowLine = "low thread says hello\n";
constexpr std::size_t kByteInFlight = 11;

struct Contention {
    const char* name;
    std::string urgent_line;
};

class ConsoleContention : public ::testing::TestWithParam<Contention> {};

TEST_P(ConsoleContention, TheUrgentThreadLosesItsBytesAndTheOtherLineStaysWhole) {
    const Contention c = GetParam();
    const json r = run(
        [&c] {
            spawn("low", osPriorityBelowNormal, [] {
                osDelay(2);
                note("low prints");
                gimbal_rt_printf("%s", kLowLine.c_str());
                osDelay(20);
                gimbal_rt_printf("low again\n");
                park();
            });
            spawn("urgent", osPriorityAboveNormal, [&c] {
                osDelay(3);
                note("urgent prints", huart1.gState);
                gimbal_rt_printf("%s", c.urgent_line.c_str());
                note("urgent done");
                osDelay(10);
                gimbal_rt_printf("urgent later\n");
                park();
            });
        },
        40);
    ASSERT_FALSE(r.empty());
    EXPECT_TRUE(r["halted"].is_null());
    // Each thread's line is whole in its own buffer: nothing of the urgent
    // text lands in the low thread's line, whatever its length.
    EXPECT_EQ(text_of(r["bytes"]), kLowLine + "urgent later\nlow again\n");
    // The urgent thread woke while byte 11 was on the wire, USART1 busy.
    const json urgent = first(r, "urgent prints");
    const Picos woke = urgent["at"].get<Picos>();
    const Picos byte_end = r["at_ps"][kByteInFlight].get<Picos>();
    EXPECT_GT(woke, byte_end - kFrame);
    EXPECT_LT(woke, byte_end);
    EXPECT_EQ(urgent["value"], HAL_UART_STATE_BUSY_TX);
    // Dropped, not waited for: its whole printf takes less than one frame.
    EXPECT_LT(first(r, "urgent done")["at"].get<Picos>() - woke, kFrame);
}

INSTANTIATE_TEST_SUITE_P(Lines, ConsoleContention,
                         ::testing::Values(Contention{"ShortUrgentLine", "HI\n"},
                                           Contention{"LongUrgentLine",
                                                      "urgent thread cuts in!\n"}),
                         named_case::by_name);

TEST(ConsoleStreams, TextLeftInOneThreadsBufferWaitsForThatThread) {
    const json r = run(
        [] {
            spawn("a", osPriorityNormal, [] {
                gimbal_rt_printf("abc");
                osDelay(10);
                gimbal_rt_printf("def\n");
                park();
            });
            spawn("b", osPriorityLow, [] {
                osDelay(2);
                gimbal_rt_printf("xyz\n");
                park();
            });
        },
        30);
    EXPECT_EQ(text_of(r["bytes"]), "xyz\nabcdef\n");
}

// ---- the heap behind the buffers ----

// Heap taken through _sbrk, measured with newlib nano on an emulated
// Cortex-M4: a block of four stream records (428 + 8) when a thread's three
// standard streams do not fit in the records left, the 1024-byte buffer
// (+ 8), and at a thread's first floating-point conversion 16, 132, 28 and
// 24 bytes (+ 8 each).
constexpr std::size_t kRecords = 436, kBuffer = 1032, kBigNumbers = 24 + 140 + 36 + 32;

TEST(ConsoleHeap, EachThreadTakesItsBufferAtItsFirstOutput) {
    const json r = run(
        [] {
            gimbal_rt_printf("[start-up]\n");  // 3 of the first 4 records
            note("after start-up", heap_used());
            spawn("text", osPriorityNormal, [] {
                note("text before", heap_used());
                gimbal_rt_printf("plain\n");  // 1 record left: a new block
                note("text after", heap_used());
                gimbal_rt_printf("again\n");
                note("text again", heap_used());
                park();
            });
            spawn("float", osPriorityLow, [] {
                osDelay(5);
                gimbal_rt_printf("%.1f\n", 1.5);  // 2 left: a new block, then big numbers
                note("float after", heap_used());
                gimbal_rt_printf("%.3f\n", -90.0);
                note("float again", heap_used());
                park();
            });
        },
        20);
    EXPECT_EQ(first(r, "after start-up")["value"], kRecords + kBuffer);
    EXPECT_EQ(first(r, "text after")["value"].get<std::size_t>() -
                  first(r, "text before")["value"].get<std::size_t>(),
              kRecords + kBuffer);
    EXPECT_EQ(first(r, "text again")["value"], first(r, "text after")["value"]);
    EXPECT_EQ(first(r, "float after")["value"].get<std::size_t>() -
                  first(r, "text again")["value"].get<std::size_t>(),
              kRecords + kBuffer + kBigNumbers);
    EXPECT_EQ(first(r, "float again")["value"], first(r, "float after")["value"]);
    EXPECT_EQ(text_of(r["bytes"]), "[start-up]\nplain\nagain\n1.5\n-90.000\n");
}

struct Exhaustion {
    const char* name;
    std::size_t left;  // heap bytes left before the first output
    std::string console;
    const char* halted;
};

class ConsoleHeapExhausted : public ::testing::TestWithParam<Exhaustion> {};

TEST_P(ConsoleHeapExhausted, LeavesStdoutUnbufferedOrStopsTheBoard) {
    const Exhaustion c = GetParam();
    const json r = run(
        [&c] {
            gimbal_fw_sbrk(0);
            const auto taken = static_cast<ptrdiff_t>(
                kHeapLimit - reinterpret_cast<uintptr_t>(__sbrk_heap_end) - c.left);
            gimbal_fw_sbrk(taken);
            gimbal_rt_printf("abc");  // no newline: only an unbuffered stream sends it now
            HAL_Delay(2);
            note("after abc");
        },
        20);
    EXPECT_EQ(text_of(r["bytes"]), c.console);
    if (c.halted == nullptr) {
        EXPECT_TRUE(r["halted"].is_null()) << r["halted"];
    } else {
        EXPECT_EQ(r["halted"].value("where", ""), c.halted);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Left, ConsoleHeapExhausted,
    ::testing::Values(Exhaustion{"RoomForAll", kRecords + kBuffer, "", nullptr},
                      Exhaustion{"NoRoomForTheBuffer", kRecords + kBuffer - 1, "abc", nullptr},
                      Exhaustion{"NoRoomForTheStreams", kRecords - 1, "",
                                 "runtime library: no heap for the standard streams"}),
    named_case::by_name);

}  // namespace

// The whole firmware boots from reset on the virtual board: what a user of the
// real board sees on the console, which threads run, and where a failed
// bring-up stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "named_case.hpp"
#include "board_probe.hpp"
#include "can.h"
#include "sim/platform.hpp"
#include "system_stm32f4xx.h"

namespace {

using board_test::json;
using board_test::text_of;

constexpr sim::Picos kRunFor = 2500 * sim::kPsPerMs;  // past the monitor's second sleep

const std::string kReady = "[app_init] Hardware initialized\r\n";
const std::string kQueueError = "[app_init] ERROR: Failed to create IMU queue\r\n";

json boot(const sim::BoardConfig& config, sim::Picos run_for = kRunFor) {
    return board_test::run_board(
        {.config = config,
         .run_for = run_for,
         .bring_up = sim::firmware_reset,
         .after = [](json& out) {
             out["threads"] = json::array();
             for (const sim::ThreadInfo& t : sim::created_threads()) {
                 out["threads"].push_back({t.name, t.priority, t.stack_size});
             }
             out["console"] = board_test::console_json();
             out["heap_used"] = sim::kernel_heap_used();
             out["system_core_clock"] = SystemCoreClock;
             out["can1_clock_refs"] = HAL_RCC_CAN1_CLK_ENABLED;
         }});
}

std::string console_text(const json& run) {
    return text_of(run["console"]["bytes"]);
}

// Kernel heap blocks: an 8-byte header, rounded up to 8 bytes.
constexpr std::size_t heap_block(std::size_t bytes) {
    return (bytes + 8 + 7) / 8 * 8;
}
// Per thread its stack (1024 bytes, the control thread 2048) and its 188-byte
// control block (with newlib nano's 96-byte record); the queue's 80-byte
// control block holds its 4 x 36 bytes of storage in the same block. Record
// sizes as docs/design.md derives them ("Kernel heap"): 4952 bytes in all.
constexpr std::size_t kThreadsHeap = 2 * heap_block(1024) + heap_block(2048) + 3 * heap_block(188);
constexpr std::size_t kQueueHeap = heap_block(80 + 4 * 36);

const json kThreads =
    json::array({{"monitorTask", 8, 1024}, {"controlTask", 24, 2048}, {"sensorTask", 40, 1024}});

struct StartCase : named_case::Case {
    bool queue_create_fails;
    std::string console_start;
    std::size_t heap_used;
};

class Start : public ::testing::TestWithParam<StartCase> {};

TEST_P(Start, PrintsTheStartLinesOnceAndCreatesTheThreeThreads) {
    const StartCase& c = GetParam();
    sim::BoardConfig config;
    sim::set_kernel_settings({.queue_create_fails = c.queue_create_fails});  // the child's
    const json run = boot(config);
    sim::set_kernel_settings({});
    const std::string console = console_text(run);

    EXPECT_EQ(console.substr(0, c.console_start.size()), c.console_start);
    EXPECT_EQ(console.find("[app_init]", c.console_start.size()), std::string::npos);
    EXPECT_EQ(run["threads"], kThreads);
    EXPECT_EQ(run["heap_used"], c.heap_used);
    EXPECT_TRUE(run["halted"].is_null()) << run["halted"];
}

INSTANTIATE_TEST_SUITE_P(
    Boot, Start,
    ::testing::Values(StartCase{"Normal", false, kReady, kThreadsHeap + kQueueHeap},
                      StartCase{"QueueCreationFails", true, kQueueError + kReady, kThreadsHeap}),
    named_case::by_name);

TEST(Boot, BringsTheClockTreeAndBothCanControllersUp) {
    const json run = boot({});
    EXPECT_EQ(run["system_core_clock"], 168000000u);
    // CAN2 and then CAN1 each take a reference on the shared CAN1 clock.
    EXPECT_EQ(run["can1_clock_refs"], 2u);
}

TEST(Boot, ConsoleBytesLeaveOneFrameApartAt115200Baud) {
    const json run = boot({});
    const json& at = run["console"]["at_ps"];
    ASSERT_GE(at.size(), kReady.size());

    // 10 bits per 8N1 frame. USART1's divider at 84 MHz is rounded to a whole
    // sixteenth of a bit, off by at most half a clock per bit, that is
    // 10 x 0.5 / 84 MHz = 60 ns per frame. Between two bytes the transmit
    // call's own cycles are about 50 at 168 MHz (0.3 us); a HAL tick handler
    // falling there adds about as much again, hence 1 us above.
    const double frame_ns = 10 * 1e9 / 115200;
    const double rounding_ns = 10 * 0.5 * 1e9 / 84e6;
    const double low_ns = frame_ns - rounding_ns;
    const double high_ns = frame_ns + rounding_ns + 1000;
    for (std::size_t i = 1; i < kReady.size(); i++) {
        const double gap_ns =
            static_cast<double>(at[i].get<sim::Picos>() - at[i - 1].get<sim::Picos>()) / 1000;
        EXPECT_GE(gap_ns, low_ns) << "byte " << i;
        EXPECT_LE(gap_ns, high_ns) << "byte " << i;
    }
}

TEST(Boot, WithoutACrystalStopsInErrorHandlerAfterTheHseTimeout) {
    sim::BoardConfig config;
    config.rcc.no_crystal = true;
    const json run = boot(config, 400 * sim::kPsPerMs);

    ASSERT_FALSE(run["halted"].is_null());
    EXPECT_EQ(run["halted"]["where"], "Error_Handler");
    // The HAL gives up once more than 100 ticks have passed, at the 101st;
    // before the clock tree is set the tick runs at 2 ms: 202 ms, plus the
    // few microseconds HAL_Init takes before it starts the tick.
    const double halted_ms =
        static_cast<double>(run["halted"]["at"].get<sim::Picos>()) / sim::kPsPerMs;
    EXPECT_GE(halted_ms, 202.0);
    EXPECT_LE(halted_ms, 202.5);
    EXPECT_EQ(console_text(run), "");
    EXPECT_EQ(run["threads"], json::array());
    EXPECT_EQ(run["system_core_clock"], 16000000u);
}

TEST(Boot, EachBootStartsFromReset) {
    // Two boots from this one test binary: the second must not see the
    // first one's file-scope state (the CAN1 clock count would reach 4).
    const json first = boot({}, 100 * sim::kPsPerMs);
    const json second = boot({}, 100 * sim::kPsPerMs);
    EXPECT_EQ(first["can1_clock_refs"], 2u);
    EXPECT_EQ(second["can1_clock_refs"], 2u);
    EXPECT_EQ(console_text(first).substr(0, kReady.size()), kReady);
    EXPECT_EQ(first["console"], second["console"]);  // bytes and times
    EXPECT_EQ(first["threads"], second["threads"]);
    EXPECT_EQ(first["heap_used"], second["heap_used"]);
}

}  // namespace

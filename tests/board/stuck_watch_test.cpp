// Firmware that loops without calling into the platform never moves virtual
// time; the run's watchdog must notice from outside and end the run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>

#include "named_case.hpp"
#include "sim/app/stuck_watch.hpp"
#include "sim/board/board.hpp"
#include "sim/platform.hpp"
#include "sim/testing/fresh_process.hpp"

namespace {

std::atomic<int> g_spin{0};

struct Case {
    const char* name;
    bool calls_in;  // the loop makes platform calls, so time moves
    int exit_status;
};

class StuckWatch : public ::testing::TestWithParam<Case> {};

TEST_P(StuckWatch, EndsOnlyARunWhoseVirtualTimeStandsStill) {
    const Case& c = GetParam();
    const auto child = sim::testing::in_fresh_process(
        [&c] {
            sim::Board& board = sim::Board::create({});
            board.power_on([&c, &board] {
                for (;;) {
                    if (c.calls_in) {
                        board.cpu().consume(100);
                    } else {
                        g_spin.fetch_add(1, std::memory_order_relaxed);
                    }
                }
            });
            sim::StuckWatch watch(board.cpu(), 0.5, [] { ::_exit(42); });
            board.run_until(2 * sim::kPsPerS);
            return std::string("ran to the end");
        },
        60);
    if (c.exit_status == 0) {
        EXPECT_TRUE(child.ok) << child.failure;
        EXPECT_EQ(child.payload, "ran to the end");
    } else {
        EXPECT_EQ(child.failure, "child exited with status 42");
    }
}

INSTANTIATE_TEST_SUITE_P(Loops, StuckWatch,
                         ::testing::Values(Case{"CallsNothing", false, 42},
                                           Case{"CallsThePlatform", true, 0}),
                         named_case::by_name);

}  // namespace

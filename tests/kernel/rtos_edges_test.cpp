// Where the kernel stand-in must behave as the kernel does on the chip beyond
// the common paths: loops made only of queries, calls with interrupts masked,
// the order of equal-priority threads, and the longest delays.
#include <ostream>

#include "named_case.hpp"
#include "kernel_probe.hpp"

namespace {

using namespace kernel_test;

// A hang here is the fault: each child gets a short wall-clock limit.
constexpr unsigned kWallLimitS = 30;

inline osMessageQueueId_t g_queue = nullptr;
inline volatile bool g_flag = false;

// ---- loops that call nothing but a query ----

struct QueryLoop : named_case::Case {
    // Runs in a low thread; returns once the loop it stands for has ended.
    void (*loop)();
    // Whether a more urgent thread must release the loop after 3 ticks.
    bool needs_release;
};

void release_after_3_ticks() {
    spawn("releaser", osPriorityHigh, [] {
        osDelay(3);
        g_flag = true;
        NVIC_SetPendingIRQ(USART6_IRQn);  // enabled nowhere: only pends
        const uint32_t msg = 7;
        osMessageQueuePut(g_queue, &msg, 0, 0);
        park();
    });
}

class QueryLoops : public ::testing::TestWithParam<QueryLoop> {};

TEST_P(QueryLoops, EndWhenTheirConditionComesTrue) {
    const QueryLoop& c = GetParam();
    const json r = boot(
        [&c] {
            g_queue = osMessageQueueNew(4, 4, nullptr);
            spawn("poller", osPriorityNormal, [&c] {
                note("begin");
                c.loop();
                note("end");
                park();
            });
            if (c.needs_release) {
                release_after_3_ticks();
            }
        },
        50, {}, kWallLimitS);
    ASSERT_FALSE(named(r, "end").empty()) << r.dump();
    const int ticks = first(r, "end")["tick"].get<int>() - first(r, "begin")["tick"].get<int>();
    EXPECT_GE(ticks, c.needs_release ? 3 : 5);
    EXPECT_LE(ticks, c.needs_release ? 4 : 6);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, QueryLoops,
    ::testing::Values(QueryLoop{"osKernelGetTickCount",
                                [] {
                                    const uint32_t s = osKernelGetTickCount();
                                    while (osKernelGetTickCount() - s < 5) {
                                    }
                                },
                                false},
                      QueryLoop{"xTaskGetTickCount",
                                [] {
                                    const TickType_t s = xTaskGetTickCount();
                                    while (xTaskGetTickCount() - s < 5) {
                                    }
                                },
                                false},
                      QueryLoop{"osMessageQueueGetCount",
                                [] {
                                    while (osMessageQueueGetCount(g_queue) == 0) {
                                    }
                                },
                                true},
                      QueryLoop{"osMessageQueueGetSpace",
                                [] {
                                    while (osMessageQueueGetSpace(g_queue) == 4) {
                                    }
                                },
                                true},
                      QueryLoop{"osThreadYieldWithoutPeer",
                                [] {
                                    while (!g_flag) {
                                        osThreadYield();
                                    }
                                },
                                true},
                      QueryLoop{"osDelayZero",
                                [] {
                                    while (!g_flag) {
                                        osDelay(0);
                                    }
                                },
                                true},
                      QueryLoop{"NVIC_GetPendingIRQ",
                                [] {
                                    while (NVIC_GetPendingIRQ(USART6_IRQn) == 0) {
                                    }
                                },
                                true},
                      QueryLoop{"__get_PRIMASK",
                                [] {
                                    while (__get_PRIMASK() == 0 && !g_flag) {
                                    }
                                },
                                true}),
    named_case::by_name);

// ---- calls with interrupts masked ----

struct MaskedCall : named_case::Case {
    int (*call)();
    int expected;
};

class MaskedCalls : public ::testing::TestWithParam<MaskedCall> {};

// The call returns at once with the interrupt-context result, and the board
// goes on: the tick resumes once interrupts are enabled again.
TEST_P(MaskedCalls, ActAsFromAnInterruptAndBlockNothing) {
    const MaskedCall& c = GetParam();
    const json r = boot(
        [&c] {
            g_queue = osMessageQueueNew(1, 4, nullptr);
            spawn("caller", osPriorityNormal, [&c] {
                osDelay(2);
                __disable_irq();
                note("masked");
                const int status = c.call();
                note("returned", status);
                __enable_irq();
                osDelay(5);
                note("later");
                park();
            });
        },
        30, {}, kWallLimitS);
    EXPECT_EQ(first(r, "returned")["value"], c.expected);
    EXPECT_EQ(first(r, "returned")["tick"], first(r, "masked")["tick"]);
    EXPECT_EQ(first(r, "later")["tick"].get<int>(), first(r, "returned")["tick"].get<int>() + 5);
    EXPECT_TRUE(r["halted"].is_null()) << r["halted"];
}

INSTANTIATE_TEST_SUITE_P(
    Calls, MaskedCalls,
    ::testing::Values(
        MaskedCall{"osDelay", [] { return static_cast<int>(osDelay(5)); }, osErrorISR},
        MaskedCall{"osThreadYield", [] { return static_cast<int>(osThreadYield()); }, osErrorISR},
        MaskedCall{"GetWithTimeout",
                   [] {
                       uint32_t m;
                       return static_cast<int>(osMessageQueueGet(g_queue, &m, nullptr, 20));
                   },
                   osErrorParameter},
        MaskedCall{"PutWithTimeout",
                   [] {
                       const uint32_t m = 1;
                       return static_cast<int>(osMessageQueuePut(g_queue, &m, 0, 20));
                   },
                   osErrorParameter},
        MaskedCall{"GetFromEmptyWithoutTimeout",
                   [] {
                       uint32_t m;
                       return static_cast<int>(osMessageQueueGet(g_queue, &m, nullptr, 0));
                   },
                   osErrorResource},
        MaskedCall{"osThreadNew",
                   [] { return osThreadNew([](void*) {}, nullptr, nullptr) == nullptr ? 0 : 1; },
                   0},
        MaskedCall{"osMessageQueueNew",
                   [] { return osMessageQueueNew(2, 4, nullptr) == nullptr ? 0 : 1; }, 0}),
    named_case::by_name);

TEST(MaskedRegion, AThreadWokenInsideRunsWhenInterruptsAreEnabled) {
    const json r = boot(
        [] {
            g_queue = osMessageQueueNew(1, 4, nullptr);
            spawn("reader", osPriorityHigh, [] {
                uint32_t m = 0;
                osMessageQueueGet(g_queue, &m, nullptr, osWaitForever);
                note("reader-runs", __get_PRIMASK());
                park();
            });
            spawn("writer", osPriorityNormal, [] {
                __disable_irq();
                const uint32_t m = 9;
                note("put", osMessageQueuePut(g_queue, &m, 0, 0));
                note("still-masked", __get_PRIMASK());
                __enable_irq();
                note("writer-after");
                park();
            });
        },
        10, {}, kWallLimitS);
    std::vector<std::string> order;
    for (const auto& e : r["trace"]) {
        order.push_back(e["what"]);
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"put", "still-masked", "reader-runs", "writer-after"}));
    EXPECT_EQ(first(r, "put")["value"], osOK);
    EXPECT_EQ(first(r, "still-masked")["value"], 1);
    EXPECT_EQ(first(r, "reader-runs")["value"], 0);
}

TEST(MaskedRegion, TheKernelsOwnDelayTakesEffectOnlyWhenUnmasked) {
    const json r = boot(
        [] {
            spawn("sleeper", osPriorityNormal, [] {
                osDelay(1);
                __disable_irq();
                note("call");
                vTaskDelay(3);
                note("runs-on");  // PendSV cannot switch yet
                for (int i = 0; i < 48000; i++) {
                    __NOP();  // about 3 ms at 16 MHz: the tick is held back
                }
                note("unmask");
                __enable_irq();
                note("woken");
                park();
            });
            spawn("other", osPriorityLow, [] {
                for (;;) {
                    note("other");
                    osDelay(1);
                }
            });
        },
        30, {}, kWallLimitS);
    const int call = first(r, "call")["tick"];
    EXPECT_EQ(first(r, "runs-on")["tick"], call);
    // No tick while masked; the one that pended comes in at the unmask.
    EXPECT_EQ(first(r, "unmask")["tick"], call);
    EXPECT_EQ(first(r, "woken")["tick"].get<int>(), call + 3);
    // Between the unmask and the wake the core went to the other thread.
    const double unmask_us = first(r, "unmask")["us"];
    const double woken_us = first(r, "woken")["us"];
    bool other_ran = false;
    for (const auto& e : named(r, "other")) {
        other_ran |= e["us"].get<double>() > unmask_us && e["us"].get<double>() < woken_us;
    }
    EXPECT_TRUE(other_ran);
}

// ---- order of equal priorities, and the longest delays ----

std::vector<std::string> turns(const json& r, std::size_t n) {
    std::vector<std::string> out;
    for (const auto& e : r["trace"]) {
        if (e["what"] != "H" && out.size() < n) {
            out.push_back(e["what"]);
        }
    }
    return out;
}

void taking_turns(const char* name) {
    spawn(name, osPriorityNormal, [name] {
        uint32_t last = UINT32_MAX;
        for (;;) {
            const uint32_t tick = osKernelGetTickCount();
            if (tick != last) {
                note(name);
                last = tick;
            }
        }
    });
}

TEST(KernelOrder, EqualPrioritiesStartWithTheLastCreatedThenGoRound) {
    const json r = boot(
        [] {
            for (const char* name : {"a", "b", "c"}) {
                taking_turns(name);
            }
        },
        8, {}, kWallLimitS);
    EXPECT_EQ(turns(r, 7), (std::vector<std::string>{"c", "a", "b", "c", "a", "b", "c"}));
}

TEST(KernelOrder, AfterAPreemptionTheRoundGoesOnPastThePreemptedThread) {
    const json r = boot(
        [] {
            taking_turns("a");
            taking_turns("b");
            spawn("h", osPriorityHigh, [] {
                // Wakes on tick 2, in the middle of a turn of the others.
                osDelay(2);
                note("H");
                park();
            });
        },
        8, {}, kWallLimitS);
    // h runs first and sleeps; then a (first in the round) takes tick 0 and
    // b tick 1. h preempts b at tick 2; afterwards the round goes on to a
    // instead of giving b the rest of its turn.
    std::vector<std::string> seen;
    for (const auto& e : r["trace"]) {
        seen.push_back(e["what"]);
    }
    seen.resize(std::min<std::size_t>(seen.size(), 5));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "H", "a", "b"}));
}

TEST(KernelOrder, TheLongestDelaysAreTicksButQueueWaitsAreForever) {
    const json r = boot(
        [] {
            g_queue = osMessageQueueNew(1, 4, nullptr);
            spawn("vTaskDelay", osPriorityNormal, [] {
                note("call");
                vTaskDelay(portMAX_DELAY);
            });
            spawn("osDelay", osPriorityNormal, [] {
                note("call");
                osDelay(osWaitForever);
            });
            spawn("get", osPriorityNormal, [] {
                uint32_t m;
                osMessageQueueGet(g_queue, &m, nullptr, osWaitForever);
            });
        },
        5, {}, kWallLimitS);
    const uint64_t call = first(r, "call")["tick"];
    for (const char* name : {"vTaskDelay", "osDelay"}) {
        EXPECT_TRUE(r["threads"][name]["blocked"]) << name;
        EXPECT_EQ(r["threads"][name]["wake_tick"], call + 0xFFFFFFFFull) << name;
    }
    EXPECT_TRUE(r["threads"]["get"]["blocked"]);
    EXPECT_TRUE(r["threads"]["get"]["wake_tick"].is_null());
}

}  // namespace

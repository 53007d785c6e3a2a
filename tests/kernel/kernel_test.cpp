// The kernel stand-in, driven through the CMSIS-RTOS v2 calls the firmware
// uses. Each case boots a board of its own in a child process.
#include "kernel_probe.hpp"

namespace {

using namespace kernel_test;

// ---- scheduling ----

TEST(KernelScheduling, TickWakingAMoreUrgentThreadPreemptsAtOnce) {
    const json r = boot(
        [] {
            spawn("low", osPriorityLow, [] {
                note("low-begin");
                spin_ticks(20);
                note("low-end");
                park();
            });
            spawn("high", osPriorityHigh, [] {
                note("high-sleep");
                osDelay(5);
                note("high-wake");
                park();
            });
        },
        50);
    const json sleep = first(r, "high-sleep");
    const json wake = first(r, "high-wake");
    EXPECT_EQ(wake["tick"].get<int>(), sleep["tick"].get<int>() + 5);
    // The wake comes while the low thread is still busy, a few microseconds
    // after the tick (the sleep began just after the kernel's first tick
    // period started), not when the low thread next blocks.
    EXPECT_LT(wake["us"].get<double>(), first(r, "low-end")["us"].get<double>());
    EXPECT_LT(wake["us"].get<double>() - sleep["us"].get<double>(), 5000.0 + 20.0);
    // The most urgent thread ran first after the start.
    EXPECT_EQ(r["trace"][0]["what"], "high-sleep");
}

TEST(KernelScheduling, EqualPrioritiesShareTheCoreTickByTick) {
    const json r = boot(
        [] {
            for (const char* name : {"a", "b"}) {
                spawn(name, osPriorityNormal, [name] {
                    uint32_t last = UINT32_MAX;
                    for (int turns = 0; turns < 40;) {
                        const uint32_t tick = osKernelGetTickCount();
                        if (tick != last) {
                            note(name);
                            last = tick;
                            turns++;
                        }
                        __NOP();
                    }
                    park();
                });
            }
            spawn("low", osPriorityLow, [] {
                note("low");
                park();
            });
        },
        200);
    // Each tick hands the core to the other thread of the same priority.
    std::vector<std::string> order;
    for (const auto& e : r["trace"]) {
        if (e["what"] == "a" || e["what"] == "b") {
            order.push_back(e["what"]);
        }
    }
    ASSERT_GE(order.size(), 20u);
    for (std::size_t i = 1; i < 20; i++) {
        EXPECT_NE(order[i], order[i - 1]) << "at turn " << i;
    }
    // The low thread waits until both have blocked.
    EXPECT_GT(first(r, "low")["tick"].get<int>(), 38);
}

struct DelayCase {
    const char* call;
    uint32_t ticks;
};

class KernelDelay : public ::testing::TestWithParam<DelayCase> {};

TEST_P(KernelDelay, LastsItsTicksCountedFromTheCurrentTick) {
    const DelayCase c = GetParam();
    const json r = boot(
        [c] {
            spawn("t", osPriorityNormal, [c] {
                spin_ticks(1);
                for (int i = 0; i < 3000; i++) {  // well inside a tick
                    __NOP();
                }
                note("before");
                if (std::string(c.call) == "osDelay") {
                    note("status", osDelay(c.ticks));
                } else {
                    vTaskDelay(c.ticks);
                }
                note("after");
                park();
            });
        },
        c.ticks + 50.0);
    const json before = first(r, "before");
    const json after = first(r, "after");
    EXPECT_EQ(after["tick"].get<uint32_t>() - before["tick"].get<uint32_t>(), c.ticks);
    // Started part-way into a tick, the sleep is a little shorter than n ms.
    const double slept_ms = (after["us"].get<double>() - before["us"].get<double>()) / 1000.0;
    EXPECT_GT(slept_ms, c.ticks - 1.0);
    EXPECT_LE(slept_ms, c.ticks + 0.05);
}

INSTANTIATE_TEST_SUITE_P(Ticks, KernelDelay,
                         ::testing::Values(DelayCase{"osDelay", 1}, DelayCase{"osDelay", 10},
                                           DelayCase{"osDelay", 500}, DelayCase{"vTaskDelay", 1},
                                           DelayCase{"vTaskDelay", 1000}),
                         [](const auto& info) {
                             return std::string(info.param.call) + "_" +
                                    std::to_string(info.param.ticks);
                         });

TEST(KernelScheduling, ZeroDelayReturnsAtOnceAndAThreadMustNotReturn) {
    const json r = boot(
        [] {
            spawn("t", osPriorityNormal, [] {
                note("before");
                note("status", osDelay(0));
            });
        },
        10);
    EXPECT_EQ(first(r, "status")["value"], osOK);
    // Returns at once, but like every call it takes a little time.
    EXPECT_GT(first(r, "status")["us"], first(r, "before")["us"]);
    EXPECT_LT(first(r, "status")["us"].get<double>() - first(r, "before")["us"].get<double>(), 20);
    EXPECT_EQ(r["halted"]["where"], "thread t returned");
}

TEST(KernelScheduling, StartWithoutInitialisationFailsAndMainCarriesOn) {
    const json out = sim::testing::run_board({.run_for = sim::kPsPerMs, .probe = [](json& o) {
                                                  o["start"] = osKernelStart();
                                                  o["init"] = osKernelInitialize();
                                                  o["init_again"] = osKernelInitialize();
                                              }});
    EXPECT_EQ(out["start"], osError);
    EXPECT_EQ(out["init"], osOK);
    EXPECT_EQ(out["init_again"], osError);
}

// ---- message queues ----

osMessageQueueId_t g_queue;

TEST(KernelQueue, KeepsFifoOrderAndReportsFullAndEmpty) {
    const json r = boot(
        [] {
            g_queue = osMessageQueueNew(4, sizeof(uint32_t), nullptr);
            spawn("t", osPriorityNormal, [] {
                for (uint32_t v = 1; v <= 5; v++) {
                    note("put", osMessageQueuePut(g_queue, &v, 0, 0));
                }
                note("count", osMessageQueueGetCount(g_queue));
                for (int i = 0; i < 5; i++) {
                    uint32_t v = 0;
                    const osStatus_t s = osMessageQueueGet(g_queue, &v, nullptr, 0);
                    note("got", {s, v});
                }
                park();
            });
        },
        10);
    const auto puts = named(r, "put");
    ASSERT_EQ(puts.size(), 5u);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(puts[i]["value"], osOK);
    }
    EXPECT_EQ(puts[4]["value"], osErrorResource);
    EXPECT_EQ(first(r, "count")["value"], 4);
    const auto got = named(r, "got");
    ASSERT_EQ(got.size(), 5u);
    for (uint32_t i = 0; i < 4; i++) {
        EXPECT_EQ(got[i]["value"], json({osOK, i + 1}));
    }
    EXPECT_EQ(got[4]["value"][0], osErrorResource);
}

TEST(KernelQueue, WaitsEndInTimeoutAfterExactlyTheirTicks) {
    const json r = boot(
        [] {
            g_queue = osMessageQueueNew(1, sizeof(uint32_t), nullptr);
            spawn("t", osPriorityNormal, [] {
                uint32_t v = 7;
                note("get-begin");
                note("get", osMessageQueueGet(g_queue, &v, nullptr, 20));
                osMessageQueuePut(g_queue, &v, 0, 0);
                note("put", osMessageQueuePut(g_queue, &v, 0, 5));
                park();
            });
        },
        50);
    const json begin = first(r, "get-begin");
    const json get = first(r, "get");
    EXPECT_EQ(get["value"], osErrorTimeout);
    EXPECT_EQ(get["tick"].get<int>() - begin["tick"].get<int>(), 20);
    const json put = first(r, "put");
    EXPECT_EQ(put["value"], osErrorTimeout);
    EXPECT_EQ(put["tick"].get<int>() - get["tick"].get<int>(), 5);
}

TEST(KernelQueue, APutWakesTheMostUrgentWaitingReaderAtOnce) {
    const json r = boot(
        [] {
            g_queue = osMessageQueueNew(4, sizeof(uint32_t), nullptr);
            for (auto [name, prio] : {std::pair{"reader-20", osPriorityBelowNormal4},
                                      std::pair{"reader-30", osPriorityAboveNormal}}) {
                spawn(name, prio, [name = std::string(name)] {
                    uint32_t v = 0;
                    const osStatus_t s = osMessageQueueGet(g_queue, &v, nullptr, 100);
                    note(name, {s, v});
                    park();
                });
            }
            spawn("writer", osPriorityLow, [] {
                spin_ticks(10);
                uint32_t v = 42;
                note("put", osMessageQueuePut(g_queue, &v, 0, 0));
                park();
            });
        },
        150);
    const json urgent = first(r, "reader-30");
    EXPECT_EQ(urgent["value"], json({osOK, 42}));
    EXPECT_EQ(urgent["tick"], 10);
    // The reader ran before the writer got past its put.
    EXPECT_LT(urgent["us"].get<double>(), first(r, "put")["us"].get<double>());
    EXPECT_EQ(first(r, "reader-20")["value"][0], osErrorTimeout);
}

TEST(KernelQueue, AGetLetsAWaitingWriterInBehindTheOthers) {
    const json r = boot(
        [] {
            g_queue = osMessageQueueNew(2, sizeof(uint32_t), nullptr);
            spawn("writer", osPriorityHigh, [] {
                for (uint32_t v = 1; v <= 3; v++) {
                    note("put", osMessageQueuePut(g_queue, &v, 0, osWaitForever));
                }
                park();
            });
            spawn("reader", osPriorityLow, [] {
                spin_ticks(3);
                for (int i = 0; i < 3; i++) {
                    uint32_t v = 0;
                    osMessageQueueGet(g_queue, &v, nullptr, 0);
                    note("got", v);
                }
                park();
            });
        },
        20);
    const auto puts = named(r, "put");
    ASSERT_EQ(puts.size(), 3u);
    EXPECT_EQ(puts[2]["value"], osOK);
    EXPECT_EQ(puts[2]["tick"], 3);  // released by the first get
    const auto got = named(r, "got");
    ASSERT_EQ(got.size(), 3u);
    for (uint32_t i = 0; i < 3; i++) {
        EXPECT_EQ(got[i]["value"], i + 1);
    }
}

TEST(KernelQueue, AnEarlyWakeLeavesNoTimeoutBehindForTheNextWait) {
    const json r = boot(
        [] {
            g_queue = osMessageQueueNew(1, sizeof(uint32_t), nullptr);
            spawn("reader", osPriorityHigh, [] {
                uint32_t v = 0;
                note("got", osMessageQueueGet(g_queue, &v, nullptr, 20));
                osDelay(30);  // must not end when the get's timeout would have
                note("slept");
                park();
            });
            spawn("writer", osPriorityLow, [] {
                spin_ticks(2);
                uint32_t v = 1;
                osMessageQueuePut(g_queue, &v, 0, 0);
                park();
            });
        },
        60);
    EXPECT_EQ(first(r, "got")["tick"], 2);
    EXPECT_EQ(first(r, "slept")["tick"], 32);
}

TEST(KernelQueue, RefusesBadArguments) {
    const json r = boot(
        [] {
            note("zero-count", osMessageQueueNew(0, 4, nullptr) == nullptr);
            note("zero-size", osMessageQueueNew(4, 0, nullptr) == nullptr);
            g_queue = osMessageQueueNew(1, 4, nullptr);
            spawn("t", osPriorityNormal, [] {
                uint32_t v = 0;
                note("null-queue-put", osMessageQueuePut(nullptr, &v, 0, 0));
                note("null-queue-get", osMessageQueueGet(nullptr, &v, nullptr, 10));
                note("null-msg-put", osMessageQueuePut(g_queue, nullptr, 0, 0));
                note("null-msg-get", osMessageQueueGet(g_queue, nullptr, nullptr, 0));
                park();
            });
        },
        5);
    EXPECT_EQ(first(r, "zero-count")["value"], true);
    EXPECT_EQ(first(r, "zero-size")["value"], true);
    for (const char* what : {"null-queue-put", "null-queue-get", "null-msg-put", "null-msg-get"}) {
        EXPECT_EQ(first(r, what)["value"], osErrorParameter) << what;
    }
}

// An interrupt handler may post without waiting; the woken thread runs as
// soon as the handler returns.
void exti0_handler() {
    uint32_t v = 99;
    note("isr-put", osMessageQueuePut(g_queue, &v, 0, 0));
    note("isr-put-wait", osMessageQueuePut(g_queue, &v, 0, 5));
    note("isr-delay", osDelay(1));
}

TEST(KernelQueue, AnInterruptHandlerPostsWithoutWaiting) {
    const json r = boot(
        [] {
            g_queue = osMessageQueueNew(2, sizeof(uint32_t), nullptr);
            sim::Board::get().cpu().set_vector(EXTI0_IRQn, exti0_handler);
            sim::Board::get().cpu().set_priority(EXTI0_IRQn, 6);
            NVIC_EnableIRQ(EXTI0_IRQn);
            spawn("reader", osPriorityHigh, [] {
                uint32_t v = 0;
                note("got", {osMessageQueueGet(g_queue, &v, nullptr, osWaitForever), v});
                park();
            });
            spawn("raiser", osPriorityLow, [] {
                spin_ticks(2);
                NVIC_SetPendingIRQ(EXTI0_IRQn);
                note("raiser-after");
                park();
            });
        },
        10);
    EXPECT_EQ(first(r, "isr-put")["value"], osOK);
    EXPECT_EQ(first(r, "isr-put-wait")["value"], osErrorParameter);
    EXPECT_EQ(first(r, "isr-delay")["value"], osErrorISR);
    EXPECT_EQ(first(r, "got")["value"], json({osOK, 99}));
    EXPECT_LT(first(r, "got")["us"].get<double>(), first(r, "raiser-after")["us"].get<double>());
}

// ---- kernel heap ----

TEST(KernelHeap, AccountsEveryObjectAndRefusesWhatNoLongerFits) {
    const json r = boot(
        [] {
            int created = 0;
            while (spawn("w", osPriorityLow, park) != nullptr) {
                created++;
            }
            note("threads", created);
            note("heap-after-threads", sim::kernel_heap_used());
            note("queue", osMessageQueueNew(4, 36, nullptr) != nullptr);
            note("big-queue", osMessageQueueNew(1000, 36, nullptr) != nullptr);
            note("bad-priority", spawn("p", static_cast<osPriority_t>(60), park) != nullptr);
            note("no-function", osThreadNew(nullptr, nullptr, nullptr) != nullptr);
        },
        5);
    // 1024-byte stack + 188-byte control block (docs/design.md, "Kernel
    // heap"), each with an 8-byte header: 1232 bytes a thread; the heap offers
    // 32768 less its end marker, 26 threads and 728 bytes.
    EXPECT_EQ(first(r, "threads")["value"], 26);
    EXPECT_EQ(first(r, "heap-after-threads")["value"], 26 * 1232);
    EXPECT_EQ(first(r, "queue")["value"], true);
    EXPECT_EQ(first(r, "big-queue")["value"], false);
    EXPECT_EQ(first(r, "bad-priority")["value"], false);
    EXPECT_EQ(first(r, "no-function")["value"], false);
    EXPECT_EQ(r["heap"], 26 * 1232 + 232);
}

TEST(KernelHeap, AScenarioCanMakeQueueCreationFail) {
    const json r = boot(
        [] {
            sim::set_kernel_settings({.queue_create_fails = true});
            note("queue", osMessageQueueNew(4, 36, nullptr) == nullptr);
            note("thread", spawn("t", osPriorityNormal, park) != nullptr);
        },
        5);
    EXPECT_EQ(first(r, "queue")["value"], true);
    EXPECT_EQ(first(r, "thread")["value"], true);
    EXPECT_EQ(r["heap"], 1232);
}

}  // namespace

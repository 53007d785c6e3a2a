// Boots a board whose start-up code sets up threads through the CMSIS-RTOS v2
// calls, in a child process, and gathers what the threads noted.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cmsis_os2.h"
#include "sim/board/board.hpp"
#include "sim/platform.hpp"
#include "sim/testing/board_run.hpp"
#include "stm32f4xx.h"
#include "task.h"

namespace kernel_test {

using nlohmann::json;
using Body = std::function<void()>;

// ---- inside the child ----

inline json g_trace = json::array();
inline std::deque<Body> g_bodies;

inline double now_us() {
    return static_cast<double>(sim::Board::get().cpu().now()) / sim::kPsPerUs;
}

inline void note(const std::string& what, json value = nullptr) {
    g_trace.push_back({{"what", what},
                       {"tick", osKernelGetTickCount()},
                       {"us", now_us()},
                       {"at", sim::Board::get().cpu().now()},
                       {"value", value}});
}

inline osThreadId_t spawn(const char* name, osPriority_t priority, Body body,
                          uint32_t stack_size = 1024) {
    g_bodies.push_back(std::move(body));
    osThreadAttr_t attr = {};
    attr.name = name;
    attr.priority = priority;
    attr.stack_size = stack_size;
    return osThreadNew([](void* arg) { (*static_cast<Body*>(arg))(); }, &g_bodies.back(), &attr);
}

[[noreturn]] inline void park() {
    for (;;) {
        osDelay(1000000);
    }
}

// Keeps the core busy, without blocking, until `ticks` ticks have passed.
inline void spin_ticks(uint32_t ticks) {
    const uint32_t start = osKernelGetTickCount();
    while (osKernelGetTickCount() - start < ticks) {
        __NOP();
    }
}

// Boots a board whose "main" runs `setup` between kernel initialisation and
// start, runs it for `ms` of virtual time and returns the trace.
inline json boot(const std::function<void()>& setup, double ms, sim::BoardConfig config = {},
                 unsigned wall_limit_s = 300) {
    return sim::testing::run_board(
        {.config = config,
         .run_for = static_cast<sim::Picos>(ms * sim::kPsPerMs),
         .wall_limit_s = wall_limit_s,
         .bring_up =
             [&] {
                 osKernelInitialize();
                 setup();
                 note("start", osKernelStart());  // only reached if the start fails
                 park();
             },
         .after =
             [](json& out) {
                 out["trace"] = g_trace;
                 out["heap"] = sim::kernel_heap_used();
                 out["ticks"] = sim::kernel_ticks();
                 out["threads"] = json::object();
                 for (const sim::ThreadInfo& t : sim::created_threads()) {
                     out["threads"][t.name] = {{"blocked", t.blocked}, {"wake_tick", nullptr}};
                     if (t.wake_tick) {
                         out["threads"][t.name]["wake_tick"] = *t.wake_tick;
                     }
                 }
             }});
}

inline std::vector<json> named(const json& result, const std::string& what) {
    std::vector<json> out;
    for (const auto& e : result["trace"]) {
        if (e["what"] == what) {
            out.push_back(e);
        }
    }
    return out;
}

inline json first(const json& result, const std::string& what) {
    auto all = named(result, what);
    EXPECT_FALSE(all.empty()) << "no '" << what << "' in " << result.dump();
    return all.empty() ? json::object() : all.front();
}

}  // namespace kernel_test

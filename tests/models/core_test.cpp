// The Cortex-M4 core of the virtual board: virtual time from core cycles, the
// DWT cycle counter, NVIC dispatch with PRIMASK and __WFI, and the SCB
// registers the start-up code writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "named_case.hpp"
#include "model_probe.hpp"
#include "sim/core/cpu.hpp"

namespace {

using model_test::json;
using sim::Picos;

// ---- cycles and time (a core on its own, no board) ----

struct ConsumeCase : named_case::Case {
    uint32_t hz;
    uint32_t cycles_per_call;
    uint32_t calls;
};

class CoreTime : public ::testing::TestWithParam<ConsumeCase> {};

TEST_P(CoreTime, ManyCallsAddUpToTheExactTimeOfTheirCycles) {
    const ConsumeCase c = GetParam();
    sim::Cpu cpu;
    uint32_t hz = c.hz;
    cpu.set_core_hz_source(&hz);
    for (uint32_t i = 0; i < c.calls; i++) {
        cpu.consume(c.cycles_per_call);
    }
    const uint64_t cycles = static_cast<uint64_t>(c.calls) * c.cycles_per_call;
    EXPECT_EQ(cpu.cycles(), cycles);
    const Picos exact = model_test::cycles_ps(cycles, c.hz);
    const double one_cycle = 1e12 / c.hz;
    EXPECT_NEAR(static_cast<double>(cpu.now()), static_cast<double>(exact), one_cycle)
        << "off by " << (static_cast<double>(cpu.now()) - static_cast<double>(exact)) / one_cycle
        << " cycles";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CoreTime,
    ::testing::Values(ConsumeCase{"At168M_AMillionSingleCycles", 168'000'000, 1, 1'000'000},
                      ConsumeCase{"At16M_AMillionSingleCycles", 16'000'000, 1, 1'000'000},
                      ConsumeCase{"At168M_SevenCycleCalls", 168'000'000, 7, 300'000},
                      ConsumeCase{"At168M_HalCalls", 168'000'000, 40, 250'000},
                      // A call may cost up to 2^32 - 1 cycles: 25.6 s at 168 MHz.
                      ConsumeCase{"At168M_OneLongCall", 168'000'000, 4'294'967'295U, 1},
                      ConsumeCase{"At16M_ThreeLongCalls", 16'000'000, 100'000'000, 3}),
    named_case::by_name);

TEST(CoreTime, EachCallTakesTheClockInForceWhenItRuns) {
    sim::Cpu cpu;
    uint32_t hz = 16'000'000;
    cpu.set_core_hz_source(&hz);
    cpu.consume(1000);  // 62.5 us
    hz = 168'000'000;
    for (int i = 0; i < 168'000; i++) {  // 1 ms
        cpu.consume(1);
    }
    EXPECT_NEAR(static_cast<double>(cpu.now()), 1'062'500'000.0, 1e12 / 168e6);
    EXPECT_EQ(cpu.cycles(), 169'000u);
}

// ---- DWT cycle counter ----

struct CounterStep {
    const char* name;
    uint32_t value;
};

TEST(CycleCounter, CountsCoreCyclesOnlyWhileTraceAndTheCounterAreEnabled) {
    const json r = model_test::on_board([](json& out) {
        sim::Cpu& cpu = model_test::cpu();
        json steps = json::array();
        auto step = [&](uint32_t value) { steps.push_back(value); };
        // Counter increase over `cycles` of work, reading it before and after
        // (the second read costs a register access before it samples).
        auto counted_over = [&](uint32_t cycles) {
            const uint32_t before = DWT->CYCCNT;
            cpu.consume(cycles);
            return static_cast<uint32_t>(DWT->CYCCNT - before);
        };

        cpu.consume(1000);
        step(DWT->CYCCNT);
        DWT->CTRL = DWT_CTRL_CYCCNTENA_Msk;
        step(counted_over(1000));
        CoreDebug->DEMCR = CoreDebug_DEMCR_TRCENA_Msk;
        step(counted_over(1000));
        DWT->CYCCNT = 0;
        cpu.consume(500);
        step(DWT->CYCCNT);
        const uint32_t before_reenable = DWT->CYCCNT;
        DWT->CTRL |= DWT_CTRL_CYCCNTENA_Msk;  // already on
        step(DWT->CYCCNT - before_reenable);
        const uint32_t before_idle = DWT->CYCCNT;
        model_test::idle_until(cpu.now() + sim::kPsPerMs);
        step(DWT->CYCCNT - before_idle);
        CoreDebug->DEMCR = 0;
        step(counted_over(1000));
        CoreDebug->DEMCR = CoreDebug_DEMCR_TRCENA_Msk;
        step(counted_over(1000));
        DWT->CTRL = 0;
        step(counted_over(1000));
        DWT->CYCCNT = 7;
        step(DWT->CYCCNT);
        DWT->CTRL = DWT_CTRL_CYCCNTENA_Msk;
        step(DWT->CYCCNT);
        DWT->CYCCNT = 0xFFFFFF00U;
        cpu.consume(0x200);
        step(DWT->CYCCNT);
        out["steps"] = steps;
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    // Core at 16 MHz (reset clock); every register access costs 2 cycles.
    const std::vector<CounterStep> expected = {
        {"not counting after reset", 0},
        {"counter enabled, trace off: still", 0},
        {"trace switched on afterwards: counts", 1002},
        {"counts on from a written value", 502},
        {"enabling it again keeps the count (read, write, read)", 6},
        {"counts while the core idles (1 ms)", 16000 + 2},
        {"trace switched off: holds", 0},
        {"trace back on: counts", 1002},
        {"counter disabled: holds", 0},
        {"written while stopped", 7},
        {"resumes from where it was", 7 + 2},
        {"wraps at 32 bits", 0x100 + 2},
    };
    ASSERT_EQ(r["steps"].size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(r["steps"][i], expected[i].value) << expected[i].name;
    }
}

// ---- NVIC ----

std::vector<std::string> g_trace;  // in the child

void trace(const std::string& what) {
    g_trace.push_back(what);
}

std::string trace_text() {
    std::string text;
    for (const std::string& t : g_trace) {
        text += (text.empty() ? "" : " ") + t;
    }
    return text;
}

// A runs first; B becomes pending while A is running.
constexpr IRQn_Type kIrqA = EXTI1_IRQn;
constexpr IRQn_Type kIrqB = EXTI0_IRQn;  // lower number: wins ties among pending ones only

void handler_a() {
    trace("A+");
    NVIC_SetPendingIRQ(kIrqB);
    __NOP();
    __NOP();
    trace("A-");
}

void handler_b() {
    trace("B");
}

struct PreemptCase : named_case::Case {
    uint32_t grouping;
    uint32_t a_preempt, a_sub;
    uint32_t b_preempt, b_sub;
    const char* trace;
};

class NvicPreemption : public ::testing::TestWithParam<PreemptCase> {};

TEST_P(NvicPreemption, APendingInterruptRunsAtOnceOnlyIfMoreUrgent) {
    const PreemptCase c = GetParam();
    const json r = model_test::on_board([c](json& out) {
        sim::Cpu& cpu = model_test::cpu();
        cpu.set_vector(kIrqA, &handler_a);
        cpu.set_vector(kIrqB, &handler_b);
        NVIC_SetPriorityGrouping(c.grouping);
        NVIC_SetPriority(kIrqA, NVIC_EncodePriority(c.grouping, c.a_preempt, c.a_sub));
        NVIC_SetPriority(kIrqB, NVIC_EncodePriority(c.grouping, c.b_preempt, c.b_sub));
        NVIC_EnableIRQ(kIrqA);
        NVIC_EnableIRQ(kIrqB);
        NVIC_SetPendingIRQ(kIrqA);
        __NOP();
        out["trace"] = trace_text();
    });
    EXPECT_EQ(r["trace"], c.trace);
}

// Grouping 3: four bits of preemption level. Grouping 5: two bits of
// preemption level, two of subpriority, which never preempts.
INSTANTIATE_TEST_SUITE_P(
    Levels, NvicPreemption,
    ::testing::Values(PreemptCase{"MoreUrgentPreempts", 3, 5, 0, 3, 0, "A+ B A-"},
                      PreemptCase{"EqualLevelWaits", 3, 5, 0, 5, 0, "A+ A- B"},
                      PreemptCase{"LessUrgentWaits", 3, 5, 0, 9, 0, "A+ A- B"},
                      PreemptCase{"LevelZeroPreemptsLevel15", 3, 15, 0, 0, 0, "A+ B A-"},
                      PreemptCase{"SameGroupLowerSubpriorityWaits", 5, 1, 1, 1, 0, "A+ A- B"},
                      PreemptCase{"MoreUrgentGroupPreempts", 5, 2, 0, 1, 3, "A+ B A-"}),
    named_case::by_name);

// ---- SCB: what the FPU enable and the priority grouping leave behind ----

struct ScbWrite : named_case::Case {
    bool aircr;  // else CPACR
    uint32_t value;
    uint32_t reads;     // the register afterwards
    uint32_t grouping;  // the NVIC's grouping afterwards
};

class ScbRegister : public ::testing::TestWithParam<ScbWrite> {};

// Figures measured on an emulated Cortex-M4F: tools/measure/scb-on-qemu.
TEST_P(ScbRegister, KeepsWhatTheCoreKeeps) {
    const ScbWrite c = GetParam();
    const json r = model_test::on_board([c](json& out) {
        out["at_reset"] = {model_test::value(SCB->CPACR), model_test::value(SCB->AIRCR)};
        NVIC_SetPriorityGrouping(3);
        (c.aircr ? SCB->AIRCR : SCB->CPACR) = c.value;
        out["reads"] = model_test::value(c.aircr ? SCB->AIRCR : SCB->CPACR);
        out["grouping"] = model_test::cpu().priority_grouping();
        out["get_grouping"] = NVIC_GetPriorityGrouping();
    });
    ASSERT_TRUE(r["finished"]) << r.dump();
    EXPECT_EQ(r["at_reset"], json({0u, 0xFA050000u}));
    EXPECT_EQ(r["reads"], c.reads);
    EXPECT_EQ(r["grouping"], c.grouping);
    EXPECT_EQ(r["get_grouping"], c.grouping);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, ScbRegister,
    ::testing::Values(ScbWrite{"CpacrKeepsOnlyTheFpuFields", false, 0xFFFFFFFFu, 0x00F00000u, 3},
                      ScbWrite{"CpacrFpuFullAccess", false, 0x00F00000u, 0x00F00000u, 3},
                      ScbWrite{"AircrWithKeyTakesTheGrouping", true, 0x05FA0500u, 0xFA050500u, 5},
                      ScbWrite{"AircrWithoutKeyIsIgnored", true, 0x00000500u, 0xFA050300u, 3},
                      ScbWrite{"AircrWithAWrongKeyIsIgnored", true, 0xFA050500u, 0xFA050300u, 3}),
    named_case::by_name);

template <char Name>
void named_handler() {
    trace(std::string(1, Name));
}

TEST(Nvic, PrimaskHoldsInterruptsThenTheMostUrgentRunsFirst) {
    const json r = model_test::on_board([](json& out) {
        sim::Cpu& cpu = model_test::cpu();
        struct Irq {
            IRQn_Type irq;
            void (*handler)();
            uint32_t level;
            bool enabled;
        };
        const Irq irqs[] = {
            {CAN1_RX0_IRQn, &named_handler<'C'>, 7, true},
            {DMA1_Stream0_IRQn, &named_handler<'D'>, 7, true},  // same level, lower number
            {TIM4_IRQn, &named_handler<'E'>, 2, true},
            {EXTI15_10_IRQn, &named_handler<'F'>, 1, false},  // pending but disabled
        };
        __disable_irq();
        for (const Irq& i : irqs) {
            cpu.set_vector(i.irq, i.handler);
            NVIC_SetPriority(i.irq, i.level);
            if (i.enabled) {
                NVIC_EnableIRQ(i.irq);
            }
            NVIC_SetPendingIRQ(i.irq);
        }
        for (int i = 0; i < 100; i++) {
            __NOP();
        }
        model_test::idle_until(cpu.now() + sim::kPsPerMs);
        trace("unmask");
        __enable_irq();
        out["f_pending"] = NVIC_GetPendingIRQ(EXTI15_10_IRQn);
        trace("enable-F");
        NVIC_EnableIRQ(EXTI15_10_IRQn);
        trace("end");
        out["trace"] = trace_text();
    });
    EXPECT_EQ(r["trace"], "unmask E D C enable-F F end");
    EXPECT_EQ(r["f_pending"], 1);
}

TEST(Nvic, AnEnabledInterruptWithoutHandlerHaltsInDefaultHandler) {
    const json r = model_test::on_board([](json& out) {
        NVIC_EnableIRQ(SPI1_IRQn);
        out["pended_at"] = model_test::cpu().now();
        NVIC_SetPendingIRQ(SPI1_IRQn);
        out["carried_on"] = true;
    });
    EXPECT_FALSE(r["finished"]);
    EXPECT_FALSE(r.contains("carried_on"));
    ASSERT_TRUE(r["halted"].is_object()) << r.dump();
    EXPECT_EQ(r["halted"]["where"], "Default_Handler");
    EXPECT_LT(r["halted"]["at"].get<Picos>() - r["pended_at"].get<Picos>(), sim::kPsPerUs);
}

// ---- __WFI ----

Picos g_woken_at = 0;

void wake_handler() {
    g_woken_at = model_test::cpu().now();
}

void sleep_until_woken() {
    __WFI();
}

struct WfiCase : named_case::Case {
    bool masked;
};

class CoreWfi : public ::testing::TestWithParam<WfiCase> {};

TEST_P(CoreWfi, SleepsUntilTheNextInterruptOrHaltsWhenNoneCanCome) {
    const WfiCase c = GetParam();
    const json r = model_test::on_board([c](json& out) {
        sim::Cpu& cpu = model_test::cpu();
        static sim::FunctionEvent wake([](Picos) { NVIC_SetPendingIRQ(EXTI2_IRQn); });
        const Picos due = cpu.now() + sim::kPsPerMs;
        cpu.events().schedule(wake, due);
        cpu.set_vector(EXTI2_IRQn, &wake_handler);
        NVIC_EnableIRQ(EXTI2_IRQn);
        out["due"] = due;
        if (c.masked) {
            __disable_irq();
        }
        sleep_until_woken();
        out["back_at"] = cpu.now();
        out["woken_at"] = g_woken_at;
    });
    const Picos due = r["due"].get<Picos>();
    if (c.masked) {
        ASSERT_TRUE(r["halted"].is_object()) << r.dump();
        EXPECT_EQ(r["halted"]["where"], "sleep_until_woken");
        EXPECT_LT(r["halted"]["at"].get<Picos>(), due);
        EXPECT_FALSE(r.contains("back_at"));
    } else {
        ASSERT_TRUE(r["finished"]) << r.dump();
        const Picos woken = r["woken_at"].get<Picos>();
        EXPECT_GE(woken, due);
        EXPECT_LT(woken, due + sim::kPsPerUs);
        EXPECT_GE(r["back_at"].get<Picos>(), woken);
        EXPECT_LT(r["back_at"].get<Picos>(), due + 2 * sim::kPsPerUs);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CoreWfi,
                         ::testing::Values(WfiCase{"InterruptsMasked_Halts", true},
                                           WfiCase{"InterruptsOn_WakesAtTheInterrupt", false}),
                         named_case::by_name);

}  // namespace

// The bit-banged bus times its bits on CYCCNT, which wraps every 25.6 s at
// 168 MHz: over a day of short busy stretches and long sleeps the counter
// must still read exactly the cycles of the virtual time that passed.
TEST(CycleCounter, StaysOnVirtualTimeOverADayAt168MHz) {
    constexpr double kDayS = 86400.0;
    const json r = model_test::on_board(
        [](json& out) {
            sim::Cpu& cpu = model_test::cpu();
            model_test::switch_to_pll_168();
            CoreDebug->DEMCR = CoreDebug_DEMCR_TRCENA_Msk;
            DWT->CTRL = DWT_CTRL_CYCCNTENA_Msk;
            const uint32_t c0 = DWT->CYCCNT;  // sampled at the end of its access
            const sim::Picos t0 = cpu.now();
            uint64_t lcg = 12345;
            auto next = [&lcg](uint64_t bound) {
                lcg = lcg * 6364136223846793005ULL + 1442695040888963407ULL;
                return (lcg >> 11) % bound;
            };
            int64_t worst = 0;
            uint64_t checks = 0;
            while (cpu.now() - t0 < static_cast<sim::Picos>(kDayS * 1e12)) {
                model_test::idle_until(cpu.now() + next(10 * sim::kPsPerS) + next(997));
                for (uint64_t n = next(8); n > 0; n--) {
                    cpu.consume(static_cast<uint32_t>(1 + next(5000)));
                }
                const uint32_t count = DWT->CYCCNT;
                // Independently: whole 168 MHz periods since t0, modulo 2^32.
                const auto expected = static_cast<uint32_t>(
                    c0 + static_cast<uint64_t>(static_cast<unsigned __int128>(cpu.now() - t0) *
                                               168000000u / sim::kPsPerS));
                const int64_t error = static_cast<int32_t>(count - expected);
                worst = std::max(worst, error < 0 ? -error : error);
                checks++;
            }
            out["worst"] = worst;
            out["checks"] = checks;
            out["wraps"] = (cpu.now() - t0) / model_test::cycles_ps(1ULL << 32, 168000000);
        },
        static_cast<sim::Picos>((kDayS + 60) * 1e12));
    ASSERT_TRUE(r["finished"]) << r.dump();
    EXPECT_GT(r["checks"].get<int>(), 15000);
    EXPECT_GT(r["wraps"].get<int>(), 3000);
    // The reads land between cycle edges: at most the one being counted.
    EXPECT_LE(r["worst"].get<int>(), 1);
}

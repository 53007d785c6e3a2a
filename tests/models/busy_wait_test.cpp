// Busy waits on the cycle counter: the board lets the turns that cannot change
// anything pass at once. Each wait runs twice on fresh boards, once written as
// the firmware writes it (the comparison reaches the board) and once with the
// difference taken as a plain number (every turn polls); both must leave at the
// same cycle, the same way, having seen the same.
#include <gtest/gtest.h>

#include <string>

#include "named_case.hpp"
#include "model_probe.hpp"

namespace {

using model_test::json;

enum class Loop {
    Delay,            // while (CYCCNT - start < limit) {}
    DelayReversed,    // while (limit >= CYCCNT - start) {}
    AckOrTimeout,     // while (SDA high) { if (CYCCNT - start > limit) timeout }
    AckOrTimeoutGe,   // the same with >=
    FlagOrTimeout,    // while (!flag && CYCCNT - start < limit) {}: flag set by an interrupt
    DelayCounterOff,  // FlagOrTimeout with CYCCNT stopped: only the interrupt ends it
};

struct WaitCase : named_case::Case {
    Loop loop;
    uint32_t limit;             // cycles
    sim::Picos event_at;        // SDA pulled low or the interrupt raised; 0: none
    bool turn_pll_on;           // run the core at 168 MHz rather than 16 MHz
    uint32_t counter_from = 0;  // CYCCNT when the wait starts (0: as it is)
};

constexpr uint16_t kSda = 1U << 12;  // PF12, the bit-banged bus's data line
constexpr int kIrq = 3;
volatile bool g_flag = false;

template <bool kHooked>
bool elapsed_lt(uint32_t start, uint32_t limit) {
    if constexpr (kHooked) {
        return DWT->CYCCNT - start < limit;
    } else {
        return static_cast<uint32_t>(DWT->CYCCNT - start) < limit;
    }
}

template <bool kHooked>
bool limit_ge_elapsed(uint32_t start, uint32_t limit) {
    if constexpr (kHooked) {
        return limit >= DWT->CYCCNT - start;
    } else {
        return limit >= static_cast<uint32_t>(DWT->CYCCNT - start);
    }
}

template <bool kHooked>
bool elapsed_gt(uint32_t start, uint32_t limit) {
    if constexpr (kHooked) {
        return DWT->CYCCNT - start > limit;
    } else {
        return static_cast<uint32_t>(DWT->CYCCNT - start) > limit;
    }
}

template <bool kHooked>
bool elapsed_ge(uint32_t start, uint32_t limit) {
    if constexpr (kHooked) {
        return DWT->CYCCNT - start >= limit;
    } else {
        return static_cast<uint32_t>(DWT->CYCCNT - start) >= limit;
    }
}

template <bool kHooked>
std::string wait(Loop loop, uint32_t limit) {
    const uint32_t start = DWT->CYCCNT;
    switch (loop) {
        case Loop::Delay:
            while (elapsed_lt<kHooked>(start, limit)) {
            }
            return "delay";
        case Loop::DelayReversed:
            while (limit_ge_elapsed<kHooked>(start, limit)) {
            }
            return "delay";
        case Loop::AckOrTimeout:
        case Loop::AckOrTimeoutGe:
            while ((GPIOF->IDR & kSda) != 0U) {
                if (loop == Loop::AckOrTimeout ? elapsed_gt<kHooked>(start, limit)
                                               : elapsed_ge<kHooked>(start, limit)) {
                    return "timeout";
                }
            }
            return "ack";
        case Loop::FlagOrTimeout:
        case Loop::DelayCounterOff:
            while (!g_flag && elapsed_lt<kHooked>(start, limit)) {
            }
            return g_flag ? "flag" : "timeout";
    }
    return "?";
}

json run_wait(const WaitCase& c, bool hooked) {
    return model_test::on_board(
        [c, hooked](json& out) {
            sim::Board& b = model_test::board();
            sim::Cpu& cpu = model_test::cpu();
            if (c.turn_pll_on) {
                model_test::switch_to_pll_168();
            }
            RCC->AHB1ENR |= 1U << 5;  // GPIOF
            GPIOF->PUPDR = 1U << (2 * 12);
            CoreDebug->DEMCR = CoreDebug_DEMCR_TRCENA_Msk;
            DWT->CTRL = c.loop == Loop::DelayCounterOff ? 0U : DWT_CTRL_CYCCNTENA_Msk;
            cpu.set_vector(kIrq, [] { g_flag = true; });
            cpu.enable_irq(kIrq);
            const int party = b.i2c_sda().attach();
            sim::FunctionEvent event([&b, party, loop = c.loop](sim::Picos at) {
                if (loop == Loop::AckOrTimeout || loop == Loop::AckOrTimeoutGe) {
                    b.i2c_sda().set(party, {.pulls_low = true}, at);
                } else {
                    model_test::cpu().set_pending(kIrq);
                }
            });
            if (c.event_at != 0) {
                cpu.events().schedule(event, cpu.now() + c.event_at);
            }
            if (c.counter_from != 0) {
                DWT->CYCCNT = c.counter_from;
            }
            const sim::Picos began = cpu.now();
            out["how"] = hooked ? wait<true>(c.loop, c.limit) : wait<false>(c.loop, c.limit);
            out["cycles"] = cpu.cycles();
            out["ps"] = cpu.now() - began;
            out["counter"] = static_cast<uint32_t>(DWT->CYCCNT);
        },
        400 * sim::kPsPerMs);
}

class BusyWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(BusyWait, EndsAtTheSameCycleAsWhenEveryTurnPolls) {
    const WaitCase c = GetParam();
    const json plain = run_wait(c, false);
    const json hooked = run_wait(c, true);
    ASSERT_TRUE(plain["finished"]) << plain.dump();
    ASSERT_TRUE(hooked["finished"]) << hooked.dump();
    EXPECT_EQ(hooked["how"], plain["how"]);
    EXPECT_EQ(hooked["cycles"], plain["cycles"]);
    EXPECT_EQ(hooked["ps"], plain["ps"]);
    EXPECT_EQ(hooked["counter"], plain["counter"]);
}

constexpr sim::Picos kUs = sim::kPsPerUs;

INSTANTIATE_TEST_SUITE_P(
    Waits, BusyWait,
    ::testing::Values(
        WaitCase{"ShortDelay", Loop::Delay, 5, 0, false},
        WaitCase{"DelayOf5usAt168MHz", Loop::Delay, 840, 0, true},
        WaitCase{"OddDelayAt16MHz", Loop::Delay, 80'001, 0, false},
        WaitCase{"DelayReversedAt168MHz", Loop::DelayReversed, 1'000'000, 0, true},
        WaitCase{"AckBeforeTheTimeout", Loop::AckOrTimeout, 1'680'000, 3 * 1000 * kUs, true},
        WaitCase{"AckRightAway", Loop::AckOrTimeout, 1'680'000, 1, true},
        WaitCase{"TimeoutWithoutAck", Loop::AckOrTimeout, 1'680'000, 0, true},
        WaitCase{"TimeoutGeWithoutAck", Loop::AckOrTimeoutGe, 160'000, 0, false},
        WaitCase{"AckAfterTheTimeout", Loop::AckOrTimeoutGe, 160'000, 20 * 1000 * kUs, false},
        WaitCase{"InterruptEndsAWait", Loop::FlagOrTimeout, 100'000'000, 7 * 1000 * kUs + 3, true},
        WaitCase{"InterruptAfterTheWait", Loop::FlagOrTimeout, 336'000, 5 * 1000 * kUs, true},
        WaitCase{"CounterStoppedUntilAnInterrupt", Loop::DelayCounterOff, 10, 2000 * kUs, false},
        WaitCase{"DelayAcrossACounterWrap", Loop::Delay, 1'000'000, 0, true, 0xFFFF0000U},
        WaitCase{"TimeoutAcrossACounterWrap", Loop::AckOrTimeout, 500'000, 0, false, 0xFFFFFF00U}),
    named_case::by_name);

}  // namespace
